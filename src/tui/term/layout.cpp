#include "tui/term/layout.hpp"

#include <algorithm>
#include <cstdint>

namespace vorlisk::tui::term {

namespace {

using Kind = Constraint::Kind;

// Takes up to `excess` from `size`, returning what is still to be taken.
std::uint32_t shrink(std::uint16_t& size, std::uint32_t excess) {
  const auto taken = static_cast<std::uint16_t>(std::min<std::uint32_t>(size, excess));
  size = static_cast<std::uint16_t>(size - taken);
  return excess - taken;
}

}  // namespace

void split(Rect area, Direction direction, std::span<const Constraint> constraints,
           std::span<Rect> out) noexcept {
  const bool vertical = direction == Direction::Vertical;
  const std::uint16_t start = vertical ? area.y : area.x;
  // right()/bottom() saturate, so the parts never run past the last coordinate.
  const std::uint32_t total = (vertical ? area.bottom() : area.right()) - start;
  const std::size_t n = std::min(constraints.size(), out.size());

  // The parts' sizes are worked out in place, in the output rectangles.
  auto size = [&](std::size_t i) -> std::uint16_t& { return vertical ? out[i].height : out[i].width; };
  std::uint32_t asked = 0, min_parts = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = vertical ? Rect{area.x, 0, area.width, 0} : Rect{0, area.y, 0, area.height};
    if (i >= n) continue;
    const Constraint& c = constraints[i];
    size(i) = c.kind == Kind::Percentage
                  ? static_cast<std::uint16_t>(std::min<std::uint64_t>(std::uint64_t{total} * c.value / 100, total))
                  : c.value;
    asked += size(i);
    if (c.kind == Kind::Min) ++min_parts;
  }

  if (asked < total && n > 0) {
    const std::uint32_t leftover = total - asked;
    if (min_parts == 0) {
      size(n - 1) = static_cast<std::uint16_t>(size(n - 1) + leftover);
    } else {
      std::uint32_t rank = 0;  // the first Min parts take the remainder
      for (std::size_t i = 0; i < n; ++i) {
        if (constraints[i].kind != Kind::Min) continue;
        size(i) = static_cast<std::uint16_t>(size(i) + leftover / min_parts + (rank++ < leftover % min_parts ? 1 : 0));
      }
    }
  } else if (asked > total) {
    std::uint32_t excess = asked - total;
    for (std::size_t i = n; i-- > 0 && excess > 0;) {
      if (constraints[i].kind == Kind::Min) excess = shrink(size(i), excess);
    }
    for (std::size_t i = n; i-- > 0 && excess > 0;) excess = shrink(size(i), excess);
  }

  std::uint16_t offset = start;
  for (std::size_t i = 0; i < out.size(); ++i) {
    (vertical ? out[i].y : out[i].x) = offset;
    offset = static_cast<std::uint16_t>(offset + size(i));
  }
}

}  // namespace vorlisk::tui::term
