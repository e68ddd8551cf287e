#include "tui/csv_log.hpp"

#include <fcntl.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

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

int create_file(const std::string& path) {
  // The system call would silently stop at an embedded NUL and create another file.
  if (path.find('\0') != std::string::npos) {
    throw CsvCreateError("Failed to create CSV file: file name contains a NUL byte");
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int error = errno;
    throw CsvCreateError("Failed to create CSV file: " + std::string(std::strerror(error)) +
                         " (os error " + std::to_string(error) + ")");
  }
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
#define VORLISK_FIELD_(cell, type, kind, arg, hist, csv)        \
  VORLISK_IF_CSV(csv)(field(row.cell, VORLISK_CSV_DECIMALS(csv), \
                            ++column == kColumns ? '\n' : ',');)
  VORLISK_METRICS(VORLISK_FIELD_)
#undef VORLISK_FIELD_
}

CsvLog::CsvLog(const std::string& path) : writer_(create_file(path)) {
  writer_.write(kCsvHeader);
}

void CsvLog::try_write_row(const CsvRow& row) noexcept {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  write_row(writer_, row);
}

void CsvLog::flush() noexcept {
  std::lock_guard lock(mutex_);
  writer_.flush();
}

}  // namespace vorlisk::tui
