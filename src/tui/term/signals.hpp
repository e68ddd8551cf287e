// Signals that would otherwise leave the terminal raw and on the alternate screen.
//
// While a display holds the terminal, SIGTERM, SIGHUP and SIGQUIT first give it back
// (the saved settings, the main screen, the cursor) and then take their default
// action; SIGTSTP gives it back before the process stops, and SIGCONT takes it again
// and asks for a whole new frame. Each handler is installed only where the signal's
// disposition is the default when the display starts: a handler the program
// installed itself is left alone. The handlers use only calls that are safe in a
// signal handler (tcsetattr, fcntl, write, sigaction, raise).
#pragma once

#include <termios.h>

namespace vorlisk::tui::term {

// Installs the handlers for the terminal `fd`, whose settings were `saved` before the
// display made them `raw`. One terminal at a time; a second call replaces the first's
// settings.
void hold_terminal(int fd, const termios& saved, const termios& raw) noexcept;

// Gives the terminal its saved settings back, then puts back the handlers that were
// there before hold_terminal(), where ours are still installed. False, with errno
// set, when the settings could not be set.
bool release_terminal() noexcept;

// Gives the held terminal back at once, from any thread, as the handlers do, without
// waiting for the terminal to take the bytes; then releases it. For when the thread
// drawing on it is stuck.
void give_back_terminal_now() noexcept;

// Whether a display holds a terminal now.
bool terminal_held() noexcept;

// True once after the process was continued while holding the terminal: whatever is
// on the screen is not the last frame any more.
bool take_redraw_request() noexcept;

}  // namespace vorlisk::tui::term
