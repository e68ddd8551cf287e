#include "tui/term/widgets/paragraph.hpp"

namespace vorlisk::tui::term {

void Paragraph::render(Rect area, Buffer& buffer) const noexcept {
  const Rect inner = render_block(area, style, block, buffer);
  if (inner.empty()) return;

  std::uint16_t y = inner.top();
  for (const Line& line : lines) {
    if (y >= inner.bottom()) break;
    std::uint16_t x = inner.left();
    for (const Span& span : line.spans) {
      x = buffer.set_string(x, y, span.content, style.patch(span.style),
                            static_cast<std::uint16_t>(inner.right() - x));
    }
    ++y;
  }
}

}  // namespace vorlisk::tui::term
