// Helpers shared by the views' tests: a logger state to fill and a frame to draw it in.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "tui/logger/shared_state.hpp"
#include "tui/term/frame.hpp"

namespace vorlisk::tui::testing {

struct ViewState {
  SharedState state = SharedState::create(TUIMode::Minimal, 100);
  MetricsBuffer& metrics = *state.metrics;

  void append(const HistoryPoint& point) { state.history->lock()->append(point); }

  // Fails while holding the history lock, as a view that throws half-way would.
  void poison_history() {
    try {
      auto guard = state.history->lock();
      throw std::runtime_error("failed while drawing");
    } catch (const std::runtime_error&) {
    }
  }

  // Draws a whole view, or a panel given the whole frame as its area.
  template <class View>
  term::Buffer draw(std::uint16_t width, std::uint16_t height, View view) const {
    term::Buffer buffer(term::Rect{0, 0, width, height});
    term::Frame frame{buffer};
    if constexpr (std::is_invocable_v<View, term::Frame&, const SharedState&>) {
      view(frame, state);
    } else {
      view(frame, frame.area(), state);
    }
    return buffer;
  }
};

// Rows y0 .. y1-1 of a buffer (all of them by default) as text.
inline std::vector<std::string> rows(const term::Buffer& b, std::uint16_t y0 = 0,
                                     std::uint16_t y1 = UINT16_MAX) {
  std::vector<std::string> out;
  for (std::uint16_t y = y0; y < std::min(y1, b.area().bottom()); ++y) out.push_back(b.row_text(y));
  return out;
}

// The whole buffer as one text, rows separated by line feeds.
inline std::string screen(const term::Buffer& b) {
  std::string out;
  for (const std::string& row : rows(b)) out += row + "\n";
  return out;
}

// "─" repeated n times.
inline std::string line(std::size_t n, std::string_view glyph = "─") {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += glyph;
  return out;
}

// The first n code points of a UTF-8 text.
inline std::string first_columns(std::string_view text, std::size_t n) {
  std::size_t end = 0;
  for (std::size_t columns = 0; end < text.size() && columns < n; ++columns) {
    do ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80);
  }
  return std::string(text.substr(0, end));
}

}  // namespace vorlisk::tui::testing
