#include "tui/term/widgets/gauge.hpp"

#include <algorithm>
#include <charconv>

#include "tui/term/text.hpp"

namespace vorlisk::tui::term {

void Gauge::render(Rect area, Buffer& buffer) const noexcept {
  const Rect inner = render_block(area, style, block, buffer);
  if (inner.empty()) return;

  // The bar is the gauge colour as background; text on it takes the gauge's
  // background colour, or the terminal's default one. Without a gauge colour the
  // bar is drawn in reverse video so that it still shows.
  Style empty = gauge_style;
  empty.bg.reset();
  Style filled{.fg = gauge_style.bg.value_or(Color::Reset), .bg = gauge_style.fg.value_or(Color::Reset)};
  if (!gauge_style.fg) filled = filled.add(Modifier::Reversed);

  const std::uint16_t p = std::min<std::uint16_t>(percent, 100);
  const auto filled_end = static_cast<std::uint16_t>(inner.x + inner.width * p / 100);
  for (std::uint16_t y = inner.top(); y < inner.bottom(); ++y) {
    for (std::uint16_t x = inner.left(); x < inner.right(); ++x) {
      Cell& cell = buffer.at(x, y);
      cell.set_char(' ');
      cell.set_style(x < filled_end ? filled : empty);
    }
  }

  char percent_text[8];
  std::string_view text = label;
  if (text.empty()) {
    char* end = std::to_chars(percent_text, percent_text + sizeof percent_text - 1, p).ptr;
    *end++ = '%';
    text = {percent_text, static_cast<std::size_t>(end - percent_text)};
  }
  // The label keeps the colours of the cells beneath it.
  const auto width = static_cast<std::uint16_t>(std::min<std::size_t>(text_width(text), inner.width));
  const auto x = static_cast<std::uint16_t>(inner.x + (inner.width - width) / 2);
  buffer.set_string(x, static_cast<std::uint16_t>(inner.y + inner.height / 2), text, Style{}, width);
}

}  // namespace vorlisk::tui::term
