// Acrobot's states where Gymnasium's own step would never return: an angle too far out
// for wrapping 2 pi at a time, and infinite or NaN values. Its bits and its agreement
// with Gymnasium are held by the Python tests.
#include "envs/tasks/acrobot.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vorlisk::envs::tasks {
namespace {

TEST(Acrobot, FarAngleIsWrappedAndUnboundedStateLastsUntilTheLimit) {
  auto env = Acrobot::with_workers(3, 1);
  env.theta1[0] = 1e300;
  env.theta2[1] = std::numeric_limits<double>::infinity();
  env.theta2_dot[2] = std::numeric_limits<double>::quiet_NaN();
  env.step_auto_reset(std::vector<float>(3, 2.0f));
  EXPECT_LE(std::fabs(env.theta1[0]), 3.141592653589793);
  EXPECT_TRUE(std::isnan(env.theta1[1]) && std::isnan(env.cos_theta2[2]));
  env.episode_steps.assign(3, Acrobot::kMaxEpisodeSteps - 2);
  env.step_auto_reset(std::vector<float>(3, 2.0f));
  EXPECT_EQ(env.terminals[1] | env.terminals[2] | env.truncations[1] | env.truncations[2], 0);
  env.step_auto_reset(std::vector<float>(3, 2.0f));
  for (const std::size_t i : {1u, 2u}) {
    EXPECT_EQ(env.truncations[i], 1);
    EXPECT_LE(std::fabs(env.theta1[i]), 0.1);  // restarted
  }
}

}  // namespace
}  // namespace vorlisk::envs::tasks
