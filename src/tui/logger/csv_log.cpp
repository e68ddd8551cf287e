#include "tui/logger/csv_log.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <system_error>

#include "tui/logger/fork_generation.hpp"

namespace vorlisk::tui {

namespace {

char* put_text(char* first, char* last, std::string_view text) noexcept {
  if (text.size() > static_cast<std::size_t>(last - first)) return nullptr;
  std::memcpy(first, text.data(), text.size());
  return first + text.size();
}

// One field and the separator after it, or nullptr when they do not fit.
char* put_u64(char* first, char* last, std::uint64_t value, char separator) noexcept {
  auto [end, ec] = std::to_chars(first, last, value);
  if (ec != std::errc() || end == last) return nullptr;
  *end = separator;
  return end + 1;
}

char* put_fixed(char* first, char* last, double value, int precision, char separator) noexcept {
  char* end;
  if (std::isnan(value)) {
    end = put_text(first, last, "NaN");
  } else if (std::isinf(value)) {
    end = put_text(first, last, value < 0 ? "-inf" : "inf");
  } else {
    // With a precision, to_chars formats exactly as printf's %.Nf in the C locale.
    auto result = std::to_chars(first, last, value, std::chars_format::fixed, precision);
    end = result.ec == std::errc() ? result.ptr : nullptr;
  }
  if (end == nullptr || end == last) return nullptr;
  *end = separator;
  return end + 1;
}

[[noreturn]] void create_failed(const std::string& reason) {
  throw CsvCreateError("Failed to create CSV file: " + reason);
}

[[noreturn]] void create_failed_errno(int error) {
  create_failed(std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")");
}

const char* blocking_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return nullptr;
}

int create_file(const std::string& path) {
  // The system call would silently stop at an embedded NUL and create another file.
  if (path.find('\0') != std::string::npos) create_failed("file name contains a NUL byte");
  // Opening a FIFO for writing waits for a reader, with the interpreter lock held:
  // check first, and open without blocking in case one appears in between.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && blocking_kind(info.st_mode)) {
    create_failed(path + " is " + blocking_kind(info.st_mode) + ", not a file");
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) create_failed_errno(errno);
  if (fd <= STDERR_FILENO) {
    // The process runs with a standard stream closed: what it prints there later
    // (the terminal thread's error line) would land in the file.
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    if (high < 0) create_failed_errno(error);
    fd = high;
  }
  if (::fstat(fd, &info) == 0 && blocking_kind(info.st_mode)) {
    ::close(fd);
    create_failed(path + " is " + blocking_kind(info.st_mode) + ", not a file");
  }
  // Writes to a file or a device then behave as they would have without the flag.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

void write_row(BufferedWriter& w, const CsvRow& row) noexcept {
  // Each field goes to the writer together with the separator after it.
  auto fixed = [&w](double value, int precision, char separator) {
    w.write_formatted(
        [=](char* f, char* l) { return put_fixed(f, l, value, precision, separator); });
  };
  auto integer = [&w](std::uint64_t value, char separator) {
    w.write_formatted([=](char* f, char* l) { return put_u64(f, l, value, separator); });
  };
  auto field = [&](auto value, int precision, char separator) {
    if constexpr (std::is_same_v<decltype(value), double>) {
      fixed(value, precision, separator);
    } else {
      integer(value, separator);
    }
  };
  constexpr int kColumns = 0
#define VORLISK_COUNT_(cell, type, kind, arg, hist, csv) VORLISK_IF_CSV(csv)(+1)
      VORLISK_METRICS(VORLISK_COUNT_);
#undef VORLISK_COUNT_
  int column = 0;
  fixed(row.timestamp, 3, ',');
  const char last_built_in = row.user_count == 0 ? '\n' : ',';
#define VORLISK_FIELD_(cell, type, kind, arg, hist, csv)        \
  VORLISK_IF_CSV(csv)(field(row.cell, VORLISK_CSV_DECIMALS(csv), \
                            ++column == kColumns ? last_built_in : ',');)
  VORLISK_METRICS(VORLISK_FIELD_)
#undef VORLISK_FIELD_
  constexpr int kUserDecimals = 6;  // as the losses
  for (std::size_t i = 0; i < row.user_count; ++i) {
    fixed(row.user[i], kUserDecimals, i + 1 == row.user_count ? '\n' : ',');
  }
}

CsvLog::CsvLog(const std::string& path, std::span<const std::string> user_columns)
    : path_(path), generation_(fork_generation()), writer_(create_file(path)) {
  if (user_columns.empty()) {
    writer_.write(kCsvHeader);
  } else {
    std::string header(kCsvHeader.substr(0, kCsvHeader.size() - 1));  // without its line feed
    for (const std::string& name : user_columns) header += "," + name;
    writer_.write(header + "\n");
  }
  flusher_ = std::make_unique<Flusher>();
  try {
    flusher_->thread = std::thread(&CsvLog::flusher_loop, this);
  } catch (const std::system_error& error) {
    throw std::runtime_error(std::string("failed to spawn thread: ") + error.what());
  }
}

CsvLog::~CsvLog() {
  if (forked()) {
    // The parent's helper thread does not exist here: leave it and its condition
    // variable alone (a few bytes, once per child), and drop the parent's rows.
    (void)flusher_.release();
    writer_.discard();
    return;
  }
  close();
}

void CsvLog::stop_flusher() noexcept {
  if (!flusher_->thread.joinable()) return;
  {
    std::lock_guard lock(flusher_->mutex);
    flusher_->stopping = true;
  }
  flusher_->wake.notify_all();
  flusher_->thread.join();
}

bool CsvLog::forked() const noexcept { return fork_generation() != generation_; }

void CsvLog::try_write_row(const CsvRow& row) noexcept {
  if (forked()) return;
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    if (held_count_ < kHeldRows) {
      held_[held_count_++] = row;
    } else {
      lost_held_rows_.fetch_add(1, std::memory_order_relaxed);
    }
    return;
  }
  write_held_locked();
  write_row(writer_, row);
  touched_ = true;
  if (row.timestamp - last_flush_s_ >= kFlushAfterSeconds) {
    last_flush_s_ = row.timestamp;
    writer_.flush();
  }
  report_errors_locked(false);
}

