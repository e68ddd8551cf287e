// The stepping code of VecEngine. Include it only from an engine's source file, which
// then instantiates `template class VecEngine<Engine>;` after its own definitions.
#pragma once

#include "envs/core/interleave.hpp"
#include "envs/core/memory_limit.hpp"
#include "envs/core/vec_engine.hpp"
#include "envs/core/worker_pool.hpp"

namespace vorlisk::envs {

template <class Engine>
VecEngine<Engine>::VecEngine(std::size_t lanes, std::uint32_t max_steps_per_episode,
                             std::size_t chunk_count)
    : num_envs(lanes), workers(std::max<std::size_t>(chunk_count, 1)), max_steps(max_steps_per_episode) {
  if (lanes == 0) throw InternalFailure("num_envs must be at least 1");
  // A lane's arrays here, the task's state, its final observation and one step's
  // outputs (observation, reward, two flags) and converted action.
  constexpr std::size_t kLaneBytes = 2 * sizeof(float) + 2 + sizeof(std::uint32_t) +
                                     sizeof(std::uint64_t) + kLaneStateBytesOf<Engine> +
                                     2 * Engine::kObservationSize * sizeof(float) +
                                     2 * sizeof(float) + 2;
  check_fits(lanes, kLaneBytes, "lanes");
  rewards.assign(num_envs, 0.0f);
  terminals.assign(num_envs, 0);
  truncations.assign(num_envs, 0);
  episode_steps.assign(num_envs, 0);
  episode_returns.assign(num_envs, 0.0f);
  lane_seeds.resize(num_envs);
  for (std::size_t i = 0; i < num_envs; ++i) lane_seeds[i] = i;
  finished_bits_.assign(num_envs / 64 + 1, 0);
  pending_bits_.assign(num_envs / 64 + 2, 0);  // a window of 64 may reach one word on
  final_observations_.assign(num_envs * Engine::kObservationSize, 0.0f);
}

template <class Engine>
void VecEngine<Engine>::reset(std::uint64_t new_seed) {
  seed = new_seed;
  for (std::size_t i = 0; i < num_envs; ++i) restart_lane(i, new_seed);
}

template <class Engine>
void VecEngine<Engine>::reset_lanes(std::uint64_t new_seed, std::span<const std::uint8_t> mask) {
  check_length("reset mask", mask.size(), num_envs);
  for (std::size_t i = 0; i < num_envs; ++i) {
    if (mask[i]) restart_lane(i, new_seed);
  }
}

template <class Engine>
void VecEngine<Engine>::restart_lane(std::size_t i, std::uint64_t new_seed) {
  lane_seeds[i] = new_seed + i;
  reset_lane(i, Engine::kCompat.seed_rule == SeedRule::kAdvanceByOne ? lane_seeds[i]++ : lane_seeds[i]);
  terminals[i] = 0;
  truncations[i] = 0;
  if constexpr (Engine::kCompat.reset_clears_rewards) rewards[i] = 0.0f;
}

template <class Engine>
void VecEngine<Engine>::reset_lane(std::size_t i, std::uint64_t lane_seed) {
  Xoshiro256StarStar rng(lane_seed);
  engine().draw_lane(i, rng);
  episode_steps[i] = 0;
  episode_returns[i] = 0.0f;
}

template <class Engine>
void VecEngine<Engine>::start_next_episode(std::size_t i) {
  if constexpr (Engine::kCompat.seed_rule == SeedRule::kAdvanceByNumEnvs) {
    lane_seeds[i] += num_envs;
    reset_lane(i, lane_seeds[i]);
  } else {
    reset_lane(i, lane_seeds[i]++);
  }
}

template <class Engine>
void VecEngine<Engine>::reset_finished_lane(std::size_t i) {
  constexpr std::size_t k = Engine::kObservationSize;
  const auto columns = engine().observation_columns();
  for (std::size_t j = 0; j < k; ++j) final_observations_[i * k + j] = columns[j][i];
  start_next_episode(i);
}

template <class Engine>
void VecEngine<Engine>::step_in_mode(const StepActions& actions, const StepResults* out,
                                     bool chunked) {
  check_length("actions", actions.count, num_envs);
  const bool same_step = autoreset_mode == AutoresetMode::kSameStep;
  if (!same_step) mark_pending();
  chunked ? run_chunks(actions, out, same_step) : run_single_thread(actions, out, same_step);
  if (pending_count_ > 0) settle_pending(out);
}

template <class Engine>
void VecEngine<Engine>::mark_pending() {
  std::fill(pending_bits_.begin(), pending_bits_.end(), 0);
  pending_count_ = 0;
  held_.clear();
  // Eight lanes' flags at a time: most groups have no finished lane.
  for (std::size_t first = 0; first < num_envs; first += 8) {
    std::uint64_t t = 0, u = 0;
    if (first + 8 <= num_envs) {
      std::memcpy(&t, &terminals[first], 8);
      std::memcpy(&u, &truncations[first], 8);
    } else {
      std::memcpy(&t, &terminals[first], num_envs - first);
      std::memcpy(&u, &truncations[first], num_envs - first);
    }
    for (std::uint64_t flags = t | u; flags != 0;) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctzll(flags));
      flags &= ~(std::uint64_t{0xff} << (bit & ~7u));  // the lane's byte is done
      const std::size_t i = first + bit / 8;
      pending_bits_[i / 64] |= std::uint64_t{1} << (i % 64);
      ++pending_count_;
      if (autoreset_mode == AutoresetMode::kDisabled) {
        for_each_lane_value(i, [&](void* value, std::size_t bytes) {
          const auto* from = static_cast<const std::byte*>(value);
          held_.insert(held_.end(), from, from + bytes);
        });
      }
    }
  }
}

