#include "tui/tui_thread.hpp"

#include <array>
#include <exception>
#include <optional>
#include <thread>

#include "tui/logger/running_flag.hpp"
#include "tui/term/keys.hpp"

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

// One display and its running flag.
class OneDisplay final : public Displays {
 public:
  OneDisplay(SharedState state, std::uint64_t render_interval_ms)
      : shown_{1, std::move(state), render_interval_ms} {}
  bool front(Shown& shown) override {
    if (quit_ || !shown_.state.running->is_running()) return false;
    if (shown.id != shown_.id) shown = shown_;
    return true;
  }
  void quit(std::uint64_t) override { quit_ = true; }

 private:
  Shown shown_;
  bool quit_ = false;
};

}  // namespace

void run_tui(Displays& displays, const TuiDevices& devices, const TuiView& view) {
  devices.raw_mode.enable();  // on failure nothing has changed yet
  Restorer restorer(devices);
  devices.output.write(kEnterAlternateScreen);
  devices.output.flush();
  // Destroyed before the restorer acts on the way out, so its cursor handling comes
  // first and the screen commands last.
  std::optional<term::Terminal> terminal(std::in_place, devices.output);

  Displays::Shown shown;
  std::chrono::nanoseconds interval{};
  std::chrono::steady_clock::time_point last_draw{};
  bool draw_now = false;        // the screen does not show the front display's last frame
  bool showing_paused = false;  // the frame on screen was drawn while paused
  term::KeyDecoder decoder;
  std::array<unsigned char, 64> bytes;
  std::size_t next = 0, end = 0;  // bytes[next, end) not yet decoded

  for (std::uint64_t id = 0; displays.front(shown);) {
    if (shown.id != id) {  // another display in front: its own keys, interval and frame
      draw_now = id != 0;  // the first frame of all comes after one interval, as later ones
      id = shown.id;
      if (devices.capture) shown.state.output = &devices.capture->log();
      interval = millis_to_duration(shown.render_interval_ms);
      last_draw = devices.clock.now();
      next = end = 0;
    }
    const SharedState& state = shown.state;
    if (!devices.raw_mode.in_foreground()) {
      if (devices.capture) devices.capture->drain();
      std::this_thread::sleep_for(kPollTimeout);
      continue;
    }
    if (devices.raw_mode.take_redraw()) draw_now = true;
    // One key per turn; bytes after it wait for the next turns, which then do not
    // poll until they are used up. A screen to draw whole is drawn before any key.
    if (next == end && !draw_now) {
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
    if (key) act(*key, state);
    if (key == term::Key::Quit) {
      displays.quit(id);  // no final frame
      continue;
    }

    if (!draw_now && devices.clock.now() - last_draw < interval) continue;
    // One frame after a pause, which the views mark as paused; then the screen keeps it.
    const bool paused = state.paused->load(std::memory_order_relaxed);
    if (paused && showing_paused && !draw_now) continue;  // last_draw kept
    if (draw_now) terminal->redraw_all();
    TUIMode mode = state.mode->get();
    term::Size size = devices.size.size();
    terminal->draw(size, [&](term::Frame& frame) { view(mode, frame, state); });
    last_draw = devices.clock.now();
    showing_paused = paused;
    draw_now = false;
  }

  terminal.reset();
  restorer.restore();
}

void run_tui(SharedState state, std::uint64_t render_interval_ms, const TuiDevices& devices,
             const TuiView& view) {
  OneDisplay display(std::move(state), render_interval_ms);
  run_tui(display, devices, view);
}

}  // namespace vorlisk::tui
