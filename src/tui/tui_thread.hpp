// The terminal thread: takes over the terminal, draws the view of the current mode
// at the render interval, reacts to q, p, m and s, and gives the terminal back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

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

// The displays one terminal shows. Only the one in front is drawn and takes the keys.
class Displays {
 public:
  struct Shown {
    std::uint64_t id = 0;  // 0: none yet
    SharedState state;
    std::uint64_t render_interval_ms = 0;
  };
  virtual ~Displays() = default;
  // Puts the display in front into `shown`, unless it is the one there already; false
  // when none is left.
  virtual bool front(Shown& shown) = 0;
  // q was pressed on display `id`: it ends, and the one behind it comes to the front.
  virtual void quit(std::uint64_t id) = 0;
};

// Runs the display until no display is left. Returns normally after giving the
// terminal back; throws std::system_error on a terminal failure, and lets an exception
// from `view` pass. On every way out the terminal is given back first: raw mode off
// with the saved settings, the main screen, the cursor shown. When raw mode cannot be
// enabled, nothing was changed and nothing is written. A display that comes to the
// front is drawn whole at once, as is the front one after the process was continued;
// nothing is read or drawn while the process is in the background.
void run_tui(Displays& displays, const TuiDevices& devices, const TuiView& view);

// One display, shown until `running` is cleared or q is pressed.
void run_tui(SharedState state, std::uint64_t render_interval_ms, const TuiDevices& devices,
             const TuiView& view);

}  // namespace vorlisk::tui
