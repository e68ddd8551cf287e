// The three views drawn from a logger's state into a buffer, and their axes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "tui/term/text.hpp"
#include "tui/views/common.hpp"
#include "tui/views/views.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui::views {
namespace {

using term::Color;
using testing::line;
using testing::rows;
using testing::ViewState;
using Rows = std::vector<std::string>;

// The first n code points of a UTF-8 text.
std::string first_columns(std::string_view text, std::size_t n) {
  std::size_t end = 0;
  for (std::size_t columns = 0; end < text.size() && columns < n; ++columns) {
    do ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80);
  }
  return std::string(text.substr(0, end));
}

std::string screen(const term::Buffer& b) {
  std::string out;
  for (const std::string& row : rows(b)) out += row + "\n";
  return out;
}

const std::string kZeroLine =
    " Steps:            0 │ Episodes:        0 │ Reward:       0.00 │ SPS:            0 │ [q]uit [p]ause [m]ode ";

TEST(MinimalView, ZeroFiguresFillTheLineOf107ColumnsAllInCyan) {
  ViewState v;
  term::Buffer b = v.draw(109, 4, render_minimal);
  EXPECT_EQ(rows(b), (Rows{"┌ Vorlisk " + line(98) + "┐", "│" + kZeroLine + "│", "│" + std::string(107, ' ') + "│",
                           "└" + line(107) + "┘"}));
  for (auto [x, y] : {std::pair{0, 0}, {2, 0}, {0, 1}, {5, 1}, {100, 2}, {108, 3}}) {  // border and title too
    EXPECT_EQ(b.at(x, y).fg, Color::Cyan) << x << "," << y;
    EXPECT_EQ(b.at(x, y).modifier, term::Modifier::None);
  }
  // A narrower terminal cuts the key reminder first, then the figures, and the
  // title, never the border; two rows show only the border.
  for (std::uint16_t width : {108, 30, 8, 2}) {
    term::Buffer narrow = v.draw(width, 3, render_minimal);
    EXPECT_EQ(narrow.row_text(0), "┌" + first_columns(" Vorlisk " + line(200), width - 2) + "┐");
    EXPECT_EQ(narrow.row_text(1), "│" + first_columns(kZeroLine, width - 2) + "│");
  }
  EXPECT_EQ(rows(v.draw(40, 2, render_minimal)), (Rows{"┌ Vorlisk " + line(29) + "┐", "└" + line(38) + "┘"}));
}

TEST(MinimalView, FiguresAreRightAlignedInTheirFieldsAndNeverCut) {
  for (auto [steps, episodes, reward, sps, text] : {
           std::tuple{1250000ul, 8432ul, 187.345, 51234.5,
                      " Steps:    1,250,000 │ Episodes:    8,432 │ Reward:     187.34 │ SPS:        51234"},
           {1000000000000ul, 12345678ul, 1e9, 1e13,
            " Steps: 1,000,000,000,000 │ Episodes: 12,345,678 │ Reward: 1000000000.00 │ SPS: 10000000000000"},
           {0ul, 0ul, -12.5, 0.4, " Steps:            0 │ Episodes:        0 │ Reward:     -12.50 │ SPS:            0"},
           {0ul, 0ul, NAN, -INFINITY,
            " Steps:            0 │ Episodes:        0 │ Reward:        NaN │ SPS:         -inf"}}) {
    ViewState v;
    v.metrics.steps.store(steps);
    v.metrics.episodes.store(episodes);
    v.metrics.mean_reward.store(reward);
    v.metrics.sps.store(sps);
    const std::string expected = "│" + std::string(text) + " │ [q]uit [p]ause [m]ode ";
    EXPECT_EQ(v.draw(200, 3, render_minimal).row_text(1).substr(0, expected.size()), expected);
  }
}

