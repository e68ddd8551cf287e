#include "tui/term/backend.hpp"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace vorlisk::tui::term {

namespace {

// The attributes the terminal currently writes with.
struct Pen {
  Color fg = Color::Reset;
  Color bg = Color::Reset;
  Modifier modifier = Modifier::None;
  friend bool operator==(const Pen&, const Pen&) = default;
};

struct ModifierCode {
  Modifier modifier;
  const char* code;
};
constexpr ModifierCode kModifierCodes[] = {{Modifier::Bold, "1"},       {Modifier::Dim, "2"},
                                           {Modifier::Italic, "3"},     {Modifier::Underlined, "4"},
                                           {Modifier::Reversed, "7"}};

void append_number(std::string& out, unsigned value) {
  char digits[8];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Appends the SGR sequence that turns the terminal's attributes from `pen` into
// those of `cell`, if they differ.
void change_pen(Pen& pen, const Cell& cell, ColorMode colors, std::string& out) {
  const bool colored = colors == ColorMode::Colors;
  const Pen want{colored ? cell.fg : Color::Reset, colored ? cell.bg : Color::Reset, cell.modifier};
  if (want == pen) return;
  out += "\x1b[";
  const std::size_t start = out.size();
  auto parameter = [&](const char* text) {
    if (out.size() != start) out += ';';
    out += text;
  };
  auto color = [&](const char* palette, const char* default_color, Color c) {
    if (c == Color::Reset) return parameter(default_color);
    parameter(palette);
    append_number(out, static_cast<unsigned>(c));
  };
  if ((pen.modifier & ~want.modifier) != Modifier::None) {  // a modifier goes: start afresh
    parameter("0");
    pen = Pen{};
  }
  for (const ModifierCode& m : kModifierCodes) {
    if (contains(want.modifier, m.modifier) && !contains(pen.modifier, m.modifier)) parameter(m.code);
  }
  if (want.fg != pen.fg) color("38;5;", "39", want.fg);
  if (want.bg != pen.bg) color("48;5;", "49", want.bg);
  out += 'm';
  pen = want;
}

// Whether row y of two buffers of one area holds the same cells, in one memcmp: Cell's
// operator== compares every member in full and cells have no padding, so equal cells
// are equal bytes. Most rows of a frame are unchanged.
static_assert(std::has_unique_object_representations_v<Cell>);
bool same_row(const Buffer& a, const Buffer& b, std::uint16_t y) noexcept {
  const Rect area = a.area();
  return std::memcmp(&a.at(area.x, y), &b.at(area.x, y), sizeof(Cell) * area.width) == 0;
}

void reset_pen(const Pen& pen, std::string& out) {
  if (pen != Pen{}) out += "\x1b[0m";
}

}  // namespace

ColorMode color_mode_from_env() noexcept {
  static const ColorMode mode = [] {
    const char* value = std::getenv("NO_COLOR");
    return value != nullptr && *value != '\0' ? ColorMode::NoColor : ColorMode::Colors;
  }();
  return mode;
}

void render_diff(const Buffer& previous, const Buffer& next, ColorMode colors, std::string& out) {
  static const Cell kBlank{};
  const Rect area = next.area();
  const bool comparable = previous.area() == area;  // otherwise: against a cleared screen
  Pen pen;  // each diff leaves the terminal with the default attributes
  std::uint32_t cursor_x = UINT32_MAX, cursor_y = UINT32_MAX;  // unknown at first
  for (std::uint16_t y = area.top(); y < area.bottom(); ++y) {
    if (comparable && area.width > 0 && same_row(previous, next, y)) continue;
    for (std::uint16_t x = area.left(); x < area.right(); ++x) {
      const Cell& cell = next.at(x, y);
      if (cell == (comparable ? previous.at(x, y) : kBlank)) continue;
      if (x != cursor_x || y != cursor_y) {
        out += "\x1b[";
        append_number(out, y + 1u);
        out += ';';
        append_number(out, x + 1u);
        out += 'H';
      }
      change_pen(pen, cell, colors, out);
      out += cell.symbol();
      cursor_x = x + 1u;  // past the last column the next cell is never adjacent
      cursor_y = y;
    }
  }
  reset_pen(pen, out);
}

void render_full(const Buffer& buffer, ColorMode colors, std::string& out) {
  const Rect area = buffer.area();
  for (std::uint16_t y = area.top(); y < area.bottom(); ++y) {
    Pen pen;
    for (std::uint16_t x = area.left(); x < area.right(); ++x) {
      const Cell& cell = buffer.at(x, y);
      change_pen(pen, cell, colors, out);
      out += cell.symbol();
    }
    reset_pen(pen, out);
    out += '\n';
  }
}

Terminal::Terminal(Output& output, ColorMode colors) : output_(output), colors_(colors) {}

Terminal::~Terminal() {
  try {
    show_cursor();
  } catch (...) {  // nothing sensible is left to do with a terminal that fails here
  }
}

void Terminal::show_cursor() {
  if (!cursor_hidden_) return;
  output_.write("\x1b[?25h");
  output_.flush();
  cursor_hidden_ = false;
}

Frame Terminal::begin_frame(Size size) {
  const Rect area{0, 0, size.width, size.height};
  if (buffers_[current_].area() != area) {
    buffers_[0].resize(area);
    buffers_[1].resize(area);
    clear_needed_ = true;
  }
  Buffer& next = buffers_[1 - current_];
  next.reset();
  return Frame{next};
}

void Terminal::end_frame() {
  Buffer& previous = buffers_[current_];
  const Buffer& next = buffers_[1 - current_];
  bytes_.clear();
  if (!cursor_hidden_) {
    bytes_ += "\x1b[?25l";
    cursor_hidden_ = true;  // so that show_cursor() tries even if this write fails
  }
  if (clear_needed_) {
    bytes_ += "\x1b[0m\x1b[2J";  // the default background, then a blank screen
    previous.reset();
  }
  render_diff(previous, next, colors_, bytes_);
  if (!bytes_.empty()) {
    clear_needed_ = true;  // until the frame is known to be on the screen whole
    output_.write(bytes_);
    output_.flush();
  }
  clear_needed_ = false;
  current_ = 1 - current_;
}

}  // namespace vorlisk::tui::term
