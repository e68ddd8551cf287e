// The three views drawn from a logger's state into a buffer, and their axes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "tui/term/text.hpp"
#include "tui/term/widgets/sparkline.hpp"
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

// A whole buffer as text, one line a row.
std::string screen(const term::Buffer& b) {
  std::string out;
  for (const std::string& row : rows(b)) out += row + "\n";
  return out;
}

// Every view's fixed texts before the first update: titles, labels, "N/A" and the
// key help. The dashboard at 80 x 24: statistics rows 0-4, device rows 5-7,
// sparklines rows 8-20, key help 21-23. The chart grid at 60 x 12 without GPU
// figures: two columns of 30, the left one split 7 + 5 rows, the right one 6 + 6.
TEST(Views, FixedTextsBeforeTheFirstUpdate) {
  ViewState v;
  EXPECT_EQ(rows(v.draw(109, 4, render_minimal)),
            (Rows{"┌ Vorlisk " + line(98) + "┐",
                  "│ Steps:            0 │ Episodes:        0 │ Reward:       0.00 │ SPS:            0 │ [q]uit [p]ause "
                  "[m]ode │",
                  "│ Time:       0:00:00" + std::string(87, ' ') + "│", "└" + line(107) + "┘"}));
  term::Buffer b = v.draw(80, 24, render_dashboard);
  EXPECT_EQ(rows(b, 0, 9),
            (Rows{"┌ Progress ────────┐┌ Performance ─────┐┌ Losses ──────────┐┌ Entropy ─────────┐",
                  "│Steps: 0          ││Reward: 0.00      ││Policy: 0.000000  ││                  │",
                  "│Episodes: 0       ││SPS: 0            ││Value: 0.000000   ││      0.0000      │",
                  "│Time: 0:00:00     ││                  ││                  ││                  │",
                  "└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘",
                  "┌ CPU " + line(33) + "┐┌ Memory " + line(30) + "┐",
                  "│CPU: N/A" + std::string(30, ' ') + "││RAM: N/A" + std::string(30, ' ') + "│",
                  "└" + line(38) + "┘└" + line(38) + "┘",
                  "┌ Reward History " + line(22) + "┐┌ CPU % " + line(31) + "┐"}));
  // The reward sparkline holds the single value 50: half of its 11 inner rows.
  std::string bar;
  for (std::uint16_t y = 9; y < 20; ++y) bar += b.at(1, y).symbol();
  EXPECT_EQ(bar, "     ▄█████");
  const std::string waiting = "│Waiting for data...         │", empty = "│" + std::string(28, ' ') + "│",
                    bottom = "└" + line(28) + "┘";
  EXPECT_EQ(rows(v.draw(60, 12, render_chart_grid)),
            (Rows{"┌ Reward History " + line(12) + "┐┌ CPU % " + line(21) + "┐", waiting + waiting, empty + empty,
                  empty + empty, empty + empty, empty + bottom, bottom + "┌ RAM % " + line(21) + "┐",
                  "┌ Losses " + line(20) + "┐" + waiting, waiting + empty, empty + empty, empty + empty,
                  bottom + bottom}));
  for (auto [view, height, mode] : {std::tuple{&render_dashboard, 24, "Toggle"}, {&render_chart_dashboard, 30, "Switch"}}) {
    EXPECT_EQ(rows(v.draw(80, static_cast<std::uint16_t>(height), view), static_cast<std::uint16_t>(height - 3)),
              (Rows{"┌" + line(78) + "┐",
                    "│ [q] Quit  [p] Pause  [m] " + std::string(mode) + " Mode  [s] Save Checkpoint " +
                        std::string(19, ' ') + "│",
                    "└" + line(78) + "┘"}));
  }
}

// Share done and time left where they fit: progress panel lines 1 and 3, minimal line 2.
TEST(Views, ProgressAndTimeLeft) {
  for (auto [total, sps, width, steps_line, time_line] : {
           std::tuple<std::uint64_t, double, std::uint16_t, std::string, std::string>{5000000, 1e3, 120, "Steps: 1,250,000 (25.0%) ", "Time: 1:02:05  ETA: 1:02:30 "},
           {5000000, 1e3, 80, "Steps: 1,250,000 ", "Time: 1:02:05 "},  // no room
           {5000000, 0.0, 120, "Steps: 1,250,000 (25.0%) ", "Time: 1:02:05  ETA: --:--:--│"},
           {1000000, 1e3, 120, "Steps: 1,250,000 (125.0%) ", "Time: 1:02:05  ETA: 0:00:00 "}}) {
    ViewState v(std::chrono::seconds(3725));
    v.state.total_steps = total;
    v.metrics.steps.store(1250000);
    v.metrics.sps.store(sps);
    term::Buffer b = v.draw(width, 5, render_stats);
    EXPECT_TRUE(b.row_text(1).starts_with("│" + steps_line) && b.row_text(3).starts_with("│" + time_line)) << width;
    if (width == 80) {  // the minimal view has room
      EXPECT_TRUE(v.draw(120, 4, render_minimal).row_text(2).starts_with("│ Time:       1:02:05 │ Progress:    25.0% │ ETA:       1:02:30  "));
    }
  }
}

