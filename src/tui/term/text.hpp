// Styled text: a span is a run of UTF-8 text in one style; a line is a row of spans.
// Both only borrow their text, so the caller keeps it alive while a widget draws.
//
// Every code point counts as one terminal column (the box-drawing, block and
// Braille glyphs the views use are one column wide).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "tui/term/style.hpp"

namespace vorlisk::tui::term {

struct Span {
  std::string_view content{};
  Style style{};
};

struct Line {
  std::span<const Span> spans{};
};

// Number of columns `text` takes: its code points.
std::size_t text_width(std::string_view text) noexcept;

}  // namespace vorlisk::tui::term