// 80 x 24: statistics rows 0-4, device rows 5-7, sparklines rows 8-20, footer 21-23.
TEST(DashboardView, BeforeTheFirstUpdateShowsZerosAndNotAvailable) {
  ViewState v;
  term::Buffer b = v.draw(80, 24, render_dashboard);
  EXPECT_EQ(rows(b, 0, 8),
            (Rows{"┌ Progress ────────┐┌ Performance ─────┐┌ Losses ──────────┐┌ Entropy ─────────┐",
                  "│Steps: 0          ││Reward: 0.00      ││Policy: 0.000000  ││                  │",
                  "│Episodes: 0       ││SPS: 0            ││Value: 0.000000   ││      0.0000      │",
                  "│                  ││                  ││                  ││                  │",
                  "└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘",
                  "┌ CPU " + line(33) + "┐┌ Memory " + line(30) + "┐",
                  "│CPU: N/A" + std::string(30, ' ') + "││RAM: N/A" + std::string(30, ' ') + "│",
                  "└" + line(38) + "┘└" + line(38) + "┘"}));
  EXPECT_EQ(rows(b, 21, 24),
            (Rows{"┌" + line(78) + "┐",
                  "│ [q] Quit  [p] Pause  [m] Toggle Mode  [s] Save Checkpoint " + std::string(19, ' ') + "│",
                  "└" + line(78) + "┘"}));
  EXPECT_EQ(b.at(0, 21).fg, Color::DarkGray);
  EXPECT_EQ(b.at(0, 0).fg, Color::Reset);
  EXPECT_EQ(b.at(1, 1).fg, Color::Gray);
  EXPECT_EQ(b.at(8, 1).fg, Color::Cyan);
  EXPECT_EQ(b.at(8, 1).modifier, term::Modifier::Bold);
  // The reward sparkline holds the single value 50: half of its 11 inner rows; the
  // device sparklines are empty boxes.
  std::string bar;
  for (std::uint16_t y = 9; y < 20; ++y) bar += b.at(1, y).symbol();
  EXPECT_EQ(bar, "     ▄█████");
  EXPECT_EQ(b.row_text(8), "┌ Reward History " + line(22) + "┐┌ CPU % " + line(31) + "┐");
  EXPECT_EQ(b.row_text(19), "│█" + std::string(37, ' ') + "││" + std::string(38, ' ') + "│");
}

// Load colours: red above 80 %, yellow above 60 %, else the column's own colour.
TEST(DashboardView, DeviceValuesAreColouredByStrictLoadThresholds) {
  struct Case {
    double cpu;
    std::uint64_t memory_mb, total_memory_mb, gpu_memory_mb, total_gpu_memory_mb;
    std::string text;
    Color color;
  };
  for (const Case& c : {Case{80.0, 0, 0, 0, 0, "CPU: 80.0%", Color::Yellow}, Case{80.01, 0, 0, 0, 0, "CPU: 80.0%", Color::Red},
                        Case{60.0, 0, 0, 0, 0, "CPU: 60.0%", Color::Green}, Case{NAN, 0, 0, 0, 0, "CPU: N/A", Color::Green},
                        Case{1, 8193, 10240, 0, 0, "RAM: 8.0/10.0 GB", Color::Red},
                        Case{1, 6144, 0, 0, 0, "RAM: N/A", Color::Cyan}, Case{1, 0, 0, 0, 1024, "GPU: N/A", Color::Green},
                        Case{1, 0, 0, 6144, 10240, "VRAM: 6.0/10.0 GB", Color::Magenta},
                        Case{60.01, 0, 0, 0, 0, "CPU: 60.0%", Color::Yellow}}) {
    ViewState v;
    v.metrics.cpu_usage.store(c.cpu);
    v.metrics.memory_mb.store(c.memory_mb);
    v.metrics.total_memory_mb.store(c.total_memory_mb);
    v.metrics.gpu_memory_mb.store(c.gpu_memory_mb);
    v.metrics.total_gpu_memory_mb.store(c.total_gpu_memory_mb);
    term::Buffer b = v.draw(120, 3, render_device_stats);
    const std::string row = b.row_text(1);
    const std::size_t at = row.find(c.text + " ");
    ASSERT_NE(at, std::string::npos) << row;
    const auto x = static_cast<std::uint16_t>(term::text_width(std::string_view(row).substr(0, at)));
    const auto value_x = static_cast<std::uint16_t>(x + c.text.find(' ') + 1);
    EXPECT_EQ(b.at(x, 1).fg, Color::Gray) << c.text;
    EXPECT_EQ(b.at(value_x, 1).fg, c.color) << c.text;
    EXPECT_EQ(b.at(value_x, 1).modifier, term::Modifier::Bold);
  }
}