// While paused, the last frame says so on the top border (minimal) or the key help's.
TEST(Views, APausedFrameSaysSo) {
  ViewState v;
  v.state.paused->store(true);
  for (auto [view, height, row] : {std::tuple{&render_minimal, 3, 0}, {&render_dashboard, 24, 21}, {&render_chart_dashboard, 30, 27}}) {
    EXPECT_TRUE(v.draw(60, static_cast<std::uint16_t>(height), view).row_text(static_cast<std::uint16_t>(row)).ends_with("─ PAUSED ┐"));
  }
}

TEST(MinimalView, FiguresAreRightAlignedInTheirFieldsAndNeverCut) {
  for (auto [steps, episodes, reward, sps, text] : {
           std::tuple{1250000ul, 8432ul, 187.345, 51234.5,
                      " Steps:    1,250,000 │ Episodes:    8,432 │ Reward:     187.34 │ SPS:        51234"},
           {1000000000000ul, 12345678ul, 1e9, 1e13,
            " Steps: 1,000,000,000,000 │ Episodes: 12,345,678 │ Reward: 1000000000.00 │ SPS: 10000000000000"},
           {0ul, 0ul, NAN, -INFINITY,
            " Steps:            0 │ Episodes:        0 │ Reward:        NaN │ SPS:         -inf"}}) {
    ViewState v;
    v.metrics.steps.store(steps);
    v.metrics.episodes.store(episodes);
    v.metrics.mean_reward.store(reward);
    v.metrics.sps.store(sps);
    const std::string expected = "│" + std::string(text) + " │ [q]uit [p]ause [m]ode ";
    term::Buffer b = v.draw(200, 3, render_minimal);
    EXPECT_EQ(b.row_text(1).substr(0, expected.size()), expected);
    EXPECT_EQ(b.at(9, 1).fg, Color::Cyan);
  }
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
// sparklines (columns of 33 %, 33 % and 34 %) or charts.
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
  EXPECT_EQ(v.draw(120, 30, render_dashboard).row_text(8),
            "┌ Reward History " + line(21) + "┐┌ CPU % " + line(30) + "┐┌ GPU % " + line(33) + "┐");
}

TEST(DashboardView, EntropyGaugeFillsWithTheMagnitudeUpToOneAndShowsTheSignedValue) {
  for (auto [entropy, percent, label] : {std::tuple{0.0, 0, "0.0000"}, {-0.25, 25, "-0.2500"},
                                         {3.0, 100, "3.0000"}, {NAN, 100, "NaN"}}) {
    ViewState v;
    v.metrics.entropy.store(entropy);
    term::Buffer b = v.draw(80, 5, render_stats);  // the gauge's inner area: x 61-78, y 1-3
    int filled = 0;
    for (std::uint16_t x = 61; x < 79; ++x) {
      filled += b.at(x, 2).bg == Color::Green;
      EXPECT_NE(b.at(x, 2).fg, b.at(x, 2).bg) << x;  // the label stays readable over the bar
    }
    EXPECT_EQ(filled, 18 * percent / 100) << label;
    EXPECT_NE(b.row_text(2).find(std::string(label) + " "), std::string::npos) << b.row_text(2);
  }
}

RingBuffer<double> ring(const std::vector<double>& values) {
  RingBuffer<double> r(values.size() + 1);
  for (double v : values) r.push_back(v);
  return r;
}

TEST(DashboardView, SparklineSeries) {
  using Bars = std::vector<std::uint64_t>;
  constexpr std::uint64_t kNo = term::Sparkline::kNoSample;
  // The reward history spans at least one unit; fewer than two entries show 50.
  const std::pair<std::vector<double>, Bars> rewards[] = {
      {{}, {50}}, {{-7.0}, {50}}, {{200.0, 200.0, 200.0}, {50, 50, 50}}, {{0.0, 0.5}, {25, 75}},
      {{-10.0, 0.0, 10.0, 9.99}, {0, 50, 100, 99}}, {{0.0, NAN, 4.0}, {0, kNo, 100}},
      {{NAN, 3.0}, {kNo, 50}}, {{NAN, NAN}, {kNo, kNo}}};
  for (const auto& [values, bars] : rewards) EXPECT_EQ(reward_bars(ring(values)), bars) << values.size();
  EXPECT_EQ(percentage_bars(ring({NAN, -5.0, 0.0, 50.7, 99.99, 100.0, 150.0, NAN, INFINITY})),
            (Bars{kNo, 0, 0, 50, 99, 100, 100, kNo, 100}));
  // A missing sample keeps its column, empty.
  const std::uint64_t series[] = {kNo, 100, kNo, 50, 100};
  term::Buffer buffer(term::Rect{0, 0, 5, 1});
  term::Sparkline{.data = series, .max = 100}.render(buffer.area(), buffer);
  EXPECT_EQ(buffer.row_text(0), " █ ▄█");
}

