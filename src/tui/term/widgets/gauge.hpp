// A horizontal bar filled to a percentage, with a label centred on it.
//
// The style is laid over the whole area (block included); gauge_style's foreground
// colours the inner area's text, and the filled cells take gauge_style's foreground
// as their background (and its background, or else the terminal's default colour,
// as their text colour; without a gauge foreground they are drawn reversed). Only
// whole cells are filled: floor(width * percent / 100). The label sits on the
// middle row (the lower one of two), centred and cut to the inner width; over
// filled cells its colours are swapped the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "tui/term/buffer.hpp"
#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::term {

struct Gauge {
  std::uint16_t percent = 0;  // 0..100; larger values draw as 100
  std::string_view label{};   // empty: "<percent>%"
  Style style{};
  Style gauge_style{};
  std::optional<Block> block{};

  void render(Rect area, Buffer& buffer) const noexcept;
};

}  // namespace vorlisk::tui::term
