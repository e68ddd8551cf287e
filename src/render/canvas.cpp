#include "render/canvas.hpp"

#include <algorithm>
#include <cstring>

namespace vorlisk::render {
namespace {

double clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// A lane whose state has become NaN or infinite is drawn without the shapes it places.
bool finite(std::span<const Point> points) {
  for (const Point& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  }
  return true;
}

// Distance from p to the segment from a to b.
double segment_distance(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  double t = 0.0;
  if (length2 > 0.0) t = clamp01(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

}  // namespace

void Canvas::fill(Rgb colour) {
  const std::size_t bytes = frame_bytes(size_);
  if (colour.r == colour.g && colour.g == colour.b) {
    std::memset(pixels_, colour.r, bytes);
    return;
  }
  for (std::size_t i = 0; i < bytes; i += 3) {
    pixels_[i] = colour.r;
    pixels_[i + 1] = colour.g;
    pixels_[i + 2] = colour.b;
  }
}

Canvas::Box Canvas::clip(double x0, double x1, double y0, double y1) const {
  // No out-of-range double is ever converted to an integer.
  const double right = static_cast<double>(size_.width) - 1.0;
  const double top = static_cast<double>(size_.height) - 1.0;
  x0 = x0 >= 0.0 ? std::min(std::ceil(x0), right + 1.0) : 0.0;
  y0 = y0 >= 0.0 ? std::min(std::ceil(y0), top + 1.0) : 0.0;
  x1 = x1 <= right ? std::max(std::floor(x1), -1.0) : right;
  y1 = y1 <= top ? std::max(std::floor(y1), -1.0) : top;
  return {static_cast<long>(x0), static_cast<long>(x1), static_cast<long>(y0),
          static_cast<long>(y1)};
}

void Canvas::blend(long x, long y, Rgb colour, double coverage) {
  if (!(coverage > 0.0)) return;  // also NaN
  std::uint8_t* px =
      pixels_ + ((size_.height - 1 - static_cast<std::size_t>(y)) * size_.width +
                 static_cast<std::size_t>(x)) * 3;
  if (coverage >= 1.0) {
    px[0] = colour.r;
    px[1] = colour.g;
    px[2] = colour.b;
    return;
  }
  const std::uint8_t to[3] = {colour.r, colour.g, colour.b};
  for (int c = 0; c < 3; ++c) {
    const double mixed = px[c] + (to[c] - px[c]) * coverage;
    px[c] = static_cast<std::uint8_t>(mixed + 0.5);
  }
}

Rgb Canvas::at(std::size_t x, std::size_t row) const {
  const std::uint8_t* px = pixels_ + (row * size_.width + x) * 3;
  return {px[0], px[1], px[2]};
}

void Canvas::fill_polygon(std::span<const Point> corners, Rgb colour) {
  const std::size_t n = corners.size();
  if (n < 3 || !finite(corners)) return;
  double twice_area = 0.0;
  double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point a = corners[i], b = corners[(i + 1) % n];
    twice_area += a.x * b.y - b.x * a.y;
    x0 = std::min(x0, a.x), x1 = std::max(x1, a.x);
    y0 = std::min(y0, a.y), y1 = std::max(y1, a.y);
  }
  if (twice_area == 0.0) return;  // no inside to fill
  const double orientation = twice_area > 0.0 ? 1.0 : -1.0;
  const Box box = clip(x0 - 1.0, x1 + 1.0, y0 - 1.0, y1 + 1.0);
  for (long y = box.y0; y <= box.y1; ++y) {
    for (long x = box.x0; x <= box.x1; ++x) {
      // The distance inside the nearest edge's line (negative outside): exact within
      // the polygon and beside its edges, a little short beyond its corners.
      double inside = INFINITY;
      for (std::size_t i = 0; i < n; ++i) {
        const Point a = corners[i], b = corners[(i + 1) % n];
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double length = std::hypot(dx, dy);
        if (length == 0.0) continue;
        const double cross = dx * (static_cast<double>(y) - a.y) - dy * (static_cast<double>(x) - a.x);
        inside = std::min(inside, orientation * cross / length);
      }
      blend(x, y, colour, clamp01(inside + 1.0));
    }
  }
}

void Canvas::fill_circle(Point centre, double radius, Rgb colour) {
  const double reach = radius + 1.0;
  if (!finite({&centre, 1}) || !std::isfinite(radius)) return;
  const Box box = clip(centre.x - reach, centre.x + reach, centre.y - reach, centre.y + reach);
  for (long y = box.y0; y <= box.y1; ++y) {
    for (long x = box.x0; x <= box.x1; ++x) {
      const double d = std::hypot(static_cast<double>(x) - centre.x, static_cast<double>(y) - centre.y);
      blend(x, y, colour, clamp01(reach - d));
    }
  }
}

void Canvas::line(Point from, Point to, double width, Rgb colour) {
  const Point points[2] = {from, to};
  polyline(points, width, colour);
}

void Canvas::polyline(std::span<const Point> points, double width, Rgb colour) {
  if (points.size() < 2 || !finite(points) || !std::isfinite(width)) return;
  const std::size_t segments = points.size() - 1;
  const double half = width / 2.0;
  const double reach = half + 0.5;
  for (std::size_t k = 0; k < segments; ++k) {
    const Point a = points[k], b = points[k + 1];
    const Box box = clip(std::min(a.x, b.x) - reach, std::max(a.x, b.x) + reach,
                         std::min(a.y, b.y) - reach, std::max(a.y, b.y) + reach);
    for (long y = box.y0; y <= box.y1; ++y) {
      for (long x = box.x0; x <= box.x1; ++x) {
        const Point p{static_cast<double>(x), static_cast<double>(y)};
        const double d = segment_distance(p, a, b);
        if (!(d < reach)) continue;
        // Only the neighbours can reach the same pixels along a smooth line; ties go
        // to the earlier stroke.
        if (k > 0 && segment_distance(p, points[k - 1], a) <= d) continue;
        if (k + 1 < segments && segment_distance(p, b, points[k + 2]) < d) continue;
        blend(x, y, colour, clamp01(reach - d));
      }
    }
  }
}

}  // namespace vorlisk::render
