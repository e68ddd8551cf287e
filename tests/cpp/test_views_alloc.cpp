// A warm frame allocates only what each view needs afresh: one bar series per
// sparkline, one point list per chart dataset, and the label list of each chart
// axis (labels are short enough to live inside their strings). The terminal's
// buffers and output text are reused.
#include <gtest/gtest.h>

#include "alloc_counter.hpp"
#include "tui/term/backend.hpp"
#include "tui/views/views.hpp"
#include "views_test_support.hpp"

namespace vorlisk::tui::views {
namespace {

class NullOutput : public term::Output {
 public:
  void write(std::string_view) override {}
  void flush() override {}
};

struct FrameCase {
  const char* name;
  TUIMode mode;
  bool gpu;
  long allocations;
};

class WarmFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(WarmFrame, AllocatesOnlyItsSeriesPointsAndAxisLabels) {
  const FrameCase& c = GetParam();
  testing::ViewState v;
  v.metrics.cpu_usage.store(42.0);
  v.metrics.memory_mb.store(1000);
  v.metrics.total_memory_mb.store(4000);
  if (c.gpu) v.metrics.total_gpu_memory_mb.store(8000);
  for (std::uint64_t i = 0; i < 150; ++i) {  // wraps the 100-point history
    double x = static_cast<double>(i);
    v.append({.steps = i * 1000, .mean_reward = x, .sps = 1e5, .policy_loss = 1 / (x + 1),
              .value_loss = 2 / (x + 1), .cpu_usage = 40, .gpu_usage = 70,
              .memory_percent = 25, .gpu_memory_percent = 50});
  }

  NullOutput output;
  term::Terminal terminal(output, term::ColorMode::Colors);
  auto view = [&](term::Frame& frame) { render_view(c.mode, frame, v.state); };
  for (std::uint64_t steps : {1, 2}) {
    v.metrics.steps.store(steps);
    terminal.draw(term::Size{200, 60}, view);
  }
  vorlisk::testing::CountAllocations allocations;
  v.metrics.steps.store(3);
  terminal.draw(term::Size{200, 60}, view);
  EXPECT_EQ(allocations.count(), c.allocations);
}

INSTANTIATE_TEST_SUITE_P(
    Views, WarmFrame,
    ::testing::Values(FrameCase{"Minimal", TUIMode::Minimal, false, 0},
                      // Reward, CPU and RAM sparklines; GPU and VRAM with GPU figures.
                      FrameCase{"Dashboard", TUIMode::Dashboard, false, 3},
                      FrameCase{"DashboardGpu", TUIMode::Dashboard, true, 5},
                      // Four charts of one dataset but Losses with two, two axes each.
                      FrameCase{"Chart", TUIMode::Chart, false, 5 + 2 * 4},
                      FrameCase{"ChartGpu", TUIMode::Chart, true, 7 + 2 * 6}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorlisk::tui::views
