// The `lanes` argument of render: one lane index, or a sequence or one-dimensional
// integer array of them; negative indices count from the end, as in a Python list.
#pragma once

#include <cstddef>
#include <vector>

#include "python/binding.hpp"

namespace vorlisk::python {

struct LaneChoice {
  std::vector<std::size_t> lanes;
  bool single = false;  // one index was given: one frame, not a stack of them
};

// Converts `arg` for an object of `num_envs` lanes whose frames take `frame_bytes`
// bytes each. False with TypeError or IndexError set; throws envs::OutOfMemory, before
// anything a lane is allocated, when the frames could not fit in memory.
bool to_lanes(PyObject* arg, std::size_t num_envs, std::size_t frame_bytes, LaneChoice* out);

// A new uint8 array for the chosen frames: (height, width, 3) for a single index,
// (len(lanes), height, width, 3) otherwise.
PyObject* new_frames(const LaneChoice& choice, std::size_t height, std::size_t width);

}  // namespace vorlisk::python
