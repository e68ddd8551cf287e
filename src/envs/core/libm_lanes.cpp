#include "envs/core/libm_lanes.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "envs/core/simd.hpp"

namespace vorlisk::envs {
namespace {

using F64x4 = double __attribute__((vector_size(32)));
using I64x4 = std::int64_t __attribute__((vector_size(32)));
using F64x8 = double __attribute__((vector_size(64)));
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
template <class V>
VORLISK_INLINE V load_lanes(const float* p, std::size_t count) {
  if (count == sizeof(V) / sizeof(float)) return load<V>(p);
  V v{};
  std::memcpy(&v, p, count * sizeof(float));
  return v;
}
template <class V>
VORLISK_INLINE void store_lanes(float* p, V v, std::size_t count) {
  if (count == sizeof(V) / sizeof(float)) return store(p, v);
  std::memcpy(p, &v, count * sizeof(float));
}

// out[o][k] = f_o(x[k]) over an array: Group computes kOut results for a group of
// Ops::F32 lanes and marks the lanes it leaves to the library, which Group::library
// then computes one by one. Two groups a round give the processor independent work
// to overlap. Every input is read before its results are stored, so an output may
// be the input.
template <class Ops, std::size_t kOut, class Group>
VORLISK_INLINE void map_lanes(const float* x, float* const (&out)[kOut], std::size_t n,
                              const Group& group) {
  using F32 = typename Ops::F32;
  using I32 = typename Ops::I32;
  constexpr std::size_t kWidth = sizeof(F32) / sizeof(float);
  std::size_t i = 0;
  for (; i + 2 * kWidth <= n; i += 2 * kWidth) {
    const F32 a = load<F32>(x + i);
    const F32 b = load<F32>(x + i + kWidth);
    F32 ra[kOut];
    F32 rb[kOut];
    I32 library_a;
    I32 library_b;
    group(a, ra, library_a);
    group(b, rb, library_b);
    for (std::size_t o = 0; o < kOut; ++o) {
      store(out[o] + i, ra[o]);
      store(out[o] + i + kWidth, rb[o]);
    }
    // Library lanes are rare: their inputs and marks go through memory only here, so
    // that the common path keeps every vector in registers.
    if (Ops::any(library_a | library_b)) [[unlikely]] {
      float inputs[2 * kWidth];
      std::int32_t marks[2 * kWidth];
      store(inputs, a);
      store(inputs + kWidth, b);
      store(marks, library_a);
      store(marks + kWidth, library_b);
      for (std::size_t k = 0; k < 2 * kWidth; ++k) {
        if (!marks[k]) continue;
        for (std::size_t o = 0; o < kOut; ++o) out[o][i + k] = group.library(o, inputs[k]);
      }
    }
  }
  for (; i < n; i += kWidth) {
    const std::size_t count = std::min(kWidth, n - i);
    const F32 a = load_lanes<F32>(x + i, count);
    F32 r[kOut];
    I32 library;
    group(a, r, library);
    for (std::size_t k = 0; k < kWidth; ++k) {
      for (std::size_t o = 0; o < kOut; ++o) {
        if (library[k]) r[o][k] = group.library(o, a[k]);
      }
    }
    for (std::size_t o = 0; o < kOut; ++o) store_lanes(out[o] + i, r[o], count);
  }
}

// ---------------------------------------------------------------------------------
// sinf and cosf as glibc computes them below |x| = 120 (its flt-32 s_sinf.c, s_cosf.c,
// s_sincosf.h and their data): the float widened to double, one multiply-subtract
// with a 53-bit pi/2 for the quadrant n, then an odd (sine) or even (cosine)
// polynomial of the reduced argument picked by the quadrant's parity, the sign
// taken from the quadrant. Below 2^-12 sinf returns its argument, cosf 1.
// ---------------------------------------------------------------------------------

constexpr double kTwoOverPiScaled = 0x1.45F306DC9C883p+23;  // 2/pi * 2^24
constexpr double kHalfPi = 0x1.921FB54442D18p0;
constexpr double kC0 = 0x1p0;
constexpr double kC1 = -0x1.ffffffd0c621cp-2;
constexpr double kC2 = 0x1.55553e1068f19p-5;
constexpr double kC3 = -0x1.6c087e89a359dp-10;
constexpr double kC4 = 0x1.99343027bf8c3p-16;
constexpr double kS1 = -0x1.555545995a603p-3;
constexpr double kS2 = 0x1.1107605230bc4p-7;
constexpr double kS3 = -0x1.994eb3774cf24p-13;

// glibc classifies by the top twelve bits of |x|, so its bounds fall on these patterns.
constexpr std::int32_t kTinyBits = 0x39800000;   // 2^-12
constexpr std::int32_t kLargeBits = 0x42f00000;  // 120
static_assert(std::bit_cast<std::int32_t>(kSinCosVectorLimit) == kLargeBits);

// c + a * b, rounded twice: the build for processors without FMA.
struct Plain : Lanes4 {
  VORLISK_INLINE static F64x4 madd(F64x4 a, F64x4 b, F64x4 c) { return c + a * b; }
  VORLISK_INLINE static F64x4 nmadd(F64x4 a, F64x4 b, F64x4 c) { return c - a * b; }
  VORLISK_INLINE static F64x4 widen(F32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static F64x4 widen(I32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static I64x4 widen_int(I32x4 x) { return __builtin_convertvector(x, I64x4); }
  VORLISK_INLINE static F32x4 narrow(F64x4 x) { return __builtin_convertvector(x, F32x4); }
  VORLISK_INLINE static I32x4 truncate(F64x4 x) { return __builtin_convertvector(x, I32x4); }
  VORLISK_INLINE static bool any(I32x4 mask) { return vorlisk::envs::any(mask); }
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

// The same FMA build eight lanes per 512-bit register: the same instructions on
// twice the lanes (IEEE operations, so the same bits), and twice the registers, so
// the constants stay in registers.
#define VORLISK_AVX512 gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")
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

// glibc's polynomials for sin (odd) and cos (even) of the reduced argument x, given
// x2 = x * x.
template <class Ops, class F64 = typename Ops::F64>
VORLISK_INLINE F64 sin_poly(F64 x, F64 x2) {
  const F64 x3 = x * x2;
  const F64 s1 = Ops::madd(x2, splat_v<F64>(kS3), splat_v<F64>(kS2));
  const F64 x7 = x3 * x2;
  const F64 s = Ops::madd(x3, splat_v<F64>(kS1), x);
  return Ops::madd(x7, s1, s);
}
template <class Ops, class F64 = typename Ops::F64>
VORLISK_INLINE F64 cos_poly(F64 x2) {
  const F64 x4 = x2 * x2;
  const F64 c2 = Ops::madd(x2, splat_v<F64>(kC4), splat_v<F64>(kC3));
  const F64 c1 = Ops::madd(x2, splat_v<F64>(kC1), splat_v<F64>(kC0));
  const F64 x6 = x4 * x2;
  const F64 c = Ops::madd(x4, splat_v<F64>(kC2), c1);
  return Ops::madd(x6, c2, c);
}

// Below this |x| (0.75, under pi/4) every lane is in quadrant 0: no reduction.
constexpr std::int32_t kQuadrantZeroBits = 0x3f400000;

// sinf and cosf of a group of lanes from one reduction: glibc's sinf and cosf reduce
// alike and differ only in which polynomial the quadrant's parity picks. `library`
// marks the lanes (|y| >= 120, inf, NaN) the caller must hand to the library.
template <class Ops, class F32 = typename Ops::F32, class I32 = typename Ops::I32>
VORLISK_INLINE void sincos_group(F32 y, F32& sin_y, F32& cos_y, I32& library) {
  using F64 = typename Ops::F64;
  const I32 abs_bits = reinterpret_cast<I32>(y) & 0x7fffffff;
  library = abs_bits >= kLargeBits;
  const I32 tiny = abs_bits < kTinyBits;
  F32 sin_r;
  F32 cos_r;
  if (!Ops::any(abs_bits >= kQuadrantZeroBits)) {
    // Small angles, the usual case for a balanced pole: glibc's own small-argument
    // branch, the polynomials of x itself.
    const F64 x = Ops::widen(y);
    const F64 x2 = x * x;
    sin_r = Ops::narrow(sin_poly<Ops>(x, x2));
    cos_r = Ops::narrow(cos_poly<Ops>(x2));
  } else {
    // Library lanes go through as zero, which keeps the conversions in range. Below
    // pi/4 the quadrant is 0 and the reduction subtracts an exact zero, so the small
    // arguments among larger ones need no branch of their own.
    const F64 x = Ops::widen(select<F32>(library, F32{}, y));
    const I32 n = (Ops::truncate(x * kTwoOverPiScaled) + 0x800000) >> 24;
    const F64 xr = Ops::nmadd(Ops::widen(n), splat_v<F64>(kHalfPi), x);
    const F64 x2 = xr * xr;
    const auto q = Ops::quadrant(n);
    // glibc multiplies by -1.0 here: the same as flipping the sign, zeros included.
    const F64 xs = negate_where(q.flip_sin, xr);
    const F64 sin_p = sin_poly<Ops>(xs, x2);
    // glibc's second table negates every cosine coefficient; with round-to-nearest
    // that negates each rounded step, so negating the result is the same (the
    // polynomial is near 1, never zero).
    const F64 cos_p = negate_where(q.flip_cos, cos_poly<Ops>(x2));
    sin_r = Ops::narrow(select_where(q.odd, cos_p, sin_p));
    cos_r = Ops::narrow(select_where(q.odd, sin_p, cos_p));
  }
  sin_y = select<F32>(tiny, y, sin_r);
  cos_y = select<F32>(tiny, splat<F32>(1.0f), cos_r);
}

// Which of sin and cos to produce, in that order.
template <class Ops, bool kSin, bool kCos>
struct SinCosGroup {
  using F32 = typename Ops::F32;
  VORLISK_INLINE void operator()(F32 y, F32 (&r)[kSin + kCos], typename Ops::I32& library) const {
    F32 sin_y;
    F32 cos_y;
    sincos_group<Ops>(y, sin_y, cos_y, library);
    if constexpr (kSin) r[0] = sin_y;
    if constexpr (kCos) r[kSin] = cos_y;
  }
  static float library(std::size_t o, float y) { return kSin && o == 0 ? std::sin(y) : std::cos(y); }
};

template <class Ops, bool kSin, bool kCos>
VORLISK_INLINE void sincos_array(const float* x, float* const (&out)[kSin + kCos], std::size_t n) {
  map_lanes<Ops>(x, out, n, SinCosGroup<Ops, kSin, kCos>{});
}

// ---------------------------------------------------------------------------------
// fmodf, exact: for |x| < 16 |y| the quotient's integer part, estimated in double
// and corrected by one step either way, leaves x - q y exactly representable in
// double and the remainder exactly representable in float. The remainder takes x's
// sign; below |y|, x is its own remainder.
// ---------------------------------------------------------------------------------

struct FmodDivisor {
  float abs;
  float twice;  // 2 * abs, exact (or inf)
  float limit;  // kFmodVectorQuotients * abs, exact (or inf)
  double abs_d;
  double reciprocal;
};

template <class Ops, class F32 = typename Ops::F32, class I32 = typename Ops::I32>
VORLISK_INLINE F32 fmod_group(F32 x, const FmodDivisor& d, I32& library) {
  using F64 = typename Ops::F64;
  const I32 bits = reinterpret_cast<I32>(x);
  const F32 ax = reinterpret_cast<F32>(bits & 0x7fffffff);
  const I32 sign = bits & static_cast<std::int32_t>(0x80000000u);
  const I32 below = ax < d.abs;
  if (!Ops::any(~(ax < d.twice))) {
    // Every lane lies below twice the divisor, as an angle a step away from its
    // range does: the quotient is 0 or 1, and where it is 1, |x| - |y| is exact in
    // single precision (x within a factor of two of y).
    library = I32{};
    const F32 once = reinterpret_cast<F32>(reinterpret_cast<I32>(ax - d.abs) | sign);
    return select<F32>(below, x, once);
  }
  library = ~(ax < d.limit);  // also inf and NaN
  const F64 axd = Ops::widen(select<F32>(library, F32{}, ax));
  const F64 ay = splat_v<F64>(d.abs_d);
  const F64 q = Ops::widen(Ops::truncate(axd * d.reciprocal));
  F64 r = axd - q * ay;
  r = r < 0.0 ? r + ay : r;
  r = r >= ay ? r - ay : r;
  const I32 r_bits = reinterpret_cast<I32>(Ops::narrow(r));
  const F32 signed_r = reinterpret_cast<F32>(r_bits | sign);
  return select<F32>(below, x, signed_r);
}

template <class Ops>
struct FmodGroup {
  using F32 = typename Ops::F32;
  FmodDivisor divisor;
  float y;
  VORLISK_INLINE void operator()(F32 x, F32 (&r)[1], typename Ops::I32& library) const {
    r[0] = fmod_group<Ops>(x, divisor, library);
  }
  float library(std::size_t, float x) const { return std::fmod(x, y); }
};

template <class Ops>
VORLISK_INLINE void fmod_array(const float* x, float y, float* out, std::size_t n) {
  if (!std::isfinite(y) || y == 0.0f) {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::fmod(x[i], y);
    return;
  }
  FmodDivisor d;
  d.abs = std::fabs(y);
  d.twice = d.abs * 2.0f;
  d.limit = d.abs * kFmodVectorQuotients;
  d.abs_d = d.abs;
  d.reciprocal = 1.0 / d.abs_d;
  float* const outs[1] = {out};
  map_lanes<Ops>(x, outs, n, FmodGroup<Ops>{d, y});
}

// ---------------------------------------------------------------------------------
// The variants' entry points and the choice between them.
// ---------------------------------------------------------------------------------

void sin_library(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::sin(x[i]);
}
void cos_library(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::cos(x[i]);
}
void sincos_library(const float* x, float* sin_out, float* cos_out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const float y = x[i];  // sin_out may be x
    sin_out[i] = std::sin(y);
    cos_out[i] = std::cos(y);
  }
}
void fmod_library(const float* x, float y, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::fmod(x[i], y);
}

// One set of entry points per build of the arithmetic.
#define VORLISK_LIBM_ENTRY_POINTS(TARGET, OPS, SUFFIX)                                        \
  TARGET void sin_##SUFFIX(const float* x, float* out, std::size_t n) {                     \
    float* const outs[1] = {out};                                                           \
    sincos_array<OPS, true, false>(x, outs, n);                                             \
  }                                                                                         \
  TARGET void cos_##SUFFIX(const float* x, float* out, std::size_t n) {                     \
    float* const outs[1] = {out};                                                           \
    sincos_array<OPS, false, true>(x, outs, n);                                             \
  }                                                                                         \
  TARGET void sincos_##SUFFIX(const float* x, float* sin_out, float* cos_out, std::size_t n) { \
    float* const outs[2] = {sin_out, cos_out};                                              \
    sincos_array<OPS, true, true>(x, outs, n);                                              \
  }                                                                                         \
  TARGET void fmod_##SUFFIX(const float* x, float y, float* out, std::size_t n) {           \
    fmod_array<OPS>(x, y, out, n);                                                             \
  }

