#include "tui/logger/logger.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "tui/logger/fork_generation.hpp"
#include "tui/display.hpp"

namespace vorlisk::tui {

namespace {

[[noreturn]] void spawn_failed(const std::system_error& error) {
  throw std::runtime_error(std::string("failed to spawn thread: ") + error.what());
}

// Loggers not yet destroyed. A process can end with one still open (an interpreter
// that exits without freeing it, a C++ program calling exit()); closing them at exit
// gives the terminal back and writes out the CSV buffer.
struct OpenLoggers {
  std::mutex mutex;
  std::vector<Logger*> loggers;
};

OpenLoggers& open_loggers() {
  // Never destroyed, so it is still there when the exit handler runs.
  static OpenLoggers* const registry = new OpenLoggers;
  return *registry;
}

void remember_open(Logger* logger) {
  static std::once_flag once;
  std::call_once(once, [] { std::atexit([] { close_open_loggers(); }); });
  OpenLoggers& registry = open_loggers();
  std::lock_guard lock(registry.mutex);
  registry.loggers.push_back(logger);
}

void forget_open(Logger* logger) noexcept {
  OpenLoggers& registry = open_loggers();
  std::lock_guard lock(registry.mutex);
  std::erase(registry.loggers, logger);
}

// An argument goes to its cell on every call; an optional one only when given,
// converted to the cell's type.
template <class Cell, class Arg>
void store_argument(Cell& cell, const Arg& value) noexcept {
  if constexpr (std::is_same_v<Arg, std::optional<double>>) {
    if (value) cell.store(from_float<decltype(cell.load())>(*value));
  } else {
    cell.store(value);
  }
}

}  // namespace

void close_open_loggers() noexcept {
  OpenLoggers& registry = open_loggers();
  std::lock_guard lock(registry.mutex);
  for (Logger* logger : registry.loggers) logger->close();
}

Logger::Logger(LoggerOptions options)
    : shared_(SharedState::create(options.mode, options.history_len, std::move(options.user_metrics))),
      update_interval_steps_(options.update_interval_steps),
      render_interval_ms_(options.render_interval_ms) {
  shared_.total_steps = options.total_steps;
  if (options.csv_path) csv_ = std::make_unique<CsvLog>(*options.csv_path, shared_.user_metrics->names());

  try {
    monitor_thread_ = monitor::spawn_monitor_thread(shared_.metrics, shared_.running,
                                                    options.monitor_interval_ms,
                                                    std::move(options.monitor_sources));
    if (options.display) {
      const char* term = std::getenv("TERM");
      const bool can_draw = term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
      display_ = show_display(shared_, render_interval_ms_, can_draw);
    }
  } catch (const std::system_error& error) {
    stop_threads();  // a thread already started must not outlive a failed constructor
    spawn_failed(error);
  }

  // Taken after both threads have started, so CSV timestamps do not include
  // their start-up.
  start_time_ = std::chrono::steady_clock::now();

  try {
    remember_open(this);
  } catch (...) {
    stop_threads();
    throw;
  }
}

Logger::~Logger() {
  forget_open(this);
  close();
}

void Logger::update(const UpdateArgs& a) noexcept {
  MetricsBuffer& m = *shared_.metrics;
#define VORLISK_STORE_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_ARG(kind)(store_argument(m.cell, a.arg);)
  VORLISK_METRICS(VORLISK_STORE_)
#undef VORLISK_STORE_
  if (a.gpu_usage) m.gpu_sampled.store(true, std::memory_order_release);
  shared_.user_metrics->store(a.user);

  append_history(a);
  write_csv_row();
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
  // Before the cells they guard are read.
  const bool cpu_sampled = m.cpu_sampled.load(std::memory_order_acquire);
  const bool gpu_sampled = m.gpu_sampled.load(std::memory_order_acquire);
  HistoryPoint point;
#define VORLISK_POINT_(cell, type, kind, arg, hist, csv) VORLISK_IF_HIST(hist)(point.cell = m.cell.load();)
  VORLISK_METRICS(VORLISK_POINT_)
#undef VORLISK_POINT_
  if (!cpu_sampled) point.cpu_usage = kNoSample;
  if (!gpu_sampled) point.gpu_usage = kNoSample;
#define VORLISK_POINT_(name, used, total) point.name = usage_percent(m.used.load(), m.total.load());
  VORLISK_DERIVED_HISTORY(VORLISK_POINT_)
#undef VORLISK_POINT_
  const UserMetrics& user = *shared_.user_metrics;
  double user_point[kMaxUserMetrics];
  for (std::size_t i = 0; i < user.size(); ++i) user_point[i] = user.value(i);
  history->append(point, {user_point, user.size()});
  last_history_step_ = a.steps;
}

void Logger::write_csv_row() noexcept {
  if (!csv_) return;
  const MetricsBuffer& m = *shared_.metrics;
  auto elapsed = std::chrono::steady_clock::now() - start_time_;
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  double timestamp = static_cast<double>(nanos / 1'000'000'000) +
                     static_cast<double>(nanos % 1'000'000'000) / 1e9;
  CsvRow row;
  row.timestamp = timestamp;
#define VORLISK_FIELD_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)(row.cell = m.cell.load();)
  VORLISK_METRICS(VORLISK_FIELD_)
#undef VORLISK_FIELD_
  const UserMetrics& user = *shared_.user_metrics;
  row.user_count = user.size();
  for (std::size_t i = 0; i < user.size(); ++i) row.user[i] = user.value(i);
  csv_->try_write_row(row);
}

void Logger::stop_threads() noexcept {
  std::lock_guard lock(stopping_);
  if (fork_generation() != generation_) {
    // A forked child has none of the parent's threads, and their locks may have
    // been held at the fork: leave the handles be (never joined, never freed), and
    // the shared state too, whose condition variables they may have waited on.
    (void)new (std::nothrow) SharedState(shared_);
    display_ = 0;
    if (monitor_thread_.joinable()) (void)new (std::nothrow) std::thread(std::move(monitor_thread_));
    return;
  }
  shared_.running->stop();
  if (display_ != 0) end_display(std::exchange(display_, 0));
  if (monitor_thread_.joinable()) monitor_thread_.join();
}

void Logger::close() noexcept {
  stop_threads();
  if (csv_) csv_->close();
}

}  // namespace vorlisk::tui
