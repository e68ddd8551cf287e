// The terminal loop against a scripted keyboard, a fake clock and captured output:
// when frames are drawn, what the keys do, and that the terminal is given back on
// every way out.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <deque>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tui/logger/logger.hpp"
#include "tui/tui_thread.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using std::chrono::milliseconds;
using Time = std::chrono::steady_clock::time_point;

std::system_error io_error(const char* what) {
  return std::system_error(std::make_error_code(std::errc::io_error), what);
}

struct FakeClock final : Clock {
  Time t{};
  Time now() override { return t; }
  long ms() const { return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count(); }
};

// One poll each: bytes to read after `wait` ms, or a timeout after 10 ms when empty.
struct Poll {
  std::string bytes;
  long wait = 10;
};

// Replays its polls, then clears `running` as close() would.
struct FakeInput final : term::Input {
  FakeInput(FakeClock& clock, SharedState& state) : clock(clock), state(state) {}
  bool poll(milliseconds timeout) override {
    if (fail_poll_at == polls++) throw io_error("poll");
    if (script.empty()) {
      state.running->stop();
      clock.t += timeout;
      return false;
    }
    clock.t += milliseconds(script.front().wait);
    return !script.front().bytes.empty() || (script.pop_front(), false);
  }
  std::size_t read(std::span<unsigned char> out) override {
    if (fail_read) throw io_error("read");
    std::string bytes = script.front().bytes;
    script.pop_front();
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return bytes.size();
  }
  FakeClock& clock;
  SharedState& state;
  std::deque<Poll> script;
  int polls = 0;
  int fail_poll_at = -1;
  bool fail_read = false;
};

struct FakeOutput final : term::Output {
  void write(std::string_view bytes) override {
    if (writes++ == fail_write_at) throw io_error("write");
    text += bytes;
  }
  void flush() override {}
  std::string text;
  int writes = 0;
  int fail_write_at = -1;
};

struct FakeRawMode final : term::RawMode {
  void enable() override {
    if (fail_enable) throw io_error("enable");
    raw = true;
  }
  void disable() override {
    ++disables;
    raw = false;
    if (fail_disable) throw io_error("disable");
  }
  bool raw = false, fail_enable = false, fail_disable = false;
  int disables = 0;
};

// The sizes of successive frames; the last one repeats.
struct FakeSize final : term::SizeSource {
  term::Size size() override {
    if (fail) throw io_error("size");
    return sizes[std::min(calls++, sizes.size() - 1)];
  }
  std::vector<term::Size> sizes{{40, 10}};
  std::size_t calls = 0;
  bool fail = false;
};

struct Drawn {
  long ms;
  TUIMode mode;
  term::Rect area;
};

struct Loop : ::testing::Test {
  SharedState state = SharedState::create(TUIMode::Minimal, 4);
  FakeClock clock;
  FakeInput input{clock, state};
  FakeOutput output;
  FakeRawMode raw_mode;
  FakeSize size;
  std::vector<Drawn> frames;
  bool view_throws = false;

  void run(std::uint64_t interval_ms, std::vector<Poll> polls) {
    input.script.assign(polls.begin(), polls.end());
    TuiDevices devices{input, output, raw_mode, size, clock};
    run_tui(state, interval_ms, devices, [&](TUIMode mode, term::Frame& frame, const SharedState&) {
      if (view_throws) throw std::logic_error("view failed");
      frames.push_back({clock.ms(), mode, frame.area()});
    });
  }
  std::vector<long> frame_times() const {
    std::vector<long> t;
    for (const Drawn& d : frames) t.push_back(d.ms);
    return t;
  }
  void expect_restored() const {
    EXPECT_FALSE(raw_mode.raw);
    EXPECT_EQ(raw_mode.disables, 1);
    ASSERT_GE(output.text.size(), sizeof kLeaveScreen - 1);
    EXPECT_EQ(output.text.substr(output.text.size() - (sizeof kLeaveScreen - 1)), kLeaveScreen);
  }
};

std::vector<Poll> timeouts(int n) { return std::vector<Poll>(n, Poll{}); }

TEST_F(Loop, FirstFrameOneIntervalAfterSetupThenAtTheInterval) {
  run(100, timeouts(25));
  EXPECT_EQ(frame_times(), (std::vector<long>{100, 200}));
  EXPECT_EQ(output.text.rfind(kEnterAlternateScreen, 0), 0u);
}

TEST_F(Loop, IntervalZeroDrawsEveryTurnWhateverHappens) {
  run(0, {{"x", 3}, {}, {"\x1b[A", 1}, {}});
  EXPECT_EQ(frame_times(), (std::vector<long>{3, 13, 14, 24, 34}));  // the last turn too
}

TEST_F(Loop, KeysThatKeepComingNeitherDelayNorCrowdFrames) {
  std::vector<Poll> typing(30, Poll{"s", 7});
  run(20, typing);
  EXPECT_EQ(frame_times(), (std::vector<long>{21, 42, 63, 84, 105, 126, 147, 168, 189, 210}));
}

TEST_F(Loop, PauseDrawsNothingKeepsLastDrawAndModeChangesShowAfterResuming) {
  std::vector<Poll> polls = timeouts(4);            // t = 40
  polls.push_back({"p"});                           // 50: paused
  for (Poll p : timeouts(10)) polls.push_back(p);   // 150
  polls.push_back({"m"});                           // 160
  for (Poll p : timeouts(10)) polls.push_back(p);   // 260
  polls.push_back({"\x10"});                        // 270: Control-p resumes, draws at once
  for (Poll p : timeouts(10)) polls.push_back(p);   // 370
  run(100, polls);
  ASSERT_EQ(frame_times(), (std::vector<long>{270, 370}));
  EXPECT_EQ(frames[0].mode, TUIMode::Dashboard);
  EXPECT_FALSE(state.paused->load());
}

