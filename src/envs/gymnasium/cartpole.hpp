// CartPole: a pole hinged on a cart, pushed left or right by a fixed force.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "envs/core/vec_engine.hpp"

namespace vorlisk::envs::gymnasium {

using CartPoleLog = EpisodeLog;

class CartPole : public VecEngine<CartPole> {
 public:
  static constexpr std::size_t kObservationSize = 4;
  static constexpr SeedRule kSeedRule = SeedRule::kAdvanceByNumEnvs;
  static constexpr ChunkRule kChunkRule = ChunkRule::kFloorAtLeast8;
  static constexpr bool kBlockCountsInF32 = false;
  static constexpr bool kResetClearsRewards = true;

  CartPole(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers, float reset_bound);
  static CartPole with_workers(std::size_t num_envs, std::size_t workers) {
    return CartPole(num_envs, 200, workers, 0.05f);
  }

  // Resets one lane from `lane_seed` and records it as the lane's seed.
  void reset_single(std::size_t i, std::uint64_t lane_seed);

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  LaneOutcome step_lane(std::size_t i, float action);
  template <class F>
  void step_lane_batch(std::size_t i, std::size_t count, const float* actions,
                       LaneMark* terminal, float* reward);
  template <class F>
  void step_lanes(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {cart_pos.data(), cart_vel.data(), pole_angle.data(), pole_vel.data()};
  }

  LaneVector<float> cart_pos;
  LaneVector<float> cart_vel;
  LaneVector<float> pole_angle;
  LaneVector<float> pole_vel;
  float reset_bound;
};

}  // namespace vorlisk::envs::gymnasium

namespace vorlisk::envs {
extern template class VecEngine<gymnasium::CartPole>;
}
