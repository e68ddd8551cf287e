#include "tui/term/widgets/sparkline.hpp"

#include <algorithm>

namespace vorlisk::tui::term {

namespace {

// A cell filled to 0..8 eighths from the bottom.
constexpr const char* kBars[9] = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};

}  // namespace

void Sparkline::render(Rect area, Buffer& buffer) const noexcept {
  const Rect inner = render_block(area, style, block, buffer);
  if (inner.empty()) return;

  const std::size_t bars = std::min<std::size_t>(data.size(), inner.width);
  const std::span<const std::uint64_t> shown = data.last(bars);
  std::uint64_t top = max;
  for (std::uint64_t v : shown) top = max != 0 || v == kNoSample ? top : std::max(top, v);
  const double full = 8.0 * inner.height;  // eighths in a full column
  for (std::size_t i = 0; i < bars; ++i) {
    if (shown[i] == kNoSample) continue;
    // Floating point because value * height * 8 could overflow 64 bits.
    std::uint64_t eighths =
        top == 0 ? 0
                 : static_cast<std::uint64_t>(static_cast<double>(std::min(shown[i], top)) /
                                              static_cast<double>(top) * full);
    const auto x = static_cast<std::uint16_t>(inner.x + i);
    for (std::uint16_t y = inner.bottom(); y-- > inner.top();) {
      const std::uint64_t here = std::min<std::uint64_t>(eighths, 8);
      buffer.at(x, y).set_symbol(kBars[here]);
      eighths -= here;
    }
  }
}

}  // namespace vorlisk::tui::term
