// sinf and cosf as glibc computes them below |x| = 120 (its flt-32 s_sinf.c, s_cosf.c,
// s_sincosf.h and their data): the float widened to double, one multiply-subtract
// with a 53-bit pi/2 for the quadrant n, then an odd (sine) or even (cosine)
// polynomial of the reduced argument picked by the quadrant's parity, the sign
// taken from the quadrant. Below 2^-12 sinf returns its argument, cosf 1.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lanemath/libm_lanes.hpp"
#include "lanemath/map_lanes.hpp"
#include "lanemath/ops.hpp"

namespace vorlisk::lanemath::detail {

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

}  // namespace vorlisk::lanemath::detail
