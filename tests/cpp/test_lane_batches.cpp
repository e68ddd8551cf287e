// The chunked path steps its lanes in batches, sin/cos/fmod in vector code: from any
// state and any action it must give the bits of the per-lane formulas one lane at a
// time, including lanes whose arguments are handed to the library and partial
// batches and vectors.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "envs/gymnasium/cartpole.hpp"
#include "envs/gymnasium/mountain_car.hpp"
#include "envs/gymnasium/pendulum.hpp"

namespace vorlisk::envs::gymnasium {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<LaneVector<float>*> state_of(CartPole& e) {
  return {&e.cart_pos, &e.cart_vel, &e.pole_angle, &e.pole_vel};
}
std::vector<LaneVector<float>*> state_of(MountainCar& e) { return {&e.position, &e.velocity}; }
std::vector<LaneVector<float>*> state_of(Pendulum& e) {
  return {&e.theta, &e.theta_dot, &e.cos_theta, &e.sin_theta};
}

bool same(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

// Mostly ordinary magnitudes, some huge, tiny or not finite.
float wild_value(std::uint64_t& s) {
  s = s * 6364136223846793005ull + 1442695040888963407ull;
  const auto r = static_cast<std::uint32_t>(s >> 32);
  switch (r % 16) {
    case 0: return kNaN;
    case 1: return (r & 32) ? kInf : -kInf;
    case 2: return std::ldexp(static_cast<float>(r >> 8), -int(r % 60));    // anything up to 2^24
    case 3: return -std::ldexp(static_cast<float>(r >> 8), -int(r % 150));  // down to subnormal
    default: return (static_cast<float>(r >> 8) / 16777216.0f - 0.5f) * 16.0f;
  }
}

template <class Engine>
class LaneBatches : public ::testing::Test {};
using Engines = ::testing::Types<CartPole, MountainCar, Pendulum>;
TYPED_TEST_SUITE(LaneBatches, Engines);

template <class Engine>
void check_chunks_against_lanes();

// The chunks' arithmetic runs four or eight lanes per vector (where the processor has AVX2).
TYPED_TEST(LaneBatches, ChunksGiveThePerLaneFormulasBitsFromAnyState) {
  for (const bool narrow : {true, false}) {
    SCOPED_TRACE(narrow ? "four lanes per vector" : "eight lanes per vector");
    force_narrow_blocks(narrow);
    check_chunks_against_lanes<TypeParam>();
    force_narrow_blocks(false);
  }
}

template <class Engine>
void check_chunks_against_lanes() {
  constexpr std::size_t kLanes = 2 * kLaneBatch + 13;
  const float menu[] = {0.0f, 1.0f, 2.0f, 0.99999994f, 1.9999999f, -0.5f, 3.0f, kNaN, -kInf};
  auto chunked = Engine::with_workers(kLanes, 1);
  chunked.reset(5);
  std::uint64_t s = 12345;
  for (LaneVector<float>* column : state_of(chunked)) {
    for (float& v : *column) v = wild_value(s);
  }
  auto lane_by_lane = chunked;
  std::vector<float> actions(kLanes);
  for (int step = 0; step < 3; ++step) {
    for (std::size_t i = 0; i < kLanes; ++i) actions[i] = menu[(i * 7 + step) % 9];
    chunked.step_parallel(actions);
    for (std::size_t i = 0; i < kLanes; ++i) {
      const LaneOutcome outcome = lane_by_lane.step_lane(i, actions[i]);
      ASSERT_TRUE(same(chunked.rewards[i], outcome.reward)) << "step " << step << " lane " << i;
      ASSERT_EQ(chunked.terminals[i], outcome.terminal) << "step " << step << " lane " << i;
    }
    const auto want = state_of(lane_by_lane);
    const auto got = state_of(chunked);
    for (std::size_t c = 0; c < got.size(); ++c) {
      for (std::size_t i = 0; i < kLanes; ++i) {
        ASSERT_TRUE(same((*got[c])[i], (*want[c])[i]))
            << "step " << step << " column " << c << " lane " << i << ": " << (*got[c])[i]
            << " vs " << (*want[c])[i];
      }
    }
  }
}

}  // namespace
}  // namespace vorlisk::envs::gymnasium
