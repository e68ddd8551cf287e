// CartPole's own rules that its golden bits and the comparison with Gymnasium (the
// Python tests) do not reach: how each path sums the log beyond 2^24, values exactly
// at a limit, and the start distribution.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "envs/tasks/cartpole.hpp"

namespace vorlisk::envs::tasks {
namespace {

void step(CartPole& e, float action) { e.step_auto_reset(std::vector<float>(e.num_envs, action)); }

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
    }
  }
}

}  // namespace
}  // namespace vorlisk::envs::tasks
