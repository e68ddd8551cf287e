// The arithmetic of the vector sin, cos and fmod, once per instruction set: each Ops
// type names the vectors of a group of four or eight lanes and the conversions and
// multiply-adds that build of the C library performs. Included only by the kernels.
#pragma once

#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "lanemath/vectors.hpp"

namespace vorlisk::lanemath::detail {

using I64x4 = std::int64_t __attribute__((vector_size(32)));
using I64x8 = std::int64_t __attribute__((vector_size(64)));

// The vector types of a group of four or eight lanes.
struct Lanes4 {
  using F32 = F32x4;
  using I32 = I32x4;
  using F64 = F64x4;
  using I64 = I64x4;
};
struct Lanes8 {
  using F32 = F32x8;
  using I32 = I32x8;
  using F64 = F64x8;
  using I64 = I64x8;
};

template <class V>
VORLISK_INLINE V splat_v(double x) {
  return V{} + x;
}

// The choices a quadrant n makes (glibc's sign flips and the parity that swaps sine
// and cosine) as masks of 64-bit lanes, for vectors of four doubles; the Ops for
// eight lanes make them mask registers instead.
struct Quadrant4 {
  I64x4 flip_sin;  // (n + 1) & 2
  I64x4 flip_cos;  // n & 2
  I64x4 odd;       // n & 1
};
template <class Ops>
VORLISK_INLINE Quadrant4 quadrant4(I32x4 n) {
  const I64x4 n64 = Ops::widen_int(n);
  return {((n64 + 1) & 2) != 0, (n64 & 2) != 0, (n64 & 1) != 0};
}
VORLISK_INLINE F64x4 negate_where(I64x4 mask, F64x4 v) { return mask ? -v : v; }
VORLISK_INLINE F64x4 select_where(I64x4 mask, F64x4 if_set, F64x4 if_clear) {
  return mask ? if_set : if_clear;
}

// A group of lanes, or the last `count` of an array (the rest zero): a copy of
// variable length compiles to a byte loop, so whole groups take the fixed one.


// c + a * b, rounded twice: the build for processors without FMA.
struct Plain : Lanes4 {
  VORLISK_INLINE static F64x4 madd(F64x4 a, F64x4 b, F64x4 c) { return c + a * b; }
  VORLISK_INLINE static F64x4 nmadd(F64x4 a, F64x4 b, F64x4 c) { return c - a * b; }
  VORLISK_INLINE static F64x4 widen(F32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static F64x4 widen(I32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static I64x4 widen_int(I32x4 x) { return __builtin_convertvector(x, I64x4); }
  VORLISK_INLINE static F32x4 narrow(F64x4 x) { return __builtin_convertvector(x, F32x4); }
  VORLISK_INLINE static I32x4 truncate(F64x4 x) { return __builtin_convertvector(x, I32x4); }
  VORLISK_INLINE static bool any(I32x4 mask) { return lanemath::any(mask); }
  VORLISK_INLINE static Quadrant4 quadrant(I32x4 n) { return quadrant4<Plain>(n); }
};

#if defined(__x86_64__)
// GCC builds the generic conversions from 128-bit halves; the whole-register
// instructions give the same bits. Not forced inline: these may only be inlined
// into code compiled for their instruction set, as the entry points below are.
struct Avx2 : Lanes4 {
  [[gnu::target("avx2")]] static F64x4 widen(F32x4 x) {
    return reinterpret_cast<F64x4>(_mm256_cvtps_pd(reinterpret_cast<__m128>(x)));
  }
  [[gnu::target("avx2")]] static F64x4 widen(I32x4 x) {
    return reinterpret_cast<F64x4>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>(x)));
  }
  [[gnu::target("avx2")]] static I64x4 widen_int(I32x4 x) {
    return reinterpret_cast<I64x4>(_mm256_cvtepi32_epi64(reinterpret_cast<__m128i>(x)));
  }
  [[gnu::target("avx2")]] static F32x4 narrow(F64x4 x) {
    return reinterpret_cast<F32x4>(_mm256_cvtpd_ps(reinterpret_cast<__m256d>(x)));
  }
  [[gnu::target("avx2")]] static I32x4 truncate(F64x4 x) {
    return reinterpret_cast<I32x4>(_mm256_cvttpd_epi32(reinterpret_cast<__m256d>(x)));
  }
  [[gnu::target("avx2")]] static bool any(I32x4 mask) {
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) != 0;
  }
  [[gnu::target("avx2")]] static Quadrant4 quadrant(I32x4 n) { return quadrant4<Avx2>(n); }
};

