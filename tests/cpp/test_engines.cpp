// What every task gets from the engine machinery, run over each task of the registry:
// the same bits at any vector width, lane seeding, truncation and the log, and the
// internal length checks. The final observations' contents are held by the Python
// tests (the golden digests and the comparison with Gymnasium).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "envs/core/in_use.hpp"
#include "envs/tasks/registry.hpp"

namespace vorlisk::envs::tasks {
namespace {

template <class List>
struct GTestTypes;
template <class... Tasks>
struct GTestTypes<TaskList<Tasks...>> {
  using type = ::testing::Types<Tasks...>;
};

template <class Engine>
class Engines : public ::testing::Test {
 public:
  static std::vector<float> observations(const Engine& env) {
    std::vector<float> out(env.num_envs * Engine::kObservationSize);
    env.write_observations(out);
    return out;
  }
  static std::vector<float> row(const std::vector<float>& obs, std::size_t i) {
    const auto k = static_cast<std::ptrdiff_t>(Engine::kObservationSize);
    return {obs.begin() + static_cast<std::ptrdiff_t>(i) * k,
            obs.begin() + static_cast<std::ptrdiff_t>(i + 1) * k};
  }
  // The observation lane 0 starts from when reset with `seed`.
  static std::vector<float> start_from(std::uint64_t seed) {
    auto one = Engine::with_workers(1, 1);
    one.reset(seed);
    return observations(one);
  }
  static constexpr bool kFreshSeeds = Engine::kCompat.seed_rule == SeedRule::kAdvanceByNumEnvs;
  static constexpr std::uint32_t kLimit = kEpisodeLimitOf<Engine>;
};
TYPED_TEST_SUITE(Engines, typename GTestTypes<Registry>::type);

// Observations, rewards and flags after every step of a run with wild actions, and
// the log at the end.
template <class Engine>
std::vector<float> trace(std::size_t n, std::size_t workers, bool narrow) {
  const float menu[] = {0.0f, 1.0f, 2.0f, -1.5f, 3.0f, 7.0f, -std::numeric_limits<float>::infinity()};
  force_narrow_blocks(narrow);
  auto env = Engine::with_workers(n, workers);
  env.reset(77);
  std::vector<float> actions(n);
  std::vector<float> out;
  for (int step = 0; step < 450; ++step) {
    for (std::size_t i = 0; i < n; ++i) actions[i] = menu[(i * 5 + step * 3) % 7];
    env.step_auto_reset(actions);
    const auto obs = Engines<Engine>::observations(env);
    out.insert(out.end(), obs.begin(), obs.end());
    out.insert(out.end(), env.rewards.begin(), env.rewards.end());
    for (std::size_t i = 0; i < n; ++i) out.push_back(env.terminals[i] + 2 * env.truncations[i]);
  }
  out.push_back(env.log.total_reward);
  out.push_back(static_cast<float>(env.log.episode_count));
  force_narrow_blocks(false);
  return out;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b, std::size_t skip_last = 0) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), (a.size() - skip_last) * sizeof(float)) == 0;
}

// Vectors of four or eight lanes (eight where the processor has AVX2) and the lanes
// left over one at a time must give the same bits: with 27 lanes and 1 or 3 workers,
// lanes move between vectors and single lanes with the width. Below one block every
// path takes the exact formulas, so any number of chunks gives the lanes the same bits
// (only the log's total may be summed in another order); and with more workers than
// lanes every chunk past the lanes is empty, however huge the count.
TYPED_TEST(Engines, WidthsAndChunkCountsGiveTheSameBits) {
  for (const std::size_t workers : {1u, 3u}) {
    EXPECT_TRUE(same_bits(trace<TypeParam>(27, workers, true), trace<TypeParam>(27, workers, false)))
        << workers << " workers";
  }
  const auto one = trace<TypeParam>(7, 1, false);
  for (const std::size_t workers : {2u, 3u, 8u}) {
    EXPECT_TRUE(same_bits(one, trace<TypeParam>(7, workers, false), 2)) << workers << " workers";
  }
  EXPECT_TRUE(same_bits(trace<TypeParam>(21, SIZE_MAX, false), trace<TypeParam>(21, 22, false)));
}

