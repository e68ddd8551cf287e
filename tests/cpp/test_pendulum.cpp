// Pendulum's own rules: the costs, the torque limit, what a NaN torque does, and the
// blocks' polynomials against the exact formulas.
#include "envs/tasks/pendulum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vorlisk::envs::tasks {
namespace {

constexpr float kPi = 3.1415927f;
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

// Every lane of a fresh engine placed at (theta, theta_dot) and stepped once.
Pendulum step_from(const Path& path, float theta, float theta_dot, float torque) {
  auto env = Pendulum::with_workers(path.num_envs, path.workers);
  env.theta.assign(path.num_envs, theta);
  env.theta_dot.assign(path.num_envs, theta_dot);
  env.step_auto_reset(std::vector<float>(path.num_envs, torque));
  return env;
}

// The exact step costs the state it started from: nothing upright at rest (whose angle
// comes back as -2.4e-7, since the wrap goes through theta + pi), and the most for the
// hanging pendulum at full speed under full torque, however large the torque asked.
TEST(PendulumExactStep, CostsTheStateItStartedFrom) {
  const Pendulum upright = step_from(kPaths[0], 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(upright.rewards[0], 0.0f);
  EXPECT_EQ(upright.theta[0], -2.3841858e-07f);
  for (const float theta_dot : {8.0f, -8.0f}) {
    for (const float torque : {2.0f, -2.0f, 7.0f, -kInf}) {
      EXPECT_EQ(step_from(kPaths[0], -kPi, theta_dot, torque).rewards[0], -16.273605f);
    }
  }
}

class PendulumPaths : public ::testing::TestWithParam<Path> {};

TEST_P(PendulumPaths, NaNTorquePoisonsTheLaneAndTheLogUntilCleared) {
  const Path& path = GetParam();
  auto env = Pendulum::with_workers(path.num_envs, path.workers);
  env.reset(9);
  std::vector<float> torques(path.num_envs, 0.5f);
  torques[0] = kNaN;
  for (int step = 1; step < 200; ++step) {
    env.step_auto_reset(torques);
    ASSERT_TRUE(std::isnan(env.theta[0]) && std::isnan(env.cos_theta[0])) << step;
    ASSERT_TRUE(std::isnan(env.rewards[0])) << step;
    ASSERT_EQ(env.terminals[0], 0);  // the task never terminates
  }
  env.step_auto_reset(torques);
  EXPECT_EQ(env.truncations[0], 1);
  EXPECT_TRUE(std::isfinite(env.theta[0]) && std::isfinite(env.theta_dot[0]));
  EXPECT_TRUE(std::isnan(env.log.total_reward));

  env.log = {};
  torques[0] = 0.5f;
  for (int step = 0; step < 200; ++step) env.step_auto_reset(torques);
  EXPECT_TRUE(std::isfinite(env.log.total_reward));
  EXPECT_EQ(env.log.episode_count, path.num_envs);
}

INSTANTIATE_TEST_SUITE_P(Paths, PendulumPaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

// Held at -pi with no net acceleration, a lane stays at -pi. The block's polynomials
// are poor there (cos comes out 0.124, not -1) and it costs the state it arrived at;
// a tail lane follows the library and costs the state it started from. Nine lanes: a
// block and a tail lane.
TEST(PendulumBlock, PolynomialsDriftNearPiWhileTheTailStaysExact) {
  constexpr float kPolySinAtPi = -0.52404404f;
  const float hold = -((0.0f * 3.0f + kPolySinAtPi * 15.0f) * 0.05f);
  auto env = Pendulum::with_workers(9, 1);
  env.theta.assign(9, -kPi);
  env.theta_dot.assign(9, hold);
  env.step_auto_reset(std::vector<float>(9, 0.0f));
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(env.theta[i], -kPi);
    EXPECT_EQ(env.theta_dot[i], 0.0f);
    EXPECT_EQ(env.cos_theta[i], 0.12391043f);
    EXPECT_EQ(env.sin_theta[i], kPolySinAtPi);
    EXPECT_EQ(env.rewards[i], -(kPi * kPi));
  }
  EXPECT_EQ(env.cos_theta[8], std::cos(env.theta[8]));
  EXPECT_EQ(env.sin_theta[8], std::sin(env.theta[8]));
  EXPECT_EQ(env.rewards[8], -(kPi * kPi + hold * (hold * 0.1f)));
}

}  // namespace
}  // namespace vorlisk::envs::tasks
