// The logger's running flag. Besides the flag itself it lets a thread sleep until
// either a period has passed or the flag was cleared, so that close() never has
// to wait out a whole monitor period.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vorlisk::tui {

class RunningFlag {
 public:
  bool is_running() const noexcept { return running_.load(std::memory_order_acquire); }

  // Clears the flag (release) and wakes every sleeper.
  void stop() noexcept;

  // Sleeps for `period` or until stop(), whichever comes first.
  void sleep_for(std::chrono::nanoseconds period);

 private:
  std::atomic<bool> running_{true};
  std::mutex mutex_;
  std::condition_variable wake_;
};

// Milliseconds from a user-supplied u64 as a duration that can be added to a clock
// reading without overflow: periods beyond about a century are capped there.
std::chrono::nanoseconds millis_to_duration(std::uint64_t ms) noexcept;

}  // namespace vorlisk::tui
