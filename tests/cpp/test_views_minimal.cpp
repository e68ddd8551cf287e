#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tui/views/views.hpp"
#include "views_test_support.hpp"

namespace vorlisk::tui::views {
namespace {

using testing::line;
using testing::ViewState;

const std::string kZeroLine =
    " Steps:            0 │ Episodes:        0 │ Reward:       0.00 │ SPS:            0 │ "
    "[q]uit [p]ause [m]ode ";

TEST(MinimalView, ZeroFiguresFillTheLineOf107Columns) {
  ViewState v;
  term::Buffer b = v.draw(109, 4, render_minimal);
  EXPECT_EQ(testing::rows(b, 0, 4),
            (std::vector<std::string>{"┌ Vorlisk " + line(98) + "┐", "│" + kZeroLine + "│",
                                      "│" + std::string(107, ' ') + "│", "└" + line(107) + "┘"}));
}

// The key reminder goes first, then the figures, never the border.
TEST(MinimalView, ANarrowerTerminalCutsTheLineAtTheRightBorder) {
  ViewState v;
  for (std::uint16_t width : {108, 80, 30, 3, 2}) {
    term::Buffer b = v.draw(width, 3, render_minimal);
    EXPECT_EQ(b.row_text(1), "│" + testing::first_columns(kZeroLine, width - 2) + "│") << width;
  }
}

struct FigureCase {
  const char* name;
  std::uint64_t steps;
  std::uint64_t episodes;
  double reward;
  double sps;
  std::string text;  // the line up to the key reminder
};

class MinimalFigures : public ::testing::TestWithParam<FigureCase> {};

TEST_P(MinimalFigures, AreRightAlignedInTheirFieldsAndNeverCut) {
  const FigureCase& c = GetParam();
  ViewState v;
  v.metrics.steps.store(c.steps);
  v.metrics.episodes.store(c.episodes);
  v.metrics.mean_reward.store(c.reward);
  v.metrics.sps.store(c.sps);
  term::Buffer b = v.draw(200, 3, render_minimal);
  std::string expected = "│" + c.text + " │ [q]uit [p]ause [m]ode ";
  EXPECT_EQ(b.row_text(1).substr(0, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, MinimalFigures,
    ::testing::Values(
        FigureCase{"Typical", 1250000, 8432, 187.345, 51234.5,
                   " Steps:    1,250,000 │ Episodes:    8,432 │ Reward:     187.34 │ SPS:        51234"},
        FigureCase{"LongSteps", 1000000000000, 12345678, 1e9, 1e13,
                   " Steps: 1,000,000,000,000 │ Episodes: 12,345,678 │ Reward: 1000000000.00 │ SPS: "
                   "10000000000000"},
        FigureCase{"NegativeReward", 0, 0, -12.5, 0.4,
                   " Steps:            0 │ Episodes:        0 │ Reward:     -12.50 │ SPS:            0"},
        FigureCase{"NotANumber", 0, 0, NAN, -INFINITY,
                   " Steps:            0 │ Episodes:        0 │ Reward:        NaN │ SPS:         -inf"}),
    [](const auto& info) { return info.param.name; });

TEST(MinimalView, TwoRowsShowOnlyTheBorder) {
  ViewState v;
  term::Buffer b = v.draw(40, 2, render_minimal);
  EXPECT_EQ(testing::rows(b, 0, 2),
            (std::vector<std::string>{"┌ Vorlisk " + line(29) + "┐", "└" + line(38) + "┘"}));
}

TEST(MinimalView, EverythingIsCyanBorderAndTitleIncluded) {
  ViewState v;
  term::Buffer b = v.draw(120, 3, render_minimal);
  for (std::uint16_t y = 0; y < 3; ++y) {
    for (std::uint16_t x = 0; x < 120; ++x) {
      ASSERT_EQ(b.at(x, y).fg, term::Color::Cyan) << x << "," << y;
      ASSERT_EQ(b.at(x, y).modifier, term::Modifier::None);
    }
  }
}

}  // namespace
}  // namespace vorlisk::tui::views
