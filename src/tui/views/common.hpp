// Helpers the views share.
//
// Text the views build for one frame, formatted into fixed storage on the stack so
// that drawing a frame allocates no strings. Spans borrow these texts, so a
// StackText must outlive the widget that draws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tui/term/frame.hpp"
#include "tui/term/style.hpp"
#include "tui/term/widgets/block.hpp"

namespace vorlisk::tui::views {

class StackText {
 public:
  static constexpr std::size_t kCapacity = 1024;

  std::string_view view() const noexcept { return {data_, size_}; }
  std::size_t size() const noexcept { return size_; }

  // Each appends; what does not fit in kCapacity is cut.
  StackText& text(std::string_view s) noexcept;
  // Decimal, with a comma between groups of three digits: 1234567 -> 1,234,567.
  StackText& grouped(std::uint64_t n) noexcept;
  // Fixed point with `decimals` places, rounded to nearest with exact ties to even;
  // a negative value (negative zero too) keeps its sign; NaN, inf and -inf as such.
  StackText& fixed(double value, int decimals) noexcept;
  // Pads what was appended since `start` with spaces on the left to `width`
  // characters; longer text is kept whole.
  StackText& right_align(std::size_t start, std::size_t width) noexcept;

 private:
  char data_[kCapacity];
  std::size_t size_ = 0;
};

// Load colours of the device panels: red above 80 %, yellow above 60 %, else the
// panel's own colour. NaN counts as no load.
term::Color load_color(double percent, term::Color base) noexcept;

// A percentage as a bar height for a sparkline of maximum 100: clamped to 0..100
// and truncated; NaN gives 0.
std::uint64_t bar_height(double percent) noexcept;

// A block with all four borders and `title` at the top left, in the colours of
// what it frames.
inline term::Block titled(std::string_view title) noexcept {
  term::Block block;
  block.title = title;
  return block;
}

// The key help at the bottom of the dashboard and chart views: one dark gray
// line in a bordered block without a title.
void render_footer(term::Frame& frame, term::Rect area, std::string_view text) noexcept;

}  // namespace vorlisk::tui::views
