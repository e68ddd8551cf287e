// Colours, text modifiers and styles of terminal cells.
#pragma once

#include <cstdint>
#include <optional>

namespace vorlisk::tui::term {

// The sixteen standard terminal colours by palette index, and the terminal's own
// default colour.
enum class Color : std::uint8_t {
  Black = 0,
  Red = 1,
  Green = 2,
  Yellow = 3,
  Blue = 4,
  Magenta = 5,
  Cyan = 6,
  Gray = 7,
  DarkGray = 8,
  LightRed = 9,
  LightGreen = 10,
  LightYellow = 11,
  LightBlue = 12,
  LightMagenta = 13,
  LightCyan = 14,
  White = 15,
  Reset = 255,
};

// A set of text modifiers, as bit flags.
enum class Modifier : std::uint8_t {
  None = 0,
  Bold = 1 << 0,
  Dim = 1 << 1,
  Italic = 1 << 2,
  Underlined = 1 << 3,
  Reversed = 1 << 4,
};

constexpr Modifier operator|(Modifier a, Modifier b) noexcept {
  return static_cast<Modifier>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
constexpr Modifier operator&(Modifier a, Modifier b) noexcept {
  return static_cast<Modifier>(static_cast<std::uint8_t>(a) & static_cast<std::uint8_t>(b));
}
constexpr Modifier operator~(Modifier a) noexcept {
  return static_cast<Modifier>(~static_cast<std::uint8_t>(a) & 0x1f);
}
constexpr bool contains(Modifier set, Modifier m) noexcept { return (set & m) == m; }

// What to change in a cell: a style without a colour leaves the colour beneath it,
// and its modifiers are added to (or removed from) those beneath it.
struct Style {
  std::optional<Color> fg{};
  std::optional<Color> bg{};
  Modifier add_modifier = Modifier::None;
  Modifier sub_modifier = Modifier::None;

  constexpr Style fg_color(Color c) const noexcept { Style s = *this; s.fg = c; return s; }
  constexpr Style bg_color(Color c) const noexcept { Style s = *this; s.bg = c; return s; }
  constexpr Style bold() const noexcept { return add(Modifier::Bold); }
  constexpr Style add(Modifier m) const noexcept {
    Style s = *this;
    s.add_modifier = s.add_modifier | m;
    s.sub_modifier = s.sub_modifier & ~m;
    return s;
  }
  constexpr Style remove(Modifier m) const noexcept {
    Style s = *this;
    s.sub_modifier = s.sub_modifier | m;
    s.add_modifier = s.add_modifier & ~m;
    return s;
  }

  // `other` laid over this style: its colours win where it has them, its
  // modifiers are added and removed on top of these.
  constexpr Style patch(const Style& other) const noexcept {
    Style s = *this;
    if (other.fg) s.fg = other.fg;
    if (other.bg) s.bg = other.bg;
    s.add_modifier = (s.add_modifier & ~other.sub_modifier) | other.add_modifier;
    s.sub_modifier = (s.sub_modifier & ~other.add_modifier) | other.sub_modifier;
    return s;
  }

  friend constexpr bool operator==(const Style&, const Style&) = default;
};

constexpr Style fg(Color c) noexcept { return Style{}.fg_color(c); }

}  // namespace vorlisk::tui::term
