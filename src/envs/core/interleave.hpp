// Row-major observations from per-variable columns: out[i*K + c] = columns[c][i].
// Four lanes at a time are transposed in vector registers where a row has up to four
// values; the rest, and wider rows, go one by one.
#pragma once

#include <array>
#include <cstddef>

#include "envs/core/lanes.hpp"

namespace vorlisk::envs {

template <std::size_t K>
void interleave(const std::array<const float*, K>& columns, std::size_t lanes, float* out) {
  static_assert(K >= 2, "observations have at least two values");
  std::size_t i = 0;
  // Wider rows come only from tasks whose step costs far more than this copy.
  for (; K <= 4 && i + 4 <= lanes; i += 4, out += 4 * K) {
    const F32x4 a = load<F32x4>(columns[0] + i);
    const F32x4 b = load<F32x4>(columns[1] + i);
    const F32x4 ab_lo = __builtin_shuffle(a, b, I32x4{0, 4, 1, 5});  // a0 b0 a1 b1
    const F32x4 ab_hi = __builtin_shuffle(a, b, I32x4{2, 6, 3, 7});  // a2 b2 a3 b3
    if constexpr (K == 2) {
      store(out, ab_lo);
      store(out + 4, ab_hi);
    } else if constexpr (K == 3) {
      // Every shuffle takes two lanes from each operand, so each is one instruction.
      const F32x4 c = load<F32x4>(columns[2] + i);
      const F32x4 ca_lo = __builtin_shuffle(c, a, I32x4{0, 4, 1, 5});  // c0 a0 c1 a1
      const F32x4 ca_hi = __builtin_shuffle(c, a, I32x4{2, 6, 3, 7});  // c2 a2 c3 a3
      const F32x4 bc_lo = __builtin_shuffle(b, c, I32x4{0, 4, 1, 5});  // b0 c0 b1 c1
      const F32x4 bc_hi = __builtin_shuffle(b, c, I32x4{2, 6, 3, 7});  // b2 c2 b3 c3
      store(out, __builtin_shuffle(ab_lo, ca_lo, I32x4{0, 1, 4, 7}));      // a0 b0 c0 a1
      store(out + 4, __builtin_shuffle(bc_lo, ab_hi, I32x4{2, 3, 4, 5}));  // b1 c1 a2 b2
      store(out + 8, __builtin_shuffle(ca_hi, bc_hi, I32x4{0, 3, 6, 7}));  // c2 a3 b3 c3
    } else if constexpr (K == 4) {
      const F32x4 c = load<F32x4>(columns[2] + i);
      const F32x4 d = load<F32x4>(columns[3] + i);
      const F32x4 cd_lo = __builtin_shuffle(c, d, I32x4{0, 4, 1, 5});  // c0 d0 c1 d1
      const F32x4 cd_hi = __builtin_shuffle(c, d, I32x4{2, 6, 3, 7});  // c2 d2 c3 d3
      store(out, __builtin_shuffle(ab_lo, cd_lo, I32x4{0, 1, 4, 5}));
      store(out + 4, __builtin_shuffle(ab_lo, cd_lo, I32x4{2, 3, 6, 7}));
      store(out + 8, __builtin_shuffle(ab_hi, cd_hi, I32x4{0, 1, 4, 5}));
      store(out + 12, __builtin_shuffle(ab_hi, cd_hi, I32x4{2, 3, 6, 7}));
    }
  }
  for (; i < lanes; ++i, out += K) {
    for (std::size_t c = 0; c < K; ++c) out[c] = columns[c][i];
  }
}

}  // namespace vorlisk::envs