template <class Engine>
void VecEngine<Engine>::settle_pending(const StepResults* out) {
  std::size_t at = 0;  // read position in held_
  for (std::size_t word = 0; word < pending_bits_.size(); ++word) {
    for (std::uint64_t bits = pending_bits_[word]; bits != 0; bits &= bits - 1) {
      const std::size_t i = word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
      if (autoreset_mode == AutoresetMode::kNextStep) {
        start_next_episode(i);
        terminals[i] = 0;
        truncations[i] = 0;
      } else {
        for_each_lane_value(i, [&](void* value, std::size_t bytes) {
          std::memcpy(value, held_.data() + at, bytes);
          at += bytes;
        });
      }
      rewards[i] = 0.0f;
      // The stepping pass wrote this lane's row before it was settled.
      if (out) write_results({i, i + 1}, *out);
    }
  }
  pending_count_ = 0;
}

template <class Engine>
std::uint64_t VecEngine<Engine>::pending_from(std::size_t i) const {
  const std::size_t word = i / 64;
  const unsigned shift = i % 64;
  const std::uint64_t low = pending_bits_[word] >> shift;
  return shift == 0 ? low : low | pending_bits_[word + 1] << (64 - shift);
}

template <class Engine>
template <class F>
void VecEngine<Engine>::for_each_lane_value(std::size_t i, F&& f) {
  auto one = [&](auto& array) { f(static_cast<void*>(&array[i]), sizeof array[i]); };
  std::apply([&](auto&... arrays) { (one(arrays), ...); }, engine().lane_arrays());
  one(episode_steps);
  one(episode_returns);
  one(terminals);
  one(truncations);
}

template <class Engine>
const float* VecEngine<Engine>::prepare_actions(const StepActions& actions, LaneRange range) {
  if (!actions.int32_bytes) return actions.floats;
  int32_to_f32(actions.int32_bytes + range.begin * sizeof(std::int32_t),
               actions.converted + range.begin, range.end - range.begin);
  return actions.converted;
}

template <class Engine>
void VecEngine<Engine>::write_results(LaneRange range, const StepResults& out) const {
  constexpr std::size_t k = Engine::kObservationSize;
  const std::size_t n = range.end - range.begin;
  auto columns = engine().observation_columns();
  for (const float*& column : columns) column += range.begin;
  interleave<k>(columns, n, out.observations + range.begin * k);
  std::memcpy(out.rewards + range.begin, &rewards[range.begin], n * sizeof(float));
  std::memcpy(out.terminals + range.begin, &terminals[range.begin], n);
  std::memcpy(out.truncations + range.begin, &truncations[range.begin], n);
}

