// Bounded metric histories for the charts. All nine sequences grow and shrink
// together, so index i of each belongs to the same update call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tui/ring_buffer.hpp"

namespace vorlisk::tui {

struct HistoryPoint {
  std::uint64_t steps = 0;
  double mean_reward = 0.0;
  double sps = 0.0;
  double policy_loss = 0.0;
  double value_loss = 0.0;
  double cpu_usage = 0.0;
  double gpu_usage = 0.0;
  double memory_percent = 0.0;
  double gpu_memory_percent = 0.0;
};

// used / total * 100 in double precision, or 0.0 while the total is unknown (0).
inline double usage_percent(std::uint64_t used, std::uint64_t total) noexcept {
  if (total == 0) return 0.0;
  return static_cast<double>(used) / static_cast<double>(total) * 100.0;
}

class HistoryBuffer {
 public:
  // Reserves storage for every sequence up front; throws std::bad_alloc when that
  // is impossible. A history_len of 0 still keeps the latest point, so each ring
  // has room for at least one element.
  explicit HistoryBuffer(std::size_t history_len);

  // Trim, then append: at most max_len() points remain, and with max_len() 0
  // exactly the latest one. Constant-time; never allocates.
  void append(const HistoryPoint& point) noexcept;

  std::size_t size() const noexcept { return steps_.size(); }
  std::size_t max_len() const noexcept { return max_len_; }

  const RingBuffer<std::uint64_t>& steps() const noexcept { return steps_; }
  const RingBuffer<double>& mean_reward() const noexcept { return mean_reward_; }
  const RingBuffer<double>& sps() const noexcept { return sps_; }
  const RingBuffer<double>& policy_loss() const noexcept { return policy_loss_; }
  const RingBuffer<double>& value_loss() const noexcept { return value_loss_; }
  const RingBuffer<double>& cpu_usage() const noexcept { return cpu_usage_; }
  const RingBuffer<double>& gpu_usage() const noexcept { return gpu_usage_; }
  const RingBuffer<double>& memory_percent() const noexcept { return memory_percent_; }
  const RingBuffer<double>& gpu_memory_percent() const noexcept { return gpu_memory_percent_; }

 private:
  RingBuffer<std::uint64_t> steps_;
  RingBuffer<double> mean_reward_;
  RingBuffer<double> sps_;
  RingBuffer<double> policy_loss_;
  RingBuffer<double> value_loss_;
  RingBuffer<double> cpu_usage_;
  RingBuffer<double> gpu_usage_;
  RingBuffer<double> memory_percent_;
  RingBuffer<double> gpu_memory_percent_;
  std::size_t max_len_;
};

}  // namespace vorlisk::tui
