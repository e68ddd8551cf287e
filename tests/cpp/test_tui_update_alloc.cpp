// update() sits in the training loop and must never allocate.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "alloc_counter.hpp"
#include "tui/logger/logger.hpp"
#include "tui/term/backend.hpp"
#include "tui/term/widgets/chart.hpp"
#include "tui/term/widgets/gauge.hpp"
#include "tui/term/widgets/paragraph.hpp"
#include "tui/term/widgets/sparkline.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

TEST(LoggerUpdate, AllocatesNothingWhateverItDoes) {
  LoggerOptions options;
  options.history_len = 4;
  options.update_interval_steps = 0;
  options.csv_path = "/dev/null";
  options.monitor_sources = testing::fake_sources();
  Logger logger(std::move(options));

  vorlisk::testing::CountAllocations allocations;
  // Enough rows to fill and flush the CSV buffer many times and to wrap the
  // histories, with every optional figure present.
  for (std::uint64_t i = 0; i < 5000; ++i) {
    logger.update({.steps = i, .episodes = i, .mean_reward = 1e300, .sps = -1.5,
                   .policy_loss = 0.1, .gpu_usage = 50.0, .gpu_memory = 1e30,
                   .total_gpu_memory = 2.0});
  }
  EXPECT_EQ(allocations.count(), 0);
  EXPECT_EQ(logger.shared().history->lock()->size(), 4u);
}

TEST(LoggerUpdate, TheCounterSeesAllocations) {
  static int* volatile kept;  // volatile: the allocation cannot be optimised away
  {
    vorlisk::testing::CountAllocations allocations;
    kept = new int(1);
    EXPECT_EQ(allocations.count(), 1);
  }
  delete kept;
}

class NullOutput : public term::Output {
 public:
  void write(std::string_view) override {}
  void flush() override {}
};

// Once the terminal's buffers and output text have grown to the frame's size,
// drawing the widgets and writing the difference allocate nothing.
TEST(TerminalFrame, AllocatesNothingOnceWarm) {
  using namespace term;
  NullOutput output;
  Terminal terminal(output, ColorMode::Colors);
  std::vector<Point> points;
  std::vector<std::uint64_t> bars;
  for (int i = 0; i < 1000; ++i) {
    points.push_back({i * 10.0, (i % 97) / 97.0});
    bars.push_back(static_cast<std::uint64_t>(i % 101));
  }
  const std::array datasets{Dataset{.name = "Reward", .data = points, .style = fg(Color::Yellow)}};
  const Chart chart{.datasets = datasets,
                    .x_axis = Axis{.bounds = {0, 9990}, .labels = {"0", "5.0K", "10.0K"}},
                    .y_axis = Axis{.title = "Reward", .bounds = {0, 1}, .labels = {"0.00", "0.50", "1.00"}},
                    .block = Block{.title = " Reward History "}};
  auto frame = [&](std::uint16_t percent) {
    return [&, percent](Frame& f) {
      const std::array spans{Span{"Steps: ", fg(Color::Gray)}, Span{percent % 2 ? "1,000" : "1,001", Style{}.bold()}};
      const std::array lines{Line{spans}};
      Paragraph{.lines = lines, .block = Block{.title = " Progress "}}.render(Rect{0, 0, 60, 5}, f.buffer);
      Gauge{.percent = percent, .gauge_style = fg(Color::Green), .block = Block{}}.render(Rect{60, 0, 60, 5}, f.buffer);
      Sparkline{.data = bars, .max = 100, .block = Block{}}.render(Rect{0, 5, 120, 10}, f.buffer);
      chart.render(Rect{0, 15, 120, 25}, f.buffer);
    };
  };
  terminal.draw(Size{120, 40}, frame(0));
  terminal.draw(Size{120, 40}, frame(100));
  vorlisk::testing::CountAllocations allocations;
  for (std::uint16_t i = 0; i < 50; ++i) terminal.draw(Size{120, 40}, frame(i));
  EXPECT_EQ(allocations.count(), 0);
}

}  // namespace
}  // namespace vorlisk::tui
