#include "envs/tasks/mountain_car_continuous.hpp"

#include "envs/core/lane_math.hpp"
#include "envs/core/vec_engine_impl.hpp"
#include "envs/tasks/mountain_car.hpp"
#include "envs/tasks/mountain_track.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::envs::tasks {
namespace {

constexpr float kMaxForce = MountainCarContinuous::kActions.high;
constexpr float kPower = 0.0015f;
constexpr double kGravity = 0.0025;
constexpr float kGoalPosition = 0.45f;
constexpr double kGoalReward = 100.0;
constexpr double kActionCost = 0.1;

// The reward: 100 on reaching the goal, less 0.1 a^2 for the action as given (not as
// clipped), computed in double precision as Gymnasium computes it. T is float or a
// vector of lanes, `goal` the matching comparison result.
VORLISK_INLINE float reward_of(float action, bool goal) {
  const double cost = (static_cast<double>(action) * action) * kActionCost;
  return static_cast<float>((goal ? kGoalReward : 0.0) - cost);
}
template <class F>
VORLISK_INLINE F reward_of(F action, MaskOf<F> goal) {
  using F64 = F64Of<F>;
  const F64 a = __builtin_convertvector(action, F64);
  const F64 cost = (a * a) * kActionCost;
  const F on_goal = __builtin_convertvector(kGoalReward - cost, F);
  const F elsewhere = __builtin_convertvector(0.0 - cost, F);
  return goal ? on_goal : elsewhere;
}

}  // namespace

MountainCarContinuous::MountainCarContinuous(std::size_t num_envs, std::uint32_t max_steps,
                                             std::size_t workers)
    : VecEngine(num_envs, max_steps, workers), position(num_envs, 0.0f), velocity(num_envs, 0.0f) {}

VORLISK_INLINE void MountainCarContinuous::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  position[i] = mountain_track::start_position(rng);
  velocity[i] = 0.0f;
}

// MountainCar's picture, with this task's flag.
void MountainCarContinuous::render_lane(std::size_t i, render::Canvas& canvas) const {
  render_mountain_car(position[i], kGoalPosition, canvas);
}

// Gymnasium keeps the state in single precision and steps it so: the push a * 0.0015
// and the sums in single precision, the slope's pull 0.0025 cos(3 p) in double
// precision and then rounded. The cosine is the library's single-precision one, the
// only library call of a step; every path takes these formulas, so every path gives
// the same bits.
template <class F>
VORLISK_INLINE void MountainCarContinuous::step_exact(std::size_t i, std::size_t count,
                                                      const float* actions, LaneMark* terminal,
                                                      float* reward) {
  float pull[kLaneBatch] = {};  // initialised only to quiet a false uninitialised-use warning
  for (std::size_t k = 0; k < count; ++k) pull[k] = position[i + k] * mountain_track::kHillFrequency;
  cosf_lanes(pull, pull, count);
  for (std::size_t k = 0; k < count; ++k) {
    pull[k] = static_cast<float>(kGravity * static_cast<double>(pull[k]));
  }
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const std::size_t j = i + k;
    // The push and the pull change the speed, the speed moves the car.
    const T action = load<T>(actions + k);
    const T push = clip(action, -kMaxForce, kMaxForce) * kPower;
    T v = load<T>(&velocity[j]) + (push - load<T>(pull + k));
    const T p = mountain_track::move(v, load<T>(&position[j]));
    store(&position[j], p);
    store(&velocity[j], v);
    const decltype(p >= kGoalPosition) goal = (p >= kGoalPosition) & (v >= 0.0f);
    store_outcome(k, goal, reward_of(action, goal), terminal, reward);
  });
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::MountainCarContinuous>;
}
