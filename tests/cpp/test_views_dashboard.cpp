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

// The column of the first code point of `needle` in row y, or -1.
int column_of(const term::Buffer& b, std::uint16_t y, std::string_view needle) {
  std::string row = b.row_text(y);
  std::size_t at = row.find(needle);
  if (at == std::string::npos) return -1;
  int column = 0;
  for (std::size_t i = 0; i < at; ++i) column += (static_cast<unsigned char>(row[i]) & 0xC0) != 0x80;
  return column;
}

// 80 x 24: statistics rows 0-4, device rows 5-7, sparklines rows 8-20, footer 21-23.
TEST(DashboardView, BeforeTheFirstUpdateShowsZerosAndNotAvailable) {
  ViewState v;
  term::Buffer b = v.draw(80, 24, render_dashboard);
  EXPECT_EQ(testing::rows(b, 0, 8),
            (Rows{"┌ Progress ────────┐┌ Performance ─────┐┌ Losses ──────────┐┌ Entropy ─────────┐",
                  "│Steps: 0          ││Reward: 0.00      ││Policy: 0.000000  ││                  │",
                  "│Episodes: 0       ││SPS: 0            ││Value: 0.000000   ││      0.0000      │",
                  "│                  ││                  ││                  ││                  │",
                  "└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘└" + line(18) + "┘",
                  "┌ CPU " + line(33) + "┐┌ Memory " + line(30) + "┐",
                  "│CPU: N/A" + std::string(30, ' ') + "││RAM: N/A" + std::string(30, ' ') + "│",
                  "└" + line(38) + "┘└" + line(38) + "┘"}));
  EXPECT_EQ(testing::rows(b, 21, 24),
            (Rows{"┌" + line(78) + "┐",
                  "│ [q] Quit  [p] Pause  [m] Toggle Mode  [s] Save Checkpoint " +
                      std::string(19, ' ') + "│",
                  "└" + line(78) + "┘"}));
  EXPECT_EQ(b.at(0, 21).fg, Color::DarkGray);
  EXPECT_EQ(b.at(0, 0).fg, Color::Reset);
  // The reward sparkline holds the single value 50: half of its 11 inner rows.
  std::string bar;
  for (std::uint16_t y = 9; y < 20; ++y) bar += b.at(1, y).symbol();
  EXPECT_EQ(bar, "     ▄█████");
  // The device sparklines are empty boxes.
  EXPECT_EQ(b.row_text(19).substr(b.row_text(19).find("││")), "││" + std::string(38, ' ') + "│");
}

struct LoadCase {
  const char* name;
  double cpu;
  std::uint64_t memory_mb, total_memory_mb;
  std::uint64_t gpu_memory_mb, total_gpu_memory_mb;
  const char* label;
  const char* value;
  Color color;
};

class DeviceColumns : public ::testing::TestWithParam<LoadCase> {};

TEST_P(DeviceColumns, ColourTheValueByStrictLoadThresholds) {
  const LoadCase& c = GetParam();
  ViewState v;
  v.metrics.cpu_usage.store(c.cpu);
  v.metrics.memory_mb.store(c.memory_mb);
  v.metrics.total_memory_mb.store(c.total_memory_mb);
  v.metrics.gpu_memory_mb.store(c.gpu_memory_mb);
  v.metrics.total_gpu_memory_mb.store(c.total_gpu_memory_mb);
  term::Buffer b = v.draw(120, 3, render_device_stats);
  std::string label_and_value = std::string(c.label) + c.value;
  int x = column_of(b, 1, label_and_value + " ");
  ASSERT_GE(x, 0) << b.row_text(1);
  const term::Cell& label = b.at(static_cast<std::uint16_t>(x), 1);
  const term::Cell& value = b.at(static_cast<std::uint16_t>(x + std::string_view(c.label).size()), 1);
  EXPECT_EQ(label.fg, Color::Gray);
  EXPECT_EQ(value.fg, c.color);
  EXPECT_EQ(value.modifier, term::Modifier::Bold);
}

INSTANTIATE_TEST_SUITE_P(
    Loads, DeviceColumns,
    ::testing::Values(
        LoadCase{"CpuAt80IsYellow", 80.0, 0, 0, 0, 0, "CPU: ", "80.0%", Color::Yellow},
        LoadCase{"CpuAbove80IsRed", 80.01, 0, 0, 0, 0, "CPU: ", "80.0%", Color::Red},
        LoadCase{"CpuAt60IsGreen", 60.0, 0, 0, 0, 0, "CPU: ", "60.0%", Color::Green},
        LoadCase{"CpuAbove60IsYellow", 60.01, 0, 0, 0, 0, "CPU: ", "60.0%", Color::Yellow},
        LoadCase{"CpuZeroIsNotAvailable", 0.0, 0, 0, 0, 0, "CPU: ", "N/A", Color::Green},
        LoadCase{"CpuNaNIsNotAvailable", NAN, 0, 0, 0, 0, "CPU: ", "N/A", Color::Green},
        LoadCase{"RamAt80IsYellow", 1, 8192, 10240, 0, 0, "RAM: ", "8.0/10.0 GB", Color::Yellow},
        LoadCase{"RamAbove80IsRed", 1, 8193, 10240, 0, 0, "RAM: ", "8.0/10.0 GB", Color::Red},
        LoadCase{"RamWithoutTotalIsNotAvailable", 1, 6144, 0, 0, 0, "RAM: ", "N/A", Color::Cyan},
        LoadCase{"GpuUnusedIsNotAvailable", 1, 0, 0, 0, 1024, "GPU: ", "N/A", Color::Green},
        LoadCase{"VramAt60IsMagenta", 1, 0, 0, 6144, 10240, "VRAM: ", "6.0/10.0 GB", Color::Magenta},
        LoadCase{"VramAbove80IsRed", 1, 0, 0, 10240, 10240, "VRAM: ", "10.0/10.0 GB", Color::Red}),
    [](const auto& info) { return info.param.name; });

