// Small single-precision helpers the engines' step formulas share. Where a helper is
// a template, T is float or a GCC vector of floats, so that a block can apply the
// same formula to several lanes at once.
#pragma once

#include <bit>
#include <cstdint>

#include "envs/core/lanes.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace vorlisk::envs {

// Lower bound first, then upper bound, as separate tests: a NaN fails both and
// passes through unchanged.
template <class T>
VORLISK_INLINE T clip(T x, float lo, float hi) {
  x = x < lo ? lo : x;
  return x > hi ? hi : x;
}

// Bit for bit std::floor, written so that a loop over eight lanes vectorises on the
// baseline x86-64 instruction set (which has no vector floor): truncate through
// int32, then step down where truncation rounded a negative value up. Zero, every
// magnitude from 2^23 up (already integral), infinities and NaN are their own floor.
// The selections are bit masks because a compare-and-select around the conversions
// is turned back into a branch, which stops vectorisation.
inline float floor_f32(float x) {
  constexpr std::int32_t kMagnitudeMask = 0x7fffffff;
  constexpr std::int32_t kTwoPow23Bits = 0x4b000000;
  const std::int32_t bits = std::bit_cast<std::int32_t>(x);
  const std::int32_t magnitude = bits & kMagnitudeMask;
  const std::int32_t in_range =  // all ones where x needs rounding, else zero
      -static_cast<std::int32_t>((magnitude != 0) & (magnitude < kTwoPow23Bits));
  const float safe = std::bit_cast<float>(bits & in_range);  // +0 where x is kept
  const std::int32_t truncated = static_cast<std::int32_t>(safe);
  const std::int32_t floored = truncated - (static_cast<float>(truncated) > safe);
  const std::int32_t floored_bits = std::bit_cast<std::int32_t>(static_cast<float>(floored));
  return std::bit_cast<float>((floored_bits & in_range) | (bits & ~in_range));
}

#if defined(__x86_64__) || defined(__i386__)
// Eight-lane vectors only exist in code compiled for AVX2, which has an exact vector
// floor instruction. Not forced inline: it may only be inlined into such code.
[[gnu::target("avx2")]] inline F32x8 floor_avx(F32x8 x) {
  return reinterpret_cast<F32x8>(_mm256_floor_ps(reinterpret_cast<__m256>(x)));
}
#endif

// The same floor on every lane of a vector (F32x4 or F32x8).
template <class F>
VORLISK_INLINE F floor_f32(F x) {
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (kWidthOf<F> == 8) return floor_avx(x);
#endif
  using I = MaskOf<F>;
  constexpr std::int32_t kMagnitudeMask = 0x7fffffff;
  constexpr std::int32_t kTwoPow23Bits = 0x4b000000;
  const I bits = reinterpret_cast<I>(x);
  const I magnitude = bits & kMagnitudeMask;
  const I in_range = (magnitude != 0) & (magnitude < kTwoPow23Bits);
  const F safe = reinterpret_cast<F>(bits & in_range);
  const I truncated = __builtin_convertvector(safe, I);
  // A true comparison is -1: adding it steps down where truncation rounded up.
  const I floored = truncated + (__builtin_convertvector(truncated, F) > safe);
  const I floored_bits = reinterpret_cast<I>(__builtin_convertvector(floored, F));
  return reinterpret_cast<F>((floored_bits & in_range) | (bits & ~in_range));
}

}  // namespace vorlisk::envs