TEST_F(Loop, OneKeyPerTurnAndThreeModePressesComeBackRound) {
  run(0, {{"mQmsm\r\x03", 1}});
  // A turn per key, one for the ignored rest and one for the last, empty poll.
  std::vector<TUIMode> modes;
  for (const Drawn& d : frames) modes.push_back(d.mode);
  EXPECT_EQ(modes, (std::vector<TUIMode>{TUIMode::Dashboard, TUIMode::Chart, TUIMode::Minimal,
                                         TUIMode::Minimal, TUIMode::Minimal}));
  EXPECT_FALSE(state.quit_requested->load());
}

TEST_F(Loop, SizeIsReadBeforeEachFrame) {
  size.sizes = {{40, 10}, {80, 24}, {20, 5}};
  run(0, {{"a", 1}, {"b", 1}});
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].area, (term::Rect{0, 0, 40, 10}));
  EXPECT_EQ(frames[1].area, (term::Rect{0, 0, 80, 24}));
  EXPECT_EQ(frames[2].area, (term::Rect{0, 0, 20, 5}));
}

// The ways out of the loop, each of which must give the terminal back.
enum class Exit { Close, Quit, QuitWhilePaused, PollFails, ReadFails, ViewThrows, DrawFails,
                  SizeFails, AltScreenFails, RestoreFails };

class LoopExit : public Loop, public ::testing::WithParamInterface<Exit> {};

TEST_P(LoopExit, GivesTheTerminalBack) {
  std::vector<Poll> polls = timeouts(15);
  bool throws = true;
  switch (GetParam()) {
    case Exit::Close: throws = false; break;
    case Exit::Quit: polls.push_back({"q"}); throws = false; break;
    case Exit::QuitWhilePaused: polls = {{"p"}, {}, {}, {"\x11", 300}}; throws = false; break;
    case Exit::PollFails: input.fail_poll_at = 12; break;
    case Exit::ReadFails: polls.push_back({"q"}); input.fail_read = true; break;
    case Exit::ViewThrows: view_throws = true; break;
    case Exit::DrawFails: output.fail_write_at = 1; break;  // the first frame's write
    case Exit::SizeFails: size.fail = true; break;
    case Exit::AltScreenFails: output.fail_write_at = 0; break;
    case Exit::RestoreFails: raw_mode.fail_disable = true; break;
  }
  if (throws) {
    EXPECT_ANY_THROW(run(100, polls));
  } else {
    run(100, polls);
  }
  expect_restored();
  bool quit = GetParam() == Exit::Quit || GetParam() == Exit::QuitWhilePaused;
  EXPECT_EQ(state.quit_requested->load(), quit);
  if (GetParam() == Exit::QuitWhilePaused) {
    EXPECT_TRUE(frames.empty());
  }
}

std::string exit_name(const ::testing::TestParamInfo<Exit>& info) {
  constexpr const char* kNames[] = {"Close",     "Quit",       "QuitWhilePaused", "PollFails",
                                    "ReadFails", "ViewThrows", "DrawFails",       "SizeFails",
                                    "AltScreenFails", "RestoreFails"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Loop, LoopExit,
                         ::testing::Values(Exit::Close, Exit::Quit, Exit::QuitWhilePaused,
                                           Exit::PollFails, Exit::ReadFails, Exit::ViewThrows,
                                           Exit::DrawFails, Exit::SizeFails, Exit::AltScreenFails,
                                           Exit::RestoreFails),
                         exit_name);

TEST_F(Loop, ViewFailureHoldingTheHistoryPoisonsIt) {
  input.script = {Poll{"x", 150}};
  TuiDevices devices{input, output, raw_mode, size, clock};
  EXPECT_THROW(run_tui(state, 100, devices,
                       [](TUIMode, term::Frame&, const SharedState& s) {
                         auto history = s.history->lock();
                         throw std::logic_error("view failed");
                       }),
               std::logic_error);
  EXPECT_TRUE(state.history->poisoned());
  expect_restored();
}

TEST_F(Loop, NoTerminalTouchesNothing) {
  raw_mode.fail_enable = true;
  EXPECT_THROW(run(100, timeouts(20)), std::system_error);
  EXPECT_EQ(output.text, "");
  EXPECT_EQ(raw_mode.disables, 0);
}

// What the exit handler runs: an open logger is closed (its CSV buffer reaches the
// file), a destroyed one is no longer known.
TEST(OpenLoggers, AreClosedOnRequestAndForgottenWhenDestroyed) {
  testing::MemFile file;
  int fd = file.writer_fd();
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  {
    LoggerOptions options;
    options.csv_path = path;
    options.monitor_sources = testing::fake_sources();
    Logger logger(std::move(options));
    logger.update({.steps = 7});
    ASSERT_EQ(file.size(), 0u);
    close_open_loggers();
    EXPECT_NE(file.contents().find("\n0."), std::string::npos);  // the row after the header
  }
  close_open_loggers();  // the destroyed logger is not touched
  ::close(fd);
}

}  // namespace
}  // namespace vorlisk::tui