// The newest entries that fit: after 100 updates at 100 and 60 at 0, all 56 columns show the drop.
TEST(DashboardView, SparklinesShowTheNewestEntriesThatFit) {
  ViewState v;
  for (int i = 0; i < 170; ++i) v.append({.mean_reward = i < 10 ? 10.0 * (i + 1) : i < 110 ? 100.0 : 0.0});
  EXPECT_EQ(v.draw(116, 6, render_sparklines).row_text(4), "│" + std::string(56, ' ') + "││" + std::string(56, ' ') + "│");
}

// A poisoned history leaves only what reads it blank (80 x 24 and 80 x 30: the
// history rows start at row 8, the key help takes the last three).
TEST(Views, PoisonedHistoryLeavesOnlyTheHistoryRowsBlank) {
  ViewState v;
  v.metrics.steps.store(42);
  v.append({.steps = 10000, .mean_reward = 1.0, .cpu_usage = 50.0});
  testing::poison(*v.state.history);
  for (auto [view, height] : {std::pair{&render_dashboard, 24}, {&render_chart_dashboard, 30}}) {
    term::Buffer b = v.draw(80, static_cast<std::uint16_t>(height), view);
    for (std::uint16_t y = 8; y < height - 3; ++y) EXPECT_EQ(b.row_text(y), std::string(80, ' ')) << y;
    EXPECT_NE(b.row_text(1).find("Steps: 42"), std::string::npos);
    EXPECT_NE(b.row_text(6).find("CPU: N/A"), std::string::npos);
    EXPECT_NE(b.row_text(static_cast<std::uint16_t>(height - 2)).find("[q] Quit"), std::string::npos);
  }
}

// A chart cell's axes: x from the first step to the last, at least one wide, its
// labels in thousands and millions (>= tests, so 999 999 reads 1000.0K); y over the
// values of every dataset, NaN skipped, with a margin of 5 % and at least 0.00005,
// and labels with two decimals under a dark gray title.
TEST(ChartView, AxesCoverAllPoints) {
  using Points = std::vector<std::vector<term::Point>>;
  using Labels = std::vector<std::string>;
  for (const auto& [series, x_labels, y_labels, y0, y1] : {
           std::tuple<Points, Labels, Labels, double, double>{
               {{}, {}}, {"0", "0", "1"}, {"0.00", "0.50", "1.00"}, 0, 1},  // 0.5 rounds to even
           {{{{10000, 5.0}}}, {"10.0K", "10.0K", "10.0K"}, {"5.00", "5.00", "5.00"}, 4.99995, 5.00005},
           {{{{500000, -1.0}, {800000, 0.3}, {1500000, 1.0}}}, {"500.0K", "1.0M", "1.5M"}, {"-1.10", "0.00", "1.10"},
            -1.1, 1.1},
           {{{{999000, 0.1}, {999999, 0.2}}, {{999000, 1.0}, {999999, 2.1}}},  // losses: both
            {"999.0K", "999.5K", "1000.0K"}, {"0.00", "1.10", "2.20"}, 0.0, 2.2},
           {{{{0, NAN}, {2, 2.0}, {4, 4.0}}}, {"0", "2", "4"}, {"1.90", "3.00", "4.10"}, 1.9, 4.1},
           {{{{0, NAN}, {2, NAN}}}, {"0", "1", "2"}, {"0.00", "0.50", "1.00"}, 0, 1}}) {
    ChartBounds b = chart_bounds(series);
    EXPECT_EQ(create_x_axis(b.x.first, b.x.second).labels, x_labels);
    EXPECT_EQ(create_y_axis("Loss", b.y).labels, y_labels);
    EXPECT_DOUBLE_EQ(b.y.first, y0) << x_labels[0];
    EXPECT_DOUBLE_EQ(b.y.second, y1) << x_labels[0];
  }
  EXPECT_EQ(create_y_axis("Loss", {0, 1}).title_style, term::fg(Color::DarkGray));
  EXPECT_EQ(create_percentage_y_axis().labels, (Labels{"0", "50", "100"}));
}

}  // namespace
}  // namespace vorlisk::tui::views
