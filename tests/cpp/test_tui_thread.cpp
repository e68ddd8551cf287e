// The key decoder, and the terminal loop against a scripted keyboard, a fake clock
// and captured output: which bytes are keys (escape sequences are swallowed whole),
// what the keys do, and that the terminal is given back on every way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tui/term/keys.hpp"
#include "tui/tui_thread.hpp"

namespace vorlisk::tui {
namespace {

using std::chrono::milliseconds;

// The keys in `bytes`, as "q", "p", "m" and "s".
std::string decode(const std::string& bytes) {
  term::KeyDecoder decoder;
  std::string keys;
  for (char c : bytes) {
    if (auto key = decoder.feed(static_cast<unsigned char>(c))) keys += "qpms"[static_cast<int>(*key)];
  }
  return keys;
}

TEST(KeyDecoder, TurnsBytesIntoKeys) {
  const std::pair<std::string, std::string> cases[] = {
      {"QPMSsx 1\r\x03\x13\x1bs\x1a\x7f\n\xc3\xa9\xe2\x82\xac", "sss"},  // Control-m is Enter; Control-s, Alt-s
      {"\x1bq\x1bx\x1b\x10", "qp"},                              // Alt
      {"\x1b[A\x1b[1;5D\x1b[15~\x1b[24;5~\x1bOP\x1bOq\x1b[I", ""},  // arrows, F keys, SS3, focus
      {"\x1b[<0;113;112M\x1b[M qp\x1b[Mmmm", ""},                // mouse reports
      {"\x1b[200~qp\x1b[20q\x1b\x1bm\x1b[201~m", "m"},           // a paste swallows its text
      {"\x1b[2001~q", "q"},
      {"q\x1b[Ap\x1bOSm", "qpm"},
      {"\x1b\x1b[Aq", "q"}};
  for (const auto& [bytes, keys] : cases) EXPECT_EQ(decode(bytes), keys) << ::testing::PrintToString(bytes);
}

// One poll each: bytes to read after `wait` ms, or a timeout after 10 ms when empty.
struct Poll {
  std::string bytes;
  long wait = 10;
};

struct Drawn {
  TUIMode mode;
  term::Rect area;
  bool operator==(const Drawn&) const = default;
};

enum class Fail { None, Enable, Poll, Read, Size, AltScreen, Draw, Restore };

// Replays its polls, then clears `running` as close() would; captures what is
// written and drawn; `fail` makes one device call fail.
struct FakeDevices final : term::Input, term::Output, term::RawMode, term::SizeSource, Clock {
  SharedState state = SharedState::create(TUIMode::Minimal, 4);
  std::deque<Poll> script;
  std::chrono::steady_clock::time_point t{};
  std::string text;
  std::vector<term::Size> sizes{{40, 10}};  // of successive frames; the last one repeats
  std::vector<Drawn> frames;
  Fail fail = Fail::None;
  int polls = 0, writes = 0, sizes_read = 0, disables = 0;
  int away = 0;            // turns left in the background, where nothing may be read or drawn
  bool continued = false;  // the process was continued: the screen must be drawn whole
  bool raw = false;

  static void fail_if(bool fail) {
    if (fail) throw std::system_error(std::make_error_code(std::errc::io_error));
  }
  bool poll(milliseconds timeout) override {
    EXPECT_EQ(away, 0);
    fail_if(fail == Fail::Poll && ++polls == 12);
    if (script.empty()) state.running->stop();
    t += script.empty() ? timeout : milliseconds(script.front().wait);
    return !script.empty() && (!script.front().bytes.empty() || (script.pop_front(), false));
  }
  std::size_t read(std::span<unsigned char> out) override {
    fail_if(fail == Fail::Read);
    std::string bytes = std::move(script.front().bytes);
    script.pop_front();
    return static_cast<std::size_t>(std::copy(bytes.begin(), bytes.end(), out.begin()) - out.begin());
  }
  void write(std::string_view bytes) override {
    ++writes;  // the first one enters the alternate screen, the second draws the first frame
    fail_if((fail == Fail::AltScreen && writes == 1) || (fail == Fail::Draw && writes == 2));
    text += bytes;
  }
  void flush() override {}
  void enable() override {
    fail_if(fail == Fail::Enable);
    raw = true;
  }
  void disable() override {
    ++disables;
    raw = false;
    fail_if(fail == Fail::Restore);
  }
  bool in_foreground() override { return away == 0 || (--away, false); }
  bool take_redraw() override { return std::exchange(continued, false); }
  term::Size size() override {
    EXPECT_EQ(away, 0);
    fail_if(fail == Fail::Size);
    return sizes[std::min<std::size_t>(sizes_read++, sizes.size() - 1)];
  }
  std::chrono::steady_clock::time_point now() override { return t; }