VORLISK_LIBM_ENTRY_POINTS(, Plain, plain)
#if defined(__x86_64__)
VORLISK_LIBM_ENTRY_POINTS([[gnu::target("avx2,fma")]], Fused, fused)
VORLISK_LIBM_ENTRY_POINTS([[VORLISK_AVX512]], Fused512, fused512)
#undef VORLISK_AVX512
#endif
#undef VORLISK_LIBM_ENTRY_POINTS

struct Kernels {
  void (*sin)(const float*, float*, std::size_t);
  void (*cos)(const float*, float*, std::size_t);
  void (*sincos)(const float*, float*, float*, std::size_t);
  void (*fmod)(const float*, float, float*, std::size_t);
};

Kernels kernels_for(LibmVariant variant) {
  switch (variant) {
    case LibmVariant::kPlain:
      return {sin_plain, cos_plain, sincos_plain, fmod_plain};
#if defined(__x86_64__)
    case LibmVariant::kFused:
      return {sin_fused, cos_fused, sincos_fused, fmod_fused};
    case LibmVariant::kFused512:
      return {sin_fused512, cos_fused512, sincos_fused512, fmod_fused512};
#else
    case LibmVariant::kFused:
    case LibmVariant::kFused512:
#endif
    case LibmVariant::kLibrary:
      break;
  }
  return {sin_library, cos_library, sincos_library, fmod_library};
}

