#include "tui/display.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tui/logger/fork_generation.hpp"
#include "tui/term/capture.hpp"
#include "tui/term/signals.hpp"
#include "tui/term/tty.hpp"
#include "tui/tui_thread.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui {

namespace {

// The displays of one terminal thread's life, newest last.
class Run final : public Displays {
 public:
  bool front(Shown& shown) override {
    std::lock_guard lock(mutex);
    if (displays.empty() || abandoned.load()) {
      ending = true;  // from now on a new display starts a new thread
      return false;
    }
    if (shown.id != displays.back().id) shown = displays.back();
    return true;
  }
  void quit(std::uint64_t id) override { remove(id); }

  // Whether displays are left.
  bool remove(std::uint64_t id) {
    std::lock_guard lock(mutex);
    std::erase_if(displays, [&](const Shown& shown) { return shown.id == id; });
    return !displays.empty();
  }

  std::mutex mutex;
  std::condition_variable ended;
  std::vector<Shown> displays;
  bool ending = false;  // the thread gives the terminal back, or has ended
  bool done = false;    // the thread has ended
  // Set when the thread took too long to end: it must not touch the terminal again.
  std::atomic<bool> abandoned{false};
};

// Once the run is abandoned, frames and restoring are left undone: the terminal's
// settings were given back already, and it may belong to a newer display. Only the
// main screen is still asked for, where no display holds the terminal: the sequence
// may not have got through to a terminal that took nothing.
class Guarded final : public term::Output, public term::RawMode {
 public:
  Guarded(term::Tty& tty, term::Output& output, const std::atomic<bool>& abandoned)
      : tty_(tty), output_(output), abandoned_(abandoned) {}
  void write(std::string_view bytes) override {
    if (!abandoned_.load() || (bytes == kLeaveScreen && !term::terminal_held())) output_.write(bytes);
  }
  void flush() override {}
  void enable() override { tty_.enable(); }
  void disable() override { abandoned_.load() ? tty_.forget_raw() : tty_.disable(); }
  bool in_foreground() override { return tty_.in_foreground(); }
  bool take_redraw() override { return tty_.take_redraw(); }

 private:
  term::Tty& tty_;
  term::Output& output_;
  const std::atomic<bool>& abandoned_;
};

class SteadyClock final : public Clock {
 public:
  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
};

// Runs the displays on the process's terminal with the real views, capturing what the
// process writes meanwhile and writing it out once the terminal is given back. On a
// failure it writes one line "TUI error: <text>" to standard error (after that
// output) and ends.
void terminal_thread(std::shared_ptr<Run> run, bool can_draw) noexcept {
  // One formatted write per line, so it is not interleaved with other output; by
  // now the terminal has been given back, so the line is readable.
  try {
    std::unique_ptr<term::Tty> tty = term::Tty::open(can_draw);
    // Destroyed after run_tui has given the terminal back: only then are the
    // descriptors put back and the kept output written out. Without a capture (no
    // descriptors left) the display runs all the same.
    std::optional<term::OutputCapture> capture;
    try {
      capture.emplace();
      tty->also_wake_on(capture->pipes());
    } catch (const std::exception&) {
    }
    // Frames go to the terminal's own descriptor when standard output was that
    // terminal, so that a descriptor moved meanwhile cannot take them.
    const int standard_output = capture ? capture->terminal() : STDOUT_FILENO;
    const int screen = tty->is(standard_output) ? tty->fd() : standard_output;
    tty->draw_on(screen);
    term::FdOutput output(screen);
    Guarded guarded(*tty, output, run->abandoned);
    SteadyClock clock;
    TuiDevices devices{*tty, guarded, guarded, *tty, clock, capture ? &*capture : nullptr};
    run_tui(*run, devices, &views::render_view);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "TUI error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "TUI error: unknown failure\n");
  }
  {
    std::lock_guard lock(run->mutex);
    run->ending = run->done = true;
  }
  run->ended.notify_all();
}

struct Registry {
  std::mutex mutex;
  std::shared_ptr<Run> run;  // the thread's, while there is one
  std::thread thread;
  std::uint64_t last_id = 0;
  std::uint64_t generation = fork_generation();
};

Registry& registry() {
  // Never destroyed: an exit handler may still end displays. A forked child has
  // none of the parent's threads, and the parent's locks may have been held at the
  // fork: it starts afresh, leaving the parent's registry be.
  static Registry* registry = new Registry;
  if (registry->generation != fork_generation()) registry = new Registry;
  return *registry;
}

// Waits for the thread to end, at most kGiveBackWait, then lets it go.
void finish_run(Registry& registry) noexcept {
  Run& run = *registry.run;
  bool done;
  {
    std::unique_lock lock(run.mutex);
    done = run.ended.wait_for(lock, kGiveBackWait, [&] { return run.done; });
    if (!done) run.abandoned.store(true);
  }
  if (done) {
    registry.thread.join();
  } else {
    registry.thread.detach();  // it holds the run, the terminal and the capture it uses
    term::give_back_terminal_now();
  }
  registry.run.reset();
}

}  // namespace

std::uint64_t show_display(SharedState state, std::uint64_t render_interval_ms, bool can_draw) {
  Registry& registry = tui::registry();
  std::lock_guard lock(registry.mutex);
  const std::uint64_t id = ++registry.last_id;
  if (registry.run) {
    {
      std::lock_guard run_lock(registry.run->mutex);
      if (!registry.run->ending) {
        registry.run->displays.push_back({id, std::move(state), render_interval_ms});
        return id;
      }
    }
    finish_run(registry);  // the last display has just gone: this one starts afresh
  }
  auto run = std::make_shared<Run>();
  run->displays.push_back({id, std::move(state), render_interval_ms});
  registry.thread = std::thread(terminal_thread, run, can_draw);
  registry.run = std::move(run);
  return id;
}

void end_display(std::uint64_t id) noexcept {
  Registry& registry = tui::registry();
  std::lock_guard lock(registry.mutex);
  if (!registry.run || registry.run->remove(id)) return;
  finish_run(registry);
}

}  // namespace vorlisk::tui
