// MountainCar's own rules at the edges its golden bits and the comparison with
// Gymnasium do not reach: the wall, the right bound, infinite and NaN pushes, the goal.
// Every path gives the same bits (the Python tests hold them), so one path is enough.
#include "envs/tasks/mountain_car.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vorlisk::envs::tasks {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// One lane at (p, v) stepped once with `action`, without the auto-reset so that the
// state after the step stays visible.
MountainCar step_from(float p, float v, float action) {
  auto env = MountainCar::with_workers(1, 1);
  env.position[0] = p;
  env.velocity[0] = v;
  env.step_simd(std::vector<float>{action});
  return env;
}

// The velocity that cancels the pull of the hill at p, so that the car stays at p.
float against_the_pull(float p) { return -(std::cos(p * 3.0f) * -0.0025f); }
const float kJustShort = std::nextafter(0.5f, 0.0f);

struct LaneCase {
  const char* name;
  float p, v, action;
  float expected_p, expected_v;
  bool terminal;
};

class MountainCarLaneStep : public ::testing::TestWithParam<LaneCase> {};

TEST_P(MountainCarLaneStep, EndsExactlyWhereExpected) {
  const LaneCase& c = GetParam();
  const MountainCar env = step_from(c.p, c.v, c.action);
  EXPECT_EQ(env.position[0], c.expected_p);
  EXPECT_EQ(env.velocity[0], c.expected_v);
  EXPECT_EQ(env.terminals[0], c.terminal);
  EXPECT_EQ(env.rewards[0], -1.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MountainCarLaneStep,
    ::testing::Values(
        // Driving into the left wall stops the car at the wall.
        LaneCase{"wall", -1.19f, -0.07f, 1.0f, -1.2f, 0.0f, false},
        // At the right bound the car keeps its (clipped) speed.
        LaneCase{"right_bound", 0.59f, 0.07f, 2.0f, 0.6f, 0.07f, true},
        // Infinite pushes are bounded by the speed limit.
        LaneCase{"plus_inf", -0.5f, 0.0f, kInf, -0.5f + 0.07f, 0.07f, false},
        LaneCase{"minus_inf", -0.5f, 0.0f, -kInf, -0.5f + -0.07f, -0.07f, false},
        // Exactly the goal position is terminal; just short of it is not.
        LaneCase{"goal", 0.5f, against_the_pull(0.5f), 1.0f, 0.5f, 0.0f, true},
        LaneCase{"short_of_goal", kJustShort, against_the_pull(kJustShort), 1.0f, kJustShort, 0.0f,
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MountainCar, NaNActionPoisonsTheLaneUntilTruncation) {
  auto env = MountainCar::with_workers(3, 1);
  env.reset(3);
  std::vector<float> actions(3, 1.0f);
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
  EXPECT_EQ(env.log.total_reward, -600.0f);
}

}  // namespace
}  // namespace vorlisk::envs::tasks
