#include "tui/term/text.hpp"

#include "tui/term/utf8.hpp"

namespace vorlisk::tui::term {

std::size_t text_width(std::string_view text) noexcept {
  std::size_t width = 0;
  for (; !text.empty(); ++width) text.remove_prefix(utf8::sequence_length(text));
  return width;
}

}  // namespace vorlisk::tui::term
