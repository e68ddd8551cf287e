#include "envs/tasks/mountain_car.hpp"

#include "envs/core/lane_math.hpp"
#include "envs/core/vec_engine_impl.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::envs::tasks {
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

}  // namespace

MountainCar::MountainCar(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers)
    : VecEngine(num_envs, max_steps, workers), position(num_envs, 0.0f), velocity(num_envs, 0.0f) {}

VORLISK_INLINE void MountainCar::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  position[i] = rng.unit() * kStartWidth + kStartLow;
  velocity[i] = 0.0f;
}

void MountainCar::render_lane(std::size_t i, render::Canvas& canvas) const {
  render_mountain_car(position[i], kGoalPosition, canvas);
}

// The slope's pull, cos(3 p) * -0.0025, is the only library call of a step; blocks use
// these formulas too, so every path gives the same bits.
template <class F>
VORLISK_INLINE void MountainCar::step_exact(std::size_t i, std::size_t count, const float* actions,
                                            LaneMark* terminal, float* reward) {
  float pull[kLaneBatch] = {};  // initialised only to quiet a false uninitialised-use warning
  for (std::size_t k = 0; k < count; ++k) pull[k] = position[i + k] * kHillFrequency;
  cosf_lanes(pull, pull, count);
  for (std::size_t k = 0; k < count; ++k) pull[k] = pull[k] * (-kGravity);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const std::size_t j = i + k;
    // The push and the pull change the speed, the speed moves the car, and the left
    // wall stops it (at the right bound the car keeps its speed).
    const T push = (load<T>(actions + k) + (-1.0f)) * kPushPerUnit;
    T v = clip(load<T>(&velocity[j]) + (push + load<T>(pull + k)), -kMaxSpeed, kMaxSpeed);
    const T p = clip(load<T>(&position[j]) + v, kMinPosition, kMaxPosition);
    v = ((p == kMinPosition) & (v < 0.0f)) ? 0.0f : v;
    store(&position[j], p);
    store(&velocity[j], v);
    store_outcome(k, p >= kGoalPosition, splat<T>(kStepReward), terminal, reward);
  });
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::MountainCar>;
}
