// A line chart: datasets drawn as connected line segments on a grid of Braille dots
// (2 x 4 dots per cell), with an x axis along the bottom and a y axis on the left,
// each with bounds, evenly spaced labels and an optional title, and a legend of the
// dataset names in the top right corner of the plot (left out when it does not fit).
//
// Layout inside the block, as in the usual terminal chart widgets: the y labels take
// the columns at the left (as wide as the widest label, and at least the first x
// label), then the y axis line (│); the bottom row holds the x labels, the row above
// it the x axis line (─) with └ where the axes meet; the y title sits above the y
// labels on the top row and the x title at the right end above the x axis. Labels are
// spaced evenly from the lower bound to the upper bound, the first aligned left.
// Points and segments are clipped to the bounds: nothing is drawn outside the plot.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tui/term/buffer.hpp"
#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::term {

struct Point {
  double x;
  double y;
};

struct Dataset {
  std::string_view name{};       // shown in the legend; empty names are not listed
  std::span<const Point> data{}; // in drawing order
  Style style{};                 // colour of the dots and of the legend entry
};

struct Axis {
  std::string title{};           // empty: none
  Style title_style{};
  Style style{};                 // style of the axis line
  double bounds[2] = {0.0, 0.0};
  std::vector<std::string> labels{};
};

struct Chart {
  std::span<const Dataset> datasets{};
  Axis x_axis{};
  Axis y_axis{};
  Style style{};                 // laid over the whole area, block included
  std::optional<Block> block{};

  void render(Rect area, Buffer& buffer) const;
};

}  // namespace vorlisk::tui::term
