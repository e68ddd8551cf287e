#include "tui/term/widgets/chart.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "tui/term/text.hpp"

namespace vorlisk::tui::term {

namespace {

// The bit of Braille dot (column, row) in a cell of 2 x 4 dots, counted from the
// cell's top left; the symbol is U+2800 plus the bits.
constexpr std::uint8_t kDotBits[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};

// The dots a cell already shows: 0 unless its symbol is a Braille pattern.
std::uint8_t braille_bits(const Cell& cell) noexcept {
  const auto* b = reinterpret_cast<const unsigned char*>(cell.bytes.data());
  // U+2800..U+28FF is E2 A0..A3 80..BF in UTF-8.
  if (cell.length != 3 || b[0] != 0xE2 || (b[1] & 0xFC) != 0xA0) return 0;
  return static_cast<std::uint8_t>(((b[1] & 0x03) << 6) | (b[2] & 0x3F));
}

void set_braille(Cell& cell, std::uint8_t bits) noexcept {
  cell.bytes = {static_cast<char>(0xE2), static_cast<char>(0xA0 | (bits >> 6)),
                static_cast<char>(0x80 | (bits & 0x3F)), 0};
  cell.length = 3;
}

// One axis's data range; empty when reversed or not finite, so nothing maps onto it.
struct Range {
  double lower, upper;
  bool empty() const noexcept { return !(upper >= lower) || !std::isfinite(upper - lower); }
  bool contains(double v) const noexcept { return v >= lower && v <= upper; }
};

// Maps coordinates of a range onto dots 0..dots-1, rounded to the nearest dot: from
// `origin` in the direction of `scale`'s sign, or all onto the middle dot for a range
// of one value.
class DotScale {
 public:
  DotScale(double origin, double extent, int dots) noexcept
      : origin_(origin),
        scale_(extent != 0.0 ? (dots - 1) / extent : 0.0),
        offset_(extent != 0.0 ? 0.0 : (dots - 1) * 0.5),
        last_(dots - 1) {}
  // Clamped first, as clipping may leave a point a rounding error outside the range.
  int operator()(double v) const noexcept {
    return static_cast<int>(std::clamp((v - origin_) * scale_ + offset_, 0.0, last_) + 0.5);
  }

 private:
  double origin_, scale_, offset_, last_;
};

// Cuts segment a-b to the rectangle of the two ranges (Liang-Barsky). False when
// none of it is inside.
bool clip(Point& a, Point& b, const Range& x, const Range& y) noexcept {
  const double dx = b.x - a.x, dy = b.y - a.y;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return false;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - x.lower, x.upper - a.x, a.y - y.lower, y.upper - a.y};
  double t0 = 0.0, t1 = 1.0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;  // parallel to this edge and outside it
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const Point start = a;
  a = {start.x + t0 * dx, start.y + t0 * dy};
  b = {start.x + t1 * dx, start.y + t1 * dy};
  return true;
}

// The plot's grid of Braille dots, drawn straight into the buffer's cells.
class Dots {
 public:
  Dots(Buffer& buffer, Rect plot, Rect hidden, Range x, Range y) noexcept
      : buffer_(buffer),
        plot_(plot),
        hidden_(hidden),
        x_(x),
        y_(y),
        column_(x.lower, x.upper - x.lower, plot.width * 2),
        row_(y.upper, y.lower - y.upper, plot.height * 4) {}

  void draw(const Dataset& dataset) noexcept {
    const Point* previous = nullptr;
    bool previous_inside = false;
    for (const Point& p : dataset.data) {
      const bool finite = std::isfinite(p.x) && std::isfinite(p.y);
      const bool inside = finite && x_.contains(p.x) && y_.contains(p.y);
      if (finite && previous) {
        Point a = *previous, b = p;
        if ((inside && previous_inside) || clip(a, b, x_, y_)) line(a, b, dataset.style);
      } else if (inside) {
        line(p, p, dataset.style);
      }
      previous = finite ? &p : nullptr;
      previous_inside = inside;
    }
  }

 private:
  // Bresenham's line between the dots of two points inside the bounds.
  void line(Point a, Point b, const Style& style) noexcept {
    int x0 = column_(a.x), y0 = row_(a.y);
    const int x1 = column_(b.x), y1 = row_(b.y);
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int err = dx + dy;;) {
      dot(x0, y0, style);
      if (x0 == x1 && y0 == y1) return;
      const int e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
  }

  void dot(int dx, int dy, const Style& style) noexcept {
    const auto x = static_cast<std::uint16_t>(plot_.x + dx / 2);
    const auto y = static_cast<std::uint16_t>(plot_.y + dy / 4);
    if (hidden_.contains(x, y)) return;
    Cell& cell = buffer_.at(x, y);
    set_braille(cell, braille_bits(cell) | kDotBits[dy % 4][dx % 2]);
    cell.set_style(style);
  }