bool processor_has_fma() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

bool processor_has_avx512() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return processor_has_fma() && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#else
  return false;
#endif
}

// Every input below 120 on which glibc's two builds differ (each also negated): the
// library's answers on these tell the builds apart.
constexpr std::uint32_t kSinfBuildsDiffer[] = {0x4255b0a9, 0x42a35c07, 0x42a35d44,
                                               0x42a97360, 0x42cf5854, 0x42e87a55};
constexpr std::uint32_t kCosfBuildsDiffer[] = {0x418a3adb, 0x418a3adc, 0x418a3add, 0x418a3ade,
                                               0x41bc76d9, 0x4202eb4b, 0x42687a55, 0x4280ce28,
                                               0x42870e40, 0x42c55faa, 0x42d8d23e};

bool same_bits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Whether the library answers like `variant` where the builds differ and on inputs
// spread over the whole vector range.
bool answers_like(LibmVariant variant) {
  constexpr std::size_t kSpread = 1024;
  constexpr std::size_t kProbes = kSpread + std::size(kSinfBuildsDiffer) + std::size(kCosfBuildsDiffer);
  float x[kProbes];
  for (std::size_t k = 0; k < kSpread; ++k) {
    x[k] = -kSinCosVectorLimit + 2.0f * kSinCosVectorLimit * (static_cast<float>(k) + 0.5f) /
                                     static_cast<float>(kSpread);
  }
  std::size_t k = kSpread;
  for (const std::uint32_t bits : kSinfBuildsDiffer) x[k++] = std::bit_cast<float>(bits);
  for (const std::uint32_t bits : kCosfBuildsDiffer) x[k++] = std::bit_cast<float>(bits);
  const Kernels kernels = kernels_for(variant);
  float sin_x[kProbes];
  float cos_x[kProbes];
  kernels.sin(x, sin_x, kProbes);
  kernels.cos(x, cos_x, kProbes);
  for (k = 0; k < kProbes; ++k) {
    if (!same_bits(sin_x[k], std::sin(x[k])) || !same_bits(cos_x[k], std::cos(x[k]))) return false;
  }
  return true;
}

