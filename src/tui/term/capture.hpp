// What the process writes to its standard output and standard error while a display
// owns the terminal.
//
// Writes from anywhere (print, logging handlers holding an old stream object,
// warnings, other threads' tracebacks, C code, child processes) end up in descriptors
// 1 and 2, so that is where they are caught: they are pointed at pipes, whose bytes
// the display's thread reads into an OutputLog and shows. When the display ends, the
// descriptors are put back and the kept output is written to where it was headed, in
// the order it was read: each chunk to its own stream when the two go to different
// files, all of it through standard output when both go to the same one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace vorlisk::tui::term {

enum class Stream : std::uint8_t { Out, Err };

// Bytes kept in arrival order, each run of them tagged with its stream, within a fixed
// number of bytes allocated up front: past it the oldest bytes make room, and are
// counted. Appending never allocates.
class OutputLog {
 public:
  explicit OutputLog(std::size_t capacity);

  void append(Stream stream, std::string_view bytes) noexcept;
  // Forgets what is kept; the counts stay.
  void clear() noexcept;

  // Everything kept, both streams as they came.
  std::string_view text() const noexcept { return {bytes_.data(), size_}; }
  std::uint64_t dropped() const noexcept { return dropped_; }  // bytes
  std::uint64_t received() const noexcept { return received_; }  // bytes, dropped ones too
  std::uint64_t lines() const noexcept { return lines_; }  // line feeds received
  std::size_t capacity() const noexcept { return bytes_.size(); }

  // Calls f(Stream, std::string_view) for each run of one stream, oldest first.
  template <class F>
  void for_each_chunk(F&& f) const {
    std::size_t at = 0;
    for (const Chunk& c : chunks_) {
      f(c.stream, text().substr(at, c.size));
      at += c.size;
    }
  }

 private:
  struct Chunk {
    Stream stream;
    std::uint32_t size;
  };
  void drop_oldest(std::size_t bytes, std::size_t chunks) noexcept;

  std::vector<char> bytes_;
  std::size_t size_ = 0;
  std::vector<Chunk> chunks_;  // capacity fixed at construction
  std::uint64_t dropped_ = 0, received_ = 0, lines_ = 0;
};

class OutputCapture {
 public:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  // Points `fds` (standard output, then standard error) at pipes (one pipe for both
  // when they refer to the same file), keeping a duplicate of what each was. A second descriptor that is not open is left alone. Throws
  // std::system_error, having changed nothing, when it cannot; EBUSY when another
  // capture is on (two would put back each other's pipes).
  explicit OutputCapture(std::array<int, 2> fds = {STDOUT_FILENO, STDERR_FILENO},
                         std::size_t capacity = kCapacity);
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture() { finish(); }

  // Where the first descriptor pointed before: the display draws there, never
  // through the captured descriptors.
  int terminal() const noexcept { return saved_[0]; }
  // The pipes' read ends, to wait on beside the keyboard.
  std::span<const int> pipes() const noexcept { return {pipes_.data(), pipe_count_}; }

  // Reads what the pipes hold, without waiting. True when anything came.
  bool drain() noexcept;
  const OutputLog& log() const noexcept { return log_; }

  // Puts the descriptors back and writes out what was kept (and what is still in the
  // pipes), each chunk to the stream it came from, then a line counting the dropped
  // bytes if any were. Once; later calls do nothing.
  void finish() noexcept;

 private:
  void write_out(const std::array<int, 2>& to) noexcept;

  std::array<int, 2> fds_;
  std::array<int, 2> saved_{-1, -1};
  std::array<int, 2> pipes_{-1, -1};
  std::size_t streams_ = 0;     // descriptors captured
  std::size_t pipe_count_ = 0;  // one for both when they write to the same file
  OutputLog log_;
  std::vector<char> chunk_;  // read buffer, allocated once
  bool finished_ = false;
  std::array<bool, 2> ends_line_{true, true};  // what each stream wrote out last ended a line
};

}  // namespace vorlisk::tui::term
