// The kernels of each variant, as plain function pointers, and what the processor can
// run. Shared by the dispatch and nothing else.
#pragma once

#include <cstddef>

#include "lanemath/libm_lanes.hpp"

namespace vorlisk::lanemath::detail {

struct Kernels {
  void (*sin)(const float*, float*, std::size_t);
  void (*cos)(const float*, float*, std::size_t);
  void (*sincos)(const float*, float*, float*, std::size_t);
  void (*fmod)(const float*, float, float*, std::size_t);
};

// kLibrary, and any variant this build has no code for, call the library per lane.
Kernels kernels_for(LibmVariant variant);

bool processor_has_fma();     // AVX2 and FMA
bool processor_has_avx512();  // that, and AVX-512 F, DQ and VL

}  // namespace vorlisk::lanemath::detail
