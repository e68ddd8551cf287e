// Bars of a series, one column per value, oldest at the left. A value equal to `max`
// fills the inner height; the top cell of a bar shows one of the eight block glyphs
// (▁▂▃▄▅▆▇█) for the part of a cell it fills, and an empty cell is a space. When
// there are more values than columns, the newest ones that fit are drawn: the
// series is a recent history, and its latest values matter most. A value of
// kNoSample keeps its column empty: a sample that does not exist is not drawn, and
// the columns of two series taken at the same updates stay aligned.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "tui/term/buffer.hpp"
#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::term {

struct Sparkline {
  static constexpr std::uint64_t kNoSample = std::numeric_limits<std::uint64_t>::max();

  std::span<const std::uint64_t> data{};
  std::uint64_t max = 0;  // 0: the largest value of `data`
  Style style{};          // laid over the whole area, block included
  std::optional<Block> block{};

  void render(Rect area, Buffer& buffer) const noexcept;
};

}  // namespace vorlisk::tui::term
