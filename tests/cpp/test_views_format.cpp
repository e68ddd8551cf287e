#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tui/views/views.hpp"

namespace vorlisk::tui::views {
namespace {

using Labels = std::vector<std::string>;

// Bounds are handed on unchanged, NaN included.
bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

struct AxisCase {
  double lower, upper;
  Labels labels;
};

class StepAxis : public ::testing::TestWithParam<AxisCase> {};

TEST_P(StepAxis, LabelsTheEndsAndTheMiddle) {
  const AxisCase& c = GetParam();
  term::Axis axis = create_x_axis(c.lower, c.upper);
  EXPECT_EQ(axis.labels, c.labels);
  EXPECT_TRUE(same(axis.bounds[0], c.lower));
  EXPECT_TRUE(same(axis.bounds[1], c.upper));
  EXPECT_TRUE(axis.title.empty());
  EXPECT_EQ(axis.style, term::fg(term::Color::DarkGray));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, StepAxis,
    ::testing::Values(AxisCase{0, 10, {"0", "5", "10"}}, AxisCase{0, 2000, {"0", "1.0K", "2.0K"}},
                      AxisCase{500000, 1500000, {"500.0K", "1.0M", "1.5M"}},
                      AxisCase{999000, 999999, {"999.0K", "999.5K", "1000.0K"}},
                      AxisCase{10000, 10001, {"10.0K", "10.0K", "10.0K"}},
                      AxisCase{999.6, 999.6, {"1000", "1000", "1000"}},
                      AxisCase{-3, 0, {"-3", "-2", "0"}},  // -1.5 rounds half to even
                      AxisCase{NAN, 2500000, {"NaN", "NaN", "2.5M"}}));

class ValueAxis : public ::testing::TestWithParam<AxisCase> {};

TEST_P(ValueAxis, LabelsWithTwoDecimalsUnderItsTitle) {
  const AxisCase& c = GetParam();
  term::Axis axis = create_y_axis("Reward", {c.lower, c.upper});
  EXPECT_EQ(axis.labels, c.labels);
  EXPECT_TRUE(same(axis.bounds[0], c.lower));
  EXPECT_TRUE(same(axis.bounds[1], c.upper));
  EXPECT_EQ(axis.title, "Reward");
  EXPECT_EQ(axis.title_style, term::fg(term::Color::DarkGray));
  EXPECT_EQ(axis.style, term::fg(term::Color::DarkGray));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ValueAxis,
    ::testing::Values(AxisCase{-0.05, 1.05, {"-0.05", "0.50", "1.05"}},
                      AxisCase{-1.1, 1.1, {"-1.10", "0.00", "1.10"}},
                      AxisCase{4.99995, 5.00005, {"5.00", "5.00", "5.00"}},
                      AxisCase{0, 1e6, {"0.00", "500000.00", "1000000.00"}},
                      AxisCase{NAN, 1, {"NaN", "NaN", "1.00"}},
                      AxisCase{-INFINITY, INFINITY, {"-inf", "NaN", "inf"}}));

TEST(PercentageAxis, IsFixedFromZeroToHundred) {
  term::Axis axis = create_percentage_y_axis();
  EXPECT_EQ(axis.labels, (Labels{"0", "50", "100"}));
  EXPECT_EQ(axis.bounds[0], 0.0);
  EXPECT_EQ(axis.bounds[1], 100.0);
  EXPECT_EQ(axis.title, "%");
  EXPECT_EQ(axis.title_style, term::fg(term::Color::DarkGray));
}

}  // namespace
}  // namespace vorlisk::tui::views
