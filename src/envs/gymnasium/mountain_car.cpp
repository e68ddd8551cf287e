#include "envs/gymnasium/mountain_car.hpp"

#include <cmath>
#include <cstring>

#include "envs/core/lane_math.hpp"
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
VORLISK_INLINE void MountainCar::step_lanes(std::size_t i, const float* actions,
                                            MaskOf<F>& terminal, F& reward) {
  // The library cosine once per lane, straight from memory into memory (a call
  // clobbers every vector register); everything after it is lane-wise arithmetic.
  float pulls[kWidthOf<F>];
  for (int k = 0; k < kWidthOf<F>; ++k) pulls[k] = slope_pull(position[i + k]);
  F p = load<F>(&position[i]);
  F v = accelerate(load<F>(&velocity[i]), load<F>(actions), load<F>(pulls));
  p = move(p, v);
  v = stop_at_wall(p, v);
  store(&position[i], p);
  store(&velocity[i], v);
  terminal = p >= kGoalPosition;
  reward = splat<F>(kStepReward);
}

}  // namespace vorlisk::envs::gymnasium

namespace vorlisk::envs {
template class VecEngine<gymnasium::MountainCar>;
}
