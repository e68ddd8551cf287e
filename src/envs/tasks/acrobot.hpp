// Acrobot: two links hanging in a chain from a fixed pivot, with a torque at the joint
// between them; the free end must be swung above a line one link length over the
// pivot. The state is kept in double precision, as Gymnasium integrates it: the motion
// is chaotic, so single precision would soon part from Gymnasium's trajectories.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "envs/core/task_info.hpp"
#include "envs/core/vec_engine.hpp"
#include "render/canvas.hpp"

namespace vorlisk::envs::tasks {

class Acrobot : public VecEngine<Acrobot> {
 public:
  static constexpr TaskNames kNames{
      .title = "Acrobot",
      .gymnasium_id = "Acrobot-v1",
      .observations = "cos(theta1), sin(theta1), cos(theta2), sin(theta2), theta1_dot, theta2_dot",
      .step_observations_note = " (cos(theta1), sin(theta1), cos(theta2), sin(theta2), theta1_dot, "
                                "theta2_dot; theta2 relative to the first link)",
      .step_terminals_note = " (1 when the free end has risen above the target height)",
  };
  static constexpr std::size_t kObservationSize = 6;
  // The speed bounds 4 pi and 9 pi, rounded to single precision.
  static constexpr std::array<float, kObservationSize> kObservationLow = {
      -1.0f, -1.0f, -1.0f, -1.0f, -12.566371f, -28.274334f};
  static constexpr std::array<float, kObservationSize> kObservationHigh = {
      1.0f, 1.0f, 1.0f, 1.0f, 12.566371f, 28.274334f};
  static constexpr DiscreteActions kActions{3, "torque -1, 0 or +1 at the joint between the links"};
  static constexpr Compat kCompat{};
  static constexpr render::FrameSize kFrame{500, 500};
  static constexpr std::uint32_t kMaxEpisodeSteps = 500;

  Acrobot(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers);
  static Acrobot with_workers(std::size_t num_envs, std::size_t workers) {
    return Acrobot(num_envs, kMaxEpisodeSteps, workers);
  }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  template <class F>
  void step_exact(std::size_t i, std::size_t count, const float* actions, LaneMark* terminal,
                  float* reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {cos_theta1.data(), sin_theta1.data(), cos_theta2.data(),
            sin_theta2.data(), theta1_dot_f.data(), theta2_dot_f.data()};
  }
  std::array<const double*, 4> state_columns() const {
    return {theta1.data(), theta2.data(), theta1_dot.data(), theta2_dot.data()};
  }
  auto lane_arrays() {
    return std::tie(theta1, theta2, theta1_dot, theta2_dot, cos_theta1, sin_theta1, cos_theta2,
                    sin_theta2, theta1_dot_f, theta2_dot_f);
  }
  void render_lane(std::size_t i, render::Canvas& canvas) const;

  // The state: both angles (0 is hanging straight down; theta2 relative to the first
  // link) within [-pi, pi], and their speeds within [-4 pi, 4 pi] and [-9 pi, 9 pi].
  LaneVector<double> theta1;
  LaneVector<double> theta2;
  LaneVector<double> theta1_dot;
  LaneVector<double> theta2_dot;
  // The observation, kept so that the copy-out only copies.
  LaneVector<float> cos_theta1;
  LaneVector<float> sin_theta1;
  LaneVector<float> cos_theta2;
  LaneVector<float> sin_theta2;
  LaneVector<float> theta1_dot_f;
  LaneVector<float> theta2_dot_f;

 private:
  // One step of lane j with `torque`; returns whether it terminated.
  bool step_lane(std::size_t j, double torque);
  // Writes lane j's observation; returns the cosine of its first angle.
  double observe(std::size_t j);
};

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
extern template class VecEngine<tasks::Acrobot>;
}