LibmVariant choose_variant() {
  if (!libm_library_checked()) return LibmVariant::kLibrary;
  // glibc takes its FMA build where the processor has FMA and AVX2, unless tunables
  // say otherwise; asking the library covers both.
  if (processor_has_fma() && answers_like(LibmVariant::kFused)) {
    return processor_has_avx512() ? LibmVariant::kFused512 : LibmVariant::kFused;
  }
  if (answers_like(LibmVariant::kPlain)) return LibmVariant::kPlain;
  return LibmVariant::kLibrary;
}

const Kernels& active_kernels() {
  static const Kernels kernels = [] {
    Kernels k = kernels_for(libm_variant());
    // fmodf is exact everywhere: always vector code, as wide as the processor allows.
    const LibmVariant widest = processor_has_avx512() ? LibmVariant::kFused512
                               : processor_has_fma()  ? LibmVariant::kFused
                                                      : LibmVariant::kPlain;
    k.fmod = kernels_for(widest).fmod;
    return k;
  }();
  return kernels;
}

}  // namespace

// The glibc releases whose sinf/cosf these variants were compared with over every float.
bool libm_library_checked() {
#if defined(__GLIBC__) && defined(__x86_64__)
  return std::strcmp(gnu_get_libc_version(), "2.36") == 0;
#else
  return false;
#endif
}

