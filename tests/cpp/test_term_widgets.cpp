// What the views do not show of the line chart: its clipping, gaps, shared cells and
// legend.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "tui/term/widgets/chart.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui::term {
namespace {

using Rows = std::vector<std::string>;
using testing::rows;

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
