#include "envs/gymnasium/mountain_car.hpp"

#include <cmath>
#include <cstring>

#include "envs/core/lane_math.hpp"
#include "lanemath/libm_lanes.hpp"
#include "envs/core/vec_engine_impl.hpp"

namespace vorlisk::envs::gymnasium {
namespace {

constexpr float kPushPerUnit = 0.001f;  // action 1 is no push; each unit away from it pushes
constexpr float kGravity = 0.0025f;
constexpr float kHillFrequency = 3.0f;  // the track's height is sin(3 x)
constexpr float kMinPosition = -1.2f;
constexpr float kMaxPosition = 0.6f;
constexpr float kMaxSpeed = 0.07f;
constexpr float kGoalPosition = 0.5f;
constexpr float kStepReward = -1.0f;
constexpr float kStartLow = -0.6f;
constexpr float kStartWidth = 0.20000002f;  // -0.4f - (-0.6f) in single precision

// The slope's pull at position p: the only library call of a step.
inline float slope_pull(float p) { return std::cos(p * kHillFrequency) * (-kGravity); }

// The same for `count` lanes from `p` into `pull`, the cosine lane-wise with the
// library's bits.
inline void slope_pulls(const float* p, float* pull, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) pull[k] = p[k] * kHillFrequency;
  cosf_lanes(pull, pull, count);
  for (std::size_t k = 0; k < count; ++k) pull[k] = pull[k] * (-kGravity);
}

// The step in three stages that blocks and single lanes share, so they agree bit
// for bit: the push and the pull change the speed, the speed moves the car, and
// the left wall stops it (at the right bound the car keeps its speed). T is float
// or a vector of lanes.
template <class T>
VORLISK_INLINE T accelerate(T v, T action, T pull) {
  const T push = (action + (-1.0f)) * kPushPerUnit;
  return clip(v + (push + pull), -kMaxSpeed, kMaxSpeed);
}
template <class T>
VORLISK_INLINE T move(T p, T v) {
  return clip(p + v, kMinPosition, kMaxPosition);
}
template <class T>
VORLISK_INLINE T stop_at_wall(T p, T v) {
  return ((p == kMinPosition) & (v < 0.0f)) ? 0.0f : v;
}

// The step from the pulls on, lanes in vectors (T: a vector of lanes or float).
template <class T>
VORLISK_INLINE auto move_lanes(float* position, float* velocity, const float* actions,
                               const float* pulls) {
  T p = load<T>(position);
  T v = accelerate(load<T>(velocity), load<T>(actions), load<T>(pulls));
  p = move(p, v);
  v = stop_at_wall(p, v);
  store(position, p);
  store(velocity, v);
  return p >= kGoalPosition;
}

}  // namespace

MountainCar::MountainCar(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers)
    : VecEngine(num_envs, max_steps, workers), position(num_envs, 0.0f), velocity(num_envs, 0.0f) {}

VORLISK_INLINE void MountainCar::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  position[i] = rng.unit() * kStartWidth + kStartLow;
  velocity[i] = 0.0f;
}

LaneOutcome MountainCar::step_lane(std::size_t i, float action) {
  float p = position[i];
  float v = accelerate(velocity[i], action, slope_pull(p));
  p = move(p, v);
  v = stop_at_wall(p, v);
  position[i] = p;
  velocity[i] = v;
  return {p >= kGoalPosition, kStepReward};
}

template <class F>
VORLISK_INLINE void MountainCar::step_lane_batch(std::size_t i, std::size_t count,
                                                 const float* actions, LaneMark* terminal,
                                                 float* reward) {
  float pulls[kLaneBatch] = {};  // initialised only to quiet a false uninitialised-use warning
  slope_pulls(&position[i], pulls, count);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const auto at_goal = move_lanes<T>(&position[i + k], &velocity[i + k], actions + k, pulls + k);
    store_outcome(k, at_goal, splat<T>(kStepReward), terminal, reward);
  });
}

// Blocks visit their lanes in order from lane 0, so at the start of each batch of
// kLaneBatch lanes the cosines of the whole batch come from one call, before any of
// its lanes moves; everything after them is lane-wise arithmetic.
template <class F>
VORLISK_INLINE void MountainCar::step_lanes(std::size_t i, const float* actions,
                                            MaskOf<F>& terminal, F& reward) {
  if (i % kLaneBatch == 0) slope_pulls(&position[i], block_pulls_, std::min(kLaneBatch, num_envs - i));
  terminal = move_lanes<F>(&position[i], &velocity[i], actions, block_pulls_ + i % kLaneBatch);
  reward = splat<F>(kStepReward);
}

}  // namespace vorlisk::envs::gymnasium

namespace vorlisk::envs {
template class VecEngine<gymnasium::MountainCar>;
}
