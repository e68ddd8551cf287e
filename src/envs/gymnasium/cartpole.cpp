#include "envs/gymnasium/cartpole.hpp"

#include <cmath>
#include <cstring>

namespace vorlisk::envs {
template class VecEngine<gymnasium::CartPole>;
}

namespace vorlisk::envs::gymnasium {
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

struct State {
  float x, v, theta, omega;
};

// The Euler step shared by both formula sets; they differ only in the force and in
// where sin and cos come from. Every operation is rounded in the order written.
inline State euler_step(State s, float force, float sin_t, float cos_t) {
  const float temp = (force + sin_t * (s.omega * (s.omega * kPoleMassLength))) / kTotalMass;
  const float d1 = cos_t * kNegPoleMass;
  const float d2 = cos_t * d1;
  const float d3 = d2 / kTotalMass;
  const float d4 = d3 + kFourThirds;
  const float divisor = d4 * kHalfLength;
  const float theta_acc = (sin_t * kGravity - cos_t * temp) / divisor;
  const float x_acc = temp - (cos_t * (theta_acc * kPoleMassLength)) / kTotalMass;
  return {s.x + s.v * kTau, s.v + x_acc * kTau, s.theta + s.omega * kTau,
          s.omega + theta_acc * kTau};
}

inline bool is_terminal(const State& s) {
  return std::fabs(s.x) > kPositionLimit || std::fabs(s.theta) > kAngleLimit;
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

void CartPole::reset_single(std::size_t i, std::uint64_t lane_seed) {
  lane_seeds[i] = lane_seed;
  reset_lane(i, lane_seed);
}

void CartPole::draw_lane(std::size_t i, Xoshiro256StarStar& rng) {
  const float width = reset_bound + reset_bound;
  cart_pos[i] = width * rng.unit() - reset_bound;
  cart_vel[i] = width * rng.unit() - reset_bound;
  pole_angle[i] = width * rng.unit() - reset_bound;
  pole_vel[i] = width * rng.unit() - reset_bound;
}

LaneOutcome CartPole::step_lane(std::size_t i, float action) {
  const float force = std::trunc(action) == 1.0f ? kForce : -kForce;
  const float theta = pole_angle[i];
  const State next =
      euler_step({cart_pos[i], cart_vel[i], theta, pole_vel[i]}, force, std::sin(theta), std::cos(theta));
  cart_pos[i] = next.x;
  cart_vel[i] = next.v;
  pole_angle[i] = next.theta;
  pole_vel[i] = next.omega;
  const bool terminal = is_terminal(next);
  return {terminal, terminal ? 0.0f : 1.0f};
}

void CartPole::step_block(std::size_t first, const float* actions, std::uint8_t* terminal,
                          float* reward) {
  float x[kBlockLanes], v[kBlockLanes], theta[kBlockLanes], omega[kBlockLanes];
  std::memcpy(x, &cart_pos[first], sizeof x);
  std::memcpy(v, &cart_vel[first], sizeof v);
  std::memcpy(theta, &pole_angle[first], sizeof theta);
  std::memcpy(omega, &pole_vel[first], sizeof omega);
  for (std::size_t k = 0; k < kBlockLanes; ++k) {
    // Truncated Taylor series instead of library calls, so the block stays in
    // vector registers.
    const float t = theta[k];
    const float t2 = t * t;
    const float cos_t = (1.0f - t2 * 0.5f) + (t2 * t2) * 0.041666668f;
    const float sin_t = (t + (t * t2) * -0.16666667f) + (t2 * (t * t2)) * 0.008333334f;
    const float force = actions[k] * 20.0f + (-10.0f);
    const State next = euler_step({x[k], v[k], t, omega[k]}, force, sin_t, cos_t);
    x[k] = next.x;
    v[k] = next.v;
    theta[k] = next.theta;
    omega[k] = next.omega;
    const bool done = is_terminal(next);
    terminal[k] = done;
    reward[k] = done ? 0.0f : 1.0f;
  }
  std::memcpy(&cart_pos[first], x, sizeof x);
  std::memcpy(&cart_vel[first], v, sizeof v);
  std::memcpy(&pole_angle[first], theta, sizeof theta);
  std::memcpy(&pole_vel[first], omega, sizeof omega);
}

}  // namespace vorlisk::envs::gymnasium