  void run(std::uint64_t interval_ms, std::vector<Poll> polls, const TuiView& view = {}) {
    script.assign(polls.begin(), polls.end());
    run_tui(state, interval_ms, devices(), view ? view : record());
  }
  TuiDevices devices() { return TuiDevices{*this, *this, *this, *this, *this}; }
  TuiView record() {
    return [&](TUIMode mode, term::Frame& frame, const SharedState&) { frames.push_back({mode, frame.area()}); };
  }
};

std::vector<Poll> timeouts(int n) { return std::vector<Poll>(n, Poll{}); }

// A turn per key, one for the ignored rest and one for the last, empty poll; the
// size is read before each frame.
TEST(Loop, OneKeyPerTurnThreeModePressesComeBackRoundAndEachFrameTakesTheSize) {
  FakeDevices loop;
  loop.sizes = {{40, 10}, {80, 24}, {20, 5}};
  loop.run(0, {{"mQmsm\r\x03", 1}});
  EXPECT_EQ(loop.frames, (std::vector<Drawn>{{TUIMode::Dashboard, {0, 0, 40, 10}},
                                             {TUIMode::Chart, {0, 0, 80, 24}},
                                             {TUIMode::Chart, {0, 0, 20, 5}},
                                             {TUIMode::Minimal, {0, 0, 20, 5}},
                                             {TUIMode::Minimal, {0, 0, 20, 5}},
                                             {TUIMode::Minimal, {0, 0, 20, 5}}}));
  EXPECT_FALSE(loop.state.quit_requested->load());
}

// A pause draws one more frame, for the view to mark; p at 150 and 460 ms, frames at 150, 460, 560.
TEST(Loop, APauseDrawsOneFrameThatShowsIt) {
  FakeDevices loop;
  std::vector<Poll> polls = timeouts(47);
  polls[0] = {"p", 150};
  polls[31] = {"p"};
  std::vector<bool> paused;
  loop.run(100, polls, [&](TUIMode, term::Frame&, const SharedState& s) { paused.push_back(s.paused->load()); });
  EXPECT_EQ(paused, (std::vector<bool>{true, false, false}));
}

// Displays, newest last.
struct Stack final : Displays {
  std::vector<Shown> shown;
  bool front(Shown& front) override {
    if (shown.empty()) return false;
    if (front.id != shown.back().id) front = shown.back();
    return true;
  }
  void quit(std::uint64_t id) override {
    std::erase_if(shown, [&](const Shown& s) { return s.id == id; });
  }
};

// m at 150 ms, then q twice; the one behind is drawn at once, on a cleared screen.
TEST(Loop, TheNewestDisplayIsDrawnAndTakesTheKeysAndTheOneBehindComesBackWholeAfterIt) {
  FakeDevices loop;
  const SharedState older = SharedState::create(TUIMode::Minimal, 4);
  const SharedState newer = SharedState::create(TUIMode::Minimal, 4);
  Stack displays;
  displays.shown = {{1, older, 100}, {2, newer, 100}};
  loop.script = {{"m", 150}, {"q"}, {"q"}};
  std::vector<std::pair<const MetricsBuffer*, TUIMode>> drawn;
  run_tui(displays, loop.devices(), [&](TUIMode mode, term::Frame&, const SharedState& s) {
    drawn.emplace_back(s.metrics.get(), mode);
  });
  EXPECT_EQ(drawn, (std::vector<std::pair<const MetricsBuffer*, TUIMode>>{
                       {newer.metrics.get(), TUIMode::Dashboard}, {older.metrics.get(), TUIMode::Minimal}}));
  EXPECT_TRUE(newer.quit_requested->load() && older.quit_requested->load());
  EXPECT_EQ(loop.disables, 1);
  std::size_t clears = 0;
  for (std::size_t at = 0; (at = loop.text.find("\x1b[2J", at)) != std::string::npos; ++at) ++clears;
  EXPECT_EQ(clears, 2u);
}

// Three turns in the background, then continued: the first frame comes at once, not
// after an interval, and nothing was read or drawn before.
TEST(Loop, NothingIsReadOrDrawnInTheBackgroundAndAContinuedProcessDrawsAtOnce) {
  for (bool continued : {false, true}) {
    FakeDevices loop;
    loop.away = 3;
    loop.continued = continued;
    loop.run(100, timeouts(15));
    EXPECT_EQ(loop.frames.size(), continued ? 2u : 1u);
  }
}

TEST(Loop, EveryWayOutGivesTheTerminalBack) {
  const TuiView fails = [](TUIMode, term::Frame&, const SharedState&) { throw std::logic_error("view"); };
  struct Case {
    const char* name;
    Fail fail;
    std::vector<Poll> polls;
    TuiView view;
    bool quits;
    std::size_t frames;
  };
  for (const Case& c : {Case{"raw mode refused", Fail::Enable, timeouts(15), {}, false, 0},
                        Case{"close", Fail::None, timeouts(15), {}, false, 1},
                        Case{"q, with no final frame", Fail::None, {{}, {}, {"q", 150}}, {}, true, 0},
                        Case{"q while paused", Fail::None, {{"p"}, {}, {}, {"\x11", 300}}, {}, true, 0},
                        Case{"poll fails", Fail::Poll, timeouts(15), {}, false, 1},
                        Case{"read fails", Fail::Read, {{}, {}, {"q", 150}}, {}, false, 0},
                        Case{"view fails", Fail::None, timeouts(15), fails, false, 0},
                        Case{"draw fails", Fail::Draw, timeouts(15), {}, false, 1},
                        Case{"size fails", Fail::Size, timeouts(15), {}, false, 0},
                        Case{"alternate screen fails", Fail::AltScreen, timeouts(15), {}, false, 0},
                        Case{"restore fails", Fail::Restore, timeouts(15), {}, false, 1}}) {
    SCOPED_TRACE(c.name);
    FakeDevices loop;
    loop.fail = c.fail;
    if (c.fail == Fail::None && !c.view) {
      loop.run(100, c.polls);
    } else {
      EXPECT_ANY_THROW(loop.run(100, c.polls, c.view));
    }
    const bool entered = c.fail != Fail::Enable;  // a refused raw mode leaves all as it was
    EXPECT_FALSE(loop.raw);
    EXPECT_EQ(loop.disables, entered ? 1 : 0);
    // The main screen and the cursor shown again.
    EXPECT_TRUE(entered ? loop.text.ends_with("\x1b[?1049l\x1b[?25h") : loop.text.empty()) << loop.text;
    EXPECT_EQ(loop.state.quit_requested->load(), c.quits);
    EXPECT_EQ(loop.frames.size(), c.frames);
  }
}

}  // namespace
}  // namespace vorlisk::tui
