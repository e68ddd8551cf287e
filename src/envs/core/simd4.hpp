// Four lanes as one value: a block of eight lanes is computed as two such halves.
// GCC's vector extensions keep the arithmetic lane-wise and in the written order, so
// a block gives the same bits as a scalar evaluation of the same formulas; four
// floats are the width every x86-64 and AArch64 processor has.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorlisk::envs {

using F32x4 = float __attribute__((vector_size(16)));
using I32x4 = std::int32_t __attribute__((vector_size(16)));  // comparison results: 0 or -1
using U32x4 = std::uint32_t __attribute__((vector_size(16)));

inline F32x4 load4(const float* p) {
  F32x4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store4(float* p, F32x4 v) { std::memcpy(p, &v, sizeof v); }

inline U32x4 load4(const std::uint32_t* p) {
  U32x4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store4(std::uint32_t* p, U32x4 v) { std::memcpy(p, &v, sizeof v); }

inline F32x4 splat4(float x) { return F32x4{x, x, x, x}; }

inline bool any4(I32x4 mask) {
  return (mask[0] | mask[1] | mask[2] | mask[3]) != 0;
}

// Flags (0 or 1) from a comparison mask.
inline void store_flags4(std::uint8_t* p, I32x4 mask) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(mask[k] & 1);
}

inline F32x4 select4(I32x4 mask, F32x4 if_true, F32x4 if_false) { return mask ? if_true : if_false; }

}  // namespace vorlisk::envs
