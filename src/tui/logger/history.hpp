// Bounded metric histories for the charts. All nine sequences grow and shrink
// together, so index i of each belongs to the same update call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "tui/logger/metric_set.hpp"
#include "tui/logger/ring_buffer.hpp"

namespace vorlisk::tui {

// One value of every sequence, in the order of the sequences.
struct HistoryPoint {
#define VORLISK_POINT_(cell, type, kind, arg, hist, csv) VORLISK_IF_HIST(hist)(type cell = 0;)
  VORLISK_METRICS(VORLISK_POINT_)
#undef VORLISK_POINT_
#define VORLISK_POINT_(name, used, total) double name = 0.0;
  VORLISK_DERIVED_HISTORY(VORLISK_POINT_)
#undef VORLISK_POINT_
};

// A history entry for a sample that does not exist (yet): the views skip it.
inline constexpr double kNoSample = std::numeric_limits<double>::quiet_NaN();

// used / total * 100 in double precision, or no sample while the total is unknown (0).
inline double usage_percent(std::uint64_t used, std::uint64_t total) noexcept {
  if (total == 0) return kNoSample;
  return static_cast<double>(used) / static_cast<double>(total) * 100.0;
}

class HistoryBuffer {
 public:
  // Reserves storage for every sequence up front; throws std::bad_alloc when that
  // is impossible. A history_len of 0 still keeps the latest point, so each ring
  // has room for at least one element.
  explicit HistoryBuffer(std::size_t history_len, std::size_t user_metrics = 0);

  // Trim, then append: at most max_len() points remain, and with max_len() 0
  // exactly the latest one. `user` holds a value of each of the user's metrics (a
  // missing one is appended as no sample). Constant-time; never allocates.
  void append(const HistoryPoint& point, std::span<const double> user = {}) noexcept;

  std::size_t size() const noexcept { return steps_.size(); }
  std::size_t max_len() const noexcept { return max_len_; }

#define VORLISK_SEQUENCE_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_HIST(hist)(const RingBuffer<type>& cell() const noexcept { return cell##_; })
  VORLISK_METRICS(VORLISK_SEQUENCE_)
#undef VORLISK_SEQUENCE_
#define VORLISK_SEQUENCE_(name, used, total) \
  const RingBuffer<double>& name() const noexcept { return name##_; }
  VORLISK_DERIVED_HISTORY(VORLISK_SEQUENCE_)
#undef VORLISK_SEQUENCE_

  // The sequences of the user's metrics, in the order they were declared.
  std::size_t user_count() const noexcept { return user_.size(); }
  const RingBuffer<double>& user(std::size_t i) const noexcept { return user_[i]; }

 private:
  std::size_t max_len_;
  std::size_t capacity_;  // of each ring: at least 1, so that max_len_ 0 keeps the latest point

#define VORLISK_SEQUENCE_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_HIST(hist)(RingBuffer<type> cell##_{capacity_};)
  VORLISK_METRICS(VORLISK_SEQUENCE_)
#undef VORLISK_SEQUENCE_
#define VORLISK_SEQUENCE_(name, used, total) RingBuffer<double> name##_{capacity_};
  VORLISK_DERIVED_HISTORY(VORLISK_SEQUENCE_)
#undef VORLISK_SEQUENCE_
  std::vector<RingBuffer<double>> user_;
};

}  // namespace vorlisk::tui
