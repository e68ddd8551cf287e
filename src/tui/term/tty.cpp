#include "tui/term/tty.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "tui/term/signals.hpp"

namespace vorlisk::tui::term {

namespace {

[[noreturn]] void fail(const char* what, int error = errno) {
  throw std::system_error(error, std::generic_category(), what);
}

// Waits until `fd` is ready for `events`; false on timeout. Interruptions count as
// a timeout so callers simply try again at their next turn.
bool wait_for(int fd, short events, int timeout_ms, const char* what) {
  struct pollfd p {fd, events, 0};
  int n = ::poll(&p, 1, timeout_ms);
  if (n < 0) {
    if (errno == EINTR) return false;
    fail(what);
  }
  if (n == 0) return false;
  if (p.revents & POLLNVAL) fail(what, EBADF);
  return true;  // POLLHUP and POLLERR too: the read or write reports what happened
}

}  // namespace

void FdOutput::write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    // A descriptor someone made non-blocking: wait a while for room, not forever,
    // so that close() is never held up by a stuck terminal.
    if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
        wait_for(fd_, POLLOUT, 1000, "writing to the terminal")) {
      continue;
    }
    fail("writing to the terminal");
  }
}

std::unique_ptr<Tty> Tty::open(bool can_draw) {
  if (!::isatty(STDOUT_FILENO)) {
    throw std::runtime_error(
        "standard output is not a terminal, so nothing is drawn; metrics and the CSV file go on");
  }
  if (!can_draw) {
    throw std::runtime_error(
        "TERM says the terminal cannot draw (dumb or unset), so nothing is drawn; metrics and "
        "the CSV file go on");
  }
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) fail("no controlling terminal");
  std::unique_ptr<Tty> tty(new Tty(fd));
  if (::tcgetpgrp(fd) != ::getpgrp()) {
    fail("the terminal belongs to another process group (running in the background?)", EPERM);
  }
  return tty;
}

Tty::~Tty() {
  if (raw_) release_terminal();  // the loop restores; this is a last resort
  ::close(fd_);
}

bool Tty::is(int fd) const noexcept {
  struct stat mine {}, other {};
  return ::fstat(fd_, &mine) == 0 && ::fstat(fd, &other) == 0 && S_ISCHR(other.st_mode) &&
         mine.st_rdev == other.st_rdev;
}

bool Tty::poll(std::chrono::milliseconds timeout) {
  const int timeout_ms = static_cast<int>(timeout.count());
  if (wake_.empty()) return wait_for(fd_, POLLIN, timeout_ms, "polling the terminal");
  std::array<struct pollfd, 3> p{};
  const std::size_t n = 1 + std::min(wake_.size(), p.size() - 1);
  p[0] = {fd_, POLLIN, 0};
  for (std::size_t i = 1; i < n; ++i) p[i] = {wake_[i - 1], POLLIN, 0};
  if (::poll(p.data(), n, timeout_ms) < 0) {
    if (errno == EINTR) return false;
    fail("polling the terminal");
  }
  if (p[0].revents & POLLNVAL) fail("polling the terminal", EBADF);
  return p[0].revents != 0;
}

std::size_t Tty::read(std::span<unsigned char> out) {
  for (;;) {
    ssize_t n = ::read(fd_, out.data(), out.size());
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) fail("reading the terminal: it was closed", EIO);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    fail("reading the terminal");
  }
}

void Tty::enable() {
  struct termios settings {};
  if (::tcgetattr(fd_, &settings) != 0) fail("reading the terminal settings");
  saved_ = settings;
  ::cfmakeraw(&settings);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &settings) != 0) fail("enabling raw mode");
  raw_ = true;
  hold_terminal(fd_, saved_, settings);
}

void Tty::disable() {
  if (!raw_) return;
  raw_ = false;
  if (!release_terminal()) fail("disabling raw mode");
}

bool Tty::in_foreground() { return ::tcgetpgrp(fd_) == ::getpgrp(); }

bool Tty::take_redraw() { return take_redraw_request(); }

Size Tty::size() {
  struct winsize ws {};
  if (::ioctl(screen_, TIOCGWINSZ, &ws) != 0) fail("reading the terminal size");
  return Size{ws.ws_col, ws.ws_row};
}

}  // namespace vorlisk::tui::term
