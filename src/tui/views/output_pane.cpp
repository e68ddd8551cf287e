#include "tui/views/output_pane.hpp"

#include <algorithm>
#include <array>

#include "tui/term/capture.hpp"
#include "tui/term/widgets/paragraph.hpp"

namespace vorlisk::tui::views {

namespace {

constexpr std::size_t kTabStop = 8;

bool printed_anything(const SharedState& state) noexcept {
  return state.output != nullptr && state.output->received() > 0;
}

// Up to out.size() of the newest lines of `text`, newest first; a final line feed
// ends the last line rather than starting an empty one. Returns how many.
std::size_t newest_lines(std::string_view text, std::span<std::string_view> out) noexcept {
  if (text.ends_with('\n')) text.remove_suffix(1);
  std::size_t n = 0;
  while (n < out.size() && !text.empty()) {
    const std::size_t lf = text.rfind('\n');
    const std::size_t start = lf == std::string_view::npos ? 0 : lf + 1;
    out[n++] = text.substr(start);
    if (lf == std::string_view::npos) break;
    text = text.substr(0, lf);
  }
  return n;
}

// The length of the escape sequence at the start of `s` (which starts with ESC):
// CSI up to its final byte, OSC up to BEL or ESC \, else ESC and one byte.
std::size_t escape_length(std::string_view s) noexcept {
  if (s.size() < 2) return s.size();
  std::size_t i = 2;
  if (s[1] == '[') {
    while (i < s.size() && !(s[i] >= 0x40 && s[i] <= 0x7E)) ++i;
    return std::min(i + 1, s.size());
  }
  if (s[1] == ']') {
    for (; i < s.size(); ++i) {
      if (s[i] == '\a') return i + 1;
      if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '\\') return i + 2;
    }
    return s.size();
  }
  return 2;
}

}  // namespace

void printable_line(std::string_view line, std::size_t columns, StackText& out) noexcept {
  if (line.ends_with('\r')) line.remove_suffix(1);  // a CR LF line end
  // What came after the last carriage return was written over what came before.
  if (const std::size_t cr = line.rfind('\r'); cr != std::string_view::npos) line.remove_prefix(cr + 1);
  std::size_t column = 0;
  while (!line.empty() && column < columns) {
    const auto c = static_cast<unsigned char>(line[0]);
    if (c == 0x1b) {
      line.remove_prefix(escape_length(line));
      continue;
    }
    if (c == '\t') {
      const std::size_t to = std::min((column / kTabStop + 1) * kTabStop, columns);
      for (; column < to; ++column) out.text(" ");
    } else if (c >= 0x20 && c != 0x7f) {
      // A UTF-8 sequence's continuation bytes take no column of their own.
      if ((c & 0xC0) != 0x80) ++column;
      out.text(line.substr(0, 1));
    }
    line.remove_prefix(1);
  }
  // Continuation bytes of the last character.
  while (!line.empty() && (static_cast<unsigned char>(line[0]) & 0xC0) == 0x80) {
    out.text(line.substr(0, 1));
    line.remove_prefix(1);
  }
}

std::uint16_t output_pane_rows(const SharedState& state, std::uint16_t height,
                               std::uint16_t others) noexcept {
  if (!printed_anything(state) || height <= others) return 0;
  const auto rows = static_cast<std::uint16_t>(std::min<int>(height - others, kOutputLines + 2));
  return rows >= 3 ? rows : 0;
}

void render_output_pane(term::Frame& frame, term::Rect area, const SharedState& state) noexcept {
  if (!printed_anything(state) || area.height < 3) return;
  std::array<std::string_view, kOutputLines> raw;
  const std::size_t n = newest_lines(state.output->text(),
                                     {raw.data(), std::min<std::size_t>(area.height - 2u, raw.size())});
  const std::size_t columns = area.width > 2 ? area.width - 2u : 0u;
  std::array<StackText, kOutputLines> texts;
  std::array<term::Span, kOutputLines> spans;
  std::array<term::Line, kOutputLines> lines;
  for (std::size_t i = 0; i < n; ++i) {  // oldest at the top
    printable_line(raw[n - 1 - i], columns, texts[i]);
    spans[i] = {texts[i].view(), {}};
    lines[i] = {{&spans[i], 1}};
  }
  term::Paragraph paragraph;
  paragraph.lines = {lines.data(), n};
  paragraph.block = titled(" Output ");
  paragraph.render(area, frame.buffer);
}

std::string_view newest_output_line(const SharedState& state) noexcept {
  if (!printed_anything(state)) return {};
  std::array<std::string_view, 1> line;
  return newest_lines(state.output->text(), line) ? line[0] : std::string_view{};
}

}  // namespace vorlisk::tui::views
