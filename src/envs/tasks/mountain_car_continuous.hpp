// MountainCarContinuous: MountainCar's car and hills, pushed with a force of the
// agent's choosing, which it pays for; reaching the flag earns 100.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "envs/core/task_info.hpp"
#include "envs/core/vec_engine.hpp"
#include "render/canvas.hpp"

namespace vorlisk::envs::tasks {

class MountainCarContinuous : public VecEngine<MountainCarContinuous> {
 public:
  static constexpr TaskNames kNames{
      .title = "MountainCarContinuous",
      .gymnasium_id = "MountainCarContinuous-v0",
      .observations = "position, velocity",
  };
  static constexpr std::size_t kObservationSize = 2;
  static constexpr std::array<float, kObservationSize> kObservationLow = {-1.2f, -0.07f};
  static constexpr std::array<float, kObservationSize> kObservationHigh = {0.6f, 0.07f};
  static constexpr ContinuousActions kActions{-1.0f, 1.0f, "force"};
  static constexpr Compat kCompat{};
  static constexpr render::FrameSize kFrame{600, 400};
  static constexpr std::uint32_t kMaxEpisodeSteps = 999;

  MountainCarContinuous(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers);
  static MountainCarContinuous with_workers(std::size_t num_envs, std::size_t workers) {
    return MountainCarContinuous(num_envs, kMaxEpisodeSteps, workers);
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

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
extern template class VecEngine<tasks::MountainCarContinuous>;
}
