// The machinery every engine shares: structure-of-arrays lanes, step bookkeeping,
// auto-reset, the episode log, the single-thread path in blocks of eight lanes and
// the chunked path on the worker pool. An engine derives from VecEngine<Engine>
// and supplies only its physics:
//
//   static constexpr std::size_t kObservationSize;
//   static constexpr SeedRule kSeedRule;       // which lane seed an auto-reset uses
//   static constexpr ChunkRule kChunkRule;     // how lanes are cut into chunks
//   static constexpr bool kBlockCountsInF32;   // block step counters kept as floats
//   static constexpr bool kResetClearsRewards; // reset() also zeroes `rewards`
//   void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
//   LaneOutcome step_lane(std::size_t i, float action);                 // per-lane formulas
//   void step_block(std::size_t first, const float* actions, Block& out); // 8 lanes, block formulas
//   std::array<const float*, kObservationSize> observation_columns() const;
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "envs/core/chunking.hpp"
#include "envs/core/episode_log.hpp"
#include "envs/core/failure.hpp"
#include "envs/core/rng.hpp"
#include "envs/core/simd4.hpp"
#include "envs/core/worker_pool.hpp"

namespace vorlisk::envs {

inline constexpr std::size_t kBlockLanes = 8;

enum class SeedRule {
  kAdvanceByNumEnvs,  // each auto-reset uses stored + num_envs and stores it
  kAdvanceByOne,      // each lane reset uses the stored seed, then stores it + 1
};

struct LaneOutcome {
  bool terminal;
  float reward;
};

// What the block formulas report for eight lanes, as two halves of four.
struct Block {
  I32x4 terminal[2];  // 0 or -1 per lane
  F32x4 reward[2];
};

template <class Engine>
class VecEngine {
 public:
  // Per-lane arrays, public so that tests can inject lane state.
  std::vector<float> rewards;
  std::vector<std::uint8_t> terminals;
  std::vector<std::uint8_t> truncations;
  std::vector<std::uint32_t> episode_steps;
  std::vector<float> episode_returns;
  std::vector<std::uint64_t> lane_seeds;
  std::size_t num_envs;
  std::uint64_t seed = 0;
  std::size_t workers;
  std::uint32_t max_steps;
  EpisodeLog log;

  // Re-initialises every lane from `seed`; the log is left alone.
  void reset(std::uint64_t new_seed) {
    seed = new_seed;
    for (std::size_t i = 0; i < num_envs; ++i) {
      lane_seeds[i] = new_seed + i;
      reset_lane(i, Engine::kSeedRule == SeedRule::kAdvanceByOne ? lane_seeds[i]++ : lane_seeds[i]);
      terminals[i] = 0;
      truncations[i] = 0;
      if constexpr (Engine::kResetClearsRewards) rewards[i] = 0.0f;
    }
  }

  // Single-thread path without auto-reset: whole blocks of eight lanes with the
  // block formulas, then the tail lane by lane.
  void step_simd(std::span<const float> actions) {
    check_length("actions", actions.size(), num_envs);
    const std::size_t blocks_end = num_envs / kBlockLanes * kBlockLanes;
    for (std::size_t i = 0; i < blocks_end; i += kBlockLanes) step_block_lanes(i, actions.data());
    for (std::size_t i = blocks_end; i < num_envs; ++i) step_one(i, actions[i], log);
  }

  // Chunked path without auto-reset.
  void step_parallel(std::span<const float> actions) { run_chunks(actions, false); }

  void step_auto_reset_simd(std::span<const float> actions) {
    step_simd(actions);
    auto_reset_finished();
  }

  // Finished lanes are reset inside their chunk, on the worker thread: a lane reset
  // touches only its own lane, so the result equals a pass after the chunks.
  void step_auto_reset_parallel(std::span<const float> actions) { run_chunks(actions, true); }

  void step_auto_reset(std::span<const float> actions) {
    if (workers < 2) {
      step_auto_reset_simd(actions);
    } else {
      step_auto_reset_parallel(actions);
    }
  }

  void write_observations(std::span<float> out) const {
    constexpr std::size_t k = Engine::kObservationSize;
    check_length("observation output", out.size(), num_envs * k);
    const auto columns = engine().observation_columns();
    float* dst = out.data();
    for (std::size_t i = 0; i < num_envs; ++i) {
      for (std::size_t c = 0; c < k; ++c) dst[i * k + c] = columns[c][i];
    }
  }
  void write_rewards(std::span<float> out) const { copy_out("reward output", rewards, out); }
  void write_terminals(std::span<std::uint8_t> out) const {
    copy_out("terminal output", terminals, out);
  }
  void write_truncations(std::span<std::uint8_t> out) const {
    copy_out("truncation output", truncations, out);
  }

 protected:
  VecEngine(std::size_t lanes, std::uint32_t max_steps_per_episode, std::size_t chunk_count)
      : num_envs(require_lanes(lanes)),
        workers(std::max<std::size_t>(chunk_count, 1)),
        max_steps(max_steps_per_episode) {
    rewards.assign(num_envs, 0.0f);
    terminals.assign(num_envs, 0);
    truncations.assign(num_envs, 0);
    episode_steps.assign(num_envs, 0);
    episode_returns.assign(num_envs, 0.0f);
    lane_seeds.resize(num_envs);
    for (std::size_t i = 0; i < num_envs; ++i) lane_seeds[i] = i;
  }