// Only the total GPU memory switches GPU figures on, in both rows.
TEST(DashboardView, GpuPanelsNeedTheTotalGpuMemory) {
  ViewState v;
  v.metrics.gpu_usage.store(55.0);
  v.metrics.gpu_memory_mb.store(512);
  v.append({.steps = 10000, .gpu_usage = 55.0, .gpu_memory_percent = 50.0});
  std::string without = testing::screen(v.draw(120, 30, render_dashboard));
  EXPECT_EQ(without.find("GPU"), std::string::npos) << without;
  EXPECT_EQ(without.find("VRAM"), std::string::npos);

  v.metrics.total_gpu_memory_mb.store(1024);
  std::string with = testing::screen(v.draw(120, 30, render_dashboard));
  for (const char* text : {"┌ GPU ─", "GPU: 55.0%", "┌ GPU Memory ─", "VRAM: 0.5/1.0 GB", "┌ GPU % ─",
                           "┌ VRAM % ─"}) {
    EXPECT_NE(with.find(text), std::string::npos) << text << "\n" << with;
  }
}

struct EntropyCase {
  double entropy;
  int percent;
  const char* label;
};

class EntropyGauge : public ::testing::TestWithParam<EntropyCase> {};

TEST_P(EntropyGauge, FillsWithTheMagnitudeUpToOneAndLabelsTheSignedValue) {
  const EntropyCase& c = GetParam();
  ViewState v;
  v.metrics.entropy.store(c.entropy);
  term::Buffer b = v.draw(80, 5, render_stats);  // the gauge's inner area: x 61-78, y 1-3
  int filled = 0;
  for (std::uint16_t x = 61; x < 79; ++x) filled += b.at(x, 2).bg == Color::Green;
  EXPECT_EQ(filled, 18 * c.percent / 100);
  EXPECT_EQ(b.at(61, 1).bg, c.percent > 5 ? Color::Green : Color::Reset);
  std::string label = c.label;
  std::string inner;
  for (std::uint16_t x = 61; x < 79; ++x) inner += b.at(x, 2).symbol();
  std::size_t left = (18 - label.size()) / 2;  // centred, the odd column to the right
  EXPECT_EQ(inner, std::string(left, ' ') + label + std::string(18 - left - label.size(), ' '));
}

INSTANTIATE_TEST_SUITE_P(Values, EntropyGauge,
                         ::testing::Values(EntropyCase{0.0, 0, "0.0000"}, EntropyCase{-0.25, 25, "-0.2500"},
                                           EntropyCase{3.0, 100, "3.0000"},
                                           EntropyCase{NAN, 100, "NaN"}));

struct SeriesCase {
  const char* name;
  std::vector<double> values;
  std::vector<std::uint64_t> bars;
};

RingBuffer<double> ring(const std::vector<double>& values) {
  RingBuffer<double> r(values.size() + 1);
  for (double v : values) r.push_back(v);
  return r;
}

class RewardScaler : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(RewardScaler, SpansTheHistoryOverAtLeastOneUnit) {
  EXPECT_EQ(reward_bars(ring(GetParam().values)), GetParam().bars);
}

INSTANTIATE_TEST_SUITE_P(
    Histories, RewardScaler,
    ::testing::Values(SeriesCase{"Empty", {}, {50}}, SeriesCase{"OneEntry", {-7.0}, {50}},
                      SeriesCase{"Constant", {3.0, 3.0, 3.0}, {0, 0, 0}},
                      SeriesCase{"NarrowerThanOne", {0.0, 0.5}, {0, 50}},
                      SeriesCase{"Wide", {-10.0, 0.0, 10.0, 9.99}, {0, 50, 100, 99}},
                      SeriesCase{"NaNSkippedAndZero", {0.0, NAN, 4.0}, {0, 0, 100}},
                      SeriesCase{"OnlyNaN", {NAN, NAN}, {0, 0}}),
    [](const auto& info) { return info.param.name; });

TEST(PercentageBars, ClampAndTruncate) {
  EXPECT_EQ(percentage_bars(ring({-5.0, 0.0, 50.7, 99.99, 100.0, 150.0, NAN, INFINITY})),
            (std::vector<std::uint64_t>{0, 0, 50, 99, 100, 100, 0, 100}));
}

TEST(DashboardView, PoisonedHistoryLeavesOnlyTheSparklineRowBlank) {
  ViewState v;
  v.metrics.steps.store(42);
  v.append({.steps = 10000, .mean_reward = 1.0, .cpu_usage = 50.0});
  v.poison_history();
  term::Buffer b = v.draw(80, 24, render_dashboard);
  for (std::uint16_t y = 8; y < 21; ++y) EXPECT_EQ(b.row_text(y), std::string(80, ' ')) << y;
  EXPECT_NE(b.row_text(1).find("Steps: 42"), std::string::npos);
  EXPECT_NE(b.row_text(6).find("CPU: N/A"), std::string::npos);
  EXPECT_NE(b.row_text(22).find("[q] Quit"), std::string::npos);
}

}  // namespace
}  // namespace vorlisk::tui::views
