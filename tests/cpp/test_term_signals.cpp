// The terminal signals' handlers: installed only over default dispositions, put back
// when the terminal is released, and a fatal signal giving the terminal back before
// the process ends.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tui/term/signals.hpp"

namespace vorlisk::tui::term {
namespace {

constexpr int kHandled[] = {SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};

void (*handler_of(int signal))(int) {
  struct sigaction action {};
  sigaction(signal, nullptr, &action);
  return action.sa_handler;
}

void set_handler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void programs_own(int) {}
void installed_later(int) {}

struct Pty {
  int master = -1, slave = -1;
  termios cooked{}, raw{};
  Pty() {
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    tcgetattr(slave, &cooked);
    raw = cooked;
    cfmakeraw(&raw);
  }
  ~Pty() {
    close(master);
    close(slave);
  }
};

TEST(TerminalSignals, HandlersGoOnlyOverDefaultsAndOnlyOursAreTakenAway) {
  Pty pty;
  set_handler(SIGHUP, programs_own);
  hold_terminal(pty.slave, pty.cooked, pty.raw);
  for (int signal : kHandled) {
    EXPECT_EQ(handler_of(signal) == programs_own, signal == SIGHUP) << signal;
    EXPECT_NE(handler_of(signal), SIG_DFL) << signal;
  }
  EXPECT_TRUE(terminal_held());
  set_handler(SIGQUIT, installed_later);  // the program's, after ours
  EXPECT_TRUE(release_terminal());
  EXPECT_FALSE(terminal_held());
  for (int signal : kHandled) {
    EXPECT_EQ(handler_of(signal), signal == SIGHUP    ? programs_own
                                  : signal == SIGQUIT ? installed_later
                                                      : SIG_DFL)
        << signal;
  }
  set_handler(SIGHUP, SIG_DFL);
  set_handler(SIGQUIT, SIG_DFL);
}

// In a child: raw mode held, then SIGTERM. The child ends by the signal, with the
// terminal's settings and main screen given back.
TEST(TerminalSignals, AFatalSignalGivesTheTerminalBackThenTakesItsDefaultAction) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer runs signal handlers at points of its own, not in raise()";
#endif
  for (int signal : {SIGTERM, SIGHUP, SIGQUIT}) {
    Pty pty;
    const pid_t child = fork();
    if (child == 0) {
      tcsetattr(pty.slave, TCSANOW, &pty.raw);
      hold_terminal(pty.slave, pty.cooked, pty.raw);
      raise(signal);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    termios now{};
    tcgetattr(pty.slave, &now);
    EXPECT_EQ(now.c_lflag, pty.cooked.c_lflag);
    EXPECT_EQ(now.c_oflag, pty.cooked.c_oflag);
    char out[64] = {};
    struct pollfd ready {pty.master, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1);  // never a read that waits for good
    EXPECT_GT(read(pty.master, out, sizeof out - 1), 0);
    EXPECT_EQ(std::string(out), "\x1b[?1049l\x1b[?25h");
  }
}

}  // namespace
}  // namespace vorlisk::tui::term
