// A frame of plain lines (┌ ┐ └ ┘ │ ─) around an area, with a title at the top left.
#pragma once

#include <optional>
#include <string_view>

#include "tui/term/buffer.hpp"

namespace vorlisk::tui::term {

struct Block {
  std::string_view title{};  // drawn from the second column of the top border; cut at the corner
  Style border_style{};       // laid over the border cells
  Style title_style{};        // laid over the title's cells, after the border style

  // The area inside the borders.
  static Rect inner(Rect area) noexcept { return area.inner(1); }

  void render(Rect area, Buffer& buffer) const noexcept;
};

// How the other widgets begin: `style` laid over `area`, then `block` drawn around it
// when there is one. Returns the area left inside, clipped to the buffer.
Rect render_block(Rect area, const Style& style, const std::optional<Block>& block, Buffer& buffer) noexcept;

}  // namespace vorlisk::tui::term
