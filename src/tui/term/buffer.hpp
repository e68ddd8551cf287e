// A rectangle of cells: what one frame shows. Widgets draw into it; the backend
// compares two of them and writes the difference to the terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tui/term/rect.hpp"
#include "tui/term/style.hpp"

namespace vorlisk::tui::term {

struct Cell {
  // One UTF-8 encoded code point (one column), stored inline so cells never allocate.
  std::array<char, 4> bytes{' ', 0, 0, 0};
  std::uint8_t length = 1;
  Color fg = Color::Reset;
  Color bg = Color::Reset;
  Modifier modifier = Modifier::None;

  std::string_view symbol() const noexcept { return {bytes.data(), length}; }
  // Takes the first code point of `symbol` (a space when it is empty). Control
  // characters become a space and malformed UTF-8 becomes U+FFFD, so no text can
  // reach the terminal as a control sequence.
  void set_symbol(std::string_view symbol) noexcept;
  void set_char(char c) noexcept { bytes = {c, 0, 0, 0}; length = 1; }
  void set_style(const Style& style) noexcept;
  void reset() noexcept { *this = Cell{}; }

  friend bool operator==(const Cell&, const Cell&) = default;
};

class Buffer {
 public:
  Buffer() = default;
  explicit Buffer(Rect area) { resize(area); }

  const Rect& area() const noexcept { return area_; }

  // Covers `area` with blank cells. Reuses the storage when it is large enough.
  void resize(Rect area);
  // Every cell blank again; keeps the area and the storage.
  void reset() noexcept;

  // Precondition: area().contains(x, y).
  Cell& at(std::uint16_t x, std::uint16_t y) noexcept { return cells_[index_of(x, y)]; }
  const Cell& at(std::uint16_t x, std::uint16_t y) const noexcept { return cells_[index_of(x, y)]; }
  // nullptr outside the area.
  Cell* cell(std::uint16_t x, std::uint16_t y) noexcept {
    return area_.contains(x, y) ? &at(x, y) : nullptr;
  }

  // Writes `text` from (x, y) rightwards in `style`, one code point per cell, never
  // past `max_width` columns nor past the right edge of the area, never onto the next
  // row. Returns the column after the last one written. Does nothing for a row
  // outside the area.
  std::uint16_t set_string(std::uint16_t x, std::uint16_t y, std::string_view text,
                           const Style& style, std::uint16_t max_width = UINT16_MAX) noexcept;

  // Lays `style` over every cell of `area` (clipped to the buffer).
  void set_style(Rect area, const Style& style) noexcept;

  // Row y's symbols as text, trailing spaces kept (for tests and the capture tool).
  std::string row_text(std::uint16_t y) const;

 private:
  std::size_t index_of(std::uint16_t x, std::uint16_t y) const noexcept {
    return std::size_t{static_cast<std::uint16_t>(y - area_.y)} * area_.width +
           static_cast<std::uint16_t>(x - area_.x);
  }

  Rect area_;
  std::vector<Cell> cells_;
};

}  // namespace vorlisk::tui::term
