// CartPole: a pole hinged on a cart, pushed left or right by a fixed force.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <limits>

#include "envs/core/task_info.hpp"
#include "envs/core/vec_engine.hpp"
#include "render/canvas.hpp"

namespace vorlisk::envs::tasks {

class CartPole : public VecEngine<CartPole> {
 public:
  static constexpr TaskNames kNames{
      .title = "CartPole",
      .gymnasium_id = "CartPole-v1",
      .observations = "cart_pos, cart_vel, pole_angle, pole_vel",
      .bounds_note = " (unbounded for velocities)",
  };
  static constexpr std::size_t kObservationSize = 4;
  static constexpr float kInf = std::numeric_limits<float>::infinity();
  // The pole-angle bound is 0.418, not twice the termination angle.
  static constexpr std::array<float, kObservationSize> kObservationLow = {-4.8f, -kInf, -0.418f, -kInf};
  static constexpr std::array<float, kObservationSize> kObservationHigh = {4.8f, kInf, 0.418f, kInf};
  static constexpr DiscreteActions kActions{2, "push left or push right"};
  static constexpr Compat kCompat{};
  static constexpr render::FrameSize kFrame{600, 400};

  CartPole(std::size_t num_envs, std::uint32_t max_steps, std::size_t workers, float reset_bound);
  static CartPole with_workers(std::size_t num_envs, std::size_t workers) {
    return CartPole(num_envs, kDefaultMaxSteps, workers, 0.05f);
  }

  void draw_lane(std::size_t i, Xoshiro256StarStar& rng);
  template <class F>
  void step_exact(std::size_t i, std::size_t count, const float* actions, LaneMark* terminal,
                  float* reward);
  template <class F>
  void step_block(std::size_t i, const float* actions, MaskOf<F>& terminal, F& reward);
  std::array<const float*, kObservationSize> observation_columns() const {
    return {cart_pos.data(), cart_vel.data(), pole_angle.data(), pole_vel.data()};
  }
  auto lane_arrays() { return std::tie(cart_pos, cart_vel, pole_angle, pole_vel); }
  void render_lane(std::size_t i, render::Canvas& canvas) const;

  LaneVector<float> cart_pos;
  LaneVector<float> cart_vel;
  LaneVector<float> pole_angle;
  LaneVector<float> pole_vel;
  float reset_bound;

 private:
  template <class T>
  auto advance(std::size_t j, T force, T sin_t, T cos_t);
};

}  // namespace vorlisk::envs::tasks

namespace vorlisk::envs {
extern template class VecEngine<tasks::CartPole>;
}
