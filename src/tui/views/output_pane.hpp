// The pane of the dashboard and chart views that shows what the process printed
// while the display is on: the newest lines that fit, one per row, cut at the right
// edge. Escape sequences are left out, tabs expanded, and a line rewritten after a
// carriage return (a progress bar) shows as it was last written.
#pragma once

#include <cstdint>
#include <string_view>

#include "tui/logger/shared_state.hpp"
#include "tui/term/frame.hpp"
#include "tui/views/common.hpp"

namespace vorlisk::tui::views {

// Rows of the pane in a frame `height` rows high whose other parts need `others`
// rows: up to kOutputLines lines and the borders once anything was printed, fewer
// where they do not fit, 0 for no pane.
inline constexpr std::uint16_t kOutputLines = 6;
std::uint16_t output_pane_rows(const SharedState& state, std::uint16_t height,
                               std::uint16_t others) noexcept;

void render_output_pane(term::Frame& frame, term::Rect area, const SharedState& state) noexcept;

// `line` as the pane shows it, at most `columns` wide, appended to `out`.
void printable_line(std::string_view line, std::size_t columns, StackText& out) noexcept;

// The newest line printed (the one being written, when it has text), or empty.
std::string_view newest_output_line(const SharedState& state) noexcept;

}  // namespace vorlisk::tui::views
