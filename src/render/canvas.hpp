// Drawing the pictures of the tasks: a canvas over one RGB frame, with the few shapes
// Gymnasium's classic-control renders are made of.
//
// Coordinates are the ones those renders use: x to the right, y up from the bottom
// row (they draw y down and flip the finished surface), one unit a pixel, pixel
// centres on whole numbers. Filled shapes cover the pixel centres inside them fully
// and fade out over one pixel beyond their edges, as a filled shape with an
// antialiased outline does; strokes fade over the pixel centred on their edges, as an
// antialiased line does, so that a one-pixel line on a pixel row stays one row.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vorlisk::render {

struct Rgb {
  std::uint8_t r, g, b;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

struct Point {
  double x, y;
};

// (x, y) turned by `angle` radians counterclockwise, then moved by `by`.
inline Point rotated(Point p, double angle, Point by = {0.0, 0.0}) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return {p.x * c - p.y * s + by.x, p.x * s + p.y * c + by.y};
}

struct FrameSize {
  std::size_t width, height;
};

// Bytes of one frame: rows top to bottom, three bytes (red, green, blue) a pixel.
constexpr std::size_t frame_bytes(FrameSize size) { return size.width * size.height * 3; }

class Canvas {
 public:
  // Draws into frame_bytes(size) bytes at `pixels`, which it does not own.
  Canvas(std::uint8_t* pixels, FrameSize size) : pixels_(pixels), size_(size) {}

  FrameSize size() const { return size_; }

  void fill(Rgb colour);
  // A convex polygon, its corners in either order.
  void fill_polygon(std::span<const Point> corners, Rgb colour);
  void fill_circle(Point centre, double radius, Rgb colour);
  // A straight stroke `width` pixels across, with round ends.
  void line(Point from, Point to, double width, Rgb colour);
  // Strokes joining the points in turn; where two strokes overlap, a pixel is drawn
  // once, by the nearer one, so that the joints are not darker than the strokes.
  void polyline(std::span<const Point> points, double width, Rgb colour);

  // The colour of the pixel at column x of row `row` (rows counted from the top).
  Rgb at(std::size_t x, std::size_t row) const;

 private:
  struct Box {
    long x0, x1, y0, y1;  // inclusive pixel bounds, y up; empty where x0 > x1 or y0 > y1
  };
  Box clip(double x0, double x1, double y0, double y1) const;
  // Mixes `colour` into the pixel at (x, y) by `coverage` (0 to 1).
  void blend(long x, long y, Rgb colour, double coverage);

  std::uint8_t* pixels_;
  FrameSize size_;
};

}  // namespace vorlisk::render
