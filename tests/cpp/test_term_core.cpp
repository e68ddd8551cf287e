// The toolkit's cells, layout and terminal backend, and what the views do not show of
// the line chart: its clipping, gaps, shared cells and legend.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "tui/term/backend.hpp"
#include "tui/term/layout.hpp"
#include "tui/term/text.hpp"
#include "tui/term/widgets/chart.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui::term {
namespace {

using Rows = std::vector<std::string>;
using testing::rows;

TEST(Buffer, TextIsOneColumnPerCodePointCutAtTheAreaAndNeverAControlSequence) {
  EXPECT_EQ(text_width("a┌─│█⣿"), 6u);
  EXPECT_EQ(text_width("a\xE2\x94"), 3u);  // a cut-off sequence counts byte by byte
  Buffer buffer(Rect{0, 0, 6, 3});
  EXPECT_EQ(buffer.set_string(3, 0, "│abcdef", Style{}), 6);
  EXPECT_EQ(buffer.set_string(0, 1, "xyz", Style{}, 2), 2);
  EXPECT_EQ(buffer.set_string(0, 3, "outside", Style{}), 0);
  buffer.set_string(0, 2, "\x1b[\t\x7f\xC2\x9B\xFF", Style{});
  EXPECT_EQ(rows(buffer), (Rows{"   │ab", "xy    ", " [   \xEF\xBF\xBD"}));
}

// The views' layouts show the common cases; these are the rules at the edges.
TEST(Split, GivesEachPartItsShareInOrderWithoutGapsInBothDirections) {
  using C = Constraint;
  const std::vector<C> rows{C::length(5), C::length(3), C::min(8), C::length(3)};
  const std::tuple<std::uint16_t, std::vector<C>, std::vector<std::uint16_t>> cases[] = {
      {10, rows, {5, 3, 0, 2}}, {4, rows, {4, 0, 0, 0}},  // too small: Min first, then from the last
      {103, {C::percentage(25), C::percentage(25), C::percentage(25), C::percentage(25)}, {25, 25, 25, 28}},
      {12, {C::min(1), C::length(2), C::min(1), C::min(1)}, {4, 2, 3, 3}},
      {10, {C::percentage(80), C::percentage(80)}, {8, 2}}};
  for (const auto& [total, constraints, sizes] : cases) {
    for (Direction d : {Direction::Horizontal, Direction::Vertical}) {
      const bool v = d == Direction::Vertical;
      std::vector<Rect> parts(constraints.size());
      split(v ? Rect{2, 3, 7, total} : Rect{3, 2, total, 7}, d, constraints, parts);
      std::uint16_t next = 3;
      for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i], (v ? Rect{2, next, 7, sizes[i]} : Rect{next, 2, sizes[i], 7})) << total << " part " << i;
        next = static_cast<std::uint16_t>(next + sizes[i]);
      }
    }
  }
}

// Keeps every write, so a test sees exactly what a terminal would receive.
struct CapturedOutput : Output {
  void write(std::string_view bytes) override { writes.emplace_back(bytes); }
  void flush() override { ++flushes; }
  std::vector<std::string> writes;
  int flushes = 0;
};

// A status line with one bold figure, as the views draw them.
auto status(std::string_view figure) {
  return [figure](Frame& frame) {
    frame.buffer.set_string(0, 1, "Steps: ", fg(Color::Gray));
    frame.buffer.set_string(7, 1, figure, fg(Color::Cyan).bold());
  };
}

// The leave-screen sequence shows the cursor too; the terminal object does it as well
// on its way out, and only when a frame hid it.
TEST(Terminal, WritesOnlyTheCellsThatChangedClearsWhenTheSizeDoesAndShowsTheCursorItHid) {
  CapturedOutput out;
  Terminal(out, ColorMode::Colors).show_cursor();  // no frame hid it: nothing to write
  {
    Terminal terminal(out, ColorMode::Colors);
    const Size size{20, 3};
    for (std::string_view figure : {"123,456", "123,456", "123,457", "223,458", "223,4"}) {
      terminal.draw(size, status(figure));
    }
    terminal.draw(Size{10, 2}, status("1"));
    EXPECT_EQ(terminal.current().row_text(1), "Steps: 1  ");
  }
  EXPECT_EQ(out.writes, (Rows{"\x1b[?25l\x1b[0m\x1b[2J\x1b[2;1H\x1b[38;5;7mSteps: \x1b[1;38;5;6m123,456\x1b[0m",
                              "\x1b[2;14H\x1b[1;38;5;6m7\x1b[0m",  // an unchanged frame writes nothing
                              "\x1b[2;8H\x1b[1;38;5;6m2\x1b[2;14H8\x1b[0m",
                              "\x1b[2;13H  ",  // blank cells in the default attributes
                              "\x1b[0m\x1b[2J\x1b[2;1H\x1b[38;5;7mSteps: \x1b[1;38;5;6m1\x1b[0m", "\x1b[?25h"}));
  EXPECT_EQ(out.flushes, 6);
}

