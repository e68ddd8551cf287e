// CartPole's own rules: the force each path derives from an action, the reward of a
// failing step, and how each path sums its episodes into the log.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "envs/tasks/cartpole.hpp"

namespace vorlisk::envs::tasks {
namespace {

void step(CartPole& e, float action) { e.step_auto_reset(std::vector<float>(e.num_envs, action)); }

TEST(CartPole, FirstStepFromTheZeroStateOnEveryPath) {
  for (const float action : {1.0f, 0.0f}) {
    const float sign = action == 1.0f ? 1.0f : -1.0f;
    for (const std::size_t workers : {1u, 2u}) {
      for (const std::size_t n : {1u, 8u, 9u}) {
        CartPole e = CartPole::with_workers(n, workers);
        step(e, action);
        for (std::size_t i = 0; i < n; ++i) {
          EXPECT_EQ(e.cart_pos[i], 0.0f);
          EXPECT_FLOAT_EQ(e.cart_vel[i], sign * 0.19512196f);
          EXPECT_EQ(e.pole_angle[i], 0.0f);
          EXPECT_FLOAT_EQ(e.pole_vel[i], sign * -0.29268292f);
          EXPECT_EQ(e.rewards[i], 1.0f);
        }
      }
    }
  }
}

// Blocks push with 20 a - 10; the tail and the chunks with 10 exactly where a
// truncates to 1, -10 otherwise. From rest the push alone sets the cart's speed.
TEST(CartPole, EachPathsForceRule) {
  const float actions[] = {2.0f, -1.0f, 0.5f, 1.5f, NAN, 1.0f};
  const float block_speed[] = {3.0f, -3.0f, 0.0f, 2.0f, NAN, 1.0f};
  const float lane_speed[] = {-1.0f, -1.0f, -1.0f, 1.0f, -1.0f, 1.0f};
  for (std::size_t a = 0; a < std::size(actions); ++a) {
    for (const auto& [n, workers] : {std::pair<std::size_t, std::size_t>{8, 1}, {9, 1}, {8, 2}}) {
      CartPole e = CartPole::with_workers(n, workers);
      step(e, actions[a]);
      const bool block = workers == 1;
      const float want = 0.19512196f * (block ? block_speed[a] : lane_speed[a]);
      if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(e.cart_vel[0]));
      } else {
        EXPECT_NEAR(e.cart_vel[0], want, 1e-6f) << "action " << actions[a];
      }
      if (n == 9) {
        EXPECT_FLOAT_EQ(e.cart_vel[8], 0.19512196f * lane_speed[a]) << "tail lane";
      }
    }
  }
}

// Each path: (num_envs, workers).
class EveryPath : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(EveryPath, FailingOnThe200thStepSetsBothFlagsEarnsNothingAndLogsOnce) {
  const auto [n, workers] = GetParam();
  CartPole e = CartPole::with_workers(n, workers);
  e.reset(3);
  e.cart_pos[0] = 2.39f;  // leaves the track this step
  e.cart_vel[0] = 1.0f;
  e.episode_steps.assign(n, 199);
  e.episode_returns.assign(n, 199.0f);
  step(e, 1.0f);
  EXPECT_EQ(e.terminals[0], 1);
  EXPECT_EQ(e.truncations[0], 1);
  EXPECT_EQ(e.rewards[0], 0.0f);
  EXPECT_EQ(e.log.episode_count, n);
  EXPECT_EQ(e.log.total_steps, 200u * n);
  EXPECT_EQ(e.log.total_reward, 199.0f + 200.0f * static_cast<float>(n - 1));
  for (std::size_t i = 1; i < n; ++i) {
    EXPECT_EQ(e.terminals[i], 0);  // truncated only, and rewarded
    EXPECT_EQ(e.rewards[i], 1.0f);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{1, 1},
                                           std::pair<std::size_t, std::size_t>{8, 1},
                                           std::pair<std::size_t, std::size_t>{13, 1},
                                           std::pair<std::size_t, std::size_t>{13, 2},
                                           std::pair<std::size_t, std::size_t>{100, 3}));

// Above 2^24 single precision no longer counts single units, so the order of the
// additions shows: a block and a chunk sum their own episodes before adding them
// to the log, tail lanes add one at a time.
TEST(CartPole, EachPathsOrderOfSummingTheLog) {
  struct Case {
    std::size_t n, workers;
    float expected;
  };
  for (const Case& c : {Case{8, 1, 16777218.0f}, Case{2, 1, 16777216.0f}, Case{2, 2, 16777218.0f}}) {
    CartPole e = CartPole::with_workers(c.n, c.workers);
    e.log.total_reward = 16777216.0f;
    for (std::size_t i = 0; i < 2; ++i) {
      e.cart_pos[i] = 3.0f;  // off the track: terminal, reward 0
      e.episode_returns[i] = 1.0f;
    }
    step(e, 1.0f);
    EXPECT_EQ(e.log.episode_count, 2u);
    EXPECT_EQ(e.log.total_reward, c.expected) << "n " << c.n << " workers " << c.workers;
  }
}

// The limits are strict: a cart exactly at 2.4 or a pole exactly at 12 degrees stays up.
TEST(CartPole, ExactlyAtALimitIsNotTerminal) {
  for (const std::size_t workers : {1u, 2u}) {
    CartPole e = CartPole::with_workers(9, workers);
    e.cart_pos.assign(9, 2.4f);
    e.pole_angle.assign(9, -0.20943952f);
    e.cart_pos[3] = std::nextafter(2.4f, 3.0f);
    e.pole_angle[8] = std::nextafter(-0.20943952f, -1.0f);
    step(e, 1.0f);  // at rest, so neither moves in this step
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(e.terminals[i], i == 3 || i == 8) << i;
  }
}

TEST(CartPole, StartsUniformlyWithinTheResetBound) {
  CartPole e = CartPole::with_workers(5, 1);
  e.rewards.assign(5, 1.0f);
  e.reset(1234);
  EXPECT_EQ(e.rewards, std::vector<float>(5, 0.0f));  // a fresh start has earned nothing
  for (std::size_t i = 0; i < 5; ++i) {
    Xoshiro256StarStar g(1234 + i);
    for (const LaneVector<float>* column : {&e.cart_pos, &e.cart_vel, &e.pole_angle, &e.pole_vel}) {
      EXPECT_EQ((*column)[i], 0.1f * g.unit() - 0.05f);
      EXPECT_GE((*column)[i], -0.05f);
      EXPECT_LT((*column)[i], 0.05f);
    }
  }
}

}  // namespace
}  // namespace vorlisk::envs::tasks