// Tile by tile: the tile's actions converted, its blocks stepped, its finished lanes
// logged and restarted, its results written out. The log's sums run over the lanes in
// the same order as over the whole batch at once.
template <class Engine>
void VecEngine<Engine>::run_single_thread(const StepActions& actions, const StepResults* out,
                                          bool reset_finished) {
  check_length("actions", actions.count, num_envs);
  const std::size_t blocks_end = num_envs / kBlockLanes * kBlockLanes;
  BlockTotals totals;
  for (std::size_t begin = 0; begin < blocks_end; begin += kTileLanes) {
    const std::size_t end = std::min(begin + kTileLanes, blocks_end);
    const float* tile_actions = prepare_actions(actions, {begin, end});
    const std::size_t first_word = begin / 64, end_word = (end + 63) / 64;
    std::fill(finished_bits_.begin() + static_cast<std::ptrdiff_t>(first_word),
              finished_bits_.begin() + static_cast<std::ptrdiff_t>(end_word), 0);
#if defined(__x86_64__) || defined(__i386__)
    if (wide_blocks_enabled()) {
      run_blocks_avx2(begin, end, tile_actions);
    } else
#endif
    {
      run_blocks<F32x4>(begin, end, tile_actions);
    }
    finish_blocks(first_word, end_word, reset_finished, totals);
    if (out) write_results({begin, end}, *out);
  }
  log.total_reward += totals.block_return;
  log.episode_count += totals.count;
  log.total_steps += totals.steps;
  // The tail, lane by lane into the log, as a chunk of its own would.
  step_exact_lanes({blocks_end, num_envs}, actions, out, log, reset_finished);
}

#if defined(__x86_64__) || defined(__i386__)
// The same blocks, eight lanes per vector, where the processor has AVX2.
template <class Engine>
[[gnu::target("avx2")]] void VecEngine<Engine>::run_blocks_avx2(std::size_t begin, std::size_t end,
                                                                const float* actions) {
  run_blocks<F32x8>(begin, end, actions);
}
#endif

// With block formulas, blocks go in pairs: the physics of both first, as one stretch
// of independent vector code the processor can overlap, then their bookkeeping.
// Without, the exact formulas step a batch of whole blocks at a time, which spreads
// the cost of their library functions over the batch. Finished lanes are only marked
// here, in `finished_bits_`; finish_blocks() logs and restarts them in one pass
// afterwards, which keeps this loop free of branches that depend on the data.
template <class Engine>
template <class F>
VORLISK_INLINE void VecEngine<Engine>::run_blocks(std::size_t begin, std::size_t end,
                                                  const float* actions) {
  if constexpr (HasBlockFormulas<Engine>) {
    std::size_t i = begin;
    for (; i + 2 * kBlockLanes <= end; i += 2 * kBlockLanes) step_blocks<F, 2>(i, actions);
    if (i < end) step_blocks<F, 1>(i, actions);
  } else {
    static_assert(kLaneBatch == 64, "a batch's lanes fill one word of finished_bits_");
    LaneMark terminal[kLaneBatch];
    float reward[kLaneBatch];
    for (std::size_t i = begin; i < end; i += kLaneBatch) {
      const std::size_t count = std::min(kLaneBatch, end - i);
      engine().template step_exact<F>(i, count, actions + i, terminal, reward);
      std::uint64_t finished = 0;  // bit k: lane i + k
      for (std::size_t k = 0; k < count; k += kWidthOf<F>) {
        const std::uint32_t lanes =
            count_block_lanes<F>(i + k, load<MaskOf<F>>(terminal + k), load<F>(reward + k));
        finished |= static_cast<std::uint64_t>(lanes) << k;
      }
      finished_bits_[i / 64] = finished;
    }
  }
}

template <class Engine>
template <class F, std::size_t kBlocks>
VORLISK_INLINE void VecEngine<Engine>::step_blocks(std::size_t first, const float* actions) {
  constexpr std::size_t kWidth = kWidthOf<F>;
  constexpr std::size_t kVectors = kBlocks * kBlockLanes / kWidth;
  MaskOf<F> terminal[kVectors];
  F reward[kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    const std::size_t i = first + v * kWidth;
    engine().template step_block<F>(i, actions + i, terminal[v], reward[v]);
  }
  std::uint32_t finished = 0;  // bit k: lane first + k
  for (std::size_t v = 0; v < kVectors; ++v) {
    finished |= count_block_lanes<F>(first + v * kWidth, terminal[v], reward[v]) << (v * kWidth);
  }
  // Groups start at multiples of their size (8 or 16 lanes), so they never straddle
  // two words.
  finished_bits_[first / 64] |= static_cast<std::uint64_t>(finished) << (first % 64);
}

