#include "envs/tasks/acrobot.hpp"

#include <cmath>

#include "envs/core/lane_math.hpp"
#include "envs/core/vec_engine_impl.hpp"

namespace vorlisk::envs::tasks {
namespace {

// Gymnasium's constants (both links of length 1 and mass 1, centres of mass at 0.5,
// moments of inertia 1, g = 9.8), folded as Python folds them where they only
// multiply: every other operation below is the one Gymnasium performs, in its order,
// so that a lane follows Gymnasium's trajectory for as long as the C library's sine
// and cosine agree with NumPy's.
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = kPi / 2.0;
constexpr double kTwoPi = kPi - -kPi;
constexpr double kMaxSpeed1 = 4 * kPi;
constexpr double kMaxSpeed2 = 9 * kPi;
constexpr double kGravityLink2 = 1.0 * 0.5 * 9.8;          // m2 lc2 g
constexpr double kGravityLink1 = (1.0 * 0.5 + 1.0 * 1.0) * 9.8;  // (m1 lc1 + m2 l1) g
constexpr double kDt = 0.2;
constexpr double kHalfDt = kDt / 2.0;
constexpr double kSixthDt = kDt / 6.0;
// Beyond this an angle is brought back by one remainder rather than by Gymnasium's
// repeated subtraction of 2 pi, which would take that many rounds (or never end).
constexpr double kFarAngle = 64 * kPi;
constexpr float kStartBound = 0.1f;

struct State {
  double theta1, theta2, dtheta1, dtheta2;
};

// Gymnasium's time derivative of the state with the book's equations of motion.
State derivative(const State& s, double torque) {
  const double cos2 = std::cos(s.theta2);
  const double sin2 = std::sin(s.theta2);
  const double d1 = ((0.25 + (1.25 + cos2)) + 1.0) + 1.0;
  const double d2 = (0.25 + 0.5 * cos2) + 1.0;
  const double phi2 = kGravityLink2 * std::cos((s.theta1 + s.theta2) - kHalfPi);
  const double phi1 = (((-0.5 * (s.dtheta2 * s.dtheta2)) * sin2 - (s.dtheta2 * s.dtheta1) * sin2) +
                       kGravityLink1 * std::cos(s.theta1 - kHalfPi)) +
                      phi2;
  const double ddtheta2 =
      (((torque + (d2 / d1) * phi1) - (0.5 * (s.dtheta1 * s.dtheta1)) * sin2) - phi2) /
      (1.25 - (d2 * d2) / d1);
  const double ddtheta1 = -(d2 * ddtheta2 + phi1) / d1;
  return {s.dtheta1, s.dtheta2, ddtheta1, ddtheta2};
}

State advanced(const State& s, double h, const State& k) {
  return {s.theta1 + h * k.theta1, s.theta2 + h * k.theta2, s.dtheta1 + h * k.dtheta1,
          s.dtheta2 + h * k.dtheta2};
}

// y + dt/6 (k1 + 2 k2 + 2 k3 + k4), summed in Gymnasium's order.
double rk4_sum(double y, double k1, double k2, double k3, double k4) {
  return y + kSixthDt * (((k1 + 2.0 * k2) + 2.0 * k3) + k4);
}

// Into [-pi, pi] as Gymnasium's wrap does it, 2 pi at a time.
double wrap(double x) {
  if (!(std::fabs(x) <= kFarAngle)) x = std::remainder(x, kTwoPi);  // infinite or NaN: NaN
  while (x > kPi) x = x - kTwoPi;
  while (x < -kPi) x = x + kTwoPi;
  return x;
}

// min(max(x, -bound), bound) as Python evaluates it: NaN passes through.
double bound(double x, double limit) {
  x = -limit > x ? -limit : x;
  return limit < x ? limit : x;
}

}  // namespace

Acrobot::Acrobot(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers)
    : VecEngine(num_envs, max_steps, workers),
      theta1(num_envs, 0.0),
      theta2(num_envs, 0.0),
      theta1_dot(num_envs, 0.0),
      theta2_dot(num_envs, 0.0),
      cos_theta1(num_envs, 1.0f),
      sin_theta1(num_envs, 0.0f),
      cos_theta2(num_envs, 1.0f),
      sin_theta2(num_envs, 0.0f),
      theta1_dot_f(num_envs, 0.0f),
      theta2_dot_f(num_envs, 0.0f) {}

// Gymnasium draws the four values in double precision and stores them in single
// precision; these are single-precision values to begin with.
VORLISK_INLINE void Acrobot::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  constexpr float kWidth = kStartBound + kStartBound;
  theta1[i] = kWidth * rng.unit() - kStartBound;
  theta2[i] = kWidth * rng.unit() - kStartBound;
  theta1_dot[i] = kWidth * rng.unit() - kStartBound;
  theta2_dot[i] = kWidth * rng.unit() - kStartBound;
  observe(i);
}

double Acrobot::observe(std::size_t j) {
  const double cos1 = std::cos(theta1[j]);
  cos_theta1[j] = static_cast<float>(cos1);
  sin_theta1[j] = static_cast<float>(std::sin(theta1[j]));
  cos_theta2[j] = static_cast<float>(std::cos(theta2[j]));
  sin_theta2[j] = static_cast<float>(std::sin(theta2[j]));
  theta1_dot_f[j] = static_cast<float>(theta1_dot[j]);
  theta2_dot_f[j] = static_cast<float>(theta2_dot[j]);
  return cos1;
}

// One fourth-order Runge-Kutta step over dt = 0.2, then the angles wrapped and the
// speeds bounded. Gymnasium's termination test, -cos(theta1) - cos(theta2 + theta1)
// > 1, takes the cosine the observation reports, before its rounding.
bool Acrobot::step_lane(std::size_t j, double torque) {
  const State s{theta1[j], theta2[j], theta1_dot[j], theta2_dot[j]};
  const State k1 = derivative(s, torque);
  const State k2 = derivative(advanced(s, kHalfDt, k1), torque);
  const State k3 = derivative(advanced(s, kHalfDt, k2), torque);
  const State k4 = derivative(advanced(s, kDt, k3), torque);
  const double t1 = wrap(rk4_sum(s.theta1, k1.theta1, k2.theta1, k3.theta1, k4.theta1));
  const double t2 = wrap(rk4_sum(s.theta2, k1.theta2, k2.theta2, k3.theta2, k4.theta2));
  theta1[j] = t1;
  theta2[j] = t2;
  theta1_dot[j] = bound(rk4_sum(s.dtheta1, k1.dtheta1, k2.dtheta1, k3.dtheta1, k4.dtheta1), kMaxSpeed1);
  theta2_dot[j] = bound(rk4_sum(s.dtheta2, k1.dtheta2, k2.dtheta2, k3.dtheta2, k4.dtheta2), kMaxSpeed2);
  return -observe(j) - std::cos(t2 + t1) > 1.0;
}

// Lane by lane: the step is some fifteen calls of the C library's double-precision
// sine and cosine, which no vector of lanes would share. The torque is the action
// less one, clipped to [-1, 1], so that actions 0, 1 and 2 give -1, 0 and +1.
template <class F>
VORLISK_INLINE void Acrobot::step_exact(std::size_t i, std::size_t count, const float* actions,
                                        LaneMark* terminal, float* reward) {
  for (std::size_t k = 0; k < count; ++k) {
    const double torque = clip(actions[k] - 1.0f, -1.0f, 1.0f);
    const bool ended = step_lane(i + k, torque);
    store_outcome(k, ended, ended ? 0.0f : -1.0f, terminal, reward);
  }
}

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
template class VecEngine<tasks::Acrobot>;
}
