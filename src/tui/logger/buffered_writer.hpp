// An output buffer of 8192 bytes in front of a file descriptor.
//
// A piece that does not fit in the free space first sends the buffered bytes to
// the file; a piece at least as large as the whole buffer then goes straight to
// the file. Nothing is flushed otherwise, so a row may reach the file in two
// parts. Bytes that fail to write are discarded so that later output still gets
// through; the writer remembers the first error and counts the lines it lost, for
// its owner to report.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace vorlisk::tui {

class BufferedWriter {
 public:
  static constexpr std::size_t kCapacity = 8192;

  // Takes ownership of `fd`.
  explicit BufferedWriter(int fd);
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  // Flushes, then closes the file.
  ~BufferedWriter();

  void write(std::string_view piece) noexcept;

  // Formats one piece in place, straight into the free space of the buffer.
  // `format(first, last)` writes into [first, last) and returns the end of what
  // it wrote, or nullptr when the piece does not fit. Such pieces must be far
  // smaller than the buffer (field-sized), so after a flush they always fit.
  template <class Format>
  void write_formatted(Format&& format) noexcept {
    char* end = format(buffer_.get() + used_, buffer_.get() + kCapacity);
    if (end == nullptr) {
      flush();
      end = format(buffer_.get(), buffer_.get() + kCapacity);
      if (end == nullptr) return;
    }
    used_ = static_cast<std::size_t>(end - buffer_.get());
  }

  void flush() noexcept;

  std::size_t buffered() const noexcept { return used_; }

  // Drops the buffered bytes unwritten (a forked child's copy of its parent's).
  void discard() noexcept { used_ = 0; }

  // The errno of the first failed write (0: none yet), and the lines lost since.
  int first_error() const noexcept { return first_error_; }
  std::size_t lost_lines() const noexcept { return lost_lines_; }

 private:
  void write_to_file(const char* data, std::size_t size) noexcept;

  int fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  int first_error_ = 0;
  std::size_t lost_lines_ = 0;
};

}  // namespace vorlisk::tui
