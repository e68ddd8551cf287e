// The machinery every task shares: structure-of-arrays lanes, step bookkeeping,
// auto-reset, the episode log, the single-thread path in blocks of eight lanes and
// the chunked path on the worker pool. A task's engine derives from
// VecEngine<Engine> and supplies only its physics:
//
//   static constexpr std::size_t kObservationSize;
//   static constexpr Compat kCompat;            // where its bookkeeping differs
//   void draw_lane(std::size_t i, Xoshiro256StarStar& rng);   // the start distribution
//   // The task's formulas for lanes i .. i + count - 1 (count <= kLaneBatch): terminal
//   // marks (0 or -1) and rewards per lane. F (F32x4 or F32x8) is the vector width.
//   template <class F>
//   void step_exact(std::size_t i, std::size_t count, const float* actions,
//                   LaneMark* terminal, float* reward);
//   // Only where the task means its blocks to approximate: kWidthOf<F> lanes from
//   // lane i with the block formulas. Without it, blocks use step_exact.
//   template <class F>
//   void step_block(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
//   std::array<const float*, kObservationSize> observation_columns() const;
//   // Every per-lane array of its state, as std::tie(...): what holding a lane saves
//   // and restores, and what a lane costs in memory.
//   auto lane_arrays();
//
// Optional:
//   static constexpr std::uint32_t kMaxEpisodeSteps;  // the episode limit it is built
//                                                     // with, where not kDefaultMaxSteps
//   // Where the observations lose part of the state (angles seen through their sine
//   // and cosine), the exact state, one double column per variable.
//   std::array<const double*, N> state_columns() const;
//
// The stepping code lives in vec_engine_impl.hpp, which only the engine's own source
// includes; it instantiates VecEngine<Engine> there, and everyone else links to it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "envs/core/chunking.hpp"
#include "envs/core/episode_log.hpp"
#include "envs/core/failure.hpp"
#include "envs/core/lane_allocator.hpp"
#include "envs/core/lanes.hpp"
#include "envs/core/rng.hpp"
#include "envs/core/step_io.hpp"

namespace vorlisk::envs {

inline constexpr std::size_t kBlockLanes = 8;
// Steps an episode may last, unless a task is built with another limit.
inline constexpr std::uint32_t kDefaultMaxSteps = 200;

// The longest episode limit a user may set: step counts stay exact in single precision.
inline constexpr std::uint32_t kMaxEpisodeLimit = std::uint32_t{1} << 24;

// The limit a task's episodes have unless its user asks for another: its own
// kMaxEpisodeSteps (the limit of the Gymnasium version it follows), or the default.
template <class Engine>
inline constexpr std::uint32_t kEpisodeLimitOf = [] {
  if constexpr (requires { Engine::kMaxEpisodeSteps; }) {
    return std::uint32_t{Engine::kMaxEpisodeSteps};
  } else {
    return kDefaultMaxSteps;
  }
}();

// The bytes of task state a lane holds.
template <class Engine>
inline constexpr std::size_t kLaneStateBytesOf =
    []<class... Arrays>(std::type_identity<std::tuple<Arrays&...>>) {
      return (std::size_t{0} + ... + sizeof(typename Arrays::value_type));
    }(std::type_identity<decltype(std::declval<Engine&>().lane_arrays())>{});

// A task that can report its exact state beside its observations.
template <class Engine>
concept HasStateColumns = requires(const Engine& e) { e.state_columns(); };

// Lanes the single-thread path steps, logs, restarts and writes out before it moves on:
// a tile's state, results and bookkeeping (about 70 bytes a lane for CartPole) stay in
// the nearer caches between those passes, where a whole large batch would not. A
// multiple of 64, so that a tile covers whole words of finished-lane bits.
inline constexpr std::size_t kTileLanes = 1024;

// Lanes stepped with the exact formulas before their bookkeeping: enough to amortise
// the vector sin/cos/fmod calls, small enough for stack buffers.
inline constexpr std::size_t kLaneBatch = 64;
// A lane's terminal mark in a batch: 0, or -1 (all bits) when the lane terminated.
using LaneMark = std::int32_t;

// What becomes of a lane whose episode has ended.
enum class AutoresetMode : std::uint8_t {
  kSameStep,  // it restarts within the step that ended it
  kNextStep,  // the next step restarts it instead of stepping it, ignoring its action
  kDisabled,  // it holds, unmoved, until reset() restarts it
};

enum class SeedRule {
  kAdvanceByNumEnvs,  // each auto-reset uses stored + num_envs and stores it
  kAdvanceByOne,      // each lane reset uses the stored seed, then stores it + 1
};

// Where a task's bookkeeping differs from the others'. Each task's results are fixed
// bit for bit, so each keeps the rules it was defined with; a new task takes these.
struct Compat {
  // A fresh seed for every lane and episode, num_envs on from the last.
  SeedRule seed_rule = SeedRule::kAdvanceByNumEnvs;
  // At least 8 lanes a chunk, so that a chunk is never smaller than a block.
  ChunkRule chunk_rule = ChunkRule::kFloorAtLeast8;
  // Blocks that count steps in single precision (exact below 2^24), as some tasks
  // were defined; integers otherwise.
  bool block_counts_in_f32 = false;
  // reset() zeroes the last rewards, which a fresh start has not earned.
  bool reset_clears_rewards = true;
};

// A task that means its blocks to approximate its exact formulas.
template <class Engine>
concept HasBlockFormulas = requires(Engine& e, const float* a, MaskOf<F32x4>& t, F32x4& r) {
  e.template step_block<F32x4>(0, a, t, r);
};

template <class Engine>
class VecEngine {
 public:
  // Per-lane arrays, public so that tests can inject lane state.
  LaneVector<float> rewards;
  LaneVector<std::uint8_t> terminals;
  LaneVector<std::uint8_t> truncations;
  LaneVector<std::uint32_t> episode_steps;
  LaneVector<float> episode_returns;
  LaneVector<std::uint64_t> lane_seeds;
  std::size_t num_envs;
  std::uint64_t seed = 0;
  std::size_t workers;
  std::uint32_t max_steps;
  AutoresetMode autoreset_mode = AutoresetMode::kSameStep;
  EpisodeLog log;

