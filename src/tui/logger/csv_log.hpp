// The CSV metrics file: creation, header and row format.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "tui/logger/buffered_writer.hpp"
#include "tui/logger/metric_set.hpp"
#include "tui/logger/user_metrics.hpp"

namespace vorlisk::tui {

// "timestamp", then every metric with a CSV column, in table order.
inline constexpr std::string_view kCsvHeader =
#define VORLISK_CSV_NAME_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)("," #cell)
    "timestamp" VORLISK_METRICS(VORLISK_CSV_NAME_) "\n";
#undef VORLISK_CSV_NAME_

struct CsvRow {
  double timestamp = 0.0;  // seconds since the logger started
#define VORLISK_CSV_FIELD_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)(type cell = 0;)
  VORLISK_METRICS(VORLISK_CSV_FIELD_)
#undef VORLISK_CSV_FIELD_
  // The user's metrics, in columns after the built-in ones, written as the
  // policy_loss column is.
  std::array<double, kMaxUserMetrics> user{};
  std::size_t user_count = 0;
};

// Formats the row field by field straight into the writer's buffer. Fixed-point
// fields round the exact binary value to nearest, ties to even (as printf does);
// non-finite values read NaN, inf and -inf.
void write_row(BufferedWriter& writer, const CsvRow& row) noexcept;

// The file could not be created; what() is the message shown to the user.
class CsvCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The open CSV file with the lock that keeps rows whole.
//
// Rows are buffered, never written one by one, but none waits long: a row written
// a second or more after the last timed flush sends the buffer to the file, and a
// helper thread flushes a buffer that no row has touched for about a second (a
// training loop that paused). Write errors never reach the caller of a row; the
// first is reported once on standard error (path and reason), and the rows lost
// once more at close. In a child made by fork() the object writes nothing at all:
// its buffer and file belong to the parent.
class CsvLog {
 public:
  // Creates or truncates `path` (mode 0666 before the umask, no parent
  // directories) and buffers the header, which ends with `user_columns` (the
  // names of the user's metrics). The file is opened without blocking; a FIFO or
  // a socket is refused, since writing rows to one could block the training loop.
  // Throws CsvCreateError.
  explicit CsvLog(const std::string& path, std::span<const std::string> user_columns = {});
  CsvLog(const CsvLog&) = delete;
  CsvLog& operator=(const CsvLog&) = delete;
  // Stops the helper thread, flushes and closes the file.
  ~CsvLog();

  // Appends a row unless another thread holds the lock; never waits. A row that
  // finds the lock taken is kept (up to a few) and goes out before the next one.
  void try_write_row(const CsvRow& row) noexcept;

  // Stops the helper thread that flushes rows a paused loop left behind, then waits
  // for the lock, sends the buffered bytes to the file and reports rows lost since
  // the last report. May be called again.
  void close() noexcept;

 private:
  static constexpr std::size_t kHeldRows = 8;
  static constexpr double kFlushAfterSeconds = 1.0;

  bool forked() const noexcept;
  // Writes the rows set aside while the flusher held the lock (lock held; caller's thread).
  void write_held_locked() noexcept;
  void report_errors_locked(bool closing) noexcept;
  void flusher_loop() noexcept;
  void stop_flusher() noexcept;

  std::string path_;
  std::uint64_t generation_;
  std::mutex mutex_;
  BufferedWriter writer_;
  double last_flush_s_ = 0.0;  // row timestamp of the last timed flush
  bool touched_ = true;        // a row arrived since the helper last looked
  bool error_reported_ = false;
  std::size_t lost_reported_ = 0;
  // Rows dropped because the held slots were full; counted without the lock.
  std::atomic<std::size_t> lost_held_rows_{0};
  // Rows that found the lock taken; only the thread that writes rows touches them.
  std::array<CsvRow, kHeldRows> held_{};
  std::size_t held_count_ = 0;

  // The helper thread and what stops it, on the heap: a forked child must leave
  // them alone, since destroying a condition variable that a thread of the parent
  // was waiting on blocks for good.
  struct Flusher {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
  };
  std::unique_ptr<Flusher> flusher_;
};

}  // namespace vorlisk::tui
