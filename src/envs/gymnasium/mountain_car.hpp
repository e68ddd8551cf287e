// MountainCar: a car between two hills that must rock back and forth to reach the
// flag on the right hilltop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "envs/core/vec_engine.hpp"

namespace vorlisk::envs::gymnasium {

using MountainCarLog = EpisodeLog;

class MountainCar : public VecEngine<MountainCar> {
 public:
  static constexpr std::size_t kObservationSize = 2;
  static constexpr SeedRule kSeedRule = SeedRule::kAdvanceByOne;
  static constexpr ChunkRule kChunkRule = ChunkRule::kFloorAtLeast8;
  static constexpr bool kBlockCountsInF32 = true;
  static constexpr bool kResetClearsRewards = false;

  MountainCar(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers);
  static MountainCar with_workers(std::size_t num_envs, std::size_t workers) {
    return MountainCar(num_envs, 200, workers);
  }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  LaneOutcome step_lane(std::size_t i, float action);
  template <class F>
  void step_lane_batch(std::size_t i, std::size_t count, const float* actions,
                       LaneMark* terminal, float* reward);
  template <class F>
  void step_lanes(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {position.data(), velocity.data()};
  }

  LaneVector<float> position;
  LaneVector<float> velocity;

 private:
  float block_pulls_[kLaneBatch] = {};  // the slope's pull on the lanes of the current batch
};

}  // namespace vorlisk::envs::gymnasium

namespace vorlisk::envs {
extern template class VecEngine<gymnasium::MountainCar>;
}
