// The CSV metrics file: creation, header and row format.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tui/buffered_writer.hpp"

namespace vorlisk::tui {

inline constexpr std::string_view kCsvHeader =
    "timestamp,steps,episodes,mean_reward,sps,policy_loss,value_loss,entropy,cpu_usage,"
    "gpu_usage,memory_mb,gpu_memory_mb\n";
static_assert(kCsvHeader.size() == 116);

struct CsvRow {
  double timestamp = 0.0;  // seconds since the logger started
  std::uint64_t steps = 0;
  std::uint64_t episodes = 0;
  double mean_reward = 0.0;
  double sps = 0.0;
  double policy_loss = 0.0;
  double value_loss = 0.0;
  double entropy = 0.0;
  double cpu_usage = 0.0;
  double gpu_usage = 0.0;
  std::uint64_t memory_mb = 0;
  std::uint64_t gpu_memory_mb = 0;
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
class CsvLog {
 public:
  // Creates or truncates `path` (mode 0666 before the umask, no parent
  // directories) and buffers the header. Throws CsvCreateError.
  explicit CsvLog(const std::string& path);

  // Appends a row unless another thread holds the lock; never waits.
  void try_write_row(const CsvRow& row) noexcept;

  // Waits for the lock, then sends the buffered bytes to the file.
  void flush() noexcept;

 private:
  std::mutex mutex_;
  BufferedWriter writer_;
};

}  // namespace vorlisk::tui
