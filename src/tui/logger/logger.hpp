// The training logger: metric cells, bounded histories and the CSV log that a
// training loop feeds through update(), plus the threads that watch them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tui/logger/csv_log.hpp"
#include "tui/logger/fork_generation.hpp"
#include "tui/logger/mode.hpp"
#include "tui/logger/shared_state.hpp"
#include "tui/monitor/monitor.hpp"

namespace vorlisk::tui {

struct LoggerOptions {
  TUIMode mode = TUIMode::Minimal;
  std::uint64_t render_interval_ms = 100;
  std::size_t history_len = 100;
  std::optional<std::string> csv_path = std::nullopt;
  std::uint64_t monitor_interval_ms = 1000;
  std::uint64_t update_interval_steps = 10000;
  std::uint64_t total_steps = 0;  // the run's length, for its progress and time left; 0: unknown
  std::vector<std::string> user_metrics{};  // the training loop's own metrics, by name
  bool display = true;            // false: no terminal thread at all, and nothing said about it
  monitor::Sources monitor_sources;
};

// update()'s arguments. Those received IF_GIVEN (gpu_usage, gpu_memory and
// total_gpu_memory, in MiB for the last two) leave their cells as they are when
// absent, as do the user's metrics that `user` does not give.
struct UpdateArgs {
#define VORLISK_ARG_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_ARG(kind)(ArgType<ArgKind::kind, type> arg{};)
  VORLISK_METRICS(VORLISK_ARG_)
#undef VORLISK_ARG_
  UserValues user{};
};

class Logger {
 public:
  // Throws UserMetricNameError for names the user's metrics cannot have and
  // CsvCreateError when the CSV file cannot be created (no file is made or thread
  // started then), std::bad_alloc when the histories cannot be reserved, and
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

  // True once per press of s (a checkpoint was asked for), then false until the next.
  bool should_save() noexcept {
    return shared_.save_requested->exchange(false, std::memory_order_relaxed);
  }

  // Stops the threads, then flushes the CSV file. May be called again; update()
  // keeps working afterwards.
  void close() noexcept;

  // The part of close() that waits: ends the display (after the last one, until the
  // terminal is given back, at most kGiveBackWait) and joins the monitor thread.
  // Safe beside update() and beside another call, so it can run without the
  // interpreter lock.
  void stop_threads() noexcept;

  const SharedState& shared() const noexcept { return shared_; }
  std::uint64_t render_interval_ms() const noexcept { return render_interval_ms_; }

 private:
  void append_history(const UpdateArgs& args) noexcept;
  void write_csv_row() noexcept;

  SharedState shared_;
  std::uint64_t display_ = 0;  // its id while shown; 0: none
  std::thread monitor_thread_;
  std::mutex stopping_;
  std::unique_ptr<CsvLog> csv_;
  std::uint64_t last_history_step_ = 0;
  std::uint64_t update_interval_steps_;
  std::uint64_t render_interval_ms_;
  std::chrono::steady_clock::time_point start_time_;
  std::uint64_t generation_ = fork_generation();  // see stop_threads()
};

// Closes every logger not yet destroyed: their terminals are given back and their
// CSV buffers written out. Runs by itself when the process exits.
void close_open_loggers() noexcept;

}  // namespace vorlisk::tui
