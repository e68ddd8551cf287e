#include "tui/logger/running_flag.hpp"

namespace vorlisk::tui {

void RunningFlag::stop() noexcept {
  {
    // Storing under the mutex means a sleeper either sees false before it waits
    // or is already waiting when notified: no wake-up is lost.
    std::lock_guard lock(mutex_);
    running_.store(false, std::memory_order_release);
  }
  wake_.notify_all();
}

void RunningFlag::sleep_for(std::chrono::nanoseconds period) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, period, [this] { return !is_running(); });
}

std::chrono::nanoseconds millis_to_duration(std::uint64_t ms) noexcept {
  // 2^62 ns is about 146 years; a monotonic clock reading plus that still fits
  // in the signed 64-bit nanosecond count.
  constexpr std::uint64_t kMaxMs = (std::uint64_t{1} << 62) / 1'000'000;
  if (ms > kMaxMs) ms = kMaxMs;
  return std::chrono::nanoseconds(static_cast<std::int64_t>(ms) * 1'000'000);
}

}  // namespace vorlisk::tui
