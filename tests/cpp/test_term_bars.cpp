// The two bar widgets: Gauge and Sparkline.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "term_test_support.hpp"
#include "tui/term/widgets/gauge.hpp"
#include "tui/term/widgets/sparkline.hpp"

namespace vorlisk::tui::term {
namespace {

using testing::blank;
using testing::rows;
using Rows = std::vector<std::string>;

TEST(Gauge, FillsWholeCellsAndCentresTheLabelWithSwappedColoursOverTheBar) {
  Buffer buffer = blank(12, 5);
  Gauge{.percent = 59, .gauge_style = fg(Color::Green), .block = Block{.title = " G "}}.render(buffer.area(), buffer);
  EXPECT_EQ(rows(buffer), (Rows{"┌ G ───────┐", "│          │", "│   59%    │", "│          │", "└──────────┘"}));
  for (std::uint16_t x = 1; x <= 10; ++x) {
    const Cell& c = buffer.at(x, 2);
    const bool filled = x <= 5;  // floor(10 * 59 / 100) cells
    EXPECT_EQ(c.bg, filled ? Color::Green : Color::Reset) << x;
    EXPECT_EQ(c.fg, filled ? Color::Reset : Color::Green) << x;
  }
  EXPECT_EQ(buffer.at(0, 2).bg, Color::Reset);
}

TEST(Gauge, CustomLabelIsCutToTheInnerWidthAndPercentStopsAtAHundred) {
  Buffer buffer = blank(6, 1);
  Gauge{.percent = 250, .label = "-0.2500", .gauge_style = fg(Color::Green).bg_color(Color::Black)}.render(
      buffer.area(), buffer);
  EXPECT_EQ(buffer.row_text(0), "-0.250");
  for (std::uint16_t x = 0; x < 6; ++x) {
    EXPECT_EQ(buffer.at(x, 0).bg, Color::Green);
    EXPECT_EQ(buffer.at(x, 0).fg, Color::Black);
  }
}

TEST(Sparkline, BarHeightsInEighthsOfTheInnerHeightClampedAtMax) {
  const std::vector<std::uint64_t> data{0, 25, 50, 100, 200, 7};
  Buffer buffer = blank(7, 4);
  Sparkline{.data = data, .max = 100, .style = fg(Color::Yellow), .block = Block{}}.render(buffer.area(), buffer);
  EXPECT_EQ(rows(buffer), (Rows{"┌─────┐", "│   ██│", "│ ▄███│", "└─────┘"}));
  EXPECT_EQ(buffer.at(3, 2).fg, Color::Yellow);
  EXPECT_EQ(buffer.at(0, 0).fg, Color::Yellow);
}

TEST(Sparkline, NineLevelsPerCellAndMaxDefaultsToTheLargestValue) {
  const std::vector<std::uint64_t> data{0, 1, 2, 3, 4, 5, 6, 7, 8};
  Buffer buffer = blank(9, 1);
  Sparkline{.data = data}.render(buffer.area(), buffer);
  EXPECT_EQ(buffer.row_text(0), " ▁▂▃▄▅▆▇█");
  const std::vector<std::uint64_t> zeros{0, 0, UINT64_MAX};
  Sparkline{.data = zeros}.render(Rect{0, 0, 3, 1}, buffer);
  EXPECT_EQ(buffer.row_text(0), "  █▃▄▅▆▇█");
}

TEST(Sparkline, EmptyDataAndTinyAreasDrawOnlyTheBlock) {
  Buffer buffer = blank(3, 3);
  const std::vector<std::uint64_t> data{5};
  Sparkline{.data = {}, .max = 100, .block = Block{}}.render(Rect{0, 0, 3, 3}, buffer);
  EXPECT_EQ(rows(buffer), (Rows{"┌─┐", "│ │", "└─┘"}));
  Sparkline{.data = data, .block = Block{}}.render(Rect{0, 0, 2, 2}, buffer);
  EXPECT_EQ(rows(buffer), (Rows{"┌┐┐", "└┘│", "└─┘"}));
}

}  // namespace
}  // namespace vorlisk::tui::term
