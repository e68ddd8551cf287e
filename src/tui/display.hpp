// The process's one display. Every logger that draws is shown through it, by one
// terminal thread: the newest logger is in front; when it ends, the one behind it
// comes back; the terminal's settings are saved when the first display starts and
// given back once, when the last one ends. So two frames are never drawn at once,
// and no logger can "restore" the raw mode another one left.
#pragma once

#include <chrono>
#include <cstdint>

#include "tui/logger/shared_state.hpp"

namespace vorlisk::tui {

// How long ending the last display waits for the terminal to be given back.
inline constexpr std::chrono::milliseconds kGiveBackWait{2000};

// Shows `state` in front of the displays already shown, starting the terminal thread
// when there is none, and returns the display's id for end_display(). `can_draw` is
// false where TERM says the terminal takes no escape sequences (the thread then
// writes one line saying so and draws nothing); the caller reads it, since the
// environment is the interpreter's to change meanwhile. Throws std::system_error when
// the thread cannot start.
std::uint64_t show_display(SharedState state, std::uint64_t render_interval_ms, bool can_draw);

// Ends display `id`; the one behind it comes to the front. After the last one, waits
// until the terminal thread has given the terminal back and written out the output
// it kept, but at most kGiveBackWait: a terminal that takes no output (a stopped
// pager, a frozen connection) does not hold the caller. The thread is then left to
// finish by itself, drawing nothing more, and the terminal's settings are restored
// from here.
void end_display(std::uint64_t id) noexcept;

}  // namespace vorlisk::tui