  // Re-initialises every lane from `seed`; the log is left alone.
  void reset(std::uint64_t new_seed);
  // Only the lanes whose `mask` byte is non-zero, each as reset(new_seed) would
  // (lane i from new_seed + i); the other lanes keep their state and flags.
  void reset_lanes(std::uint64_t new_seed, std::span<const std::uint8_t> mask);

  // Single-thread path: whole blocks of eight lanes (with the block formulas where the
  // task has them), then the tail with the exact formulas. Chunked path: `workers`
  // chunks with the exact formulas.
  void step_simd(std::span<const float> actions) {
    run_single_thread(float_actions(actions), nullptr, false);
  }
  void step_parallel(std::span<const float> actions) {
    run_chunks(float_actions(actions), nullptr, false);
  }

  // The same, with finished lanes treated as `autoreset_mode` says. Same-step: a lane
  // is reset as soon as its block, tail or chunk has been stepped and logged: a lane
  // reset reads and writes only its own lane, so the result equals a pass over all
  // lanes afterwards, without a second walk over them.
  void step_auto_reset_parallel(std::span<const float> actions) {
    step_in_mode(float_actions(actions), nullptr, true);
  }
  void step_auto_reset(std::span<const float> actions) {
    step_in_mode(float_actions(actions), nullptr, workers >= 2);
  }

  // step_auto_reset, with the actions converted and the results written to `out` a
  // stretch of lanes at a time, each right after its lanes were stepped: on the
  // chunked path each chunk converts and writes its own lanes. `out` then holds what
  // write_observations, write_rewards and the flag writers would give. The engine
  // keeps no pointer to either argument after the call.
  void step_into(const StepActions& actions, const StepResults& out) {
    step_in_mode(actions, &out, workers >= 2);
  }
  // The same on the chunked path, with the exact formulas on every lane.
  void step_into_per_lane(const StepActions& actions, const StepResults& out) {
    step_in_mode(actions, &out, true);
  }

  // Row-major copy: the observation of lane i fills entries i*k to i*k + k - 1.
  void write_observations(std::span<float> out) const;
  void write_rewards(std::span<float> out) const { copy_out("reward output", rewards, out); }
  void write_terminals(std::span<std::uint8_t> out) const {
    copy_out("terminal output", terminals, out);
  }
  void write_truncations(std::span<std::uint8_t> out) const {
    copy_out("truncation output", truncations, out);
  }

  // The lanes whose last step ended an episode (terminal or truncated), in index order,
  // and the observation each reached (before the auto-reset replaced it, in same-step
  // mode): what a learner needs to bootstrap a truncated episode. In disabled mode a
  // held lane stays among them until it is reset. `lanes` and `out` (k values a lane) must
  // hold exactly final_count() entries.
  std::size_t final_count() const;
  void write_final_observations(std::span<std::int64_t> lanes, std::span<float> out) const;

 protected:
  VecEngine(std::size_t lanes, std::uint32_t max_steps_per_episode, std::size_t chunk_count);

 private:
  Engine& engine() { return static_cast<Engine&>(*this); }
  const Engine& engine() const { return static_cast<const Engine&>(*this); }

  bool finished(std::size_t i) const { return (terminals[i] | truncations[i]) != 0; }
  // Draws lane i's start state from a generator seeded with `lane_seed`.
  void reset_lane(std::size_t i, std::uint64_t lane_seed);
  // Lane i as reset(new_seed) leaves it.
  void restart_lane(std::size_t i, std::uint64_t new_seed);
  // Draws lane i's next episode, as an auto-reset does.
  void start_next_episode(std::size_t i);
  void reset_finished_lane(std::size_t i);

