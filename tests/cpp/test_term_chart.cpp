#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "term_test_support.hpp"
#include "tui/term/widgets/chart.hpp"

namespace vorlisk::tui::term {
namespace {

using testing::blank;
using testing::rows;
using Rows = std::vector<std::string>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A chart over [0, 1] x [0, 1] without labels or titles: the axes take the left
// column and the bottom row, so a 5 x 3 area leaves a plot of 4 x 2 cells, 8 x 8 dots.
Chart unit_chart(std::span<const Dataset> datasets) {
  return Chart{.datasets = datasets, .x_axis = Axis{.bounds = {0, 1}}, .y_axis = Axis{.bounds = {0, 1}}};
}

Rows draw(const Chart& chart, std::uint16_t width, std::uint16_t height) {
  Buffer buffer = blank(width, height);
  chart.render(buffer.area(), buffer);
  return rows(buffer);
}

const Rows kDiagonal{"│  ⡠⠊", "│⡠⠊  ", "└────"};

TEST(Chart, AxesLabelsAndTitlesAroundThePlot) {
  const Chart chart{.x_axis = Axis{.title = "t", .bounds = {0, 1}, .labels = {"0", "50", "100"}},
                    .y_axis = Axis{.title = "Loss", .bounds = {0, 1}, .labels = {"-1", "0", "1.5"}},
                    .block = Block{.title = " C "}};
  EXPECT_EQ(draw(chart, 16, 9), (Rows{"┌ C ───────────┐",
                                      "│Loss          │",
                                      "│1.5│          │",
                                      "│0  │          │",
                                      "│   │          │",
                                      "│-1 │         t│",
                                      "│   └──────────│",
                                      "│    0   50 100│",
                                      "└──────────────┘"}));
}

TEST(Chart, XLabelsThatWouldTouchAreLeftOutButNotTheLast) {
  const Chart chart{.x_axis = Axis{.bounds = {0, 1}, .labels = {"10.0K", "10.0K", "10.0K"}},
                    .y_axis = Axis{.bounds = {0, 1}}};
  EXPECT_EQ(draw(chart, 12, 3)[2], " 10.0K 10.0K");
  EXPECT_EQ(draw(chart, 18, 3)[2], " 10.0K 10.0K 10.0K");
}

TEST(Chart, LinesAreBrailleSegmentsClippedToTheBounds) {
  const std::vector<Point> diagonal{{0, 0}, {1, 1}}, beyond{{-1, -1}, {2, 2}}, flat{{0, 0.5}, {1, 0.5}},
      outside{{2, 0}, {3, 1}, {1.5, -5}};
  for (const auto& data : {diagonal, beyond}) {
    const std::vector<Dataset> d{{.data = data}};
    EXPECT_EQ(draw(unit_chart(d), 5, 3), kDiagonal);
  }
  const std::vector<Dataset> d{{.data = flat}, {.data = outside}};
  EXPECT_EQ(draw(unit_chart(d), 5, 3), (Rows{"│    ", "│⠉⠉⠉⠉", "└────"}));
}

TEST(Chart, PointsThatAreNotFiniteBreakTheLine) {
  const std::vector<Point> data{{0, 0}, {0.4, 0.4}, {kNaN, 0.5}, {0.6, 0.6}, {1, kInf}, {1, 1}};
  const std::vector<Dataset> d{{.data = data}};
  EXPECT_EQ(draw(unit_chart(d), 5, 3), (Rows{"│  ⡀⠈", "│⡠⠊  ", "└────"}));
}

TEST(Chart, DotsOfDatasetsShareCellsAndTheLastOneColoursThem) {
  const std::vector<Point> diagonal{{0, 0}, {1, 1}}, flat{{0, 0.5}, {1, 0.5}};
  const std::vector<Dataset> d{{.data = diagonal, .style = fg(Color::Red)}, {.data = flat, .style = fg(Color::Blue)}};
  Buffer buffer = blank(5, 3);
  unit_chart(d).render(buffer.area(), buffer);
  EXPECT_EQ(rows(buffer), (Rows{"│  ⡠⠊", "│⡩⠋⠉⠉", "└────"}));
  EXPECT_EQ(buffer.at(1, 1).fg, Color::Blue);
  EXPECT_EQ(buffer.at(3, 0).fg, Color::Red);
}

TEST(Chart, LegendInTheTopRightCornerOnlyWhenThereIsRoom) {
  const std::vector<Point> flat{{0, 1}, {1, 1}};
  const std::vector<Dataset> d{{.name = "Policy", .data = flat, .style = fg(Color::Red)},
                               {.name = "", .data = flat},
                               {.name = "Value", .data = flat, .style = fg(Color::Blue)}};
  Buffer buffer = blank(17, 7);
  unit_chart(d).render(buffer.area(), buffer);
  EXPECT_EQ(rows(buffer), (Rows{"│⠉⠉⠉⠉⠉⠉⠉⠉┌──────┐",
                                "│        │Policy│",
                                "│        │Value │",
                                "│        └──────┘",
                                "│                ",
                                "│                ",
                                "└────────────────"}));
  EXPECT_EQ(buffer.at(10, 1).fg, Color::Red);
  EXPECT_EQ(buffer.at(10, 2).fg, Color::Blue);
  EXPECT_EQ(draw(unit_chart(d), 17, 6)[0], "│⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉");  // too low
  EXPECT_EQ(draw(unit_chart(d), 16, 7)[0], "│⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉");   // too narrow
}

TEST(Chart, BoundsOfOneValuePutItsPointsInTheMiddle) {
  const std::vector<Point> data{{5, 5}, {6, 5}};
  const std::vector<Dataset> d{{.data = data}};
  const Chart chart{.datasets = d, .x_axis = Axis{.bounds = {5, 5}}, .y_axis = Axis{.bounds = {5, 5}}};
  EXPECT_EQ(draw(chart, 4, 3), (Rows{"│   ", "│ ⠈ ", "└───"}));
  const Chart reversed{.datasets = d, .x_axis = Axis{.bounds = {6, 5}}, .y_axis = Axis{.bounds = {kNaN, 5}}};
  EXPECT_EQ(draw(reversed, 4, 3), (Rows{"│   ", "│   ", "└───"}));
}

TEST(Chart, TinyAreasDrawNothingOutsideAndDoNotCrash) {
  const std::vector<Point> data{{0, 0}, {1, 1}, {kNaN, 2}};
  const std::vector<Dataset> d{{.name = "Reward", .data = data}};
  const Chart chart{.datasets = d,
                    .x_axis = Axis{.bounds = {0, 1}, .labels = {"0", "0.5", "1"}},
                    .y_axis = Axis{.title = "Reward", .bounds = {0, 1}, .labels = {"0.00", "0.50", "1.00"}},
                    .block = Block{.title = " Reward History "}};
  for (std::uint16_t w = 0; w < 10; ++w) {
    for (std::uint16_t h = 0; h < 8; ++h) {
      Buffer buffer = blank(12, 10);
      const Rect area{1, 1, w, h};
      chart.render(area, buffer);
      for (std::uint16_t y = 0; y < 10; ++y) {
        for (std::uint16_t x = 0; x < 12; ++x) {
          if (!area.contains(x, y)) {
            ASSERT_EQ(buffer.at(x, y), Cell{}) << w << "x" << h;
          }
        }
      }
    }
  }
  Buffer small = blank(3, 2);
  chart.render(Rect{1, 1, 9, 9}, small);  // an area larger than the buffer
  EXPECT_EQ(rows(small), (Rows{"   ", " ┌ "}));
}

}  // namespace
}  // namespace vorlisk::tui::term
