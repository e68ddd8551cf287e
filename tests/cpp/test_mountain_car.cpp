// MountainCar's own rules: the wall, the bounds, the pushes and the goal, on every path.
#include "envs/tasks/mountain_car.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace vorlisk::envs::tasks {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Where a lane is stepped: lane 0 of a one-lane engine is a tail lane, lane 0 of an
// eight-lane engine lies in a block, and with two workers every lane is chunked.
struct Path {
  const char* name;
  std::size_t num_envs;
  std::size_t workers;
};
constexpr Path kPaths[] = {{"tail", 1, 1}, {"block", 8, 1}, {"chunked", 8, 2}};

// Every lane of a fresh engine placed at (p, v) and stepped once with `action`,
// without the auto-reset so that the state after the step stays visible.
MountainCar step_from(const Path& path, float p, float v, float action) {
  auto env = MountainCar::with_workers(path.num_envs, path.workers);
  env.position.assign(path.num_envs, p);
  env.velocity.assign(path.num_envs, v);
  const std::vector<float> actions(path.num_envs, action);
  path.workers < 2 ? env.step_simd(actions) : env.step_parallel(actions);
  return env;
}

struct LaneCase {
  const char* name;
  float p, v, action;
  float expected_p, expected_v;
  bool terminal;
};

class MountainCarLaneStep : public ::testing::TestWithParam<std::tuple<Path, LaneCase>> {};

TEST_P(MountainCarLaneStep, EndsExactlyWhereExpected) {
  const auto& [path, c] = GetParam();
  const MountainCar env = step_from(path, c.p, c.v, c.action);
  EXPECT_EQ(env.position[0], c.expected_p);
  EXPECT_EQ(env.velocity[0], c.expected_v);
  EXPECT_EQ(env.terminals[0], c.terminal);
  EXPECT_EQ(env.rewards[0], -1.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MountainCarLaneStep,
    ::testing::Combine(
        ::testing::ValuesIn(kPaths),
        ::testing::Values(
            // Driving into the left wall stops the car at the wall.
            LaneCase{"wall", -1.19f, -0.07f, 1.0f, -1.2f, 0.0f, false},
            // At the right bound the car keeps its (clipped) speed.
            LaneCase{"right_bound", 0.59f, 0.07f, 2.0f, 0.6f, 0.07f, true},
            // Infinite pushes are bounded by the speed limit.
            LaneCase{"plus_inf", -0.5f, 0.0f, kInf, -0.5f + 0.07f, 0.07f, false},
            LaneCase{"minus_inf", -0.5f, 0.0f, -kInf, -0.5f + -0.07f, -0.07f, false})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

class MountainCarPaths : public ::testing::TestWithParam<Path> {};

TEST_P(MountainCarPaths, SlopePullAtTheLeftWallOutweighsAPushLeft) {
  const MountainCar env = step_from(GetParam(), -1.2f, 0.0f, 0.0f);
  EXPECT_NEAR(env.velocity[0], 0.0012419f, 1e-7f);
  EXPECT_GT(env.position[0], -1.2f);
}

TEST_P(MountainCarPaths, ActionsPushByTheirDistanceFromOne) {
  // From rest the new velocity is push + pull, so the pushes differ by the action.
  const float gravity_only = step_from(GetParam(), -0.3f, 0.0f, 1.0f).velocity[0];
  for (const float action : {3.0f, -1.0f, 2.0f, 0.0f}) {
    const float v = step_from(GetParam(), -0.3f, 0.0f, action).velocity[0];
    EXPECT_NEAR(v - gravity_only, (action - 1.0f) * 0.001f, 1e-9f) << "action " << action;
  }
}

TEST_P(MountainCarPaths, ExactlyTheGoalPositionIsTerminal) {
  // Cancel the pull with the starting velocity so the car stays where it is.
  for (const float p : {0.5f, std::nextafter(0.5f, 0.0f)}) {
    const float v = -(std::cos(p * 3.0f) * -0.0025f);
    const MountainCar env = step_from(GetParam(), p, v, 1.0f);
    ASSERT_EQ(env.velocity[0], 0.0f);
    EXPECT_EQ(env.terminals[0], p >= 0.5f) << p;
  }
}

TEST_P(MountainCarPaths, NaNActionPoisonsTheLaneUntilTruncation) {
  const Path& path = GetParam();
  auto env = MountainCar::with_workers(path.num_envs, path.workers);
  env.reset(3);
  std::vector<float> actions(path.num_envs, 1.0f);
  actions[0] = kNaN;
  for (int step = 1; step < 200; ++step) {
    env.step_auto_reset(actions);
    ASSERT_TRUE(std::isnan(env.position[0]) && std::isnan(env.velocity[0])) << step;
    ASSERT_EQ(env.terminals[0], 0);
    ASSERT_EQ(env.truncations[0], 0);
  }
  env.step_auto_reset(actions);
  EXPECT_EQ(env.truncations[0], 1);
  EXPECT_GE(env.position[0], -0.6f);
  EXPECT_LT(env.position[0], -0.4f);
  EXPECT_EQ(env.velocity[0], 0.0f);
  // Rewards never depend on the state, so the log stays finite.
  EXPECT_EQ(env.log.total_reward, -200.0f * static_cast<float>(path.num_envs));
}

INSTANTIATE_TEST_SUITE_P(Paths, MountainCarPaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorlisk::envs::tasks
