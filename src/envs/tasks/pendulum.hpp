// Pendulum: swing a pendulum up from any angle with a bounded torque at its pivot
// and hold it upright. The task never terminates; every episode is truncated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "envs/core/task_info.hpp"
#include "envs/core/vec_engine.hpp"
#include "render/canvas.hpp"

namespace vorlisk::envs::tasks {

class Pendulum : public VecEngine<Pendulum> {
 public:
  static constexpr TaskNames kNames{
      .title = "Pendulum",
      .gymnasium_id = "Pendulum-v1",
      .observations = "cos(theta), sin(theta), theta_dot",
      .step_observations_note = " (cos(theta), sin(theta), theta_dot)",
      .step_terminals_note = " (always 0, Pendulum has no terminal state)",
      .render_note = " Gymnasium's arrow for the last torque is not drawn: the environment does "
                     "not keep the last action.",
      .gymnasium_exact = true,  // the blocks' polynomials are poor towards +-pi
  };
  static constexpr std::size_t kObservationSize = 3;
  static constexpr std::array<float, kObservationSize> kObservationLow = {-1.0f, -1.0f, -8.0f};
  static constexpr std::array<float, kObservationSize> kObservationHigh = {1.0f, 1.0f, 8.0f};
  static constexpr ContinuousActions kActions{-2.0f, 2.0f, "torque"};
  static constexpr Compat kCompat{.seed_rule = SeedRule::kAdvanceByOne,
                                  .chunk_rule = ChunkRule::kCeil,
                                  .block_counts_in_f32 = true,
                                  .reset_clears_rewards = false};
  static constexpr render::FrameSize kFrame{500, 500};

  Pendulum(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers,
           float reset_theta_bound, float reset_theta_dot_bound);
  static Pendulum with_workers(std::size_t num_envs, std::size_t workers) {
    return Pendulum(num_envs, kDefaultMaxSteps, workers, 3.1415927f, 1.0f);
  }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  template <class F>
  void step_exact(std::size_t i, std::size_t count, const float* actions, LaneMark* terminal,
                  float* reward);
  template <class F>
  void step_block(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {cos_theta.data(), sin_theta.data(), theta_dot.data()};
  }
  auto lane_arrays() { return std::tie(theta, theta_dot, cos_theta, sin_theta); }
  void render_lane(std::size_t i, render::Canvas& canvas) const;

  LaneVector<float> theta;      // 0 is upright; kept within [-pi, pi)
  LaneVector<float> theta_dot;  // kept within [-8, 8]
  LaneVector<float> cos_theta;  // stored so that the copy-out only copies
  LaneVector<float> sin_theta;
  float reset_theta_bound;
  float reset_theta_dot_bound;
};

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
extern template class VecEngine<tasks::Pendulum>;
}