LibmVariant libm_variant() {
  static const LibmVariant variant = choose_variant();
  return variant;
}

bool libm_variant_runs(LibmVariant variant) {
  switch (variant) {
    case LibmVariant::kFused:
      return processor_has_fma();
    case LibmVariant::kFused512:
      return processor_has_avx512();
    case LibmVariant::kLibrary:
    case LibmVariant::kPlain:
      break;
  }
  return true;
}

void sinf_lanes(const float* x, float* out, std::size_t n) { active_kernels().sin(x, out, n); }
void cosf_lanes(const float* x, float* out, std::size_t n) { active_kernels().cos(x, out, n); }
void sincosf_lanes(const float* x, float* sin_out, float* cos_out, std::size_t n) {
  active_kernels().sincos(x, sin_out, cos_out, n);
}
void fmodf_lanes(const float* x, float y, float* out, std::size_t n) {
  active_kernels().fmod(x, y, out, n);
}

void sinf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n) {
  kernels_for(variant).sin(x, out, n);
}
void cosf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n) {
  kernels_for(variant).cos(x, out, n);
}
void sincosf_lanes(LibmVariant variant, const float* x, float* sin_out, float* cos_out,
                   std::size_t n) {
  kernels_for(variant).sincos(x, sin_out, cos_out, n);
}
void fmodf_lanes(LibmVariant variant, const float* x, float y, float* out, std::size_t n) {
  kernels_for(variant).fmod(x, y, out, n);
}

}  // namespace vorlisk::envs
