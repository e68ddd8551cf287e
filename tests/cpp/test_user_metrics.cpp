// The training loop's own metrics: cells that keep the last value given, histories
// in step with the built-in ones, CSV columns after the built-in ones, and the
// dashboard's panel and the chart view's charts laid out to fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tui/logger/logger.hpp"
#include "tui/views/views.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using testing::rows;
using Values = std::vector<double>;

Values sequence(const RingBuffer<double>& ring) {
  Values out;
  for (std::size_t i = 0; i < ring.size(); ++i) out.push_back(ring[i]);
  return out;
}

// A metric not given keeps its value (NaN before the first); each history point and
// CSV row carries the cells as they stand after the call.
TEST(UserMetrics, KeepTheirLastValueInCellsHistoriesAndCsvRows) {
  testing::MemFile file;
  {
    Logger logger({.history_len = 3, .csv_path = file.path(), .update_interval_steps = 0,
                   .user_metrics = {"kl", "lr"}, .monitor_sources = testing::fake_sources()});
    const double first[] = {1.0, 0.0}, second[] = {0.0, 10.0}, fourth[] = {4.0, -1e-7};
    logger.update({.steps = 1, .user = {first, 0b01}});
    logger.update({.steps = 2, .user = {second, 0b10}});
    logger.update({.steps = 3});
    logger.update({.steps = 4, .user = {fourth, 0b11}});
    auto history = logger.shared().history->lock();
    EXPECT_EQ(sequence(history->user(0)), (Values{1.0, 1.0, 4.0}));
    EXPECT_EQ(sequence(history->user(1)), (Values{10.0, 10.0, -1e-7}));
    EXPECT_EQ(history->steps()[0], 2u);
  }
  // The last two columns of each line, after the twelve built-in ones.
  std::istringstream text(file.contents());
  std::vector<std::string> tails;
  for (std::string line; std::getline(text, line);) {
    std::size_t at = 0;
    for (int comma = 0; comma < 12; ++comma) at = line.find(',', at) + 1;
    tails.push_back(line.substr(at));
  }
  EXPECT_EQ(tails, (std::vector<std::string>{"kl,lr", "1.000000,NaN", "1.000000,10.000000", "1.000000,10.000000",
                                             "4.000000,-0.000000"}));
}

}  // namespace

namespace views {
namespace {

using testing::ViewState;

// Latest values in four significant digits (three beyond 1e-4 .. 1e6), N/A before
// the first, names in one column and a sparkline of the newest points on the right.
TEST(UserMetricsPanel, ValuesNamesAndSparklines) {
  ViewState v({}, {"kl", "clip_frac", "lr"});
  for (double kl : {1.0, 2.0, 3.0, 4.0, 5.0}) v.append({}, {kl, NAN, 0.5});
  const double latest[] = {0.0123, 0.0, 3e-7};
  v.state.user_metrics->store({latest, 0b101});
  EXPECT_EQ(rows(v.draw(80, 4, render_user_metrics)),
            (std::vector<std::string>{
                "┌ Metrics " + testing::line(69) + "┐",
                "│kl          0.01230 ▁▂▄▆█              clip_frac       N/A                    │",
                "│lr         3.00e-07 ▄▄▄▄▄" + std::string(53, ' ') + "│",
                "└" + testing::line(78) + "┘"}));
  for (auto [value, text] : {std::pair{12345.6, " 12346 "}, {-0.5, " -0.5000 "}, {1234567.0, " 1.23e+06 "},
                             {NAN, " NaN "}, {-INFINITY, " -inf "}, {0.0, " 0 "}, {1e-4, " 0.000100 "}}) {
    v.state.user_metrics->store({&value, 0b1});
    EXPECT_NE(v.draw(80, 4, render_user_metrics).row_text(1).find(text), std::string::npos) << text;
  }
}

// Infinite values neither blank a chart nor stretch its axis; in the panel they take
// the ends of the sparkline.
TEST(UserMetricsCharts, NonFiniteValuesDraw) {
  ViewState v({}, {"loss"});
  for (double loss : {1.0, HUGE_VAL, -HUGE_VAL, std::nan(""), 2.0}) v.append({.steps = 10000}, {loss});
  const double latest = HUGE_VAL;
  v.state.user_metrics->store({&latest, 0b1});
  const std::vector<std::string> chart = rows(v.draw(100, 20, render_charts));
  const auto title = std::ranges::find_if(chart, [](const std::string& row) { return row.starts_with("┌ loss inf ─"); });
  ASSERT_NE(title, chart.end());
  EXPECT_TRUE(title[1].starts_with("│2.05│") && title[3].starts_with("│0.95│")) << title[1] << "\n" << title[3];
  EXPECT_EQ(v.draw(40, 3, render_user_metrics).row_text(1), "│loss       inf ▁█▁ █" + std::string(18, ' ') + "│");
}

// At every size each metric shows (names cut in the narrowest charts), every panel
// keeps its own rectangle (as many top-left corners as panels), the dashboard's
// sparklines keep their 8 rows and the key help stays at the bottom.
TEST(UserMetricsLayout, EveryMetricShowsAndNothingOverlaps) {
  const std::vector<std::string> eight = {"kl",      "clip_frac", "lr",            "episode_len",
                                          "epsilon", "grad_norm", "explained_var", "q_value"};
  for (std::size_t n : {1u, 3u, 8u}) {
    for (auto [width, height] : {std::pair<std::uint16_t, std::uint16_t>{200, 60}, {120, 40}, {80, 24}}) {
      ViewState v({}, std::vector<std::string>(eight.begin(), eight.begin() + static_cast<std::ptrdiff_t>(n)));
      for (auto [view, boxes] : {std::pair{&render_dashboard, std::size_t{11}}, {&render_chart_dashboard, 11 + n}}) {
        const term::Buffer b = v.draw(width, height, view);
        std::string screen;
        std::size_t corners = 0;
        for (const std::string& row : rows(b)) {
          screen += row + "\n";
          for (std::size_t at = row.find("┌"); at != std::string::npos; at = row.find("┌", at + 1)) ++corners;
        }
        const std::string where = std::to_string(n) + " at " + std::to_string(width) + "x" + std::to_string(height);
        EXPECT_EQ(corners, boxes) << where << "\n" << screen;
        for (std::size_t i = 0; i < n; ++i) {
          const std::string name =
              view == &render_dashboard ? eight[i] + " " : "┌ " + eight[i].substr(0, 6);
          EXPECT_NE(screen.find(name), std::string::npos) << eight[i] << ", " << where << "\n" << screen;
        }
        EXPECT_NE(b.row_text(static_cast<std::uint16_t>(height - 2)).find("[q] Quit"), std::string::npos) << where;
        for (std::uint16_t y = 8; y < 16 && view == &render_dashboard; ++y) {
          EXPECT_EQ(b.row_text(y).find("┌ Metrics"), std::string::npos) << where << "\n" << screen;
        }
      }
    }
  }
}

}  // namespace
}  // namespace views
}  // namespace vorlisk::tui
