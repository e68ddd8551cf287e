// Helpers shared by the terminal toolkit's tests.
#pragma once

#include <string>
#include <vector>

#include "tui/term/buffer.hpp"

namespace vorlisk::tui::term::testing {

// Every row of `buffer` as text, top to bottom.
inline std::vector<std::string> rows(const Buffer& buffer) {
  std::vector<std::string> out;
  for (std::uint16_t y = buffer.area().top(); y < buffer.area().bottom(); ++y) out.push_back(buffer.row_text(y));
  return out;
}

inline Buffer blank(std::uint16_t width, std::uint16_t height) { return Buffer(Rect{0, 0, width, height}); }

}  // namespace vorlisk::tui::term::testing
