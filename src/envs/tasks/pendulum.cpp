#include "envs/tasks/pendulum.hpp"

#include <cmath>

#include "envs/core/lane_math.hpp"
#include "envs/core/vec_engine_impl.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::envs::tasks {
namespace {

constexpr float kMaxTorque = Pendulum::kActions.high;
constexpr float kMaxSpeed = 8.0f;
constexpr float kDt = 0.05f;
constexpr float kGravityCoeff = 15.0f;  // 3 g / (2 l) with g = 10, l = 1
constexpr float kTorqueCoeff = 3.0f;    // 3 / (m l^2) with m = 1, l = 1
constexpr float kSpeedCost = 0.1f;
constexpr float kTorqueCost = 0.001f;
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kSixth = 0.16666667f;
constexpr float kOneOver120 = 0.008333334f;
constexpr float kHalf = 0.5f;
constexpr float kOneOver24 = 0.041666668f;

// In the templates T is float or a vector of lanes.

// Truncated Taylor series for the blocks: good near upright, poor towards +-pi.
template <class T>
VORLISK_INLINE T poly_sin(T x) {
  const T x2 = x * x;
  return (x - (x * x2) * kSixth) + (x2 * (x * x2)) * kOneOver120;
}
template <class T>
VORLISK_INLINE T poly_cos(T x) {
  const T x2 = x * x;
  return ((x2 * (-kHalf)) + 1.0f) + (x2 * x2) * kOneOver24;
}

// The new angular velocity from gravity (through sin theta) and the clipped torque.
template <class T>
VORLISK_INLINE T swing(T theta_dot, T torque, T sin_theta) {
  return clip(theta_dot + ((torque * kTorqueCoeff + sin_theta * kGravityCoeff) * kDt), -kMaxSpeed,
              kMaxSpeed);
}

// Angle into [-pi, pi) in the blocks: a floor-based remainder, which vectorises (the
// exact formulas take the library's fmod twice).
template <class T>
VORLISK_INLINE T wrap_floor(T theta) {
  T y = theta + kPi;
  y = (y - floor_f32(y / kTwoPi) * kTwoPi) + kTwoPi;
  return (y - floor_f32(y / kTwoPi) * kTwoPi) + (-kPi);
}

// The exact step costs the state it started from; the block costs the state it
// arrived at, in another order of operations.
template <class T>
VORLISK_INLINE T lane_cost(T u, T theta, T theta_dot) {
  return u * (u * kTorqueCost) + (theta * theta + theta_dot * (theta_dot * kSpeedCost));
}
template <class T>
VORLISK_INLINE T block_cost(T u, T theta_dot, T theta) {
  return (u * u) * kTorqueCost + ((theta_dot * theta_dot) * kSpeedCost + theta * theta);
}

}  // namespace

Pendulum::Pendulum(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers,
                   float reset_theta_bound, float reset_theta_dot_bound)
    : VecEngine(num_envs, max_steps, workers),
      theta(num_envs, 0.0f),
      theta_dot(num_envs, 0.0f),
      cos_theta(num_envs, 0.0f),
      sin_theta(num_envs, 0.0f),
      reset_theta_bound(reset_theta_bound),
      reset_theta_dot_bound(reset_theta_dot_bound) {}

VORLISK_INLINE void Pendulum::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  const float b = reset_theta_bound;
  const float c = reset_theta_dot_bound;
  theta[i] = (b + b) * rng.unit() - b;
  theta_dot[i] = (c + c) * rng.unit() - c;
  cos_theta[i] = std::cos(theta[i]);
  sin_theta[i] = std::sin(theta[i]);
}

// The library's sin, fmod and cos lane-wise in vector code, the arithmetic between
// them in vectors of lanes. The cost is that of the state before the step, whose angle
// is already normalised.
template <class F>
VORLISK_INLINE void Pendulum::step_exact(std::size_t i, std::size_t count, const float* actions,
                                         LaneMark* terminal, float* reward) {
  float sin_th[kLaneBatch];
  float wrapped[kLaneBatch];
  sinf_lanes(&theta[i], sin_th, count);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const std::size_t j = i + k;
    const T u = clip(load<T>(actions + k), -kMaxTorque, kMaxTorque);
    const T th = load<T>(&theta[j]);
    const T thdot = load<T>(&theta_dot[j]);
    const T new_thdot = swing(thdot, u, load<T>(sin_th + k));
    store(wrapped + k, (th + new_thdot * kDt) + kPi);
    store(&theta_dot[j], new_thdot);
    store_outcome(k, T{} != T{} /* never terminal */, -lane_cost(u, th, thdot), terminal, reward);
  });
  // The angle into [-pi, pi): y = fmod(theta + pi, 2 pi); y = fmod(y + 2 pi, 2 pi) - pi.
  fmodf_lanes(wrapped, kTwoPi, wrapped, count);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    store(wrapped + k, load<T>(wrapped + k) + kTwoPi);
  });
  fmodf_lanes(wrapped, kTwoPi, wrapped, count);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    store(&theta[i + k], load<T>(wrapped + k) + (-kPi));
  });
  sincosf_lanes(&theta[i], &sin_theta[i], &cos_theta[i], count);
}

// Polynomials and a floor-based remainder instead of library calls keep the blocks in
// vector registers; good near upright, poor towards +-pi.
template <class F>
VORLISK_INLINE void Pendulum::step_block(std::size_t i, const float* actions, MaskOf<F>& terminal,
                                         F& reward) {
  const F th = load<F>(&theta[i]);
  const F u = clip(load<F>(actions), -kMaxTorque, kMaxTorque);
  const F new_thdot = swing(load<F>(&theta_dot[i]), u, poly_sin(th));
  const F new_th = wrap_floor(th + new_thdot * kDt);
  store(&theta[i], new_th);
  store(&theta_dot[i], new_thdot);
  store(&cos_theta[i], poly_cos(new_th));
  store(&sin_theta[i], poly_sin(new_th));
  terminal = MaskOf<F>{};  // the task never terminates
  reward = -block_cost(u, new_thdot, new_th);
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::Pendulum>;
}
