// Applies a group kernel over an array of lanes, a group of four or eight at a time,
// and hands the lanes the kernel leaves to the library to the library one by one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lanemath/vectors.hpp"

namespace vorlisk::lanemath::detail {

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

}  // namespace vorlisk::lanemath::detail
