// The latest value of every metric, in lock-free cells.
//
// Each cell is one relaxed 64-bit atomic: a reader may see cells from two
// consecutive updates side by side, but never a torn cell. Floats are kept as
// their binary64 bit pattern so that every cell has the same, always lock-free,
// representation.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <type_traits>

#include "tui/logger/metric_set.hpp"

namespace vorlisk::tui {

class U64Cell {
 public:
  std::uint64_t load() const noexcept { return bits_.load(std::memory_order_relaxed); }
  void store(std::uint64_t value) noexcept { bits_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> bits_{0};
};

class F64Cell {
 public:
  double load() const noexcept {
    return std::bit_cast<double>(bits_.load(std::memory_order_relaxed));
  }
  void store(double value) noexcept {
    bits_.store(std::bit_cast<std::uint64_t>(value), std::memory_order_relaxed);
  }

 private:
  std::atomic<std::uint64_t> bits_{0};  // the bit pattern of +0.0
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

template <class T>
using CellOf = std::conditional_t<std::is_same_v<T, double>, F64Cell, U64Cell>;

struct MetricsBuffer {
#define VORLISK_CELL_(cell, type, ...) CellOf<type> cell;
  VORLISK_METRICS(VORLISK_CELL_)
#undef VORLISK_CELL_

  // Whether cpu_usage and gpu_usage hold a measurement yet. Until then the cells
  // read 0 (as the CSV rows write them) and the histories record no sample (NaN).
  // Set with release ordering after the cell's first store, so a reader that sees
  // the flag (acquire) also sees the value.
  std::atomic<bool> cpu_sampled{false};
  std::atomic<bool> gpu_sampled{false};
};

// Truncates toward zero, saturating: negative values and NaN give 0, values
// beyond the range give the largest u64. A plain cast would be undefined there.
constexpr std::uint64_t saturating_u64(double value) noexcept {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return UINT64_MAX;  // 2^64
  return static_cast<std::uint64_t>(value);
}

// A float argument as a cell of type T holds it.
template <class T>
constexpr T from_float(double value) noexcept {
  if constexpr (std::is_same_v<T, double>) {
    return value;
  } else {
    return saturating_u64(value);
  }
}

}  // namespace vorlisk::tui
