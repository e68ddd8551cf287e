// Rectangles of terminal cells.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vorlisk::tui::term {

struct Size {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  friend constexpr bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;

  constexpr std::uint32_t area() const noexcept { return std::uint32_t{width} * height; }
  constexpr bool empty() const noexcept { return width == 0 || height == 0; }
  constexpr std::uint16_t left() const noexcept { return x; }
  constexpr std::uint16_t top() const noexcept { return y; }
  // One past the last column and row; saturates so a rectangle never wraps.
  constexpr std::uint16_t right() const noexcept {
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(std::uint32_t{x} + width, UINT16_MAX));
  }
  constexpr std::uint16_t bottom() const noexcept {
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(std::uint32_t{y} + height, UINT16_MAX));
  }
  constexpr bool contains(std::uint16_t cx, std::uint16_t cy) const noexcept {
    return cx >= x && cx < right() && cy >= y && cy < bottom();
  }
  // The rectangle shrunk by `margin` cells on every side (empty when too small).
  constexpr Rect inner(std::uint16_t margin) const noexcept {
    if (width < 2 * margin || height < 2 * margin) return Rect{x, y, 0, 0};
    return Rect{static_cast<std::uint16_t>(x + margin), static_cast<std::uint16_t>(y + margin),
                static_cast<std::uint16_t>(width - 2 * margin),
                static_cast<std::uint16_t>(height - 2 * margin)};
  }
  constexpr Rect intersection(const Rect& o) const noexcept {
    std::uint16_t l = std::max(x, o.x), t = std::max(y, o.y);
    std::uint16_t r = std::min(right(), o.right()), b = std::min(bottom(), o.bottom());
    if (l >= r || t >= b) return Rect{l, t, 0, 0};
    return Rect{l, t, static_cast<std::uint16_t>(r - l), static_cast<std::uint16_t>(b - t)};
  }

  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace vorlisk::tui::term
