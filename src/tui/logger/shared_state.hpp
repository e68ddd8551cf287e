// What the logger shares with its threads. Copying a SharedState shares the same
// objects; each lives as long as any copy holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tui/logger/history.hpp"
#include "tui/logger/metrics.hpp"
#include "tui/logger/mode.hpp"
#include "tui/logger/poison_lock.hpp"
#include "tui/logger/running_flag.hpp"
#include "tui/logger/user_metrics.hpp"

namespace vorlisk::tui {

namespace term {
class OutputLog;
}

using HistoryLock = PoisonLock<HistoryBuffer>;

struct SharedState {
  std::shared_ptr<MetricsBuffer> metrics;
  std::shared_ptr<HistoryLock> history;
  std::shared_ptr<RunningFlag> running;
  std::shared_ptr<std::atomic<bool>> paused;
  std::shared_ptr<ModeCell> mode;
  std::shared_ptr<std::atomic<bool>> quit_requested;
  // Set by the s key, taken (and cleared) by the training loop's should_save().
  std::shared_ptr<std::atomic<bool>> save_requested;
  // The training loop's own metrics, named at construction; update() writes them.
  std::shared_ptr<UserMetrics> user_metrics;

  // Fixed before the threads start, so that every copy reads them freely.
  std::chrono::steady_clock::time_point start_time{};  // when the logger was created
  std::uint64_t total_steps = 0;                       // the run's length in steps; 0: unknown
  // The clock the views measure the elapsed time by (tests fix it).
  std::chrono::steady_clock::time_point (*now)() noexcept = []() noexcept {
    return std::chrono::steady_clock::now();
  };
  // What the process wrote while the display is on, for the views to show; set only
  // in the terminal thread's own copy, and read only there.
  const term::OutputLog* output = nullptr;

  // Zeroed metrics, empty histories with room for history_len points, running,
  // not paused, no quit or save requested, started now, no total of steps; the
  // user's metrics named `user_metrics`, none given yet. Throws UserMetricNameError
  // for names that cannot be used, std::bad_alloc when the histories cannot be
  // reserved.
  static SharedState create(TUIMode mode, std::size_t history_len,
                            std::vector<std::string> user_metrics = {});
};

}  // namespace vorlisk::tui
