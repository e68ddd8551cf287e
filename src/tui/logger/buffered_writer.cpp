#include "tui/logger/buffered_writer.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorlisk::tui {

BufferedWriter::BufferedWriter(int fd) : fd_(fd) {
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
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // dropped: see the class comment
      if (first_error_ == 0) first_error_ = n < 0 && errno != 0 ? errno : EIO;
      for (std::size_t i = 0; i < size; ++i) lost_lines_ += data[i] == '\n';
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace vorlisk::tui