// c + a * b rounded once, exactly where GCC contracted glibc's FMA build: every
// polynomial step and the reduction, but none of the plain products.
struct Fused : Avx2 {
  [[gnu::target("avx2,fma")]] static F64x4 madd(F64x4 a, F64x4 b, F64x4 c) {
    return reinterpret_cast<F64x4>(_mm256_fmadd_pd(reinterpret_cast<__m256d>(a),
                                                   reinterpret_cast<__m256d>(b),
                                                   reinterpret_cast<__m256d>(c)));
  }
  [[gnu::target("avx2,fma")]] static F64x4 nmadd(F64x4 a, F64x4 b, F64x4 c) {
    return reinterpret_cast<F64x4>(_mm256_fnmadd_pd(reinterpret_cast<__m256d>(a),
                                                    reinterpret_cast<__m256d>(b),
                                                    reinterpret_cast<__m256d>(c)));
  }
};

#define VORLISK_AVX512 gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")

// The same FMA build eight lanes per 512-bit register: the same instructions on
// twice the lanes (IEEE operations, so the same bits), and twice the registers, so
// the constants stay in registers.
struct Fused512 : Lanes8 {
  [[VORLISK_AVX512]] static F64x8 madd(F64x8 a, F64x8 b, F64x8 c) {
    return reinterpret_cast<F64x8>(_mm512_fmadd_pd(reinterpret_cast<__m512d>(a),
                                                   reinterpret_cast<__m512d>(b),
                                                   reinterpret_cast<__m512d>(c)));
  }
  [[VORLISK_AVX512]] static F64x8 nmadd(F64x8 a, F64x8 b, F64x8 c) {
    return reinterpret_cast<F64x8>(_mm512_fnmadd_pd(reinterpret_cast<__m512d>(a),
                                                    reinterpret_cast<__m512d>(b),
                                                    reinterpret_cast<__m512d>(c)));
  }
  // GCC builds the generic conversions from halves at this width too. The zero-masked
  // forms with every lane selected are the plain instructions; the unmasked
  // intrinsics trip GCC 12's uninitialised-use warning.
  static constexpr __mmask8 kAll = 0xff;
  [[VORLISK_AVX512]] static F64x8 widen(F32x8 x) {
    return reinterpret_cast<F64x8>(_mm512_maskz_cvtps_pd(kAll, reinterpret_cast<__m256>(x)));
  }
  [[VORLISK_AVX512]] static F64x8 widen(I32x8 x) {
    return reinterpret_cast<F64x8>(_mm512_maskz_cvtepi32_pd(kAll, reinterpret_cast<__m256i>(x)));
  }
  [[VORLISK_AVX512]] static I64x8 widen_int(I32x8 x) {
    return reinterpret_cast<I64x8>(_mm512_maskz_cvtepi32_epi64(kAll, reinterpret_cast<__m256i>(x)));
  }
  [[VORLISK_AVX512]] static F32x8 narrow(F64x8 x) {
    return reinterpret_cast<F32x8>(_mm512_maskz_cvtpd_ps(kAll, reinterpret_cast<__m512d>(x)));
  }
  [[VORLISK_AVX512]] static I32x8 truncate(F64x8 x) {
    return reinterpret_cast<I32x8>(_mm512_maskz_cvttpd_epi32(kAll, reinterpret_cast<__m512d>(x)));
  }
  [[VORLISK_AVX512]] static bool any(I32x8 mask) {
    return _mm256_movemask_ps(reinterpret_cast<__m256>(mask)) != 0;
  }
  // The quadrant's choices as mask registers: one test each, no 64-bit lanes.
  struct Quadrant {
    __mmask8 flip_sin, flip_cos, odd;
  };
  [[VORLISK_AVX512]] static Quadrant quadrant(I32x8 n) {
    const __m256i v = reinterpret_cast<__m256i>(n);
    const __m256i v1 = reinterpret_cast<__m256i>(n + 1);
    return {_mm256_test_epi32_mask(v1, _mm256_set1_epi32(2)),
            _mm256_test_epi32_mask(v, _mm256_set1_epi32(2)),
            _mm256_test_epi32_mask(v, _mm256_set1_epi32(1))};
  }
};

[[VORLISK_AVX512]] inline F64x8 negate_where(__mmask8 mask, F64x8 v) {
  const __m512d d = reinterpret_cast<__m512d>(v);
  return reinterpret_cast<F64x8>(_mm512_mask_xor_pd(d, mask, d, _mm512_set1_pd(-0.0)));
}
[[VORLISK_AVX512]] inline F64x8 select_where(__mmask8 mask, F64x8 if_set, F64x8 if_clear) {
  return reinterpret_cast<F64x8>(_mm512_mask_blend_pd(mask, reinterpret_cast<__m512d>(if_clear),
                                                      reinterpret_cast<__m512d>(if_set)));
}
#endif

}  // namespace vorlisk::lanemath::detail
