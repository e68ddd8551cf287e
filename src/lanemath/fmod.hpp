// fmodf, exact: for |x| < 16 |y| the quotient's integer part, estimated in double
// and corrected by one step either way, leaves x - q y exactly representable in
// double and the remainder exactly representable in float. The remainder takes x's
// sign; below |y|, x is its own remainder.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lanemath/libm_lanes.hpp"
#include "lanemath/map_lanes.hpp"
#include "lanemath/ops.hpp"

namespace vorlisk::lanemath::detail {

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

}  // namespace vorlisk::lanemath::detail
