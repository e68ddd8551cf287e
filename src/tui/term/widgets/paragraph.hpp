// Lines of styled text inside an optional block. The paragraph's style is laid over
// its whole area before the block is drawn, so a styled paragraph colours its border
// and title too. Lines are never wrapped: a line wider than the inner area is cut at
// its right edge; lines beyond the inner height are not drawn.
#pragma once

#include <optional>
#include <span>

#include "tui/term/buffer.hpp"
#include "tui/term/text.hpp"
#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::term {

struct Paragraph {
  std::span<const Line> lines{};
  Style style{};
  std::optional<Block> block{};

  void render(Rect area, Buffer& buffer) const noexcept;
};

}  // namespace vorlisk::tui::term
