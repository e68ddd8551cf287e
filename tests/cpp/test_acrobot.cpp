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

TEST(Acrobot, FarAngleIsWrappedAndUnboundedStateWaitsForTheLimit) {
  auto env = Acrobot::with_workers(3, 1);
  env.reset(1);
  env.theta1[0] = 1e300;
  env.theta2[1] = std::numeric_limits<double>::infinity();
  env.theta2_dot[2] = std::numeric_limits<double>::quiet_NaN();
  const std::vector<float> actions(3, 2.0f);
  env.step_auto_reset(actions);
  EXPECT_LE(std::fabs(env.theta1[0]), 3.141592653589793);
  EXPECT_TRUE(std::isfinite(env.theta2[0]) && std::isfinite(env.theta1_dot[0]));
  for (std::uint32_t step = 2; step < Acrobot::kMaxEpisodeSteps; ++step) {
    env.step_auto_reset(actions);
    for (const std::size_t i : {1u, 2u}) {
      ASSERT_TRUE(std::isnan(env.theta1[i]) && std::isnan(env.cos_theta2[i])) << i << " " << step;
      ASSERT_EQ(env.terminals[i] | env.truncations[i], 0);
    }
  }
  env.step_auto_reset(actions);
  for (const std::size_t i : {1u, 2u}) {
    EXPECT_EQ(env.truncations[i], 1);
    EXPECT_LE(std::fabs(env.theta1[i]), 0.1);  // restarted
  }
}

}  // namespace
}  // namespace vorlisk::envs::tasks