// The bookkeeping of kWidthOf<F> block lanes from lane i after their formulas; returns
// one bit per lane that finished its episode.
template <class Engine>
template <class F>
VORLISK_INLINE std::uint32_t VecEngine<Engine>::count_block_lanes(std::size_t i, MaskOf<F> terminal,
                                                                  F reward) {
  using Mask = MaskOf<F>;
  using U32 = U32Of<F>;
  U32 steps = load<U32>(&episode_steps[i]);
  Mask truncated;
  if constexpr (Engine::kCompat.block_counts_in_f32) {
    // Counted in single precision (exact below 2^24); the clamp only keeps the
    // conversion back defined for absurd step limits.
    F count = __builtin_convertvector(steps, F) + 1.0f;
    truncated = count >= static_cast<float>(max_steps);
    count = select<F>(count < 4294967040.0f, count, splat<F>(4294967040.0f));
    steps = __builtin_convertvector(count, U32);
  } else {
    steps += 1;
    truncated = reinterpret_cast<Mask>(steps >= max_steps);
  }
  store(&episode_steps[i], steps);
  store_flags<F>(&terminals[i], terminal);
  store_flags<F>(&truncations[i], truncated);
  store(&rewards[i], reward);
  store(&episode_returns[i], load<F>(&episode_returns[i]) + reward);
  return lane_bits(terminal | truncated);
}

// A block's finished episodes are logged with their returns summed in lane order
// first and that sum then added to the log, block after block; the lanes restart.
template <class Engine>
void VecEngine<Engine>::finish_blocks(std::size_t first_word, std::size_t end_word,
                                      bool reset_finished, BlockTotals& totals) {
  float block_return = totals.block_return;
  std::uint32_t count = totals.count;
  std::uint32_t steps = totals.steps;
  std::size_t current_block = totals.current_block;
  for (std::size_t word = first_word; word < end_word; ++word) {
    std::uint64_t finished = finished_bits_[word];
    if (pending_count_ > 0) finished &= ~pending_bits_[word];
    for (std::uint64_t bits = finished; bits != 0; bits &= bits - 1) {
      const std::size_t i = word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
      // Selections rather than branches: which lanes finish is unpredictable. Adding
      // the empty sum of "no block yet" leaves the total unchanged.
      const bool new_block = i / kBlockLanes != current_block;
      log.total_reward = new_block ? log.total_reward + block_return : log.total_reward;
      block_return = (new_block ? 0.0f : block_return) + episode_returns[i];
      current_block = i / kBlockLanes;
      count += 1;
      steps += episode_steps[i];
      if (reset_finished) reset_finished_lane(i);
    }
  }
  totals = {block_return, count, steps, current_block};
}

template <class Engine>
void VecEngine<Engine>::run_chunks(const StepActions& actions, const StepResults* out,
                                   bool reset_finished) {
  check_length("actions", actions.count, num_envs);
  const std::size_t size = chunk_size(Engine::kCompat.chunk_rule, num_envs, workers);
  // Empty chunks would only add zeros to the log, so leaving them out changes nothing.
  const ChunkSpan chunks = nonempty_chunks(workers, num_envs, size);
  chunk_logs_.assign(chunks.count, EpisodeLog{});
  auto run_chunk = [&](std::size_t t) {
    const LaneRange range = chunk_range(chunks.first + t, workers, num_envs, size);
    EpisodeLog chunk_log;
    step_exact_lanes(range, actions, out, chunk_log, reset_finished);
    chunk_logs_[t] = chunk_log;
  };
  // A single chunk (such as the exact formulas asked for on one thread) needs no pool.
  if (chunks.count == 1) {
    run_chunk(0);
  } else {
    WorkerPool::global().run(chunks.count, run_chunk);
  }
  for (const EpisodeLog& chunk_log : chunk_logs_) log.merge(chunk_log);
}

// The exact formulas a batch of lanes at a time, then the batch's bookkeeping in
// vectors, then its finished lanes logged and restarted in lane order: the same as
// stepping, logging and restarting lane after lane, because a lane's formulas and
// restart read and write only its own lane.
template <class Engine>
void VecEngine<Engine>::step_exact_lanes(LaneRange range, const StepActions& actions,
                                         const StepResults* out, EpisodeLog& into,
                                         bool reset_finished) {
#if defined(__x86_64__) || defined(__i386__)
  if (wide_blocks_enabled()) return step_exact_avx2(range, actions, out, into, reset_finished);
#endif
  step_exact_batches<F32x4>(range, actions, out, into, reset_finished);
}

