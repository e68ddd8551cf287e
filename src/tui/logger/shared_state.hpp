// What the logger shares with its threads. Copying a SharedState shares the same
// objects; each lives as long as any copy holds it.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "tui/logger/history.hpp"
#include "tui/logger/metrics.hpp"
#include "tui/logger/mode.hpp"
#include "tui/logger/poison_lock.hpp"
#include "tui/logger/running_flag.hpp"

namespace vorlisk::tui {

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

  // Zeroed metrics, empty histories with room for history_len points, running,
  // not paused, no quit or save requested. Throws std::bad_alloc when the histories
  // cannot be reserved.
  static SharedState create(TUIMode mode, std::size_t history_len);
};

}  // namespace vorlisk::tui
