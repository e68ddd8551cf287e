#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tui/term/layout.hpp"

namespace vorlisk::tui::term {
namespace {

using C = Constraint;

std::vector<std::uint16_t> sizes(Rect area, Direction direction, std::vector<Constraint> constraints) {
  std::vector<Rect> parts(constraints.size());
  split(area, direction, constraints, parts);
  std::vector<std::uint16_t> out;
  std::uint16_t next = direction == Direction::Vertical ? area.y : area.x;
  for (const Rect& r : parts) {
    // In order, without gaps or overlap, across the whole parent.
    if (direction == Direction::Vertical) {
      EXPECT_EQ(r.y, next);
      EXPECT_EQ(r.x, area.x);
      EXPECT_EQ(r.width, area.width);
      next = static_cast<std::uint16_t>(r.y + r.height);
      out.push_back(r.height);
    } else {
      EXPECT_EQ(r.x, next);
      EXPECT_EQ(r.y, area.y);
      EXPECT_EQ(r.height, area.height);
      next = static_cast<std::uint16_t>(r.x + r.width);
      out.push_back(r.width);
    }
  }
  EXPECT_EQ(next, direction == Direction::Vertical ? area.bottom() : area.right());
  return out;
}

struct SplitCase {
  const char* name;
  std::uint16_t total;
  std::vector<Constraint> constraints;
  std::vector<std::uint16_t> expected;
};

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, GivesEachPartItsShareInBothDirections) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(sizes(Rect{3, 2, c.total, 7}, Direction::Horizontal, c.constraints), c.expected);
  EXPECT_EQ(sizes(Rect{2, 3, 7, c.total}, Direction::Vertical, c.constraints), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Constraints, Split,
    ::testing::Values(
        SplitCase{"DashboardRowsTakeTheRestInMin", 40, {C::length(5), C::length(3), C::min(8), C::length(3)}, {5, 3, 29, 3}},
        SplitCase{"ExactFit", 19, {C::length(5), C::length(3), C::min(8), C::length(3)}, {5, 3, 8, 3}},
        SplitCase{"TooSmallParentShrinksMinThenTheLastParts", 10, {C::length(5), C::length(3), C::min(8), C::length(3)}, {5, 3, 0, 2}},
        SplitCase{"FarTooSmallParentKeepsTheFirstRows", 4, {C::length(5), C::length(3), C::min(8), C::length(3)}, {4, 0, 0, 0}},
        SplitCase{"EmptyParent", 0, {C::length(5), C::min(8)}, {0, 0}},
        SplitCase{"QuartersLeaveTheRemainderToTheLast", 103, {C::percentage(25), C::percentage(25), C::percentage(25), C::percentage(25)}, {25, 25, 25, 28}},
        SplitCase{"Halves", 7, {C::percentage(50), C::percentage(50)}, {3, 4}},
        SplitCase{"Thirds", 119, {C::percentage(33), C::percentage(33), C::percentage(34)}, {39, 39, 41}},
        SplitCase{"FortyThirtyThirty", 117, {C::percentage(40), C::percentage(30), C::percentage(30)}, {46, 35, 36}},
        SplitCase{"SixtyForty", 17, {C::percentage(60), C::percentage(40)}, {10, 7}},
        SplitCase{"LeftoverSharedByMinPartsFirstOnesFirst", 12, {C::min(1), C::length(2), C::min(1), C::min(1)}, {4, 2, 3, 3}},
        SplitCase{"OverfullPercentagesCutFromTheLast", 10, {C::percentage(80), C::percentage(80)}, {8, 2}},
        SplitCase{"SinglePart", 9, {C::length(3)}, {9}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Split, NeverRunsPastTheLastCoordinate) {
  auto parts = split(Rect{65530, 0, 20, 1}, Direction::Horizontal, std::array{C::length(4), C::min(0)});
  EXPECT_EQ(parts[0], (Rect{65530, 0, 4, 1}));
  EXPECT_EQ(parts[1], (Rect{65534, 0, 1, 1}));
}

}  // namespace
}  // namespace vorlisk::tui::term