TYPED_TEST(Engines, ConstructionRules) {
  EXPECT_THROW(TypeParam::with_workers(0, 1), InternalFailure);
  EXPECT_EQ(TypeParam::with_workers(4, 0).workers, 1u);
}

// Lane i starts from seed + i. The step that reaches the limit truncates on every path
// (a block and its tail, chunks, a lone tail lane); the episode is logged once, with
// its whole length, and the lane restarts from the seed its task's rule gives. Seeds
// wrap around at the top of the range.
TYPED_TEST(Engines, TheLimitEndsEachEpisodeOnceAndItsLaneRestartsFromItsNextSeed) {
  for (const auto& [n, workers] : {std::pair<std::size_t, std::size_t>{11, 1}, {11, 3}, {1, 1}}) {
    auto env = TypeParam::with_workers(n, workers);
    env.rewards.assign(n, 5.0f);
    env.log.episode_count = 7;
    env.reset(500);
    EXPECT_EQ(env.rewards[0], TypeParam::kCompat.reset_clears_rewards ? 0.0f : 5.0f);
    EXPECT_EQ(this->row(this->observations(env), n - 1), this->start_from(500 + n - 1));

    env.episode_steps.assign(n, this->kLimit - 2);
    const std::vector<float> actions(n, 0.0f);
    env.step_auto_reset(actions);
    EXPECT_EQ(env.truncations, std::vector<std::uint8_t>(n, 0));
    env.step_auto_reset(actions);  // every lane reaches the limit
    ASSERT_EQ(env.truncations, std::vector<std::uint8_t>(n, 1)) << n << " lanes, " << workers;
    EXPECT_EQ(env.episode_steps, std::vector<std::uint32_t>(n, 0));
    EXPECT_EQ(env.log.episode_count, 7 + n);
    EXPECT_EQ(env.log.total_steps, this->kLimit * n);
    const auto obs = this->observations(env);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t next = this->kFreshSeeds ? 500 + i + n : 500 + i + 1;
      EXPECT_EQ(this->row(obs, i), this->start_from(next)) << "lane " << i;
    }
    env.reset(1);
    EXPECT_EQ(env.final_count(), 0u);
  }
  auto top = TypeParam::with_workers(4, 1);
  top.reset(std::numeric_limits<std::uint64_t>::max() - 1);
  EXPECT_EQ(this->row(this->observations(top), 2), this->start_from(0));
  // Without a reset, lane i's first restart follows from the seed i it was created with.
  auto fresh = TypeParam::with_workers(9, 1);
  fresh.episode_steps.assign(9, this->kLimit - 1);
  fresh.step_auto_reset(std::vector<float>(9, 0.0f));
  EXPECT_EQ(this->row(this->observations(fresh), 3), this->start_from(this->kFreshSeeds ? 3 + 9 : 3));
}

// A slice of the wrong length is a broken invariant: it is reported with both
// lengths and leaves the engine untouched. The single-thread and the chunked path
// check their actions apart.
TYPED_TEST(Engines, WrongLengthsFailBeforeAnythingChanges) {
  constexpr std::size_t k = TypeParam::kObservationSize;
  auto env = TypeParam::with_workers(10, 1);
  env.reset(3);
  const auto before = this->observations(env);
  const std::vector<float> short_actions(9, 1.0f);
  std::vector<float> floats(9);
  std::vector<std::uint8_t> bytes(11);
  std::vector<std::int64_t> lanes(9);
  const auto expect_failure = [](const std::string& message, const std::function<void()>& run) {
    try {
      run();
      ADD_FAILURE() << "accepted: " << message;
    } catch (const InternalFailure& failure) {
      EXPECT_EQ(failure.what(), message);
    }
  };
  expect_failure("actions has length 9, expected 10", [&] { env.step_auto_reset(short_actions); });
  expect_failure("actions has length 9, expected 10", [&] { env.step_parallel(short_actions); });
  expect_failure("observation output has length 9, expected " + std::to_string(10 * k),
                 [&] { env.write_observations(floats); });
  expect_failure("reward output has length 9, expected 10", [&] { env.write_rewards(floats); });
  expect_failure("truncation output has length 11, expected 10",
                 [&] { env.write_truncations(bytes); });
  // No lane has finished since the reset.
  expect_failure("final lane output has length 9, expected 0",
                 [&] { env.write_final_observations(lanes, {}); });
  expect_failure("final observation output has length 9, expected 0",
                 [&] { env.write_final_observations({}, floats); });
  EXPECT_EQ(this->observations(env), before);
  EXPECT_EQ(env.episode_steps, std::vector<std::uint32_t>(10, 0));
}