// Only the total GPU memory switches GPU figures on, in the device row and in the
// sparklines or charts.
TEST(Views, GpuPanelsNeedTheTotalGpuMemory) {
  ViewState v;
  v.metrics.gpu_usage.store(55.0);
  v.metrics.gpu_memory_mb.store(512);
  v.append({.steps = 10000, .gpu_usage = 55.0, .gpu_memory_percent = 50.0});
  for (auto view : {&render_dashboard, &render_chart_dashboard}) {
    v.metrics.total_gpu_memory_mb.store(0);
    EXPECT_EQ(screen(v.draw(120, 30, view)).find("GPU"), std::string::npos);
    v.metrics.total_gpu_memory_mb.store(1024);
    std::string with = screen(v.draw(120, 30, view));
    for (const char* text : {"┌ GPU ─", "GPU: 55.0%", "┌ GPU Memory ─", "VRAM: 0.5/1.0 GB", "┌ GPU % ─", "┌ VRAM % ─"}) {
      EXPECT_NE(with.find(text), std::string::npos) << text << "\n" << with;
    }
  }
  // Sparkline columns of 33 %, 33 % and 34 %, chart columns of 40 %, 30 % and 30 %.
  EXPECT_EQ(v.draw(120, 30, render_dashboard).row_text(8),
            "┌ Reward History " + line(21) + "┐┌ CPU % " + line(30) + "┐┌ GPU % " + line(33) + "┐");
  EXPECT_EQ(first_columns(screen(v.draw(120, 20, render_chart_grid)), 120),
            "┌ Reward History " + line(30) + "┐┌ CPU % " + line(27) + "┐┌ GPU % " + line(27) + "┐");
}

TEST(DashboardView, EntropyGaugeFillsWithTheMagnitudeUpToOneAndShowsTheSignedValue) {
  for (auto [entropy, percent, label] : {std::tuple{0.0, 0, "0.0000"}, {-0.25, 25, "-0.2500"},
                                         {3.0, 100, "3.0000"}, {NAN, 100, "NaN"}}) {
    ViewState v;
    v.metrics.entropy.store(entropy);
    term::Buffer b = v.draw(80, 5, render_stats);  // the gauge's inner area: x 61-78, y 1-3
    int filled = 0;
    std::string inner;
    for (std::uint16_t x = 61; x < 79; ++x) {
      filled += b.at(x, 2).bg == Color::Green;
      inner += b.at(x, 2).symbol();
      EXPECT_NE(b.at(x, 2).fg, b.at(x, 2).bg) << x;  // the label stays readable over the bar
    }
    EXPECT_EQ(filled, 18 * percent / 100) << label;
    const std::size_t left = (18 - std::string_view(label).size()) / 2;  // the odd column to the right
    EXPECT_EQ(inner, std::string(left, ' ') + label + std::string(18 - left - std::string_view(label).size(), ' '));
  }
}

RingBuffer<double> ring(const std::vector<double>& values) {
  RingBuffer<double> r(values.size() + 1);
  for (double v : values) r.push_back(v);
  return r;
}

TEST(DashboardView, SparklineSeries) {
  using Bars = std::vector<std::uint64_t>;
  // The reward history spans at least one unit; fewer than two entries show 50.
  const std::pair<std::vector<double>, Bars> rewards[] = {
      {{}, {50}}, {{-7.0}, {50}}, {{3.0, 3.0, 3.0}, {0, 0, 0}}, {{0.0, 0.5}, {0, 50}},
      {{-10.0, 0.0, 10.0, 9.99}, {0, 50, 100, 99}}, {{0.0, NAN, 4.0}, {0, 0, 100}}, {{NAN, NAN}, {0, 0}}};
  for (const auto& [values, bars] : rewards) EXPECT_EQ(reward_bars(ring(values)), bars) << values.size();
  EXPECT_EQ(percentage_bars(ring({-5.0, 0.0, 50.7, 99.99, 100.0, 150.0, NAN, INFINITY})),
            (Bars{0, 0, 50, 99, 100, 100, 0, 100}));
}

// A poisoned history leaves only what reads it blank (80 x 24 and 80 x 30: the
// history rows start at row 8, the footer takes the last three).
TEST(Views, PoisonedHistoryLeavesOnlyTheHistoryRowsBlank) {
  ViewState v;
  v.metrics.steps.store(42);
  v.append({.steps = 10000, .mean_reward = 1.0, .cpu_usage = 50.0});
  testing::poison(*v.state.history);
  for (auto [view, height, footer] : {std::tuple{&render_dashboard, 24, "Toggle Mode"},
                                      {&render_chart_dashboard, 30, "Switch Mode"}}) {
    term::Buffer b = v.draw(80, static_cast<std::uint16_t>(height), view);
    for (std::uint16_t y = 8; y < height - 3; ++y) EXPECT_EQ(b.row_text(y), std::string(80, ' ')) << y;
    EXPECT_NE(b.row_text(1).find("Steps: 42"), std::string::npos);
    EXPECT_NE(b.row_text(6).find("CPU: N/A"), std::string::npos);
    EXPECT_EQ(b.row_text(static_cast<std::uint16_t>(height - 2)),
              std::string("│ [q] Quit  [p] Pause  [m] ") + footer + "  [s] Save Checkpoint " + std::string(19, ' ') + "│");
  }
}

