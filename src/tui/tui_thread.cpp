#include "tui/tui_thread.hpp"

#include <array>
#include <cstdio>
#include <exception>
#include <optional>
#include <unistd.h>

#include "tui/logger/running_flag.hpp"
#include "tui/term/keys.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui {

namespace {

constexpr std::chrono::milliseconds kPollTimeout{10};

// Gives the terminal back. restore() does it and reports the first failure; if it
// was not called, the destructor does it on the way out of an error, ignoring
// failures (the error on its way is the one worth reporting).
class Restorer {
 public:
  explicit Restorer(const TuiDevices& devices) noexcept : devices_(devices) {}
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;
  ~Restorer() {
    if (done_) return;
    try {
      restore();
    } catch (...) {
    }
  }

  // Every step is tried even after one failed, so a failing screen command still
  // leaves raw mode off.
  void restore() {
    done_ = true;
    std::exception_ptr first;
    try {
      devices_.raw_mode.disable();
    } catch (...) {
      first = std::current_exception();
    }
    try {
      devices_.output.write(kLeaveScreen);
      devices_.output.flush();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    if (first) std::rethrow_exception(first);
  }

 private:
  const TuiDevices& devices_;
  bool done_ = false;
};

void act(term::Key key, const SharedState& state) {
  switch (key) {
    case term::Key::Quit:
      state.quit_requested->store(true, std::memory_order_release);
      break;
    case term::Key::Pause:
      state.paused->store(!state.paused->load(std::memory_order_relaxed), std::memory_order_relaxed);
      break;
    case term::Key::Mode:
      state.mode->advance();
      break;
    case term::Key::Save:
      state.save_requested->store(true, std::memory_order_relaxed);
      break;
  }
}

class SteadyClock final : public Clock {
 public:
  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
};

}  // namespace

void run_tui(SharedState state, std::uint64_t render_interval_ms, const TuiDevices& devices,
             const TuiView& view) {
  const std::chrono::nanoseconds interval = millis_to_duration(render_interval_ms);
  if (devices.capture) state.output = &devices.capture->log();

  devices.raw_mode.enable();  // on failure nothing has changed yet
  Restorer restorer(devices);
  devices.output.write(kEnterAlternateScreen);
  devices.output.flush();
  // Destroyed before the restorer acts on the way out, so its cursor handling comes
  // first and the screen commands last.
  std::optional<term::Terminal> terminal(std::in_place, devices.output);

  auto last_draw = devices.clock.now();
  bool showing_paused = false;  // the frame on screen was drawn while paused
  term::KeyDecoder decoder;
  std::array<unsigned char, 64> bytes;
  std::size_t next = 0, end = 0;  // bytes[next, end) not yet decoded

  while (state.running->is_running()) {
    // One key per turn; bytes after it wait for the next turns, which then do not
    // poll until they are used up.
    if (next == end) {
      next = end = 0;
      const bool keys = devices.input.poll(kPollTimeout);
      // Read at once, so that writers wait for the pipes as little as can be. Output
      // that ended the wait early is no idle poll for the key decoder.
      const bool output = devices.capture && devices.capture->drain();
      if (keys) {
        end = devices.input.read(bytes);
      } else if (!output) {
        decoder.idle();
      }
    }
    std::optional<term::Key> key;
    while (!key && next < end) key = decoder.feed(bytes[next++]);
    if (key == term::Key::Quit) {
      act(*key, state);
      break;  // no final frame
    }
    if (key) act(*key, state);

    if (devices.clock.now() - last_draw < interval) continue;
    // One frame after a pause, which the views mark as paused; then the screen keeps it.
    const bool paused = state.paused->load(std::memory_order_relaxed);
    if (paused && showing_paused) continue;  // last_draw kept
    TUIMode mode = state.mode->get();
    term::Size size = devices.size.size();
    terminal->draw(size, [&](term::Frame& frame) { view(mode, frame, state); });
    last_draw = devices.clock.now();
    showing_paused = paused;
  }

  terminal.reset();
  restorer.restore();
}

void tui_thread_main(SharedState state, std::uint64_t render_interval_ms, bool can_draw) noexcept {
  // One formatted write per line, so it is not interleaved with other output; by
  // now the terminal has been given back, so the line is readable.
  try {
    std::unique_ptr<term::Tty> tty = term::Tty::open(can_draw);
    // Destroyed after run_tui has given the terminal back: only then are the
    // descriptors put back and the kept output written out. Without a capture (no
    // descriptors left, another one on) the display runs all the same.
    std::optional<term::OutputCapture> capture;
    try {
      capture.emplace();
      tty->draw_on(capture->terminal());
      tty->also_wake_on(capture->pipes());
    } catch (const std::exception&) {
    }
    term::FdOutput output(capture ? capture->terminal() : STDOUT_FILENO);
    SteadyClock clock;
    TuiDevices devices{*tty, output, *tty, *tty, clock, capture ? &*capture : nullptr};
    run_tui(std::move(state), render_interval_ms, devices, &views::render_view);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "TUI error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "TUI error: unknown failure\n");
  }
}

}  // namespace vorlisk::tui
