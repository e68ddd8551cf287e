// MountainCar: a car between two hills that must rock back and forth to reach the
// flag on the right hilltop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "envs/core/task_info.hpp"
#include "envs/core/vec_engine.hpp"
#include "render/canvas.hpp"

namespace vorlisk::envs::tasks {

class MountainCar : public VecEngine<MountainCar> {
 public:
  static constexpr TaskNames kNames{
      .title = "MountainCar",
      .gymnasium_id = "MountainCar-v0",
      .observations = "position, velocity",
  };
  static constexpr std::size_t kObservationSize = 2;
  static constexpr std::array<float, kObservationSize> kObservationLow = {-1.2f, -0.07f};
  static constexpr std::array<float, kObservationSize> kObservationHigh = {0.6f, 0.07f};
  static constexpr DiscreteActions kActions{3, "push left, no push, push right"};
  static constexpr Compat kCompat{.seed_rule = SeedRule::kAdvanceByOne,
                                  .block_counts_in_f32 = true,
                                  .reset_clears_rewards = false};
  static constexpr render::FrameSize kFrame{600, 400};

  MountainCar(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers);
  static MountainCar with_workers(std::size_t num_envs, std::size_t workers) {
    return MountainCar(num_envs, kDefaultMaxSteps, workers);
  }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  template <class F>
  void step_exact(std::size_t i, std::size_t count, const float* actions, LaneMark* terminal,
                  float* reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {position.data(), velocity.data()};
  }
  auto lane_arrays() { return std::tie(position, velocity); }
  void render_lane(std::size_t i, render::Canvas& canvas) const;

  LaneVector<float> position;
  LaneVector<float> velocity;
};

// The car at `position` on the hills, the flag at `goal`: MountainCar's picture, which
// MountainCarContinuous shares.
void render_mountain_car(float position, float goal, render::Canvas& canvas);

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
extern template class VecEngine<tasks::MountainCar>;
}
