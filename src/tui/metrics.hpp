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

struct MetricsBuffer {
  U64Cell steps;
  U64Cell episodes;
  F64Cell mean_reward;
  F64Cell sps;
  F64Cell policy_loss;
  F64Cell value_loss;
  F64Cell entropy;
  F64Cell cpu_usage;            // percent, whole machine
  F64Cell gpu_usage;            // percent
  U64Cell memory_mb;            // RAM in use, MiB
  U64Cell gpu_memory_mb;        // GPU memory in use, MiB
  U64Cell total_memory_mb;      // MiB
  U64Cell total_gpu_memory_mb;  // MiB
};

// Truncates toward zero, saturating: negative values and NaN give 0, values
// beyond the range give the largest u64. A plain cast would be undefined there.
constexpr std::uint64_t saturating_u64(double value) noexcept {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return UINT64_MAX;  // 2^64
  return static_cast<std::uint64_t>(value);
}

}  // namespace vorlisk::tui
