#include "tui/term/buffer.hpp"

#include <algorithm>
#include <string>

#include "tui/term/utf8.hpp"

namespace vorlisk::tui::term {

void Cell::set_symbol(std::string_view symbol) noexcept {
  if (symbol.empty()) return set_char(' ');
  const std::size_t n = utf8::sequence_length(symbol);
  const auto lead = static_cast<unsigned char>(symbol[0]);
  // Control characters would move the cursor or start escape sequences on the
  // terminal, so they show as blanks; malformed bytes show as U+FFFD.
  if (lead < 0x20 || lead == 0x7F) return set_char(' ');
  if (n == 1 && lead >= 0x80) return set_symbol("\xEF\xBF\xBD");
  if (lead == 0xC2 && static_cast<unsigned char>(symbol[1]) < 0xA0) return set_char(' ');  // C1 controls
  bytes = {0, 0, 0, 0};
  std::copy_n(symbol.data(), n, bytes.data());
  length = static_cast<std::uint8_t>(n);
}

void Cell::set_style(const Style& style) noexcept {
  if (style.fg) fg = *style.fg;
  if (style.bg) bg = *style.bg;
  modifier = (modifier | style.add_modifier) & ~style.sub_modifier;
}

void Buffer::resize(Rect area) {
  area_ = area;
  cells_.assign(area.area(), Cell{});  // keeps the capacity it has
}

void Buffer::reset() noexcept { std::fill(cells_.begin(), cells_.end(), Cell{}); }

std::uint16_t Buffer::set_string(std::uint16_t x, std::uint16_t y, std::string_view text,
                                 const Style& style, std::uint16_t max_width) noexcept {
  if (y < area_.y || y >= area_.bottom()) return x;
  const std::uint32_t end = std::min<std::uint32_t>(area_.right(), std::uint32_t{x} + max_width);
  std::uint32_t col = x;
  for (; !text.empty() && col < end; ++col) {
    const std::size_t n = utf8::sequence_length(text);
    if (col >= area_.x) {  // columns left of the area are skipped, not shifted
      Cell& c = at(static_cast<std::uint16_t>(col), y);
      c.set_symbol(text.substr(0, n));
      c.set_style(style);
    }
    text.remove_prefix(n);
  }
  return static_cast<std::uint16_t>(col);
}

void Buffer::set_style(Rect area, const Style& style) noexcept {
  const Rect r = area.intersection(area_);
  for (std::uint16_t y = r.top(); y < r.bottom(); ++y) {
    for (std::uint16_t x = r.left(); x < r.right(); ++x) at(x, y).set_style(style);
  }
}

std::string Buffer::row_text(std::uint16_t y) const {
  std::string text;
  if (y < area_.y || y >= area_.bottom()) return text;
  for (std::uint16_t x = area_.left(); x < area_.right(); ++x) text += at(x, y).symbol();
  return text;
}

}  // namespace vorlisk::tui::term
