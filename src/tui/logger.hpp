// The training logger: metric cells, bounded histories and the CSV log that a
// training loop feeds through update(), plus the threads that watch them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "tui/csv_log.hpp"
#include "tui/fork_generation.hpp"
#include "tui/mode.hpp"
#include "tui/monitor/monitor.hpp"
#include "tui/shared_state.hpp"

namespace vorlisk::tui {

struct LoggerOptions {
  TUIMode mode = TUIMode::Minimal;
  std::uint64_t render_interval_ms = 100;
  std::size_t history_len = 100;
  std::optional<std::string> csv_path = std::nullopt;
  std::uint64_t monitor_interval_ms = 1000;
  std::uint64_t update_interval_steps = 10000;
  monitor::Sources monitor_sources;
};

struct UpdateArgs {
  std::uint64_t steps = 0;
  std::uint64_t episodes = 0;
  double mean_reward = 0.0;
  double sps = 0.0;
  double policy_loss = 0.0;
  double value_loss = 0.0;
  double entropy = 0.0;
  // Absent values leave their cells as they are.
  std::optional<double> gpu_usage = std::nullopt;
  std::optional<double> gpu_memory = std::nullopt;        // MiB, stored saturated to u64
  std::optional<double> total_gpu_memory = std::nullopt;  // MiB, stored saturated to u64
};

class Logger {
 public:
  // Throws CsvCreateError when the CSV file cannot be created (no thread is started
  // then), std::bad_alloc when the histories cannot be reserved, and
  // std::runtime_error("failed to spawn thread: ...") when a thread cannot start.
  explicit Logger(LoggerOptions options);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  // Runs close(); the CSV file is then flushed once more and closed.
  ~Logger();

  // Stores the figures and, when due and the locks are free, appends a history
  // point and a CSV row. Never waits and never allocates. One caller at a time.
  void update(const UpdateArgs& args) noexcept;

  bool should_quit() const noexcept {
    return shared_.quit_requested->load(std::memory_order_relaxed);
  }

  // Stops and joins the threads, then flushes the CSV file. May be called again;
  // update() keeps working afterwards.
  void close() noexcept;

  const SharedState& shared() const noexcept { return shared_; }
  std::uint64_t render_interval_ms() const noexcept { return render_interval_ms_; }

 private:
  void append_history(const UpdateArgs& args) noexcept;
  void write_csv_row(const UpdateArgs& args) noexcept;
  void stop_threads() noexcept;

  SharedState shared_;
  std::thread tui_thread_;
  std::thread monitor_thread_;
  std::unique_ptr<CsvLog> csv_;
  std::uint64_t last_history_step_ = 0;
  std::uint64_t update_interval_steps_;
  std::uint64_t render_interval_ms_;
  std::chrono::steady_clock::time_point start_time_;
  std::uint64_t generation_ = fork_generation();  // see stop_threads()
};

}  // namespace vorlisk::tui