  // Next-step and disabled modes: the lanes that had finished before this step are
  // stepped with the others (the formulas run on whole vectors) but neither logged nor
  // kept: afterwards they restart or are put back as they were.
  void step_in_mode(const StepActions& actions, const StepResults* out, bool chunked);
  void mark_pending();
  void settle_pending(const StepResults* out);
  // Bits of pending_bits_ for lanes i .. i + 63.
  std::uint64_t pending_from(std::size_t i) const;
  // Calls f(pointer, bytes) on each of lane i's values that a step may change.
  template <class F>
  void for_each_lane_value(std::size_t i, F&& f);

  static StepActions float_actions(std::span<const float> actions) {
    return {actions.size(), actions.data(), nullptr, nullptr};
  }
  // The actions of lanes `range` as floats, converting them first where they are
  // integers; indexed by lane, like the whole array.
  static const float* prepare_actions(const StepActions& actions, LaneRange range);
  // Lanes `range` of this step's results into `out`.
  void write_results(LaneRange range, const StepResults& out) const;

  // The running state of finish_blocks() from one tile to the next.
  struct BlockTotals {
    float block_return = 0.0f;
    std::uint32_t count = 0;
    std::uint32_t steps = 0;
    std::size_t current_block = 0;
  };

  void run_single_thread(const StepActions& actions, const StepResults* out, bool reset_finished);
  // W chunks on the worker pool, each stepping its lanes with the exact formulas
  // into a log of its own; the chunk logs merge in chunk order.
  void run_chunks(const StepActions& actions, const StepResults* out, bool reset_finished);

  void step_exact_lanes(LaneRange range, const StepActions& actions, const StepResults* out,
                        EpisodeLog& into, bool reset_finished);
  template <class F>
  void step_exact_batches(LaneRange range, const StepActions& actions, const StepResults* out,
                          EpisodeLog& into, bool reset_finished);
  template <class F>
  void run_blocks(std::size_t begin, std::size_t end, const float* actions);
  template <class F, std::size_t kBlocks>
  void step_blocks(std::size_t first, const float* actions);
  template <class F>
  std::uint32_t count_block_lanes(std::size_t i, MaskOf<F> terminal, F reward);
  void finish_blocks(std::size_t first_word, std::size_t end_word, bool reset_finished,
                     BlockTotals& totals);
#if defined(__x86_64__) || defined(__i386__)
  [[gnu::target("avx2")]] void run_blocks_avx2(std::size_t begin, std::size_t end,
                                               const float* actions);
  [[gnu::target("avx2")]] void step_exact_avx2(LaneRange range, const StepActions& actions,
                                               const StepResults* out, EpisodeLog& into,
                                               bool reset_finished);
#endif

  template <class T>
  void copy_out(const char* what, const LaneVector<T>& from, std::span<T> out) const {
    check_length(what, out.size(), num_envs);
    std::memcpy(out.data(), from.data(), num_envs * sizeof(T));
  }

  std::vector<EpisodeLog> chunk_logs_;       // reused across steps
  // Row i: lane i's observation when its episode last ended. Only the auto-reset
  // writes it, for the lanes it restarts, so a step pays k stores per finished lane.
  std::vector<float> final_observations_;
  std::vector<std::uint64_t> finished_bits_;  // lanes of blocks that finished this step
  std::vector<std::uint64_t> pending_bits_;   // lanes that had finished before this step
  std::size_t pending_count_ = 0;
  std::vector<std::byte> held_;               // disabled mode: the pending lanes' state
};

// Where a task's exact formulas leave a lane's outcome: a vector of lanes from lane k
// on, or lane k alone. Terminal marks stay whole mask lanes, which a plain store keeps;
// narrowing them to flag bytes here, inside the tasks' lambdas, would cost a call per
// vector (code for AVX2 cannot be inlined into a lambda).
template <class F>
VORLISK_INLINE void store_outcome(std::size_t k, MaskOf<F> terminal, F reward,
                                  LaneMark* terminals, float* rewards) {
  store(terminals + k, terminal);
  store(rewards + k, reward);
}
VORLISK_INLINE void store_outcome(std::size_t k, bool terminal, float reward,
                                  LaneMark* terminals, float* rewards) {
  terminals[k] = terminal ? -1 : 0;
  rewards[k] = reward;
}

// Calls step.template operator()<F>(k) for each whole vector of F lanes from lane k
// in [0, count), then step.template operator()<float>(k) for each lane left over: one
// formula, written once, for vectors of lanes and single lanes alike.
template <class F, class Step>
VORLISK_INLINE void for_lane_vectors(std::size_t count, Step&& step) {
  std::size_t k = 0;
  for (; k + kWidthOf<F> <= count; k += kWidthOf<F>) step.template operator()<F>(k);
  for (; k < count; ++k) step.template operator()<float>(k);
}

}  // namespace vorlisk::envs
