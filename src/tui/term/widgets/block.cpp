#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::term {

void Block::render(Rect area, Buffer& buffer) const noexcept {
  if (area.empty()) return;
  const std::uint16_t left = area.left(), top = area.top();
  const auto right = static_cast<std::uint16_t>(area.right() - 1);
  const auto bottom = static_cast<std::uint16_t>(area.bottom() - 1);

  auto put = [&](std::uint16_t x, std::uint16_t y, const char* symbol) {
    if (Cell* cell = buffer.cell(x, y)) {  // a block may reach past the buffer
      cell->set_symbol(symbol);
      cell->set_style(border_style);
    }
  };
  for (std::uint16_t x = left; x <= right; ++x) {
    put(x, top, "─");
    put(x, bottom, "─");
  }
  for (std::uint16_t y = top; y <= bottom; ++y) {
    put(left, y, "│");
    put(right, y, "│");
  }
  put(left, top, "┌");
  put(right, top, "┐");
  put(left, bottom, "└");
  put(right, bottom, "┘");

  if (area.width > 2) {
    buffer.set_string(static_cast<std::uint16_t>(left + 1), top, title, border_style.patch(title_style),
                      static_cast<std::uint16_t>(area.width - 2));
  }
}

Rect render_block(Rect area, const Style& style, const std::optional<Block>& block, Buffer& buffer) noexcept {
  buffer.set_style(area, style);
  if (!block) return area.intersection(buffer.area());
  block->render(area, buffer);
  return Block::inner(area).intersection(buffer.area());
}

}  // namespace vorlisk::tui::term
