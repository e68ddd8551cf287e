// Walking UTF-8 text one code point at a time (internal to the toolkit).
#pragma once

#include <cstddef>
#include <string_view>

namespace vorlisk::tui::term::utf8 {

// Bytes taken by the first code point of `text` (not empty). A malformed sequence
// counts as one byte, so walking text always moves on and never reads past its end.
inline std::size_t sequence_length(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t n = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (n == 0 || n > text.size()) return 1;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

}  // namespace vorlisk::tui::term::utf8