// A grid of 60 x 12 without GPU figures: two columns of 30; the left one split
// 7 + 5 rows, the right one 6 + 6.
TEST(ChartView, WithoutHistoryEveryCellWaitsUnderItsWaitingTitle) {
  ViewState v;
  term::Buffer b = v.draw(60, 12, render_chart_grid);
  const std::string waiting = "│Waiting for data...         │", empty = "│" + std::string(28, ' ') + "│",
                    bottom = "└" + line(28) + "┘";
  EXPECT_EQ(rows(b), (Rows{"┌ Reward History " + line(12) + "┐┌ CPU % " + line(21) + "┐", waiting + waiting,
                           empty + empty, empty + empty, empty + empty, empty + bottom,
                           bottom + "┌ RAM % " + line(21) + "┐", "┌ Losses " + line(20) + "┐" + waiting,
                           waiting + empty, empty + empty, empty + empty, bottom + bottom}));
  for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {0, 7}, {30, 0}, {31, 7}}) {
    EXPECT_EQ(b.at(x, y).fg, Color::DarkGray) << x << "," << y;
  }
}

TEST(ChartView, BoundsCoverAllPointsWithAMarginOnY) {
  using Points = std::vector<std::vector<term::Point>>;
  for (auto [series, x0, x1, y0, y1] : {
           std::tuple<Points, double, double, double, double>{{{}, {}}, 0, 1, 0, 1},
           {{{{10000, 5.0}}}, 10000, 10001, 4.99995, 5.00005}, {{{{0, -1.0}, {5, 0.3}, {9, 1.0}}}, 0, 9, -1.1, 1.1},
           {{{{10, 0.1}, {20, 0.2}}, {{10, 1.0}, {20, 3.0}}}, 10, 20, 0.1 - 0.145, 3.0 + 0.145},  // losses: both
           {{{{0, NAN}, {2, 2.0}, {4, 4.0}}}, 0, 4, 1.9, 4.1}, {{{{0, NAN}, {2, NAN}}}, 0, 2, 0, 1}}) {
    ChartBounds b = chart_bounds(series);
    for (auto [got, want] : {std::pair{b.x.first, x0}, {b.x.second, x1}, {b.y.first, y0}, {b.y.second, y1}}) {
      EXPECT_DOUBLE_EQ(got, want) << series.size() << " series from x " << x0;
    }
  }
}

TEST(ChartView, OneEntryLabelsBothAxesWithItsValue) {
  ViewState v;
  v.append({.steps = 10000, .mean_reward = 5.0});
  term::Buffer b = v.draw(60, 14, render_chart_grid);
  // The reward chart: y title, three label rows, the axis line, the x labels; the
  // CPU chart beside it on the percentage axis (two rows show its lower labels).
  EXPECT_EQ(first_columns(b.row_text(1), 32), "│Reward" + std::string(22, ' ') + "││%");
  EXPECT_EQ(b.at(1, 1).fg, Color::DarkGray);  // the axis title
  EXPECT_EQ(b.at(5, 2).fg, Color::DarkGray);  // and the axis line
  for (std::uint16_t y = 2; y < 5; ++y) EXPECT_EQ(first_columns(b.row_text(y), 5), "│5.00") << y;
  EXPECT_EQ(first_columns(b.row_text(6), 30), "│     10.0K    10.0K    10.0K│");
  EXPECT_NE(b.row_text(2).find("││50 │"), std::string::npos);
  EXPECT_NE(b.row_text(3).find("││0  │"), std::string::npos);
  EXPECT_NE(b.row_text(8).find("┌ Losses (Policy/Value) ─"), std::string::npos);
}

// The chart view shows the value and percentage axes; these are the step axis's
// number forms: >= tests in this order, so 999 999 reads 1000.0K and NaN is whole.
TEST(Axes, StepLabelsAbbreviateThousandsAndMillions) {
  using Labels = std::vector<std::string>;
  const std::tuple<double, double, Labels> cases[] = {
      {0, 10, {"0", "5", "10"}}, {500000, 1500000, {"500.0K", "1.0M", "1.5M"}},
      {999000, 999999, {"999.0K", "999.5K", "1000.0K"}}, {999.6, 999.6, {"1000", "1000", "1000"}},
      {-3, 0, {"-3", "-2", "0"}},  // -1.5 rounds half to even
      {NAN, 2500000, {"NaN", "NaN", "2.5M"}}};
  for (const auto& [lower, upper, labels] : cases) {
    term::Axis axis = create_x_axis(lower, upper);
    EXPECT_EQ(axis.labels, labels);
    EXPECT_EQ(axis.bounds[1], upper);
    EXPECT_TRUE(axis.title.empty());
  }
}

}  // namespace
}  // namespace vorlisk::tui::views
