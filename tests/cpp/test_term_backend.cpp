#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tui/term/backend.hpp"

namespace vorlisk::tui::term {
namespace {

// Keeps every write, so a test sees exactly what a terminal would receive.
class CapturedOutput : public Output {
 public:
  void write(std::string_view bytes) override {
    if (fail) throw std::system_error(std::make_error_code(std::errc::io_error));
    writes.emplace_back(bytes);
  }
  void flush() override { ++flushes; }

  std::vector<std::string> writes;
  int flushes = 0;
  bool fail = false;
};

constexpr Size kSize{20, 3};

// A status line with one bold figure, as the views draw them.
auto status(std::string_view figure) {
  return [figure](Frame& frame) {
    frame.buffer.set_string(0, 1, "Steps: ", fg(Color::Gray));
    frame.buffer.set_string(7, 1, figure, fg(Color::Cyan).bold());
  };
}

TEST(Terminal, FirstFrameHidesTheCursorClearsTheScreenAndAnUnchangedFrameWritesNothing) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::Colors);
  terminal.draw(kSize, status("123,456"));
  terminal.draw(kSize, status("123,456"));
  ASSERT_EQ(out.writes.size(), 1u);
  EXPECT_EQ(out.flushes, 1);
  EXPECT_EQ(out.writes[0],
            "\x1b[?25l\x1b[0m\x1b[2J"
            "\x1b[2;1H\x1b[38;5;7mSteps: \x1b[1;38;5;6m123,456\x1b[0m");
  EXPECT_EQ(terminal.current().row_text(1), "Steps: 123,456      ");
}

TEST(Terminal, ChangedFigureWritesOnlyItsCellsMovingTheCursorOnlyOverGaps) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::Colors);
  terminal.draw(kSize, status("123,456"));
  terminal.draw(kSize, status("123,457"));
  terminal.draw(kSize, status("223,458"));
  terminal.draw(kSize, status("223,4"));
  ASSERT_EQ(out.writes.size(), 4u);
  EXPECT_EQ(out.writes[1], "\x1b[2;14H\x1b[1;38;5;6m7\x1b[0m");
  EXPECT_EQ(out.writes[2], "\x1b[2;8H\x1b[1;38;5;6m2\x1b[2;14H8\x1b[0m");
  EXPECT_EQ(out.writes[3], "\x1b[2;13H  ");  // blank cells in the default attributes
}

TEST(Terminal, SizeChangeClearsTheScreenAndRewritesEverything) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::Colors);
  terminal.draw(kSize, status("1"));
  terminal.draw(Size{10, 2}, status("1"));
  ASSERT_EQ(out.writes.size(), 2u);
  EXPECT_EQ(out.writes[1], "\x1b[0m\x1b[2J\x1b[2;1H\x1b[38;5;7mSteps: \x1b[1;38;5;6m1\x1b[0m");
  EXPECT_EQ(terminal.current().area(), (Rect{0, 0, 10, 2}));
}

TEST(Terminal, FailedWriteRedrawsTheWholeFrameNextTime) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::Colors);
  terminal.draw(kSize, status("1"));
  out.fail = true;
  EXPECT_THROW(terminal.draw(kSize, status("2")), std::system_error);
  out.fail = false;
  terminal.draw(kSize, status("2"));
  EXPECT_EQ(out.writes.back(), "\x1b[0m\x1b[2J\x1b[2;1H\x1b[38;5;7mSteps: \x1b[1;38;5;6m2\x1b[0m");
}

TEST(Terminal, ViewThatThrowsWritesNothingAndTheNextFrameDiffsAgainstTheLastShown) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::Colors);
  terminal.draw(kSize, status("1"));
  EXPECT_THROW(terminal.draw(kSize, [](Frame&) { throw std::runtime_error("view"); }), std::runtime_error);
  terminal.draw(kSize, status("2"));
  ASSERT_EQ(out.writes.size(), 2u);
  EXPECT_EQ(out.writes[1], "\x1b[2;8H\x1b[1;38;5;6m2\x1b[0m");
}

