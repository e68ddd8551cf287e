// An output buffer of 8192 bytes in front of a file descriptor.
//
// A piece that does not fit in the free space first sends the buffered bytes to
// the file; a piece at least as large as the whole buffer then goes straight to
// the file. Nothing is flushed otherwise, so a row may reach the file in two
// parts. Bytes that fail to write are discarded so that later output still gets
// through; the writer remembers the first error and counts the lines it lost, for
// its owner to report.
//
// Lines are whole or absent. A failed write may leave the start of a line in the
// file, and the rest of that line may still be on its way (in the buffer, or in
// pieces not yet written): the file is cut back to the end of its last whole line,
// and the rest of the broken line is dropped when it comes. Where the file cannot
// be cut (a device), the fragment is ended with a line feed instead, so the lines
// after it still start where a line should.
#pragma once

#include <sys/types.h>

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

  // The errno of the first failed write (0: none yet), and the lines lost since;
  // first_line_lost() says whether the very first line is among them (a header).
  int first_error() const noexcept { return first_error_; }
  std::size_t lost_lines() const noexcept { return lost_lines_; }
  bool first_line_lost() const noexcept { return first_line_lost_; }

 private:
  void write_to_file(const char* data, std::size_t size) noexcept;
  // Writes what it can; returns how many bytes at the end were not written.
  std::size_t put(const char* data, std::size_t size) noexcept;
  void lose(const char* data, std::size_t size) noexcept;
  void count_lost(std::size_t lines) noexcept;

  int fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  int first_error_ = 0;
  std::size_t lost_lines_ = 0;
  bool first_line_lost_ = false;
  bool any_line_ = false;  // a line was written or lost already
  // Where the line that the file ends in began (-1: the descriptor cannot seek, so
  // nothing is ever cut), and whether that line is still unfinished.
  off_t line_start_;
  bool mid_line_ = false;
  bool drop_to_line_end_ = false;  // the rest of a broken line is still to come
  bool fragment_in_file_ = false;  // a broken line's start stayed in the file
};

}  // namespace vorlisk::tui
