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
#include <vector>

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

}  // namespace
}  // namespace vorlisk::envs::tasks