  Buffer& buffer_;
  Rect plot_, hidden_;
  Range x_, y_;
  DotScale column_, row_;
};

std::uint16_t widest(const std::vector<std::string>& labels) noexcept {
  std::size_t w = 0;
  for (const std::string& label : labels) w = std::max(w, text_width(label));
  return static_cast<std::uint16_t>(std::min<std::size_t>(w, UINT16_MAX));
}

// Where label i of n sits, 0 at the lower bound and `span` at the upper one.
std::uint16_t spread(std::size_t i, std::size_t n, std::uint16_t span) noexcept {
  if (n < 2) return 0;
  return static_cast<std::uint16_t>((i * span + (n - 1) / 2) / (n - 1));
}

void draw_y_labels(const Axis& axis, Rect plot, std::uint16_t x, std::uint16_t width, Buffer& buffer) {
  const std::size_t n = axis.labels.size();
  int last_row = -1;
  for (std::size_t i = 0; i < n; ++i) {
    const int y = plot.bottom() - 1 - spread(i, n, static_cast<std::uint16_t>(plot.height - 1));
    if (y == last_row) continue;  // a plot lower than its labels shows the first ones
    buffer.set_string(x, static_cast<std::uint16_t>(y), axis.labels[i], Style{}, width);
    last_row = y;
  }
}

// The first label starts at the plot's first column, the last one ends at its last
// column, the others are centred on their place; a label that would touch the one
// before it, or the last one, is left out.
void draw_x_labels(const Axis& axis, Rect plot, std::uint16_t y, Buffer& buffer) {
  const std::size_t n = axis.labels.size();
  auto start_of = [&](std::size_t i) {
    const int place = plot.x + spread(i, n, static_cast<std::uint16_t>(plot.width - 1));
    const int w = static_cast<int>(text_width(axis.labels[i]));
    const int start = i == 0 ? place : i == n - 1 ? place - w + 1 : place - w / 2;
    return std::pair{start, start + w};
  };
  const int last_start = start_of(n - 1).first;
  int free = plot.x;
  for (std::size_t i = 0; i < n; ++i) {
    const auto [start, end] = start_of(i);
    const int limit = i == n - 1 ? plot.right() : last_start - 1;
    if (start < free || end > limit) continue;
    buffer.set_string(static_cast<std::uint16_t>(start), y, axis.labels[i], Style{});
    free = end + 1;
  }
}

}  // namespace

void Chart::render(Rect area, Buffer& buffer) const {
  const Rect inner = render_block(area, style, block, buffer);

  // Rows from the top: the y title, the plot, the x axis, the x labels; columns from
  // the left: the y labels, the y axis, the plot.
  const std::uint16_t label_width = widest(y_axis.labels);
  const int title_rows = y_axis.title.empty() ? 0 : 1;
  const int label_rows = x_axis.labels.empty() ? 0 : 1;
  const int plot_height = inner.height - title_rows - 1 - label_rows;
  const int plot_width = inner.width - label_width - 1;
  if (plot_height < 1 || plot_width < 1) return;
  const auto axis_x = static_cast<std::uint16_t>(inner.x + label_width);
  const Rect plot{static_cast<std::uint16_t>(axis_x + 1), static_cast<std::uint16_t>(inner.y + title_rows),
                  static_cast<std::uint16_t>(plot_width), static_cast<std::uint16_t>(plot_height)};
  const std::uint16_t axis_y = plot.bottom();

  if (title_rows) buffer.set_string(inner.x, inner.y, y_axis.title, y_axis.title_style, inner.width);
  draw_y_labels(y_axis, plot, inner.x, label_width, buffer);
  for (std::uint16_t y = plot.top(); y < plot.bottom(); ++y) buffer.set_string(axis_x, y, "│", y_axis.style);
  buffer.set_string(axis_x, axis_y, "└", x_axis.style);
  for (std::uint16_t x = plot.left(); x < plot.right(); ++x) buffer.set_string(x, axis_y, "─", x_axis.style);
  if (label_rows) draw_x_labels(x_axis, plot, static_cast<std::uint16_t>(axis_y + 1), buffer);

  // The legend box, when it leaves enough of the plot to read.
  std::uint16_t names = 0, name_width = 0;
  for (const Dataset& d : datasets) {
    if (d.name.empty()) continue;
    ++names;
    name_width = std::max(name_width, static_cast<std::uint16_t>(std::min<std::size_t>(text_width(d.name), plot.width)));
  }
  Rect legend{plot.right(), plot.top(), 0, 0};
  if (names > 0 && name_width + 2 <= plot.width / 2 && (names + 2) * 3 <= plot.height * 2) {
    legend = {static_cast<std::uint16_t>(plot.right() - name_width - 2), plot.top(),
              static_cast<std::uint16_t>(name_width + 2), static_cast<std::uint16_t>(names + 2)};
  }

  const Range x_range{x_axis.bounds[0], x_axis.bounds[1]}, y_range{y_axis.bounds[0], y_axis.bounds[1]};
  if (!x_range.empty() && !y_range.empty()) {
    Dots dots(buffer, plot, legend, x_range, y_range);
    for (const Dataset& d : datasets) dots.draw(d);
  }

  const std::size_t x_title_width = text_width(x_axis.title);
  if (x_title_width > 0 && x_title_width < plot.width) {
    buffer.set_string(static_cast<std::uint16_t>(plot.right() - x_title_width), static_cast<std::uint16_t>(plot.bottom() - 1),
                      x_axis.title, x_axis.title_style);
  }

  if (legend.empty()) return;
  Block{}.render(legend, buffer);
  auto row = static_cast<std::uint16_t>(legend.y + 1);
  for (const Dataset& d : datasets) {
    if (!d.name.empty()) buffer.set_string(static_cast<std::uint16_t>(legend.x + 1), row++, d.name, d.style, name_width);
  }
}

}  // namespace vorlisk::tui::term
