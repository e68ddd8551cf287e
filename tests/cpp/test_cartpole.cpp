// CartPole with injected lane state: which formulas each path uses, the step
// bookkeeping, auto-reset seeding and how the episode log is summed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "envs/gymnasium/cartpole.hpp"

namespace vorlisk::envs::gymnasium {
namespace {

struct Lane {
  float x, v, theta, omega;
};

Lane lane(const CartPole& e, std::size_t i) {
  return {e.cart_pos[i], e.cart_vel[i], e.pole_angle[i], e.pole_vel[i]};
}

void set_lane(CartPole& e, std::size_t i, Lane s) {
  e.cart_pos[i] = s.x;
  e.cart_vel[i] = s.v;
  e.pole_angle[i] = s.theta;
  e.pole_vel[i] = s.omega;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same_lane(const Lane& a, const Lane& b, const char* where) {
  EXPECT_TRUE(same_bits(a.x, b.x)) << where << ": x " << a.x << " vs " << b.x;
  EXPECT_TRUE(same_bits(a.v, b.v)) << where << ": v " << a.v << " vs " << b.v;
  EXPECT_TRUE(same_bits(a.theta, b.theta)) << where << ": theta " << a.theta << " vs " << b.theta;
  EXPECT_TRUE(same_bits(a.omega, b.omega)) << where << ": omega " << a.omega << " vs " << b.omega;
}

// The block formulas evaluated one lane at a time, with vectorisation switched off,
// to hold the vector code to the same bits.
__attribute__((optimize("no-tree-vectorize"))) Lane block_reference(Lane s, float action) {
  const float t2 = s.theta * s.theta;
  const float cos_t = (1.0f - t2 * 0.5f) + (t2 * t2) * 0.041666668f;
  const float sin_t = (s.theta + (s.theta * t2) * -0.16666667f) + (t2 * (s.theta * t2)) * 0.008333334f;
  const float force = action * 20.0f + (-10.0f);
  const float temp = (force + sin_t * (s.omega * (s.omega * 0.05f))) / 1.1f;
  const float divisor = (((cos_t * (cos_t * -0.1f)) / 1.1f) + 1.3333334f) * 0.5f;
  const float theta_acc = (sin_t * 9.8f - cos_t * temp) / divisor;
  const float x_acc = temp - (cos_t * (theta_acc * 0.05f)) / 1.1f;
  return {s.x + s.v * 0.02f, s.v + x_acc * 0.02f, s.theta + s.omega * 0.02f,
          s.omega + theta_acc * 0.02f};
}

// The per-lane formulas, taken from a one-lane engine (whose only lane is a tail lane).
Lane per_lane_reference(Lane s, float action) {
  CartPole one = CartPole::with_workers(1, 1);
  set_lane(one, 0, s);
  const float a[1] = {action};
  one.step_simd(a);
  return lane(one, 0);
}

std::vector<Lane> random_lanes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> pos(-2.0f, 2.0f), ang(-0.2f, 0.2f), vel(-1.5f, 1.5f);
  std::vector<Lane> lanes(n);
  for (Lane& l : lanes) l = {pos(gen), vel(gen), ang(gen), vel(gen)};
  return lanes;
}

TEST(CartPole, FirstStepFromTheZeroStateOnEveryPath) {
  for (float action : {1.0f, 0.0f}) {
    const float sign = action == 1.0f ? 1.0f : -1.0f;
    for (std::size_t workers : {1u, 2u}) {
      for (std::size_t n : {1u, 8u, 9u}) {
        CartPole e = CartPole::with_workers(n, workers);
        const std::vector<float> actions(n, action);
        workers < 2 ? e.step_auto_reset_simd(actions) : e.step_auto_reset_parallel(actions);
        for (std::size_t i = 0; i < n; ++i) {
          EXPECT_EQ(e.cart_pos[i], 0.0f);
          EXPECT_FLOAT_EQ(e.cart_vel[i], sign * 0.19512196f);
          EXPECT_EQ(e.pole_angle[i], 0.0f);
          EXPECT_FLOAT_EQ(e.pole_vel[i], sign * -0.29268292f);
          EXPECT_EQ(e.rewards[i], 1.0f);
          EXPECT_EQ(e.terminals[i] | e.truncations[i], 0);
        }
      }
    }
  }
}

// Lanes 0..8k-1 use the block formulas, the rest the per-lane formulas; actions
// outside {0, 1} reveal the force rule of each (20a - 10 in blocks, else -10). Blocks
// run four or eight lanes wide (where the processor has AVX2) with the same bits.
class PathSelection : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {
 protected:
  void TearDown() override { force_narrow_blocks(false); }
};

TEST_P(PathSelection, BlocksThenTail) {
  const auto [n, narrow] = GetParam();
  force_narrow_blocks(narrow);
  const std::vector<Lane> start = random_lanes(n, 7);
  const float menu[] = {0.0f, 1.0f, 2.0f, -1.0f, 1.5f};
  std::vector<float> actions(n);
  for (std::size_t i = 0; i < n; ++i) actions[i] = menu[i % 5];

  CartPole e = CartPole::with_workers(n, 1);
  for (std::size_t i = 0; i < n; ++i) set_lane(e, i, start[i]);
  e.step_simd(actions);

  const std::size_t blocks_end = n / 8 * 8;
  for (std::size_t i = 0; i < n; ++i) {
    const Lane expected = i < blocks_end ? block_reference(start[i], actions[i])
                                         : per_lane_reference(start[i], actions[i]);
    expect_same_lane(lane(e, i), expected, i < blocks_end ? "block lane" : "tail lane");
  }
}

INSTANTIATE_TEST_SUITE_P(LaneCounts, PathSelection,
                         ::testing::Combine(::testing::Values(1u, 8u, 9u, 13u, 24u),
                                            ::testing::Bool()));

TEST(CartPole, PerLaneForceIsMinusTenForEveryActionButOne) {
  const Lane s{0.1f, 0.2f, 0.05f, -0.3f};
  const Lane left = per_lane_reference(s, 0.0f);
  for (float a : {2.0f, -1.0f, 0.5f, -0.5f, NAN}) {
    expect_same_lane(per_lane_reference(s, a), left, "action other than 1");
  }
  expect_same_lane(per_lane_reference(s, 1.5f), per_lane_reference(s, 1.0f), "action 1.5");
}

TEST(CartPole, ChunksUsePerLaneFormulas) {
  const std::size_t n = 37;
  const std::vector<Lane> start = random_lanes(n, 11);
  std::vector<float> actions(n);
  for (std::size_t i = 0; i < n; ++i) actions[i] = static_cast<float>(i % 3);  // 2 pushes left
  for (std::size_t workers : {2u, 3u, 64u}) {
    CartPole e = CartPole::with_workers(n, workers);
    for (std::size_t i = 0; i < n; ++i) set_lane(e, i, start[i]);
    e.step_parallel(actions);
    for (std::size_t i = 0; i < n; ++i) {
      expect_same_lane(lane(e, i), per_lane_reference(start[i], actions[i]), "chunk lane");
      EXPECT_EQ(e.episode_steps[i], 1u) << "every lane is stepped exactly once";
    }
  }
}

// Each path: (num_envs, workers).
class EveryPath : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {
 protected:
  CartPole make() const { return CartPole::with_workers(GetParam().first, GetParam().second); }
  void step(CartPole& e, float action) const {
    const std::vector<float> actions(e.num_envs, action);
    e.workers < 2 ? e.step_auto_reset_simd(actions) : e.step_auto_reset_parallel(actions);
  }
};

TEST_P(EveryPath, TerminationOnThe200thStepSetsBothFlagsAndLogsOnce) {
  CartPole e = make();
  e.reset(3);
  set_lane(e, 0, {2.39f, 1.0f, 0.0f, 0.0f});  // leaves the track this step
  e.episode_steps[0] = 199;
  e.episode_returns[0] = 199.0f;
  step(e, 1.0f);
  EXPECT_EQ(e.terminals[0], 1);
  EXPECT_EQ(e.truncations[0], 1);
  EXPECT_EQ(e.rewards[0], 0.0f);
  EXPECT_EQ(e.log.episode_count, 1u);
  EXPECT_EQ(e.log.total_steps, 200u);
  EXPECT_EQ(e.log.total_reward, 199.0f);
  // The lane already holds the first state of its next episode.
  EXPECT_EQ(e.episode_steps[0], 0u);
  EXPECT_EQ(e.episode_returns[0], 0.0f);
  EXPECT_EQ(e.lane_seeds[0], 3u + e.num_envs);
  CartPole fresh = CartPole::with_workers(1, 1);
  fresh.reset_single(0, 3 + e.num_envs);
  expect_same_lane(lane(e, 0), lane(fresh, 0), "restarted lane");
}

TEST_P(EveryPath, TruncationAloneKeepsRewardOne) {
  CartPole e = make();
  e.reset(5);
  e.episode_steps[0] = 199;
  e.episode_returns[0] = 199.0f;
  step(e, 1.0f);
  EXPECT_EQ(e.terminals[0], 0);
  EXPECT_EQ(e.truncations[0], 1);
  EXPECT_EQ(e.rewards[0], 1.0f);
  EXPECT_EQ(e.log.total_reward, 200.0f);
  EXPECT_EQ(e.log.total_steps, 200u);
}

TEST_P(EveryPath, LaneSeedsAdvanceByNumEnvsAndWrapAround) {
  CartPole e = make();
  const std::uint64_t seed = UINT64_MAX - 1;
  e.reset(seed);
  const std::size_t n = e.num_envs;
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(e.lane_seeds[i], seed + i);
  if (n >= 3) {  // lane 2 drew from seed 0 after wrapping
    CartPole zero = CartPole::with_workers(1, 1);
    zero.reset(0);
    expect_same_lane(lane(e, 2), lane(zero, 0), "wrapped lane seed");
  }
  for (int episode = 1; episode <= 2; ++episode) {
    set_lane(e, 0, {0.0f, 0.0f, 0.3f, 0.0f});  // beyond the angle limit
    step(e, 0.0f);
    EXPECT_EQ(e.lane_seeds[0], seed + episode * n);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{1, 1},
                                           std::pair<std::size_t, std::size_t>{8, 1},
                                           std::pair<std::size_t, std::size_t>{13, 1},
                                           std::pair<std::size_t, std::size_t>{13, 2},
                                           std::pair<std::size_t, std::size_t>{100, 3},
                                           std::pair<std::size_t, std::size_t>{5, 8}));

// Above 2^24 single precision no longer counts single units, so the order of the
// additions shows: a block and a chunk sum their own episodes before adding them
// to the log, tail lanes add one at a time.
TEST(CartPoleLog, SummationOrderOfEachPath) {
  struct Case {
    std::size_t n, workers;
    float expected;
  };
  for (const Case& c : {Case{8, 1, 16777218.0f}, Case{2, 1, 16777216.0f}, Case{2, 2, 16777218.0f}}) {
    CartPole e = CartPole::with_workers(c.n, c.workers);
    e.log.total_reward = 16777216.0f;
    for (std::size_t i = 0; i < 2; ++i) {
      set_lane(e, i, {3.0f, 0.0f, 0.0f, 0.0f});  // off the track: terminal, reward 0
      e.episode_returns[i] = 1.0f;
    }
    const std::vector<float> actions(c.n, 1.0f);
    c.workers < 2 ? e.step_auto_reset_simd(actions) : e.step_auto_reset_parallel(actions);
    EXPECT_EQ(e.log.episode_count, 2u);
    EXPECT_EQ(e.log.total_reward, c.expected) << "n " << c.n << " workers " << c.workers;
  }
}

TEST(CartPole, ResetDrawsEachVariableFromTheLaneSeed) {
  CartPole e = CartPole::with_workers(5, 1);
  e.rewards.assign(5, 1.0f);
  e.reset(1234);
  for (std::size_t i = 0; i < 5; ++i) {
    Xoshiro256StarStar g(1234 + i);
    const float expected[4] = {0.1f * g.unit() - 0.05f, 0.1f * g.unit() - 0.05f,
                               0.1f * g.unit() - 0.05f, 0.1f * g.unit() - 0.05f};
    const Lane got = lane(e, i);
    expect_same_lane(got, {expected[0], expected[1], expected[2], expected[3]}, "reset lane");
    for (float value : {got.x, got.v, got.theta, got.omega}) {
      EXPECT_GE(value, -0.05f);
      EXPECT_LT(value, 0.05f);
    }
    EXPECT_EQ(e.rewards[i], 0.0f);
  }
}

TEST(CartPole, ObservationsInterleaveTheFourVariables) {
  CartPole e = CartPole::with_workers(3, 1);
  e.reset(8);
  std::vector<float> obs(12);
  e.write_observations(obs);
  for (std::size_t i = 0; i < 3; ++i) {
    const Lane l = lane(e, i);
    EXPECT_EQ(std::vector<float>(obs.begin() + 4 * i, obs.begin() + 4 * i + 4),
              (std::vector<float>{l.x, l.v, l.theta, l.omega}));
  }
}

TEST(CartPole, ConstructionRules) {
  EXPECT_EQ(CartPole::with_workers(4, 0).workers, 1u);
  const CartPole e = CartPole::with_workers(3, 2);
  EXPECT_EQ(e.max_steps, 200u);
  EXPECT_EQ(e.reset_bound, 0.05f);
  EXPECT_EQ(e.lane_seeds, (std::vector<std::uint64_t>{0, 1, 2}));
}

}  // namespace
}  // namespace vorlisk::envs::gymnasium