TEST(Terminal, CursorIsShownAgainOnRequestAndAtTheEnd) {
  CapturedOutput out;
  {
    Terminal terminal(out, ColorMode::Colors);
    terminal.show_cursor();  // never hidden: nothing to write
    EXPECT_TRUE(out.writes.empty());
    terminal.draw(kSize, status("1"));
    terminal.show_cursor();
    EXPECT_EQ(out.writes.back(), "\x1b[?25h");
    terminal.draw(kSize, status("2"));
    EXPECT_EQ(out.writes.back().rfind("\x1b[?25l", 0), 0u);
  }
  EXPECT_EQ(out.writes.back(), "\x1b[?25h");
}

TEST(Terminal, NoColorWritesModifiersButNoColourSequences) {
  CapturedOutput out;
  Terminal terminal(out, ColorMode::NoColor);
  terminal.draw(kSize, [](Frame& frame) {
    frame.buffer.set_string(0, 0, "ab", Style{}.fg_color(Color::Red).bg_color(Color::Blue).bold());
    frame.buffer.set_string(2, 0, "c", fg(Color::Green));
  });
  EXPECT_EQ(out.writes[0], "\x1b[?25l\x1b[0m\x1b[2J\x1b[1;1H\x1b[1mab\x1b[0mc");
}

TEST(RenderDiff, ColoursAndModifiersChangeOnlyWhenTheyDiffer) {
  const Buffer before(Rect{0, 0, 6, 1});
  Buffer after(Rect{0, 0, 6, 1});
  after.set_string(0, 0, "abcdef", Style{}.fg_color(Color::White).bg_color(Color::Black).add(Modifier::Underlined));
  after.set_style(Rect{1, 0, 1, 1}, Style{}.fg_color(Color::Reset).bg_color(Color::Reset));
  after.set_style(Rect{2, 0, 4, 1}, Style{}.add(Modifier::Italic));
  after.set_style(Rect{4, 0, 2, 1}, Style{}.remove(Modifier::Italic).add(Modifier::Reversed).add(Modifier::Dim));
  std::string out;
  render_diff(before, after, ColorMode::Colors, out);
  EXPECT_EQ(out,
            "\x1b[1;1H\x1b[4;38;5;15;48;5;0ma\x1b[39;49mb\x1b[3;38;5;15;48;5;0mcd"
            "\x1b[0;2;4;7;38;5;15;48;5;0mef\x1b[0m");
}

TEST(RenderFull, RowsOfTextWithAttributesResetAtEachRowEnd) {
  Buffer buffer(Rect{0, 0, 3, 2});
  buffer.set_string(1, 0, "┌x", fg(Color::Yellow));
  std::string colored, plain;
  render_full(buffer, ColorMode::Colors, colored);
  render_full(buffer, ColorMode::NoColor, plain);
  EXPECT_EQ(colored, " \x1b[38;5;3m┌x\x1b[0m\n   \n");
  EXPECT_EQ(plain, " ┌x\n   \n");
}

TEST(ColorModeFromEnv, NoColorWithAValueIsReadOnceAtTheFirstCall) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, whatever ran before
  auto first_call_with = [](const char* value) {
    if (value) {
      ::setenv("NO_COLOR", value, 1);
    } else {
      ::unsetenv("NO_COLOR");
    }
    const ColorMode first = color_mode_from_env();
    ::setenv("NO_COLOR", value && *value ? "" : "1", 1);  // later changes are not seen
    std::exit(first == color_mode_from_env() && first == ColorMode::NoColor ? 10 : 20);
  };
  EXPECT_EXIT(first_call_with("1"), ::testing::ExitedWithCode(10), "");
  EXPECT_EXIT(first_call_with(""), ::testing::ExitedWithCode(20), "");
  EXPECT_EXIT(first_call_with(nullptr), ::testing::ExitedWithCode(20), "");
}

}  // namespace
}  // namespace vorlisk::tui::term
