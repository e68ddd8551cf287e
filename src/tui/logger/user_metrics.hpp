// The training loop's own metrics: figures such as a KL divergence, a clip fraction
// or a learning rate, named once when the logger is made and passed with each
// update(). Unlike the built-in metrics their number is known only at run time (up
// to kMaxUserMetrics); each has a lock-free cell like the built-in ones, a history
// sequence and a CSV column after the built-in ones.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tui/logger/metrics.hpp"

namespace vorlisk::tui {

// Enough for the figures a loop reports beside the built-in ones, and few enough
// that update() keeps them on its stack and a mask of 32 bits says which it got.
inline constexpr std::size_t kMaxUserMetrics = 16;
static_assert(kMaxUserMetrics <= 32);
// Long names would crowd the panels out; the CSV header takes them whole.
inline constexpr std::size_t kMaxUserMetricName = 32;

// Why a list of names cannot be a logger's metrics; what() tells the user.
class UserMetricNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Checks names for a logger's metrics: at most kMaxUserMetrics, each 1 to
// kMaxUserMetricName printable ASCII characters other than a space, a comma or a
// quote (so that a name is one CSV header field and one word on a panel), none
// twice, and none that a built-in cell, CSV column or update() argument has.
// Throws UserMetricNameError.
void check_user_metric_names(std::span<const std::string> names);

// The metrics an update() call gives: values[i] for every i whose bit is set in
// `given`.
struct UserValues {
  const double* values = nullptr;
  std::uint32_t given = 0;
};

class UserMetrics {
 public:
  // None.
  UserMetrics() = default;
  // Throws UserMetricNameError (see check_user_metric_names).
  explicit UserMetrics(std::vector<std::string> names);

  std::size_t size() const noexcept { return names_.size(); }
  const std::vector<std::string>& names() const noexcept { return names_; }

  // The value last given; NaN before the first.
  double value(std::size_t i) const noexcept { return cells_[i].value.load(); }
  // Whether a value was ever given (a NaN given is one).
  bool given(std::size_t i) const noexcept { return cells_[i].given.load(std::memory_order_acquire); }

  // Stores the values given; a metric not given keeps its value. Lock-free; one
  // writer at a time. Bits of update.given from size() up must be clear.
  void store(const UserValues& update) noexcept;

 private:
  struct Cell {
    F64Cell value;
    std::atomic<bool> given{false};  // set (release) after the first value's store
  };
  std::vector<std::string> names_;
  std::unique_ptr<Cell[]> cells_;
};

}  // namespace vorlisk::tui
