// What the engines share through the engine machinery: chunking edge cases, block
// widths, final observations and the internal length checks; MountainCar and Pendulum
// also share their lane-seed rule and reset semantics.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "envs/gymnasium/cartpole.hpp"
#include "envs/gymnasium/mountain_car.hpp"
#include "envs/gymnasium/pendulum.hpp"

namespace vorlisk::envs::gymnasium {
namespace {

template <class Engine>
class LaneEngine : public ::testing::Test {
 protected:
  static std::vector<float> observations(const Engine& env) {
    std::vector<float> out(env.num_envs * Engine::kObservationSize);
    env.write_observations(out);
    return out;
  }
  static std::vector<float> lane(const std::vector<float>& obs, std::size_t i) {
    const auto k = static_cast<std::ptrdiff_t>(Engine::kObservationSize);
    return {obs.begin() + static_cast<std::ptrdiff_t>(i) * k,
            obs.begin() + static_cast<std::ptrdiff_t>(i + 1) * k};
  }
  // Steps until every lane has just been truncated and restarted.
  static void run_one_episode(Engine& env) {
    const std::vector<float> actions(env.num_envs, 1.0f);
    for (int step = 0; step < 200; ++step) env.step_auto_reset(actions);
  }
};

using Engines = ::testing::Types<CartPole, MountainCar, Pendulum>;
TYPED_TEST_SUITE(LaneEngine, Engines);

// A restarted lane takes the next lane's seed (CartPole's rule, num_envs ahead, is
// tested with CartPole).
template <class Engine>
class NextLaneSeed : public LaneEngine<Engine> {};
using NextLaneSeedEngines = ::testing::Types<MountainCar, Pendulum>;
TYPED_TEST_SUITE(NextLaneSeed, NextLaneSeedEngines);

TYPED_TEST(NextLaneSeed, SecondStartOfALaneIsTheFirstStartOfTheNext) {
  for (const std::size_t workers : {1u, 3u}) {
    auto env = TypeParam::with_workers(11, workers);
    env.reset(500);
    const auto first = this->observations(env);
    EXPECT_EQ(env.lane_seeds[4], 505u);
    this->run_one_episode(env);
    ASSERT_EQ(env.truncations, std::vector<std::uint8_t>(11, 1));
    EXPECT_EQ(env.lane_seeds[4], 506u);
    const auto second = this->observations(env);
    for (std::size_t i = 0; i + 1 < 11; ++i) {
      EXPECT_EQ(this->lane(second, i), this->lane(first, i + 1)) << "lane " << i;
    }
  }
}

TYPED_TEST(NextLaneSeed, LaneSeedsWrapAroundAtTheTopOfTheRange) {
  auto top = TypeParam::with_workers(4, 1);
  top.reset(std::numeric_limits<std::uint64_t>::max() - 1);
  auto zero = TypeParam::with_workers(1, 1);
  zero.reset(0);
  EXPECT_EQ(top.lane_seeds[2], 1u);
  EXPECT_EQ(this->lane(this->observations(top), 2), this->observations(zero));
}

TYPED_TEST(NextLaneSeed, WithoutResetTheFirstRestartDrawsFromTheLaneIndex) {
  auto fresh = TypeParam::with_workers(9, 1);
  EXPECT_EQ(this->observations(fresh), std::vector<float>(9 * TypeParam::kObservationSize, 0.0f));
  this->run_one_episode(fresh);
  auto reset = TypeParam::with_workers(9, 1);
  reset.reset(0);
  EXPECT_EQ(this->observations(fresh), this->observations(reset));
}

TYPED_TEST(NextLaneSeed, ResetClearsFlagsButKeepsRewardsAndLog) {
  auto env = TypeParam::with_workers(3, 1);
  env.reset(1);
  this->run_one_episode(env);
  const auto rewards = env.rewards;
  const auto log = env.log;
  env.reset(2);
  EXPECT_EQ(env.rewards, rewards);
  EXPECT_EQ(env.truncations, std::vector<std::uint8_t>(3, 0));
  EXPECT_EQ(env.log.episode_count, log.episode_count);
  EXPECT_EQ(env.seed, 2u);
}

// Blocks run four or eight lanes wide (where the processor has AVX2); the bits must
// not depend on it, wild actions included.
TYPED_TEST(LaneEngine, BlocksGiveTheSameBitsFourOrEightWide) {
  const float menu[] = {0.0f, 1.0f, 2.0f, -1.5f, 3.0f, 7.0f, -std::numeric_limits<float>::infinity()};
  auto run = [&](bool narrow) {
    force_narrow_blocks(narrow);
    auto env = TypeParam::with_workers(27, 1);
    env.reset(77);
    std::vector<float> actions(27);
    std::vector<float> trace;
    for (int step = 0; step < 450; ++step) {
      for (std::size_t i = 0; i < actions.size(); ++i) actions[i] = menu[(i * 5 + step * 3) % 7];
      env.step_auto_reset(actions);
      const auto obs = this->observations(env);
      trace.insert(trace.end(), obs.begin(), obs.end());
      trace.insert(trace.end(), env.rewards.begin(), env.rewards.end());
      for (std::size_t i = 0; i < env.num_envs; ++i) trace.push_back(env.terminals[i] + 2 * env.truncations[i]);
    }
    trace.push_back(env.log.total_reward);
    trace.push_back(static_cast<float>(env.log.episode_count));
    force_narrow_blocks(false);
    return trace;
  };
  const auto narrow = run(true);
  const auto wide = run(false);
  ASSERT_EQ(narrow.size(), wide.size());
  EXPECT_EQ(std::memcmp(narrow.data(), wide.data(), narrow.size() * sizeof(float)), 0);
}

TYPED_TEST(LaneEngine, SurplusWorkersLeaveEmptyChunks) {
  auto env = TypeParam::with_workers(5, 16);
  env.step_auto_reset(std::vector<float>(5, 1.0f));
  EXPECT_EQ(env.episode_steps, std::vector<std::uint32_t>(5, 1));
}

// A slice of the wrong length is a broken invariant: it is reported with both
// lengths and leaves the engine untouched.
TYPED_TEST(LaneEngine, WrongLengthsFailBeforeAnythingChanges) {
  for (const std::size_t workers : {1u, 2u}) {
    auto env = TypeParam::with_workers(10, workers);
    env.reset(3);
    const auto before = this->observations(env);
    const std::vector<float> short_actions(9, 1.0f);
    std::vector<float> floats(9);
    std::vector<std::uint8_t> bytes(11);
    struct Call {
      const char* name;
      std::size_t got, expected;
      std::function<void()> run;
    };
    const Call calls[] = {
        {"step_auto_reset", 9, 10, [&] { env.step_auto_reset(short_actions); }},
        {"step_parallel", 9, 10, [&] { env.step_parallel(short_actions); }},
        {"write_observations", 9, 10 * TypeParam::kObservationSize,
         [&] { env.write_observations(floats); }},
        {"write_rewards", 9, 10, [&] { env.write_rewards(floats); }},
        {"write_terminals", 11, 10, [&] { env.write_terminals(bytes); }},
        {"write_truncations", 11, 10, [&] { env.write_truncations(bytes); }},
    };
    for (const Call& call : calls) {
      try {
        call.run();
        ADD_FAILURE() << call.name << " accepted a wrong length";
      } catch (const InternalFailure& failure) {
        const std::string text = failure.what();
        EXPECT_NE(text.find(std::to_string(call.got)), std::string::npos) << call.name << ": " << text;
        EXPECT_NE(text.find(std::to_string(call.expected)), std::string::npos) << call.name << ": " << text;
      }
    }
    EXPECT_EQ(this->observations(env), before);
    EXPECT_EQ(env.episode_steps, std::vector<std::uint32_t>(10, 0));
  }
}

// The rows kept for finished lanes are the states a step without the restart reaches;
// the other lanes are not reported.
TYPED_TEST(LaneEngine, FinalObservationsAreTheStatesFinishedLanesReached) {
  constexpr std::size_t k = TypeParam::kObservationSize;
  for (const std::size_t workers : {1u, 3u}) {
    auto env = TypeParam::with_workers(19, workers);  // blocks and a tail on one thread
    env.reset(8);
    const std::vector<std::size_t> ending = {2, 9, 18};
    for (const std::size_t i : ending) env.episode_steps[i] = 199;
    const std::vector<float> actions(19, 2.0f);
    auto unrestarted = env;
    if (workers < 2) {
      unrestarted.step_simd(actions);
    } else {
      unrestarted.VecEngine<TypeParam>::step_parallel(actions);
    }
    env.step_auto_reset(actions);
    const auto reached = this->observations(unrestarted);
    ASSERT_EQ(env.final_count(), ending.size());
    std::vector<std::int64_t> lanes(ending.size());
    std::vector<float> finals(ending.size() * k);
    env.write_final_observations(lanes, finals);
    for (std::size_t n = 0; n < ending.size(); ++n) {
      EXPECT_EQ(lanes[n], static_cast<std::int64_t>(ending[n]));
      EXPECT_EQ(std::vector<float>(finals.begin() + n * k, finals.begin() + (n + 1) * k),
                this->lane(reached, ending[n]));
    }
    std::vector<float> wrong(k);
    EXPECT_THROW(env.write_final_observations(lanes, wrong), InternalFailure);
    env.reset(8);
    EXPECT_EQ(env.final_count(), 0u);
  }
}

TYPED_TEST(LaneEngine, ZeroLanesIsAnInternalFailure) {
  EXPECT_THROW(TypeParam::with_workers(0, 1), InternalFailure);
}

}  // namespace
}  // namespace vorlisk::envs::gymnasium
