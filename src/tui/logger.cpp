#include "tui/logger.hpp"

#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "tui/fork_generation.hpp"

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
  m.steps.store(a.steps);
  m.episodes.store(a.episodes);
  m.mean_reward.store(a.mean_reward);
  m.sps.store(a.sps);
  m.policy_loss.store(a.policy_loss);
  m.value_loss.store(a.value_loss);
  m.entropy.store(a.entropy);
  if (a.gpu_usage) m.gpu_usage.store(*a.gpu_usage);
  if (a.gpu_memory) m.gpu_memory_mb.store(saturating_u64(*a.gpu_memory));
  if (a.total_gpu_memory) m.total_gpu_memory_mb.store(saturating_u64(*a.total_gpu_memory));

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
  history->append(HistoryPoint{
      .steps = a.steps,
      .mean_reward = a.mean_reward,
      .sps = a.sps,
      .policy_loss = a.policy_loss,
      .value_loss = a.value_loss,
      .cpu_usage = m.cpu_usage.load(),
      .gpu_usage = m.gpu_usage.load(),
      .memory_percent = usage_percent(m.memory_mb.load(), m.total_memory_mb.load()),
      .gpu_memory_percent = usage_percent(m.gpu_memory_mb.load(), m.total_gpu_memory_mb.load()),
  });
  last_history_step_ = a.steps;
}

void Logger::write_csv_row(const UpdateArgs& a) noexcept {
  if (!csv_) return;
  const MetricsBuffer& m = *shared_.metrics;
  auto elapsed = std::chrono::steady_clock::now() - start_time_;
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  double timestamp = static_cast<double>(nanos / 1'000'000'000) +
                     static_cast<double>(nanos % 1'000'000'000) / 1e9;
  csv_->try_write_row(CsvRow{
      .timestamp = timestamp,
      .steps = a.steps,
      .episodes = a.episodes,
      .mean_reward = a.mean_reward,
      .sps = a.sps,
      .policy_loss = a.policy_loss,
      .value_loss = a.value_loss,
      .entropy = a.entropy,
      .cpu_usage = m.cpu_usage.load(),
      .gpu_usage = m.gpu_usage.load(),
      .memory_mb = m.memory_mb.load(),
      .gpu_memory_mb = m.gpu_memory_mb.load(),
  });
}

void Logger::stop_threads() noexcept {
  if (fork_generation() != generation_) {
    // A forked child has none of the parent's threads, and their locks may have
    // been held at the fork: leave the handles be (never joined, never freed), and
    // the shared state too, whose condition variables they may have waited on.
    (void)new (std::nothrow) SharedState(shared_);
    if (tui_thread_.joinable()) (void)new (std::nothrow) std::thread(std::move(tui_thread_));
    if (monitor_thread_.joinable()) (void)new (std::nothrow) std::thread(std::move(monitor_thread_));
    return;
  }
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
