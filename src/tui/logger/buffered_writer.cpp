#include "tui/logger/buffered_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vorlisk::tui {

BufferedWriter::BufferedWriter(int fd) : fd_(fd), line_start_(::lseek(fd, 0, SEEK_CUR)) {
  try {
    buffer_ = std::make_unique_for_overwrite<char[]>(kCapacity);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

BufferedWriter::~BufferedWriter() {
  flush();
  ::close(fd_);
}

void BufferedWriter::write(std::string_view piece) noexcept {
  if (piece.size() > kCapacity - used_) flush();
  if (piece.size() >= kCapacity) {
    write_to_file(piece.data(), piece.size());
    return;
  }
  std::memcpy(buffer_.get() + used_, piece.data(), piece.size());
  used_ += piece.size();
}

void BufferedWriter::flush() noexcept {
  write_to_file(buffer_.get(), used_);
  used_ = 0;
}

void BufferedWriter::write_to_file(const char* data, std::size_t size) noexcept {
  if (drop_to_line_end_) {
    const void* end = std::memchr(data, '\n', size);
    if (end == nullptr) return;
    drop_to_line_end_ = false;
    count_lost(1);
    const auto dropped = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
    data += dropped;
    size -= dropped;
  }
  if (size == 0) return;
  if (fragment_in_file_) {
    if (put("\n", 1) != 0) {
      lose(data, size);
      return;
    }
    fragment_in_file_ = false;
  }
  if (const std::size_t left = put(data, size); left != 0) lose(data + (size - left), left);
}

std::size_t BufferedWriter::put(const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // dropped: see the class comment
      if (first_error_ == 0) first_error_ = n < 0 && errno != 0 ? errno : EIO;
      break;
    }
    const auto written = static_cast<std::size_t>(n);
    if (const void* end = ::memrchr(data, '\n', written)) {
      any_line_ = true;
      if (line_start_ >= 0) {
        const off_t now = ::lseek(fd_, 0, SEEK_CUR);
        const off_t after_end = data + written - static_cast<const char*>(end) - 1;
        line_start_ = now < 0 ? -1 : now - after_end;
      }
    }
    mid_line_ = data[written - 1] != '\n';
    data += written;
    size -= written;
  }
  return size;
}

void BufferedWriter::lose(const char* data, std::size_t size) noexcept {
  count_lost(static_cast<std::size_t>(std::count(data, data + size, '\n')));
  drop_to_line_end_ = data[size - 1] != '\n';
  if (!mid_line_) return;
  // The start of the broken line is in the file: cut it off where we can.
  if (line_start_ >= 0 && ::ftruncate(fd_, line_start_) == 0 &&
      ::lseek(fd_, line_start_, SEEK_SET) == line_start_) {
    mid_line_ = false;
  } else {
    fragment_in_file_ = true;
  }
}

void BufferedWriter::count_lost(std::size_t lines) noexcept {
  if (lines == 0) return;
  if (!any_line_) first_line_lost_ = true;
  any_line_ = true;
  lost_lines_ += lines;
}

}  // namespace vorlisk::tui