TEST(Terminal, ColoursAndModifiersChangeOnlyWhenTheyDifferAndNoColorKeepsModifiers) {
  Buffer after(Rect{0, 0, 6, 1});
  after.set_string(0, 0, "abcdef", Style{}.fg_color(Color::White).bg_color(Color::Black).add(Modifier::Underlined));
  after.set_style(Rect{1, 0, 1, 1}, Style{}.fg_color(Color::Reset).bg_color(Color::Reset));
  after.set_style(Rect{2, 0, 4, 1}, Style{}.add(Modifier::Italic));
  after.set_style(Rect{4, 0, 2, 1}, Style{}.remove(Modifier::Italic).add(Modifier::Reversed).add(Modifier::Dim));
  std::string colored, plain, full;
  render_diff(Buffer(Rect{0, 0, 6, 1}), after, ColorMode::Colors, colored);
  render_diff(Buffer(), after, ColorMode::NoColor, plain);
  EXPECT_EQ(colored, "\x1b[1;1H\x1b[4;38;5;15;48;5;0ma\x1b[39;49mb\x1b[3;38;5;15;48;5;0mcd"
                     "\x1b[0;2;4;7;38;5;15;48;5;0mef\x1b[0m");
  EXPECT_EQ(plain, "\x1b[1;1H\x1b[4mab\x1b[3mcd\x1b[0;2;4;7mef\x1b[0m");
  render_full(after, ColorMode::NoColor, full);
  EXPECT_EQ(full, "\x1b[4mab\x1b[3mcd\x1b[0;2;4;7mef\x1b[0m\n");
}

// Over [0, 1] x [0, 1] without labels or titles: the axes take the left column and
// the bottom row, so 5 x 3 cells leave a plot of 4 x 2 cells, 8 x 8 dots.
Buffer draw(const std::vector<Dataset>& datasets, std::uint16_t width = 5, std::uint16_t height = 3,
            std::array<double, 2> x = {0, 1}, std::array<double, 2> y = {0, 1}) {
  Buffer buffer(Rect{0, 0, width, height});
  Chart{.datasets = datasets, .x_axis = Axis{.bounds = {x[0], x[1]}}, .y_axis = Axis{.bounds = {y[0], y[1]}}}.render(
      buffer.area(), buffer);
  return buffer;
}

TEST(Chart, LinesAreBrailleSegmentsClippedToTheBoundsAndBrokenByNonFinitePoints) {
  const std::vector<Point> diagonal{{0, 0}, {1, 1}}, beyond{{-1, -1}, {2, 2}}, flat{{0, 0.5}, {1, 0.5}},
      outside{{2, 0}, {3, 1}, {1.5, -5}}, broken{{0, 0}, {0.4, 0.4}, {NAN, 0.5}, {0.6, 0.6}, {1, INFINITY}, {1, 1}};
  EXPECT_EQ(rows(draw({{.data = diagonal}})), (Rows{"│  ⡠⠊", "│⡠⠊  ", "└────"}));
  EXPECT_EQ(rows(draw({{.data = beyond}})), (Rows{"│  ⡠⠊", "│⡠⠊  ", "└────"}));
  EXPECT_EQ(rows(draw({{.data = flat}, {.data = outside}})), (Rows{"│    ", "│⠉⠉⠉⠉", "└────"}));
  EXPECT_EQ(rows(draw({{.data = broken}})), (Rows{"│  ⡀⠈", "│⡠⠊  ", "└────"}));
  // Datasets share cells; the last one drawn colours them.
  Buffer b = draw({{.data = diagonal, .style = fg(Color::Red)}, {.data = flat, .style = fg(Color::Blue)}});
  EXPECT_EQ(rows(b), (Rows{"│  ⡠⠊", "│⡩⠋⠉⠉", "└────"}));
  EXPECT_EQ(b.at(1, 1).fg, Color::Blue);
  EXPECT_EQ(b.at(3, 0).fg, Color::Red);
  // Bounds of one value put its points in the middle; reversed or NaN ones draw none.
  const std::vector<Point> five{{5, 5}, {6, 5}};
  EXPECT_EQ(rows(draw({{.data = five}}, 4, 3, {5, 5}, {5, 5})), (Rows{"│   ", "│ ⠈ ", "└───"}));
  EXPECT_EQ(rows(draw({{.data = five}}, 4, 3, {6, 5}, {NAN, 5})), (Rows{"│   ", "│   ", "└───"}));
}

TEST(Chart, LegendInTheTopRightCornerOnlyWhenThereIsRoom) {
  const std::vector<Point> flat{{0, 1}, {1, 1}};
  const std::vector<Dataset> d{{.name = "Policy", .data = flat, .style = fg(Color::Red)},
                               {.name = "", .data = flat},
                               {.name = "Value", .data = flat, .style = fg(Color::Blue)}};
  Buffer b = draw(d, 17, 7);
  EXPECT_EQ(rows(b, 0, 4), (Rows{"│⠉⠉⠉⠉⠉⠉⠉⠉┌──────┐", "│        │Policy│", "│        │Value │", "│        └──────┘"}));
  EXPECT_EQ(b.at(10, 1).fg, Color::Red);
  EXPECT_EQ(b.at(10, 2).fg, Color::Blue);
  EXPECT_EQ(rows(draw(d, 17, 6))[0], "│⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉");  // too low
  EXPECT_EQ(rows(draw(d, 16, 7))[0], "│⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉");   // too narrow
}

}  // namespace
}  // namespace vorlisk::tui::term
