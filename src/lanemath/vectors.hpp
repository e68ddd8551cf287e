// Lanes as vector values. GCC's vector extensions keep the arithmetic lane-wise and in
// the written order, so several lanes at once give the same bits as a scalar evaluation
// of the same formulas, whatever the width: F32x4 everywhere, F32x8 in code compiled
// for AVX2. Every helper is always inlined so that it takes the caller's instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vorlisk::lanemath {

using F32x4 = float __attribute__((vector_size(16)));
using I32x4 = std::int32_t __attribute__((vector_size(16)));
using U32x4 = std::uint32_t __attribute__((vector_size(16)));
using F32x8 = float __attribute__((vector_size(32)));
using I32x8 = std::int32_t __attribute__((vector_size(32)));
using U32x8 = std::uint32_t __attribute__((vector_size(32)));
using U8x4 = std::uint8_t __attribute__((vector_size(4)));
using U8x8 = std::uint8_t __attribute__((vector_size(8)));
using F64x4 = double __attribute__((vector_size(32)));
using F64x8 = double __attribute__((vector_size(64)));

template <class F>
struct VectorOf;
template <>
struct VectorOf<F32x4> {
  using Mask = I32x4;  // comparison results: 0 or -1 per lane
  using U32 = U32x4;
  using Bytes = U8x4;
  using F64 = F64x4;  // the same lanes in double precision
  static constexpr int kWidth = 4;
};
template <>
struct VectorOf<F32x8> {
  using Mask = I32x8;
  using U32 = U32x8;
  using Bytes = U8x8;
  using F64 = F64x8;
  static constexpr int kWidth = 8;
};

template <class F>
using MaskOf = typename VectorOf<F>::Mask;
template <class F>
using U32Of = typename VectorOf<F>::U32;
template <class F>
using BytesOf = typename VectorOf<F>::Bytes;
template <class F>
using F64Of = typename VectorOf<F>::F64;
template <class F>
inline constexpr int kWidthOf = VectorOf<F>::kWidth;

#define VORLISK_INLINE [[gnu::always_inline]] inline

template <class V, class T>
VORLISK_INLINE V load(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T, class V>
VORLISK_INLINE void store(T* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

template <class F>
VORLISK_INLINE F splat(float x) {
  return F{} + x;
}

template <class F>
VORLISK_INLINE F select(MaskOf<F> mask, F if_true, F if_false) {
  return mask ? if_true : if_false;
}

// Masks here are comparison results: every lane 0 or -1.

#if defined(__x86_64__)
// GCC builds the generic forms below lane by lane; sign bits and saturating packs give
// the same results for masks. The eight-lane forms exist only in AVX2 code (not forced
// inline: GCC inlines them once their caller has been inlined into AVX2 code). They take
// the mask by reference: a caller left uninlined outside AVX2 code (a lambda at -O0)
// would pass a 32-byte vector by value in memory where they expect a register.
VORLISK_INLINE void store_flag_bytes(std::uint8_t* p, I32x4 mask) {
  const __m128i m = reinterpret_cast<__m128i>(mask);
  const __m128i words = _mm_packs_epi32(m, m);
  const __m128i bytes = _mm_and_si128(_mm_packs_epi16(words, words), _mm_set1_epi8(1));
  const std::int32_t flags = _mm_cvtsi128_si32(bytes);
  std::memcpy(p, &flags, sizeof(flags));
}
[[gnu::target("avx2")]] inline void store_flag_bytes(std::uint8_t* p, const I32x8& mask) {
  const __m256i m = reinterpret_cast<__m256i>(mask);
  const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
  const __m128i bytes = _mm_and_si128(_mm_packs_epi16(words, words), _mm_set1_epi8(1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
}
VORLISK_INLINE std::uint32_t lane_bits(I32x4 mask) {
  return static_cast<std::uint32_t>(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
}
[[gnu::target("avx2")]] inline std::uint32_t lane_bits(const I32x8& mask) {
  return static_cast<std::uint32_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
}
#endif

// Flags (0 or 1) from the mask of F's lanes, narrowed to bytes in vector registers.
template <class F>
VORLISK_INLINE void store_flags(std::uint8_t* p, MaskOf<F> mask) {
#if defined(__x86_64__)
  store_flag_bytes(p, mask);
#else
  store(p, __builtin_convertvector(mask & 1, BytesOf<F>));
#endif
}

// One bit per lane, lane 0 in bit 0.
template <class M>
VORLISK_INLINE std::uint32_t lane_bits(M mask) {
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < sizeof(M) / 4; ++k) bits |= static_cast<std::uint32_t>(mask[k] & 1) << k;
  return bits;
}

template <class M>
VORLISK_INLINE bool any(M mask) {
  return lane_bits(mask) != 0;
}

}  // namespace vorlisk::lanemath
