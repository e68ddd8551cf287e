#include "tui/term/capture.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>

#include "tui/term/tty.hpp"

namespace vorlisk::tui::term {

namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// A flood must not hold up the display's loop: at most this many reads per stream
// and drain, a few MiB.
constexpr int kReadsPerDrain = 64;
// Dropping is done in steps of this share of the capacity, so that a full log moves
// its bytes once per step received rather than once per read.
constexpr std::size_t kDropStep = 16;
// How far past the bytes it must drop the log looks for a line feed, so that what it
// keeps starts with a whole line.
constexpr std::size_t kLineSearch = 4096;

// Two captures would each put back the other's pipes.
std::atomic<bool> capturing{false};

[[noreturn]] void fail(const char* what, int error = errno) {
  throw std::system_error(error, std::generic_category(), what);
}

void close_fd(int& fd) noexcept {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool same_file(int a, int b) noexcept {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether `fd` is the pipe whose read end is `pipe`: a descriptor the program has
// pointed elsewhere meanwhile (os.dup2 onto fd 1) stays where the program put it.
bool is_pipe(int fd, int pipe) noexcept { return pipe >= 0 && same_file(fd, pipe); }

int dup_onto(int from, int to) noexcept {
  int r;
  do r = ::dup2(from, to);
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

OutputLog::OutputLog(std::size_t capacity) : bytes_(std::max<std::size_t>(capacity, 1)) {
  chunks_.reserve(std::max<std::size_t>(bytes_.size() / 256, 16));
}

void OutputLog::append(Stream stream, std::string_view bytes) noexcept {
  received_ += bytes.size();
  lines_ += static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  if (bytes.empty()) return;
  const std::size_t capacity = bytes_.size();
  if (bytes.size() > capacity) {  // only its end fits
    dropped_ += bytes.size() - capacity;
    bytes.remove_prefix(bytes.size() - capacity);
  }
  const bool new_chunk = chunks_.empty() || chunks_.back().stream != stream;
  const bool chunks_full = new_chunk && chunks_.size() == chunks_.capacity();
  if (size_ + bytes.size() > capacity || chunks_full) {
    const std::size_t needed = size_ + bytes.size() > capacity ? size_ + bytes.size() - capacity : 0;
    drop_oldest(std::max(needed, capacity / kDropStep), chunks_full ? chunks_.capacity() / 4 : 0);
  }
  std::memcpy(bytes_.data() + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  if (!chunks_.empty() && chunks_.back().stream == stream) {
    chunks_.back().size += static_cast<std::uint32_t>(bytes.size());
  } else {
    chunks_.push_back({stream, static_cast<std::uint32_t>(bytes.size())});  // within the reserve
  }
}

void OutputLog::drop_oldest(std::size_t bytes, std::size_t chunks) noexcept {
  bytes = std::min(bytes, size_);
  const std::size_t search = std::min(size_ - bytes, kLineSearch);
  if (const void* lf = std::memchr(bytes_.data() + bytes, '\n', search)) {
    bytes = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes_.data()) + 1;
  }
  std::size_t whole = 0, gone = 0;
  while (whole < chunks_.size() && (whole < chunks || gone + chunks_[whole].size <= bytes)) {
    gone += chunks_[whole++].size;
  }
  if (gone < bytes) {  // the front of the next chunk; it is there, since bytes <= size_
    chunks_[whole].size -= static_cast<std::uint32_t>(bytes - gone);
    gone = bytes;
  }
  chunks_.erase(chunks_.begin(), chunks_.begin() + static_cast<std::ptrdiff_t>(whole));
  std::memmove(bytes_.data(), bytes_.data() + gone, size_ - gone);
  size_ -= gone;
  dropped_ += gone;
}

void OutputLog::clear() noexcept {
  size_ = 0;
  chunks_.clear();
}

OutputCapture::OutputCapture(std::array<int, 2> fds, std::size_t capacity)
    : fds_(fds), log_(capacity), chunk_(kReadSize) {
  if (capturing.exchange(true)) fail("capturing the output", EBUSY);
  // Buffered C output belongs before the capture.
  std::fflush(stdout);
  std::fflush(stderr);
  std::array<int, 2> write_ends{-1, -1};
  std::size_t redirected = 0;
  try {
    streams_ = ::fcntl(fds[1], F_GETFD) == -1 ? 1 : 2;
    // Two streams headed to one place (a terminal, as a rule) share a pipe: their
    // order across streams is then kept exactly, which two pipes cannot tell, and
    // where they go needs no telling apart.
    pipe_count_ = streams_ == 2 && same_file(fds[0], fds[1]) ? 1 : streams_;
    for (std::size_t i = 0; i < streams_; ++i) {
      saved_[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 0);
      if (saved_[i] < 0) fail("keeping the terminal's descriptor");
    }
    for (std::size_t i = 0; i < pipe_count_; ++i) {
      int ends[2];
      if (::pipe2(ends, O_CLOEXEC) != 0) fail("creating a pipe for the output");
      pipes_[i] = ends[0];
      write_ends[i] = ends[1];
      if (::fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) fail("creating a pipe for the output");
#ifdef F_SETPIPE_SZ
      // More room, so that writers wait less while a frame is drawn; best effort.
      (void)::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kReadSize * 4));
#endif
    }
    for (; redirected < streams_; ++redirected) {
      const int pipe = write_ends[std::min(redirected, pipe_count_ - 1)];
      if (dup_onto(pipe, fds[redirected]) < 0) fail("redirecting the output");
    }
  } catch (...) {
    for (std::size_t i = 0; i < redirected; ++i) dup_onto(saved_[i], fds[i]);
    for (std::size_t i = 0; i < 2; ++i) {
      close_fd(write_ends[i]);
      close_fd(pipes_[i]);
      close_fd(saved_[i]);
    }
    capturing.store(false);
    throw;
  }
  // The captured descriptors are now the only writers we hold: when every holder has
  // closed them, the pipes read as ended.
  for (int& fd : write_ends) close_fd(fd);
}

bool OutputCapture::drain() noexcept {
  bool any = false;
  for (std::size_t i = 0; i < pipe_count_; ++i) {
    for (int reads = 0; reads < kReadsPerDrain && pipes_[i] >= 0; ++reads) {
      ssize_t n = ::read(pipes_[i], chunk_.data(), chunk_.size());
      if (n > 0) {
        log_.append(static_cast<Stream>(i), {chunk_.data(), static_cast<std::size_t>(n)});
        any = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // No writer left (someone closed the descriptor) or a broken pipe: a pipe that
      // would wake every wait is no longer waited on (poll ignores -1).
      close_fd(pipes_[i]);
    }
  }
  return any;
}

void OutputCapture::write_out(const std::array<int, 2>& to) noexcept {
  log_.for_each_chunk([&](Stream stream, std::string_view bytes) {
    ends_line_[static_cast<std::size_t>(stream)] = bytes.ends_with('\n');
    try {
      FdOutput(to[static_cast<std::size_t>(stream)]).write(bytes);
    } catch (const std::exception&) {  // a stream that cannot be written loses its text
    }
  });
  log_.clear();
}

void OutputCapture::finish() noexcept {
  if (finished_) return;
  finished_ = true;
  std::fflush(stdout);
  std::fflush(stderr);
  // Written out while the pipes still take what comes meanwhile, so that it follows
  // in order; bounded, in case a writer never stops.
  for (int round = 0; round < 16; ++round) {
    drain();
    if (log_.text().empty()) break;
    write_out(saved_);
  }
  for (std::size_t i = 0; i < streams_; ++i) {
    if (is_pipe(fds_[i], pipes_[std::min(i, pipe_count_ - 1)])) dup_onto(saved_[i], fds_[i]);
  }
  // What was written between the last read and the switch back.
  drain();
  write_out(saved_);
  if (log_.dropped() > 0) {
    char line[160];
    // On a line of its own, also after output that did not end its last line.
    int n = std::snprintf(line, sizeof line,
                          "%svorlisk: %llu bytes of output were dropped (the oldest; the display "
                          "keeps the newest %zu bytes)\n",
                          ends_line_[std::min(streams_, pipe_count_) - 1] ? "" : "\n",
                          static_cast<unsigned long long>(log_.dropped()),
                          log_.capacity());
    const std::size_t length = std::min(static_cast<std::size_t>(std::max(n, 0)), sizeof line - 1);
    try {
      FdOutput(saved_[streams_ - 1]).write({line, length});
    } catch (const std::exception&) {
    }
  }
  for (std::size_t i = 0; i < 2; ++i) {
    close_fd(pipes_[i]);
    close_fd(saved_[i]);
  }
  capturing.store(false);
}

}  // namespace vorlisk::tui::term
