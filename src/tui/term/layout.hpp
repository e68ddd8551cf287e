// Splitting a rectangle into rows or columns by constraints.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tui/term/rect.hpp"

namespace vorlisk::tui::term {

enum class Direction : std::uint8_t { Vertical, Horizontal };

struct Constraint {
  enum class Kind : std::uint8_t { Length, Min, Percentage };
  Kind kind;
  std::uint16_t value;

  static constexpr Constraint length(std::uint16_t n) noexcept { return {Kind::Length, n}; }
  static constexpr Constraint min(std::uint16_t n) noexcept { return {Kind::Min, n}; }
  static constexpr Constraint percentage(std::uint16_t p) noexcept { return {Kind::Percentage, p}; }
};

// Splits `area` along `direction` into constraints.size() parts, written to `out`
// (same size), in order and without gaps between them. Each part first asks for a
// size: Length(n) and Min(n) ask for n, Percentage(p) for floor(total * p / 100).
// What is left over goes to the Min parts (evenly, the first ones taking the
// remainder) or, when there is none, to the last part. When the asked sizes add up
// to more than there is, the excess is taken from the Min parts first, then from the
// other parts starting with the last, down to nothing: so a too-small parent keeps
// its first rows, and parts never overlap or leave `area`.
// Deterministic: the same inputs always give the same parts.
void split(Rect area, Direction direction, std::span<const Constraint> constraints,
           std::span<Rect> out) noexcept;

template <std::size_t N>
std::array<Rect, N> split(Rect area, Direction direction,
                          const std::array<Constraint, N>& constraints) noexcept {
  std::array<Rect, N> out{};
  split(area, direction, constraints, out);
  return out;
}

}  // namespace vorlisk::tui::term
