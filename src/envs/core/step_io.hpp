// What a step reads and where it writes: the caller's actions and the caller's result
// arrays. The engine converts actions and writes results a stretch of lanes at a time,
// right after stepping them, while those lanes are still in cache, and each chunk of
// the chunked path does so for its own lanes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlisk::envs {

// One action per lane: single-precision values as they are, or 32-bit integers
// (`int32_bytes`, not necessarily aligned) converted to the nearest float into
// `converted`, which holds a float per lane.
struct StepActions {
  std::size_t count = 0;
  const float* floats = nullptr;
  const char* int32_bytes = nullptr;
  float* converted = nullptr;
};

// A step's results for every lane: observations row-major (the observation of lane i
// at i*k .. i*k + k - 1), rewards and the two flags.
struct StepResults {
  float* observations = nullptr;
  float* rewards = nullptr;
  std::uint8_t* terminals = nullptr;
  std::uint8_t* truncations = nullptr;
};

// int32 actions to the nearest float, `n` values from `data` (any alignment).
void int32_to_f32(const char* data, float* out, std::size_t n);

}  // namespace vorlisk::envs
