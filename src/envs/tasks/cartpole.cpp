#include "envs/tasks/cartpole.hpp"

#include "envs/core/vec_engine_impl.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::envs::tasks {
namespace {

constexpr float kTau = 0.02f;
constexpr float kGravity = 9.8f;
constexpr float kTotalMass = 1.1f;
constexpr float kPoleMassLength = 0.05f;  // pole mass x half length
constexpr float kNegPoleMass = -0.1f;
constexpr float kHalfLength = 0.5f;
constexpr float kFourThirds = 1.3333334f;
constexpr float kForce = 10.0f;
constexpr float kPositionLimit = 2.4f;
constexpr float kAngleLimit = 0.20943952f;  // 12 degrees

template <class F>
struct State {
  F x, v, theta, omega;
};

// The Euler step of both formula sets (F is float or a vector of lanes); they differ
// only in the force and in where sin and cos come from. Every operation is rounded in
// the order written.
template <class F>
VORLISK_INLINE State<F> euler_step(const State<F>& s, F force, F sin_t, F cos_t) {
  const F temp = (force + sin_t * (s.omega * (s.omega * kPoleMassLength))) / kTotalMass;
  const F d1 = cos_t * kNegPoleMass;
  const F d2 = cos_t * d1;
  const F d3 = d2 / kTotalMass;
  const F d4 = d3 + kFourThirds;
  const F divisor = d4 * kHalfLength;
  const F theta_acc = (sin_t * kGravity - cos_t * temp) / divisor;
  const F x_acc = temp - (cos_t * (theta_acc * kPoleMassLength)) / kTotalMass;
  return {s.x + s.v * kTau, s.v + x_acc * kTau, s.theta + s.omega * kTau,
          s.omega + theta_acc * kTau};
}

// |value| > limit, written with two comparisons so that it works lane-wise too.
template <class F>
VORLISK_INLINE auto beyond(F value, float limit) {
  return (value > limit) | (value < -limit);
}

template <class F>
VORLISK_INLINE auto is_terminal(const State<F>& s) {
  return beyond(s.x, kPositionLimit) | beyond(s.theta, kAngleLimit);
}

}  // namespace

CartPole::CartPole(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers,
                   float reset_bound)
    : VecEngine(num_envs, max_steps, workers),
      cart_pos(num_envs, 0.0f),
      cart_vel(num_envs, 0.0f),
      pole_angle(num_envs, 0.0f),
      pole_vel(num_envs, 0.0f),
      reset_bound(reset_bound) {}

VORLISK_INLINE void CartPole::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  const float width = reset_bound + reset_bound;
  cart_pos[i] = width * rng.unit() - reset_bound;
  cart_vel[i] = width * rng.unit() - reset_bound;
  pole_angle[i] = width * rng.unit() - reset_bound;
  pole_vel[i] = width * rng.unit() - reset_bound;
}

// One Euler step of lane j (T float) or of the lanes of a vector from lane j, given
// the force and the pole angle's sine and cosine; returns where they terminated.
template <class T>
VORLISK_INLINE auto CartPole::advance(std::size_t j, T force, T sin_t, T cos_t) {
  const State<T> next = euler_step<T>(
      {load<T>(&cart_pos[j]), load<T>(&cart_vel[j]), load<T>(&pole_angle[j]), load<T>(&pole_vel[j])},
      force, sin_t, cos_t);
  store(&cart_pos[j], next.x);
  store(&cart_vel[j], next.v);
  store(&pole_angle[j], next.theta);
  store(&pole_vel[j], next.omega);
  return is_terminal(next);
}

// The library's sin and cos of the pole angle, and a force of 10 exactly where the
// action truncates to 1 (1 <= action < 2), -10 for anything else.
template <class F>
VORLISK_INLINE void CartPole::step_exact(std::size_t i, std::size_t count, const float* actions,
                                         LaneMark* terminal, float* reward) {
  float sin_t[kLaneBatch];
  float cos_t[kLaneBatch];
  sincosf_lanes(&pole_angle[i], sin_t, cos_t, count);
  for_lane_vectors<F>(count, [&]<class T>(std::size_t k) {
    const T action = load<T>(actions + k);
    const T force = ((action >= 1.0f) & (action < 2.0f)) ? splat<T>(kForce) : splat<T>(-kForce);
    const auto ended = advance<T>(i + k, force, load<T>(sin_t + k), load<T>(cos_t + k));
    store_outcome(k, ended, ended ? splat<T>(0.0f) : splat<T>(1.0f), terminal, reward);
  });
}

// Truncated Taylor series instead of library calls keep the blocks in vector
// registers, and the force is 20 a - 10.
template <class F>
VORLISK_INLINE void CartPole::step_block(std::size_t i, const float* actions, MaskOf<F>& terminal,
                                         F& reward) {
  const F theta = load<F>(&pole_angle[i]);
  const F t2 = theta * theta;
  const F cos_t = (1.0f - t2 * 0.5f) + (t2 * t2) * 0.041666668f;
  const F sin_t = (theta + (theta * t2) * -0.16666667f) + (t2 * (theta * t2)) * 0.008333334f;
  const F force = load<F>(actions) * 20.0f + (-10.0f);
  terminal = advance<F>(i, force, sin_t, cos_t);
  reward = select<F>(terminal, splat<F>(0.0f), splat<F>(1.0f));
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::CartPole>;
}
