// What the terminal thread needs from a terminal besides a place to write: key
// input, raw mode and the screen size. Tests replace each with a fake; Tty is the
// real one.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <termios.h>
#include <unistd.h>

#include "tui/term/backend.hpp"
#include "tui/term/rect.hpp"

namespace vorlisk::tui::term {

// Every call throws std::system_error on failure.
class Input {
 public:
  virtual ~Input() = default;
  // True when bytes can be read; waits at most `timeout`.
  virtual bool poll(std::chrono::milliseconds timeout) = 0;
  // Reads what is there (at least one byte after a true poll), up to out.size().
  virtual std::size_t read(std::span<unsigned char> out) = 0;
};

class RawMode {
 public:
  virtual ~RawMode() = default;
  // Saves the terminal's settings, then switches off echo, line editing and signal
  // keys. Throws std::system_error and changes nothing when it cannot.
  virtual void enable() = 0;
  // Puts the saved settings back. Throws std::system_error.
  virtual void disable() = 0;
  // False while the process is in the background, where reading keys or drawing
  // would stop it or write over the shell.
  virtual bool in_foreground() { return true; }
  // True once after the terminal was taken again (the process was stopped and
  // continued): the screen no longer shows the last frame.
  virtual bool take_redraw() { return false; }
};

class SizeSource {
 public:
  virtual ~SizeSource() = default;
  virtual Size size() = 0;  // throws std::system_error
};

// Writes to a file descriptor, all of each piece, retrying interrupted writes.
class FdOutput final : public Output {
 public:
  explicit FdOutput(int fd) noexcept : fd_(fd) {}
  void write(std::string_view bytes) override;
  void flush() override {}  // nothing is buffered here

 private:
  int fd_;
};

// The controlling terminal, for a process whose standard output is that terminal.
//
// Keys are read from /dev/tty, not from standard input: the script's standard input
// may be a pipe or a file it reads, and the keys belong to whoever sits at the
// terminal. Raw mode is set on the same descriptor; the size is read from where the
// frames go, standard output unless draw_on() says otherwise.
class Tty final : public Input, public RawMode, public SizeSource {
 public:
  // Throws, having touched nothing: std::runtime_error when standard output is not a
  // terminal or `can_draw` is false (a TERM of "dumb" or none: such terminals take no
  // escape sequences; the text says what goes on without a display), std::system_error when there
  // is no controlling terminal or when this process is not in the terminal's
  // foreground (changing its settings from the background would stop the process).
  static std::unique_ptr<Tty> open(bool can_draw = true);

  // The terminal's own descriptor: frames and the sequences that give the terminal
  // back go here when standard output is this terminal, so that a redirected fd 1
  // cannot take them.
  int fd() const noexcept { return fd_; }
  // Whether `fd` refers to this terminal.
  bool is(int fd) const noexcept;
  // The size is read from `fd`, the descriptor the frames go to.
  void draw_on(int fd) noexcept { screen_ = fd; }
  // poll() also wakes, returning false, when one of `fds` is readable; they must stay
  // valid while it is used (-1 entries are skipped).
  void also_wake_on(std::span<const int> fds) noexcept { wake_ = fds; }

  ~Tty() override;
  Tty(const Tty&) = delete;
  Tty& operator=(const Tty&) = delete;

  bool poll(std::chrono::milliseconds timeout) override;
  std::size_t read(std::span<unsigned char> out) override;
  // While raw, the terminal signals give the terminal back first (term/signals.hpp).
  void enable() override;
  void disable() override;
  // The terminal was given back elsewhere (the display took too long to end): the
  // saved settings are not put back from here any more.
  void forget_raw() noexcept { raw_ = false; }
  bool in_foreground() override;
  bool take_redraw() override;
  Size size() override;

 private:
  explicit Tty(int fd) noexcept : fd_(fd) {}

  int fd_;
  int screen_ = STDOUT_FILENO;
  std::span<const int> wake_;
  bool raw_ = false;
  struct termios saved_ {};
};

}  // namespace vorlisk::tui::term
