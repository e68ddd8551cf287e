// The terminal thread: takes over the terminal, draws the view of the current mode
// at the render interval, reacts to q, p, m and s, and gives the terminal back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "tui/logger/mode.hpp"
#include "tui/logger/shared_state.hpp"
#include "tui/term/backend.hpp"
#include "tui/term/capture.hpp"
#include "tui/term/frame.hpp"
#include "tui/term/tty.hpp"

namespace vorlisk::tui {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::steady_clock::time_point now() = 0;
};

// Everything the loop touches outside the shared state.
struct TuiDevices {
  term::Input& input;
  term::Output& output;
  term::RawMode& raw_mode;
  term::SizeSource& size;
  Clock& clock;
  // Where the process's output goes while the display is on; none: it is not captured.
  term::OutputCapture* capture = nullptr;
};

using TuiView = std::function<void(TUIMode, term::Frame&, const SharedState&)>;

// Escape sequences written around the display.
inline constexpr char kEnterAlternateScreen[] = "\x1b[?1049h";
inline constexpr char kLeaveScreen[] = "\x1b[?1049l\x1b[?25h";  // main screen, cursor shown

// Runs the display until `running` is cleared or q is pressed. Returns normally after
// giving the terminal back; throws std::system_error on a terminal failure, and lets
// an exception from `view` pass. On every way out the terminal is given back first:
// raw mode off with the saved settings, the main screen, the cursor shown. When raw
// mode cannot be enabled, nothing was changed and nothing is written.
void run_tui(SharedState state, std::uint64_t render_interval_ms, const TuiDevices& devices,
             const TuiView& view);

// The thread body: runs the display on the process's terminal with the real views,
// capturing what the process writes meanwhile and writing it out once the terminal is
// given back. On a failure it writes one line "TUI error: <text>" to standard error
// (after that output) and ends. `can_draw` is false where TERM says the terminal takes
// no escape sequences; the caller reads it, since the environment is the
// interpreter's to change while this thread runs.
void tui_thread_main(SharedState state, std::uint64_t render_interval_ms, bool can_draw) noexcept;

}  // namespace vorlisk::tui