  // Draws lane i's start state from a generator seeded with `lane_seed`.
  void reset_lane(std::size_t i, std::uint64_t lane_seed) {
    Xoshiro256StarStar rng(lane_seed);
    engine().draw_lane(i, rng);
    episode_steps[i] = 0;
    episode_returns[i] = 0.0f;
  }

 private:
  Engine& engine() { return static_cast<Engine&>(*this); }
  const Engine& engine() const { return static_cast<const Engine&>(*this); }

  static std::size_t require_lanes(std::size_t lanes) {
    if (lanes == 0) throw InternalFailure("num_envs must be at least 1");
    return lanes;
  }

  bool finished(std::size_t i) const { return (terminals[i] | truncations[i]) != 0; }

  void reset_finished_lane(std::size_t i) {
    if constexpr (Engine::kSeedRule == SeedRule::kAdvanceByNumEnvs) {
      lane_seeds[i] += num_envs;
      reset_lane(i, lane_seeds[i]);
    } else {
      reset_lane(i, lane_seeds[i]++);
    }
  }

  void auto_reset_finished() {
    const std::uint8_t* term = terminals.data();
    const std::uint8_t* trunc = truncations.data();
    std::size_t i = 0;
    // Most lanes keep running: skip eight unfinished lanes at a time.
    for (; i + 8 <= num_envs; i += 8) {
      std::uint64_t t, u;
      std::memcpy(&t, term + i, 8);
      std::memcpy(&u, trunc + i, 8);
      if ((t | u) == 0) continue;
      for (std::size_t j = i; j < i + 8; ++j) {
        if (finished(j)) reset_finished_lane(j);
      }
    }
    for (; i < num_envs; ++i) {
      if (finished(i)) reset_finished_lane(i);
    }
  }

  // One lane with the per-lane formulas; a finished episode goes into `into`.
  bool step_one(std::size_t i, float action, EpisodeLog& into) {
    const LaneOutcome outcome = engine().step_lane(i, action);
    const std::uint32_t steps = episode_steps[i] + 1;
    episode_steps[i] = steps;
    const bool truncated = steps >= max_steps;
    terminals[i] = outcome.terminal;
    truncations[i] = truncated;
    rewards[i] = outcome.reward;
    episode_returns[i] += outcome.reward;
    const bool done = outcome.terminal || truncated;
    if (done) into.add_episode(episode_returns[i], steps);
    return done;
  }

  void step_block_lanes(std::size_t first, const float* actions) {
    Block block;
    engine().step_block(first, actions + first, block);
    I32x4 finished[2];
    for (std::size_t h = 0; h < 2; ++h) {
      const std::size_t i = first + 4 * h;
      U32x4 steps = load4(&episode_steps[i]);
      I32x4 truncated;
      if constexpr (Engine::kBlockCountsInF32) {
        // Counted in single precision (exact below 2^24); the clamp only keeps the
        // conversion back defined for absurd step limits.
        F32x4 count = __builtin_convertvector(steps, F32x4) + 1.0f;
        truncated = count >= static_cast<float>(max_steps);
        count = count < 4294967040.0f ? count : splat4(4294967040.0f);
        steps = __builtin_convertvector(count, U32x4);
      } else {
        steps += 1;
        truncated = steps >= max_steps;
      }
      store4(&episode_steps[i], steps);
      store_flags4(&terminals[i], block.terminal[h]);
      store_flags4(&truncations[i], truncated);
      store4(&rewards[i], block.reward[h]);
      store4(&episode_returns[i], load4(&episode_returns[i]) + block.reward[h]);
      finished[h] = block.terminal[h] | truncated;
    }
    if (!any4(finished[0] | finished[1])) return;

    // A block's finished episodes are summed in lane order first, then added once.
    float block_return = 0.0f;
    std::uint32_t count = 0;
    std::uint32_t block_steps = 0;
    for (std::size_t k = 0; k < kBlockLanes; ++k) {
      if (finished[k / 4][k % 4]) {
        block_return += episode_returns[first + k];
        count += 1;
        block_steps += episode_steps[first + k];
      }
    }
    log.total_reward += block_return;
    log.episode_count += count;
    log.total_steps += block_steps;
  }

  friend Engine;

 protected:
  // The chunked path: W chunks on the worker pool, each stepping its lanes with the
  // per-lane formulas into a log of its own; the chunk logs merge in chunk order.
  void run_chunks(std::span<const float> actions, bool reset_finished) {
    check_length("actions", actions.size(), num_envs);
    const std::size_t size = chunk_size(Engine::kChunkRule, num_envs, workers);
    chunk_logs_.assign(workers, EpisodeLog{});
    WorkerPool::global().run(workers, [&](std::size_t c) {
      const LaneRange range = chunk_range(c, workers, num_envs, size);
      EpisodeLog chunk_log;
      for (std::size_t i = range.begin; i < range.end; ++i) {
        if (step_one(i, actions[i], chunk_log) && reset_finished) reset_finished_lane(i);
      }
      chunk_logs_[c] = chunk_log;
    });
    for (const EpisodeLog& chunk_log : chunk_logs_) log.merge(chunk_log);
  }


 private:
  template <class T>
  void copy_out(const char* what, const std::vector<T>& from, std::span<T> out) const {
    check_length(what, out.size(), num_envs);
    std::memcpy(out.data(), from.data(), num_envs * sizeof(T));
  }

  std::vector<EpisodeLog> chunk_logs_;  // reused across steps
};

}  // namespace vorlisk::envs
