#include "envs/tasks/mountain_car.hpp"

#include "envs/core/lane_math.hpp"
#include "envs/core/vec_engine_impl.hpp"
#include "envs/tasks/mountain_track.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::envs::tasks {
namespace {

constexpr float kPushPerUnit = 0.001f;  // action 1 is no push; each unit away from it pushes
constexpr float kGravity = 0.0025f;
constexpr float kGoalPosition = 0.5f;
constexpr float kStepReward = -1.0f;

}  // namespace

MountainCar::MountainCar(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers)
    : VecEngine(num_envs, max_steps, workers), position(num_envs, 0.0f), velocity(num_envs, 0.0f) {}

VORLISK_INLINE void MountainCar::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  position[i] = mountain_track::start_position(rng);
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
  for (std::size_t k = 0; k < count; ++k) pull[k] = position[i + k] * mountain_track::kHillFrequency;
  cosf_lanes(pull, pull, count);
  for (std::size_t k = 0; k < count; ++k) pull[k] = pull[k] * (-kGravity);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const std::size_t j = i + k;
    // The push and the pull change the speed, the speed moves the car.
    const T push = (load<T>(actions + k) + (-1.0f)) * kPushPerUnit;
    T v = load<T>(&velocity[j]) + (push + load<T>(pull + k));
    const T p = mountain_track::move(v, load<T>(&position[j]));
    store(&position[j], p);
    store(&velocity[j], v);
    store_outcome(k, p >= kGoalPosition, splat<T>(kStepReward), terminal, reward);
  });
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::MountainCar>;
}
