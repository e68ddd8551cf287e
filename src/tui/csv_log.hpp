// The CSV metrics file: creation, header and row format.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tui/buffered_writer.hpp"
#include "tui/metric_set.hpp"

namespace vorlisk::tui {

// "timestamp", then every metric with a CSV column, in table order.
inline constexpr std::string_view kCsvHeader =
#define VORLISK_CSV_NAME_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)("," #cell)
    "timestamp" VORLISK_METRICS(VORLISK_CSV_NAME_) "\n";
#undef VORLISK_CSV_NAME_
static_assert(kCsvHeader.size() == 116);

struct CsvRow {
  double timestamp = 0.0;  // seconds since the logger started
#define VORLISK_CSV_FIELD_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)(type cell = 0;)
  VORLISK_METRICS(VORLISK_CSV_FIELD_)
#undef VORLISK_CSV_FIELD_
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