#if defined(__x86_64__) || defined(__i386__)
// The same arithmetic eight lanes per vector, where the processor has AVX2.
template <class Engine>
[[gnu::target("avx2")]] void VecEngine<Engine>::step_exact_avx2(LaneRange range,
                                                                const StepActions& actions,
                                                                const StepResults* out,
                                                                EpisodeLog& into,
                                                                bool reset_finished) {
  step_exact_batches<F32x8>(range, actions, out, into, reset_finished);
}
#endif

template <class Engine>
template <class F>
VORLISK_INLINE void VecEngine<Engine>::step_exact_batches(LaneRange range,
                                                          const StepActions& actions,
                                                          const StepResults* out,
                                                          EpisodeLog& into, bool reset_finished) {
  using Mask = MaskOf<F>;
  using U32 = U32Of<F>;
  constexpr std::size_t kWidth = kWidthOf<F>;
  static_assert(kLaneBatch <= 64, "one bit per lane of a batch");
  LaneMark terminal[kLaneBatch];
  float reward[kLaneBatch];
  for (std::size_t i = range.begin; i < range.end; i += kLaneBatch) {
    const std::size_t count = std::min(kLaneBatch, range.end - i);
    const float* batch_actions = prepare_actions(actions, {i, i + count});
    engine().template step_exact<F>(i, count, batch_actions + i, terminal, reward);
    std::uint64_t finished = 0;  // bit k: lane i + k
    std::size_t k = 0;
    for (; k + kWidth <= count; k += kWidth) {
      const std::size_t j = i + k;
      const U32 steps = load<U32>(&episode_steps[j]) + 1;
      store(&episode_steps[j], steps);
      const Mask truncated = reinterpret_cast<Mask>(steps >= max_steps);
      const Mask ended = load<Mask>(terminal + k);
      store_flags<F>(&terminals[j], ended);
      store_flags<F>(&truncations[j], truncated);
      const F r = load<F>(reward + k);
      store(&rewards[j], r);
      store(&episode_returns[j], load<F>(&episode_returns[j]) + r);
      finished |= static_cast<std::uint64_t>(lane_bits(ended | truncated)) << k;
    }
    for (; k < count; ++k) {
      const std::size_t j = i + k;
      const std::uint32_t steps = episode_steps[j] + 1;
      episode_steps[j] = steps;
      const bool truncated = steps >= max_steps;
      terminals[j] = terminal[k] != 0;
      truncations[j] = truncated;
      rewards[j] = reward[k];
      episode_returns[j] += reward[k];
      finished |= static_cast<std::uint64_t>(terminal[k] != 0 || truncated) << k;
    }
    if (pending_count_ > 0) finished &= ~pending_from(i);
    for (; finished != 0; finished &= finished - 1) {
      const std::size_t j = i + static_cast<std::size_t>(__builtin_ctzll(finished));
      into.add_episode(episode_returns[j], episode_steps[j]);
      if (reset_finished) reset_finished_lane(j);
    }
    if (out) write_results({i, i + count}, *out);
  }
}

template <class Engine>
void VecEngine<Engine>::write_observations(std::span<float> out) const {
  constexpr std::size_t k = Engine::kObservationSize;
  check_length("observation output", out.size(), num_envs * k);
  interleave<k>(engine().observation_columns(), num_envs, out.data());
}

template <class Engine>
std::size_t VecEngine<Engine>::final_count() const {
  std::size_t count = 0;
  for (std::size_t i = 0; i < num_envs; ++i) count += finished(i);
  return count;
}

template <class Engine>
void VecEngine<Engine>::write_final_observations(std::span<std::int64_t> lanes,
                                                 std::span<float> out) const {
  constexpr std::size_t k = Engine::kObservationSize;
  const std::size_t count = final_count();
  check_length("final lane output", lanes.size(), count);
  check_length("final observation output", out.size(), count * k);
  // Only same-step mode restarts a lane within its last step; otherwise the lane
  // still shows what it reached.
  const bool restarted = autoreset_mode == AutoresetMode::kSameStep;
  const auto columns = engine().observation_columns();
  std::size_t n = 0;
  for (std::size_t i = 0; i < num_envs; ++i) {
    if (!finished(i)) continue;
    lanes[n] = static_cast<std::int64_t>(i);
    for (std::size_t j = 0; j < k; ++j) {
      out[n * k + j] = restarted ? final_observations_[i * k + j] : columns[j][i];
    }
    ++n;
  }
}

}  // namespace vorlisk::envs
