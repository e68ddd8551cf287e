#include "tui/logger.hpp"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace vorlisk::tui {

namespace {

[[noreturn]] void spawn_failed(const std::system_error& error) {
  throw std::runtime_error(std::string("failed to spawn thread: ") + error.what());
}

}  // namespace

Logger::Logger(LoggerOptions options)
    : shared_(SharedState::create(options.mode, options.history_len)),
      update_interval_steps_(options.update_interval_steps),
      render_interval_ms_(options.render_interval_ms) {
  if (options.csv_path) csv_ = std::make_unique<CsvLog>(*options.csv_path);

  try {
    monitor_thread_ = monitor::spawn_monitor_thread(shared_.metrics, shared_.running,
                                                    options.monitor_interval_ms,
                                                    std::move(options.monitor_sources));
    // TODO(terminal UI): start the terminal thread here, after the monitor, with a
    // copy of shared_ and render_interval_ms_. Its body runs run_tui and, on an
    // error, writes "TUI error: " and the error's text to standard error.
  } catch (const std::system_error& error) {
    stop_threads();  // a thread already started must not outlive a failed constructor
    spawn_failed(error);
  }

  // Taken after both threads have started, so CSV timestamps do not include
  // their start-up.
  start_time_ = std::chrono::steady_clock::now();
}

Logger::~Logger() { close(); }

void Logger::update(const UpdateArgs& a) noexcept {
  MetricsBuffer& m = *shared_.metrics;
#define VORLISK_STORE_(cell, type, kind, arg, hist, csv) VORLISK_STORE_ARG(kind, m, cell, a, arg)
  VORLISK_METRICS(VORLISK_STORE_)
#undef VORLISK_STORE_

  append_history(a);
  write_csv_row(a);
}

void Logger::append_history(const UpdateArgs& a) noexcept {
  // A smaller step count than last time (a new run fed to the same logger) waits
  // until it has grown a whole interval past the last point.
  std::uint64_t distance = a.steps >= last_history_step_ ? a.steps - last_history_step_ : 0;
  if (distance < update_interval_steps_) return;

  // A frame being drawn costs the training loop this point, never time. After a
  // holder failed half-way, the histories are left alone for good.
  HistoryLock::Guard history = shared_.history->try_lock();
  if (!history || history.poisoned()) return;

  const MetricsBuffer& m = *shared_.metrics;
  HistoryPoint point;
#define VORLISK_POINT_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_HIST(hist)(point.cell = VORLISK_LATEST(kind, m, cell, a, arg);)
  VORLISK_METRICS(VORLISK_POINT_)
#undef VORLISK_POINT_
#define VORLISK_POINT_(name, used, total) point.name = usage_percent(m.used.load(), m.total.load());
  VORLISK_DERIVED_HISTORY(VORLISK_POINT_)
#undef VORLISK_POINT_
  history->append(point);
  last_history_step_ = a.steps;
}

void Logger::write_csv_row(const UpdateArgs& a) noexcept {
  if (!csv_) return;
  const MetricsBuffer& m = *shared_.metrics;
  auto elapsed = std::chrono::steady_clock::now() - start_time_;
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  double timestamp = static_cast<double>(nanos / 1'000'000'000) +
                     static_cast<double>(nanos % 1'000'000'000) / 1e9;
  CsvRow row;
  row.timestamp = timestamp;
#define VORLISK_FIELD_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_CSV(csv)(row.cell = VORLISK_LATEST(kind, m, cell, a, arg);)
  VORLISK_METRICS(VORLISK_FIELD_)
#undef VORLISK_FIELD_
  csv_->try_write_row(row);
}

void Logger::stop_threads() noexcept {
  shared_.running->stop();
  // A thread that failed has already ended; joining it is all that is left.
  if (tui_thread_.joinable()) tui_thread_.join();
  if (monitor_thread_.joinable()) monitor_thread_.join();
}

void Logger::close() noexcept {
  stop_threads();
  if (csv_) csv_->flush();
}

}  // namespace vorlisk::tui
