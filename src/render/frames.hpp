// Frames of chosen lanes, for any task that can draw one of its lanes:
//
//   static constexpr render::FrameSize kFrame;                  // the picture's size
//   void render_lane(std::size_t i, render::Canvas& canvas) const;  // lane i, drawn
//                                                                   // onto a blank frame
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "render/canvas.hpp"

namespace vorlisk::render {

template <class Task>
concept Renderable = requires(const Task& task, Canvas& canvas) {
  { Task::kFrame } -> std::convertible_to<FrameSize>;
  task.render_lane(std::size_t{0}, canvas);
};

// Frame k of `out` shows lane lanes[k]; every lane must be below the task's lane count
// and `out` must hold exactly one frame a lane.
template <Renderable Task>
void render_lanes(const Task& task, std::span<const std::size_t> lanes, std::span<std::uint8_t> out) {
  constexpr std::size_t bytes = frame_bytes(Task::kFrame);
  if (out.size() != lanes.size() * bytes) throw std::logic_error("frame output of the wrong size");
  for (std::size_t k = 0; k < lanes.size(); ++k) {
    if (lanes[k] >= task.num_envs) throw std::logic_error("frame of a lane beyond the last");
    Canvas canvas(out.data() + k * bytes, Task::kFrame);
    canvas.fill(kWhite);
    task.render_lane(lanes[k], canvas);
  }
}

}  // namespace vorlisk::render
