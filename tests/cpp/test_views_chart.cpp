#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tui/views/common.hpp"
#include "tui/views/views.hpp"
#include "views_test_support.hpp"

namespace vorlisk::tui::views {
namespace {

using term::Color;
using testing::line;
using testing::ViewState;
using Rows = std::vector<std::string>;

// A grid of 60 x 12 without GPU figures: two columns of 30; the left one split 7 + 5
// rows, the right one 6 + 6.
TEST(ChartGrid, WithoutHistoryEveryCellWaitsUnderItsWaitingTitle) {
  ViewState v;
  term::Buffer b = v.draw(60, 12, render_chart_grid);
  const std::string waiting = "│Waiting for data...         │";
  const std::string empty = "│" + std::string(28, ' ') + "│";
  const std::string bottom = "└" + line(28) + "┘";
  EXPECT_EQ(testing::rows(b),
            (Rows{"┌ Reward History " + line(12) + "┐┌ CPU % " + line(21) + "┐",
                  waiting + waiting, empty + empty, empty + empty, empty + empty, empty + bottom,
                  bottom + "┌ RAM % " + line(21) + "┐", "┌ Losses " + line(20) + "┐" + waiting,
                  waiting + empty, empty + empty, empty + empty, bottom + bottom}));
  for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {0, 7}, {30, 0}, {31, 7}}) {
    EXPECT_EQ(b.at(x, y).fg, Color::DarkGray) << x << "," << y;
  }
}

struct BoundsCase {
  const char* name;
  std::vector<std::vector<term::Point>> series;
  std::pair<double, double> x, y;
};

class ChartBoundsOf : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(ChartBoundsOf, CoverAllPointsWithAMarginOnY) {
  const BoundsCase& c = GetParam();
  ChartBounds b = chart_bounds(c.series);
  EXPECT_DOUBLE_EQ(b.x.first, c.x.first);
  EXPECT_DOUBLE_EQ(b.x.second, c.x.second);
  EXPECT_DOUBLE_EQ(b.y.first, c.y.first);
  EXPECT_DOUBLE_EQ(b.y.second, c.y.second);
}

INSTANTIATE_TEST_SUITE_P(
    Points, ChartBoundsOf,
    ::testing::Values(
        BoundsCase{"NoPoints", {{}, {}}, {0, 1}, {0, 1}},
        BoundsCase{"OneEntry", {{{10000, 5.0}}}, {10000, 10001}, {4.99995, 5.00005}},
        BoundsCase{"MinusOneToOne", {{{0, -1.0}, {5, 0.3}, {9, 1.0}}}, {0, 9}, {-1.1, 1.1}},
        // The losses chart fits both of its series at once.
        BoundsCase{"TwoSeries", {{{10, 0.1}, {20, 0.2}}, {{10, 1.0}, {20, 3.0}}}, {10, 20},
                   {0.1 - 0.145, 3.0 + 0.145}},
        BoundsCase{"NaNSkipped", {{{0, NAN}, {2, 2.0}, {4, 4.0}}}, {0, 4}, {1.9, 4.1}},
        BoundsCase{"OnlyNaN", {{{0, NAN}, {2, NAN}}}, {0, 2}, {0, 1}}),
    [](const auto& info) { return info.param.name; });

TEST(ChartGrid, OneEntryLabelsBothAxesWithItsValue) {
  ViewState v;
  v.append({.steps = 10000, .mean_reward = 5.0});
  term::Buffer b = v.draw(60, 14, render_chart_grid);
  // The reward chart: title row, three label rows, the axis line, the x labels.
  EXPECT_EQ(testing::first_columns(b.row_text(0), 30), "┌ Reward History " + line(12) + "┐");
  for (std::uint16_t y = 2; y < 5; ++y) {
    EXPECT_EQ(testing::first_columns(b.row_text(y), 5), "│5.00") << y;
  }
  EXPECT_EQ(testing::first_columns(b.row_text(6), 30), "│     10.0K    10.0K    10.0K│");
  EXPECT_NE(b.row_text(8).find("┌ Losses (Policy/Value) ─"), std::string::npos);
}

TEST(ChartGrid, GpuChartsNeedTheTotalGpuMemory) {
  ViewState v;
  v.metrics.gpu_usage.store(70.0);
  v.append({.steps = 10000, .gpu_usage = 70.0, .gpu_memory_percent = 50.0});
  std::string without = testing::screen(v.draw(120, 20, render_chart_grid));
  EXPECT_EQ(without.find("GPU"), std::string::npos) << without;
  EXPECT_EQ(testing::first_columns(without, 61), "┌ Reward History " + line(42) + "┐┌");

  v.metrics.total_gpu_memory_mb.store(8192);
  std::string with = testing::screen(v.draw(120, 20, render_chart_grid));
  // Columns of 40 %, 30 % and 30 %.
  EXPECT_EQ(testing::first_columns(with, 120),
            "┌ Reward History " + line(30) + "┐┌ CPU % " + line(27) + "┐┌ GPU % " + line(27) + "┐");
  EXPECT_NE(with.find("┌ VRAM % ─"), std::string::npos);
}

// 80 x 30: statistics rows 0-4, device rows 5-7, grid rows 8-26, footer 27-29.
TEST(ChartView, PoisonedHistoryLeavesOnlyTheGridBlank) {
  ViewState v;
  v.metrics.steps.store(42);
  v.append({.steps = 10000, .mean_reward = 1.0});
  v.poison_history();
  term::Buffer b = v.draw(80, 30, render_chart_dashboard);
  for (std::uint16_t y = 8; y < 27; ++y) EXPECT_EQ(b.row_text(y), std::string(80, ' ')) << y;
  EXPECT_NE(b.row_text(1).find("Steps: 42"), std::string::npos);
  EXPECT_NE(b.row_text(6).find("CPU: N/A"), std::string::npos);
  EXPECT_EQ(b.row_text(28), "│ [q] Quit  [p] Pause  [m] Switch Mode  [s] Save Checkpoint " +
                                std::string(19, ' ') + "│");
}

}  // namespace
}  // namespace vorlisk::tui::views