void CsvLog::close() noexcept {
  if (forked()) return;
  // A closed logger holds no thread: rows written after close wait in the buffer
  // for update's own once-a-second flush, a further close, or destruction.
  stop_flusher();
  std::lock_guard lock(mutex_);
  // Only the thread that calls try_write_row calls close, so the
  // held rows are its own.
  write_held_locked();
  writer_.flush();
  report_errors_locked(true);
}

void CsvLog::write_held_locked() noexcept {
  for (std::size_t i = 0; i < held_count_; ++i) write_row(writer_, held_[i]);
  held_count_ = 0;
}

void CsvLog::report_errors_locked(bool closing) noexcept {
  if (writer_.first_error() != 0 && !error_reported_) {
    error_reported_ = true;
    std::fprintf(stderr, "vorlisk: writing the CSV file %s failed: %s; rows are being lost\n",
                 path_.c_str(), std::strerror(writer_.first_error()));
  }
  // Rows, not lines: a lost header is no row.
  const std::size_t lost = writer_.lost_lines() - (writer_.first_line_lost() ? 1 : 0) +
                           lost_held_rows_.load(std::memory_order_relaxed);
  if (closing && lost != lost_reported_) {
    std::fprintf(stderr, "vorlisk: %zu rows were lost writing the CSV file %s\n",
                 lost - lost_reported_, path_.c_str());
    lost_reported_ = lost;
  }
}

void CsvLog::flusher_loop() noexcept {
  // Wakes twice a second: a buffer that no row touched between two looks has
  // waited at most about a second.
  Flusher& f = *flusher_;
  std::unique_lock stop(f.mutex);
  while (!f.wake.wait_for(stop, std::chrono::milliseconds(500), [&f] { return f.stopping; })) {
    std::lock_guard lock(mutex_);
    if (!touched_ && writer_.buffered() != 0) {
      writer_.flush();
      report_errors_locked(false);
    }
    touched_ = false;
  }
}

}  // namespace vorlisk::tui
