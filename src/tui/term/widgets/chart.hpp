// A line chart: datasets drawn as connected line segments on a grid of Braille dots
// (2 x 4 dots per cell), with an x axis along the bottom and a y axis on the left,
// each with bounds, evenly spaced labels and an optional title, and a legend of the
// dataset names in the top right corner of the plot (left out when it does not fit).
//
// Layout inside the block: the y labels take the columns at the left (as wide as the
// widest label, each label left-aligned), then the y axis line (│); the bottom row
// holds the x labels, the row above it the x axis line (─) with └ where the axes
// meet; the y title takes the top row from the left edge, and the x title sits at the
// right end of the plot's bottom row. The plot is what is left at the top right. A
// chart too small for its axes and one cell of plot draws only its style and block.
//
// Labels are spaced evenly from the lower bound to the upper bound: y labels from the
// plot's bottom row to its top row; the first x label starts at the plot's first
// column, the last one ends at its last column, those between are centred on their
// place. An x label that would touch its neighbour or the last label is left out.
//
// Data: every finite point inside the bounds is a dot, and two consecutive finite
// points are joined by their segment cut to the bounds, so nothing is drawn outside
// the plot; a point that is not finite breaks the line. Bounds with lower == upper put
// the points that lie on them in the middle; reversed or non-finite bounds draw no
// data. Dots of several datasets share cells; a cell takes the colour of the last
// dataset drawn into it.
//
// Legend: a bordered box listing the named datasets, each in its style, in the top
// right corner of the plot, which no data is drawn under. It is left out when it
// would take more than half the plot's width or two thirds of its height.
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
