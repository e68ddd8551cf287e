// Pendulum: swing a pendulum up from any angle with a bounded torque at its pivot
// and hold it upright. The task never terminates; every episode is truncated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "envs/core/vec_engine.hpp"

namespace vorlisk::envs::gymnasium {

using PendulumLog = EpisodeLog;

class Pendulum : public VecEngine<Pendulum> {
 public:
  static constexpr std::size_t kObservationSize = 3;
  static constexpr SeedRule kSeedRule = SeedRule::kAdvanceByOne;
  static constexpr ChunkRule kChunkRule = ChunkRule::kCeil;
  static constexpr bool kBlockCountsInF32 = true;
  static constexpr bool kResetClearsRewards = false;

  Pendulum(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers,
           float reset_theta_bound, float reset_theta_dot_bound);
  static Pendulum with_workers(std::size_t num_envs, std::size_t workers) {
    return Pendulum(num_envs, 200, workers, 3.1415927f, 1.0f);
  }

  // The two ways a step brings an angle into [-pi, pi): the library remainder of the
  // per-lane step, and the floor-based remainder of the blocks.
  static float wrap_angle(float theta);
  static float wrap_angle_block(float theta);

  // The chunked step resets the lanes that finish inside their own chunk.
  void step_parallel(std::span<const float> actions) { run_chunks(actions, true); }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  LaneOutcome step_lane(std::size_t i, float action);
  template <class F>
  void step_lane_batch(std::size_t i, std::size_t count, const float* actions,
                       LaneMark* terminal, float* reward);
  template <class F>
  void step_lanes(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {cos_theta.data(), sin_theta.data(), theta_dot.data()};
  }

  LaneVector<float> theta;      // 0 is upright; kept within [-pi, pi)
  LaneVector<float> theta_dot;  // kept within [-8, 8]
  LaneVector<float> cos_theta;  // stored so that the copy-out only copies
  LaneVector<float> sin_theta;
  float reset_theta_bound;
  float reset_theta_dot_bound;
};

}  // namespace vorlisk::envs::gymnasium

namespace vorlisk::envs {
extern template class VecEngine<gymnasium::Pendulum>;
}
