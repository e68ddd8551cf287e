#include "tui/term/signals.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <unistd.h>

namespace vorlisk::tui::term {

namespace {

constexpr char kEnter[] = "\x1b[?1049h";
constexpr char kLeave[] = "\x1b[?1049l\x1b[?25h";  // main screen, cursor shown

// The terminal held, or -1. The settings are written only while it is -1, so a
// handler that reads a descriptor reads settings that belong to it.
std::atomic<int> held_fd{-1};
// False from the start of a release on, so that a SIGCONT arriving then cannot make
// the terminal raw again after it was given back.
std::atomic<bool> retaking{false};
std::atomic<bool> redraw{false};
termios saved_settings{}, raw_settings{};

// Writes what the terminal takes without waiting: a handler must not hang on a
// terminal nobody reads. The flag is set on this process's own open /dev/tty.
void write_now(int fd, const char* bytes, std::size_t size) noexcept {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags);
}

// The saved settings, and the main screen where `screen`; false where the settings
// could not be set.
bool give_back(int fd, bool screen = true) noexcept {
  const bool restored = ::tcsetattr(fd, TCSANOW, &saved_settings) == 0;
  if (screen) write_now(fd, kLeave, sizeof kLeave - 1);
  return restored;
}

// Takes the terminal again after the process was continued, unless it is in the
// background now (its next continuing in the foreground does it then).
void retake(int fd) noexcept {
  if (!retaking.load() || ::tcgetpgrp(fd) != ::getpgrp()) return;
  ::tcsetattr(fd, TCSANOW, &raw_settings);
  write_now(fd, kEnter, sizeof kEnter - 1);
  redraw.store(true);
}

void set_default(int signal, struct sigaction* previous = nullptr) noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, previous);
}

void on_fatal(int signal) {
  const int fd = held_fd.load();
  if (fd >= 0) give_back(fd);
  set_default(signal);
  ::raise(signal);  // installed with SA_NODEFER: the default action happens here
}

void on_stop(int signal) {
  const int error = errno;
  const int fd = held_fd.load();
  if (fd >= 0) give_back(fd);
  redraw.store(false);
  struct sigaction ours {};
  set_default(signal, &ours);
  ::raise(signal);  // the process stops here until SIGCONT
  ::sigaction(signal, &ours, nullptr);
  // The process was continued; SIGCONT's handler has taken the terminal again,
  // unless the stop never happened (an orphaned process group ignores it).
  if (fd >= 0 && !redraw.load()) retake(fd);
  errno = error;
}

void on_continue(int) {
  const int error = errno;
  const int fd = held_fd.load();
  if (fd >= 0) retake(fd);
  errno = error;
}

struct Handled {
  int signal;
  void (*handler)(int);
  int flags;
};
// SA_NODEFER lets the handlers raise their own signal with the default action.
const Handled kHandled[] = {{SIGTERM, on_fatal, SA_NODEFER},
                            {SIGHUP, on_fatal, SA_NODEFER},
                            {SIGQUIT, on_fatal, SA_NODEFER},
                            {SIGTSTP, on_stop, SA_NODEFER | SA_RESTART},
                            {SIGCONT, on_continue, SA_RESTART}};
constexpr std::size_t kCount = std::size(kHandled);

std::mutex installing;  // hold and release come from threads, never from handlers
struct sigaction previous[kCount];
bool installed[kCount] = {};

void uninstall() noexcept {
  for (std::size_t i = 0; i < kCount; ++i) {
    if (!installed[i]) continue;
    installed[i] = false;
    struct sigaction current {};
    if (::sigaction(kHandled[i].signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == kHandled[i].handler) {
      ::sigaction(kHandled[i].signal, &previous[i], nullptr);
    }
  }
}

// Gives the terminal its settings back, and the screen too where `screen`, then takes
// the handlers away. Restored before the handlers go, so that no moment is left in
// which a signal would end the process with the terminal raw.
bool let_go(bool screen) noexcept {
  std::lock_guard lock(installing);
  retaking.store(false);
  const int fd = held_fd.load();
  const bool restored = fd < 0 || give_back(fd, screen);
  const int error = errno;
  uninstall();
  held_fd.store(-1);
  errno = error;
  return restored;
}

}  // namespace

void hold_terminal(int fd, const termios& saved, const termios& raw) noexcept {
  std::lock_guard lock(installing);
  held_fd.store(-1);
  saved_settings = saved;
  raw_settings = raw;
  held_fd.store(fd);
  retaking.store(true);
  for (std::size_t i = 0; i < kCount; ++i) {
    if (installed[i]) continue;
    struct sigaction current {};
    if (::sigaction(kHandled[i].signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;  // the program's own
    struct sigaction ours {};
    ours.sa_handler = kHandled[i].handler;
    sigemptyset(&ours.sa_mask);
    ours.sa_flags = kHandled[i].flags;
    installed[i] = ::sigaction(kHandled[i].signal, &ours, &previous[i]) == 0;
  }
}

bool release_terminal() noexcept { return let_go(false); }

void give_back_terminal_now() noexcept { let_go(true); }

bool terminal_held() noexcept { return held_fd.load() >= 0; }

bool take_redraw_request() noexcept { return redraw.exchange(false); }

}  // namespace vorlisk::tui::term
