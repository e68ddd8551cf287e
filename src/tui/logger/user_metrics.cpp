#include "tui/logger/user_metrics.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

#include "tui/logger/metric_set.hpp"

namespace vorlisk::tui {

namespace {

// Every built-in cell (so every CSV column) and every update() argument, and the
// CSV file's first column.
#define VORLISK_TAKEN_(cell, type, kind, arg, hist, csv) #cell, VORLISK_IF_ARG(kind)(#arg, )
constexpr std::string_view kTakenNames[] = {"timestamp", VORLISK_METRICS(VORLISK_TAKEN_)};
#undef VORLISK_TAKEN_

bool allowed(char c) noexcept { return c > ' ' && c < 0x7f && c != ',' && c != '"' && c != '\''; }

// The name as the message shows it: what cannot be shown as itself, as \xNN.
std::string quoted(std::string_view name) {
  std::string out = "'";
  for (char c : name) {
    if (c >= ' ' && c < 0x7f) {
      out += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
      out += escape;
    }
  }
  return out + "'";
}

[[noreturn]] void refuse(const std::string& message) { throw UserMetricNameError(message); }

}  // namespace

void check_user_metric_names(std::span<const std::string> names) {
  if (names.size() > kMaxUserMetrics) {
    refuse("metrics takes at most " + std::to_string(kMaxUserMetrics) + " names");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.empty()) refuse("a metric name must not be empty");
    if (name.size() > kMaxUserMetricName) {
      refuse("metric name " + quoted(name) + " is longer than " + std::to_string(kMaxUserMetricName) +
             " characters");
    }
    if (!std::ranges::all_of(name, allowed)) {
      refuse("metric name " + quoted(name) +
             ": names are printable ASCII without spaces, commas or quotes");
    }
    if (std::ranges::find(kTakenNames, name) != std::end(kTakenNames)) {
      refuse("metric name " + quoted(name) + " is taken by a built-in metric");
    }
    if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), name) !=
        names.begin() + static_cast<std::ptrdiff_t>(i)) {
      refuse("metric name " + quoted(name) + " is given twice");
    }
  }
}

UserMetrics::UserMetrics(std::vector<std::string> names) : names_(std::move(names)) {
  check_user_metric_names(names_);
  cells_ = std::make_unique<Cell[]>(names_.size());
  for (std::size_t i = 0; i < names_.size(); ++i) cells_[i].value.store(NAN);
}

void UserMetrics::store(const UserValues& update) noexcept {
  for (std::uint32_t given = update.given; given != 0; given &= given - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(given));
    Cell& cell = cells_[i];
    cell.value.store(update.values[i]);
    if (!cell.given.load(std::memory_order_relaxed)) cell.given.store(true, std::memory_order_release);
  }
}

}  // namespace vorlisk::tui