// Every step's results and the log's total, from step_into (int32 actions stored
// `misalign` bytes off their alignment, result arrays poisoned so that a lane left
// unwritten shows) or from the plain step and the engine's writers. Short episodes,
// so that every task's lanes finish, wait and restart; two tiles, part of a third and
// a tail that is not a whole block.
struct Run {
  std::size_t workers = 1;
  bool per_lane = false;
  AutoresetMode mode = AutoresetMode::kSameStep;
  bool into = true;
  std::size_t misalign = 0;
};
template <class Engine>
std::vector<std::vector<float>> results(const Run& run, std::size_t n = 2 * kTileLanes + 13) {
  constexpr std::size_t k = Engine::kObservationSize;
  auto env = Engine::with_workers(n, run.workers);
  env.autoreset_mode = run.mode;
  env.max_steps = 7;
  env.reset(5);
  std::vector<char> bytes(n * 4 + run.misalign);
  std::vector<float> floats(n), converted(n);
  std::vector<std::vector<float>> trace;
  for (int step = 0; step < 30; ++step) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::int32_t a = static_cast<std::int32_t>((i * 5 + step * 3) % 7) % 4 - 1;
      std::memcpy(bytes.data() + run.misalign + i * 4, &a, 4);
      floats[i] = static_cast<float>(a);
    }
    std::vector<float> obs(n * k, -123.0f), rewards(n);
    std::vector<std::uint8_t> terminals(n, 9), truncations(n);
    if (run.into) {
      const StepActions actions{n, nullptr, bytes.data() + run.misalign, converted.data()};
      const StepResults out{obs.data(), rewards.data(), terminals.data(), truncations.data()};
      run.per_lane ? env.step_into_per_lane(actions, out) : env.step_into(actions, out);
    } else {
      run.per_lane ? env.step_auto_reset_parallel(floats) : env.step_auto_reset(floats);
      env.write_observations(obs);
      env.write_rewards(rewards);
      env.write_terminals(terminals);
      env.write_truncations(truncations);
    }
    obs.insert(obs.end(), rewards.begin(), rewards.end());
    for (std::size_t i = 0; i < n; ++i) obs.push_back(terminals[i] + 2.0f * truncations[i]);
    trace.push_back(std::move(obs));
  }
  trace.push_back({env.log.total_reward});
  return trace;
}

TYPED_TEST(Engines, ResultsWrittenInPlaceEqualTheWritersOnEveryPathAndMode) {
  for (const AutoresetMode mode :
       {AutoresetMode::kSameStep, AutoresetMode::kNextStep, AutoresetMode::kDisabled}) {
    for (Run run : {Run{1, false}, Run{3, false}, Run{1, true}}) {
      run.mode = mode;
      run.misalign = run.workers;
      Run plain = run;
      plain.into = false;
      EXPECT_TRUE(results<TypeParam>(run) == results<TypeParam>(plain))
          << "mode " << static_cast<int>(mode) << ", workers " << run.workers;
    }
  }
}

// Engines of their own, each stepped on its own thread (as Python does with the GIL
// let go) and sharing the worker pool, give what they give alone. Under
// ThreadSanitizer this checks that a step touches no state outside its engine.
TYPED_TEST(Engines, EnginesOnSeveralThreadsStepAsTheyDoAlone) {
  std::vector<std::vector<std::vector<float>>> alone, together(3);
  for (std::size_t t = 0; t < 3; ++t) alone.push_back(results<TypeParam>({t + 1}, kTileLanes + 40));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] { together[t] = results<TypeParam>({t + 1}, kTileLanes + 40); });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(alone == together);
}

// However threads interleave, one claim at a time holds the flag: the plain counter
// would be a data race, which ThreadSanitizer reports, if two held it at once.
TEST(InUse, OneClaimAtATime) {
  InUse flag;
  int holders = 0, most = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        if (const Claim claim(flag); claim) most = std::max(most, ++holders), --holders;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most, 1);
  const Claim first(flag);
  EXPECT_FALSE(Claim(flag));
}

}  // namespace
}  // namespace vorlisk::envs::tasks
