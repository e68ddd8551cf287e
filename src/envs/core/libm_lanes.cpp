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

VORLISK_INLINE F64x4 splat_f64(double x) { return F64x4{} + x; }

// A group of four lanes, or the last `count` < 4 of an array (the rest zero): a
// copy of variable length compiles to a byte loop, so whole groups take the fixed one.
VORLISK_INLINE F32x4 load_lanes(const float* p, std::size_t count) {
  if (count == 4) return load<F32x4>(p);
  F32x4 v{};
  std::memcpy(&v, p, count * sizeof(float));
  return v;
}
VORLISK_INLINE void store_lanes(float* p, F32x4 v, std::size_t count) {
  if (count == 4) return store(p, v);
  std::memcpy(p, &v, count * sizeof(float));
}

// out[o][k] = f_o(x[k]) over an array: Group computes kOut results for four lanes and
// marks the lanes it leaves to the library, which Group::library then computes one by
// one. Two groups a round give the processor independent work to overlap. Every
// input is read before its results are stored, so an output may be the input.
template <class Ops, std::size_t kOut, class Group>
VORLISK_INLINE void map_lanes(const float* x, float* const (&out)[kOut], std::size_t n,
                              const Group& group) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const F32x4 a = load<F32x4>(x + i);
    const F32x4 b = load<F32x4>(x + i + 4);
    F32x4 ra[kOut];
    F32x4 rb[kOut];
    I32x4 library_a;
    I32x4 library_b;
    group(a, ra, library_a);
    group(b, rb, library_b);
    if (Ops::any(library_a | library_b)) {
      for (std::size_t k = 0; k < 4; ++k) {
        for (std::size_t o = 0; o < kOut; ++o) {
          if (library_a[k]) ra[o][k] = group.library(o, a[k]);
          if (library_b[k]) rb[o][k] = group.library(o, b[k]);
        }
      }
    }
    for (std::size_t o = 0; o < kOut; ++o) {
      store(out[o] + i, ra[o]);
      store(out[o] + i + 4, rb[o]);
    }
  }
  for (; i < n; i += 4) {
    const std::size_t count = std::min<std::size_t>(4, n - i);
    const F32x4 a = load_lanes(x + i, count);
    F32x4 r[kOut];
    I32x4 library;
    group(a, r, library);
    for (std::size_t k = 0; k < 4; ++k) {
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
struct Plain {
  VORLISK_INLINE static F64x4 madd(F64x4 a, F64x4 b, F64x4 c) { return c + a * b; }
  VORLISK_INLINE static F64x4 nmadd(F64x4 a, F64x4 b, F64x4 c) { return c - a * b; }
  VORLISK_INLINE static F64x4 widen(F32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static F64x4 widen(I32x4 x) { return __builtin_convertvector(x, F64x4); }
  VORLISK_INLINE static I64x4 widen_int(I32x4 x) { return __builtin_convertvector(x, I64x4); }
  VORLISK_INLINE static F32x4 narrow(F64x4 x) { return __builtin_convertvector(x, F32x4); }
  VORLISK_INLINE static I32x4 truncate(F64x4 x) { return __builtin_convertvector(x, I32x4); }
  VORLISK_INLINE static bool any(I32x4 mask) { return vorlisk::envs::any(mask); }
};

#if defined(__x86_64__)
// c + a * b rounded once, exactly where GCC contracted glibc's FMA build: every
// polynomial step and the reduction, but none of the plain products. Not forced
// inline: these may only be inlined into AVX2 + FMA code.
// GCC builds the generic conversions below from 128-bit halves; the whole-register
// instructions give the same bits. Same warning as for madd about inlining.
struct Avx2 {
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
};

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
#endif

// sinf and cosf of four lanes from one reduction: glibc's sinf and cosf reduce alike
// and differ only in which polynomial the quadrant's parity picks. `library` marks
// the lanes (|y| >= 120, inf, NaN) the caller must hand to the library.
template <class Ops>
VORLISK_INLINE void sincos4(F32x4 y, F32x4& sin_y, F32x4& cos_y, I32x4& library) {
  const I32x4 abs_bits = reinterpret_cast<I32x4>(y) & 0x7fffffff;
  library = abs_bits >= kLargeBits;
  const I32x4 tiny = abs_bits < kTinyBits;
  // Library lanes go through as zero, which keeps the conversions in range. Below
  // pi/4 the quadrant is 0 and the reduction subtracts an exact zero, so glibc's
  // separate small-argument branch needs none here.
  const F64x4 x = Ops::widen(select<F32x4>(library, F32x4{}, y));
  const I32x4 n = (Ops::truncate(x * kTwoOverPiScaled) + 0x800000) >> 24;
  const I64x4 n64 = Ops::widen_int(n);
  const F64x4 xr = Ops::nmadd(Ops::widen(n), splat_f64(kHalfPi), x);
  const F64x4 x2 = xr * xr;
  const F64x4 xs = xr * (((n64 + 1) & 2) != 0 ? splat_f64(-1.0) : splat_f64(1.0));

  const F64x4 x3 = xs * x2;
  const F64x4 s1 = Ops::madd(x2, splat_f64(kS3), splat_f64(kS2));
  const F64x4 x7 = x3 * x2;
  const F64x4 s = Ops::madd(x3, splat_f64(kS1), xs);
  const F64x4 sin_poly = Ops::madd(x7, s1, s);

  const F64x4 x4 = x2 * x2;
  const F64x4 c2 = Ops::madd(x2, splat_f64(kC4), splat_f64(kC3));
  const F64x4 c1 = Ops::madd(x2, splat_f64(kC1), splat_f64(kC0));
  const F64x4 x6 = x4 * x2;
  const F64x4 c = Ops::madd(x4, splat_f64(kC2), c1);
  F64x4 cos_poly = Ops::madd(x6, c2, c);
  // glibc's second table negates every cosine coefficient; with round-to-nearest
  // that negates each rounded step, so negating the result is the same (the
  // polynomial is near 1, never zero).
  cos_poly = (n64 & 2) != 0 ? -cos_poly : cos_poly;

  const I64x4 odd = (n64 & 1) != 0;
  const F32x4 sin_r = Ops::narrow(odd ? cos_poly : sin_poly);
  const F32x4 cos_r = Ops::narrow(odd ? sin_poly : cos_poly);
  sin_y = select<F32x4>(tiny, y, sin_r);
  cos_y = select<F32x4>(tiny, splat<F32x4>(1.0f), cos_r);
}

// Which of sin and cos to produce, in that order.
template <class Ops, bool kSin, bool kCos>
struct SinCosGroup {
  VORLISK_INLINE void operator()(F32x4 y, F32x4 (&r)[kSin + kCos], I32x4& library) const {
    F32x4 sin_y;
    F32x4 cos_y;
    sincos4<Ops>(y, sin_y, cos_y, library);
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
  float limit;  // kFmodVectorQuotients * abs, exact (or inf)
  double abs_d;
  double reciprocal;
};

template <class Ops>
VORLISK_INLINE F32x4 fmod4(F32x4 x, const FmodDivisor& d, I32x4& library) {
  const I32x4 bits = reinterpret_cast<I32x4>(x);
  const F32x4 ax = reinterpret_cast<F32x4>(bits & 0x7fffffff);
  library = ~(ax < d.limit);  // also inf and NaN
  const I32x4 below = ax < d.abs;
  const F64x4 axd = Ops::widen(select<F32x4>(library, F32x4{}, ax));
  const F64x4 ay = splat_f64(d.abs_d);
  const F64x4 q = Ops::widen(Ops::truncate(axd * d.reciprocal));
  F64x4 r = axd - q * ay;
  r = r < 0.0 ? r + ay : r;
  r = r >= ay ? r - ay : r;
  const I32x4 r_bits = reinterpret_cast<I32x4>(Ops::narrow(r));
  const F32x4 signed_r = reinterpret_cast<F32x4>(r_bits | (bits & static_cast<std::int32_t>(0x80000000u)));
  return select<F32x4>(below, x, signed_r);
}

template <class Ops>
struct FmodGroup {
  FmodDivisor divisor;
  float y;
  VORLISK_INLINE void operator()(F32x4 x, F32x4 (&r)[1], I32x4& library) const {
    r[0] = fmod4<Ops>(x, divisor, library);
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
    case LibmVariant::kFused:
#if defined(__x86_64__)
      return {sin_fused, cos_fused, sincos_fused, fmod_fused};
#else
      [[fallthrough]];
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

// The glibc releases whose sinf/cosf these variants were compared with over every float.
bool checked_c_library() {
#if defined(__GLIBC__) && defined(__x86_64__)
  return std::strcmp(gnu_get_libc_version(), "2.36") == 0;
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
  if (!checked_c_library()) return LibmVariant::kLibrary;
  // glibc takes its FMA build where the processor has FMA and AVX2, unless tunables
  // say otherwise; asking the library covers both.
  if (processor_has_fma() && answers_like(LibmVariant::kFused)) return LibmVariant::kFused;
  if (answers_like(LibmVariant::kPlain)) return LibmVariant::kPlain;
  return LibmVariant::kLibrary;
}

const Kernels& active_kernels() {
  static const Kernels kernels = [] {
    Kernels k = kernels_for(libm_variant());
    // fmodf is exact everywhere: always vector code, AVX2 where the processor has it.
    k.fmod = kernels_for(processor_has_fma() ? LibmVariant::kFused : LibmVariant::kPlain).fmod;
    return k;
  }();
  return kernels;
}

}  // namespace

LibmVariant libm_variant() {
  static const LibmVariant variant = choose_variant();
  return variant;
}

bool libm_variant_runs(LibmVariant variant) {
  return variant != LibmVariant::kFused || processor_has_fma();
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
