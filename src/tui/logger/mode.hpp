// The display mode of a logger and the small lock that guards it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace vorlisk::tui {

enum class TUIMode : std::uint8_t { Minimal = 0, Dashboard = 1, Chart = 2 };

// Exact, case-sensitive: "minimal", "dashboard" or "chart".
std::optional<TUIMode> parse_mode(std::string_view name) noexcept;

// Minimal -> Dashboard -> Chart -> Minimal.
TUIMode next_mode(TUIMode mode) noexcept;

// The mode behind its own lock. The lock is held only to copy or change the byte,
// never while a frame is drawn.
class ModeCell {
 public:
  explicit ModeCell(TUIMode mode) noexcept : mode_(mode) {}

  TUIMode get() const noexcept {
    std::lock_guard lock(mutex_);
    return mode_;
  }
  void advance() noexcept {
    std::lock_guard lock(mutex_);
    mode_ = next_mode(mode_);
  }

 private:
  mutable std::mutex mutex_;
  TUIMode mode_;
};

}  // namespace vorlisk::tui
