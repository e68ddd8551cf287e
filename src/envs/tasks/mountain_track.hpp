// The track both mountain-car tasks drive on: its hills, bounds, speed limit and start
// range, and how a speed moves a car along it.
#pragma once

#include "envs/core/lane_math.hpp"
#include "envs/core/rng.hpp"

namespace vorlisk::envs::tasks::mountain_track {

inline constexpr float kHillFrequency = 3.0f;  // the track's height is sin(3 x)
inline constexpr float kMinPosition = -1.2f;
inline constexpr float kMaxPosition = 0.6f;
inline constexpr float kMaxSpeed = 0.07f;
inline constexpr float kStartLow = -0.6f;
inline constexpr float kStartWidth = 0.20000002f;  // -0.4f - (-0.6f) in single precision

// A start position, uniform in [-0.6, -0.4); the car starts at rest.
inline float start_position(Xoshiro256StarStar& rng) { return rng.unit() * kStartWidth + kStartLow; }

// Moves a car at `position` with the speed `v` (before its limit; T is float or a
// vector of lanes): the speed is bounded, the car moves, and the left wall stops it (at
// the right bound the car keeps its speed). Returns the new position; `v` becomes the
// new speed.
template <class T>
VORLISK_INLINE T move(T& v, T position) {
  v = clip(v, -kMaxSpeed, kMaxSpeed);
  const T moved = clip(position + v, kMinPosition, kMaxPosition);
  v = ((moved == kMinPosition) & (v < 0.0f)) ? 0.0f : v;
  return moved;
}

}  // namespace vorlisk::envs::tasks::mountain_track
