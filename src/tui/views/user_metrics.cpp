// The training loop's own metrics: in the dashboard a panel of their latest values,
// each with a one-row sparkline of its recent history; in the chart view a line
// chart of each against the step count. Their number is known only at run time, so
// both lay them out to fit the space they get.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tui/term/widgets/block.hpp"
#include "tui/term/widgets/chart.hpp"
#include "tui/term/widgets/sparkline.hpp"
#include "tui/views/common.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

using term::Color;
using term::Rect;

namespace {

// Metric i has colour i (cycling) in both views: colours the built-in panels leave free.
constexpr Color kColors[] = {Color::LightCyan,  Color::LightMagenta, Color::LightYellow,
                             Color::LightGreen, Color::LightBlue,    Color::LightRed};
Color color_of(std::size_t i) noexcept { return kColors[i % std::size(kColors)]; }

// The dashboard's panel: entries of a name, a value and a sparkline, side by side.
constexpr std::uint16_t kEntryWidth = 32;     // room for about ten points of sparkline
constexpr std::uint16_t kMinEntryWidth = 14;  // narrower, too little of a name or value shows
constexpr std::uint16_t kValueWidth = 9;      // the longest compact value, -1.23e+07
constexpr std::uint16_t kEntryGap = 2;
constexpr std::uint16_t kMinSparkline = 4;    // fewer points say nothing
constexpr std::uint16_t kSparklineRows = 8;   // what the dashboard's sparkline row keeps

// The chart view: user charts go below the built-in grid in rows of charts at least
// kChartWidth wide and kChartRows high, while the grid keeps kGridRows; when the
// height is too short for that, beside it in columns of charts kBesideRows high.
constexpr std::uint16_t kChartWidth = 30;
constexpr std::uint16_t kChartRows = 7;  // two rows of plot under a border and the x axis
constexpr std::uint16_t kGridRows = 10;
constexpr std::uint16_t kBesideRows = 6;

std::size_t ceil_div(std::size_t a, std::size_t b) noexcept { return (a + b - 1) / b; }

// A figure of any size in about nine columns: four significant digits in fixed
// point from 1e-4 up to a million, three in exponent form beyond; NaN, inf, -inf.
StackText& compact(StackText& text, double v) noexcept {
  const double magnitude = std::fabs(v);
  if (magnitude == 0.0) return text.text("0");
  if (!std::isfinite(v)) return text.fixed(v, 0);
  if (magnitude >= 1e-4 && magnitude < 1e6) {
    const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
    return text.fixed(v, std::clamp(3 - exponent, 0, 6));
  }
  char digits[32];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, 2);
  return ec == std::errc() ? text.text({digits, static_cast<std::size_t>(end - digits)}) : text;
}

// Sparkline bars of the newest `count` values, scaled from their smallest to their
// largest finite value into 13..100, so that on a one-row sparkline the smallest
// still shows as the lowest glyph instead of a gap. A flat series sits at half
// height; NaN keeps its column empty.
void metric_bars(const RingBuffer<double>& values, std::size_t count, std::vector<std::uint64_t>& bars) {
  const std::size_t first = values.size() - std::min(count, values.size());
  double lo = INFINITY, hi = -INFINITY;
  for (std::size_t i = first; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) continue;
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  bars.clear();
  for (std::size_t i = first; i < values.size(); ++i) {
    const double v = values[i];
    if (std::isnan(v)) {
      bars.push_back(term::Sparkline::kNoSample);
    } else if (!(hi > lo)) {
      bars.push_back(v == INFINITY ? 100 : v == -INFINITY ? 13 : 50);
    } else {
      bars.push_back(13 + bar_height((v - lo) / (hi - lo) * 100.0) * 87 / 100);
    }
  }
}

struct Grid {
  std::size_t columns = 0;
  std::size_t rows = 0;
};

// Entries of kEntryWidth across `width`, in as few rows as that allows, balanced.
Grid entry_grid(std::uint16_t width, std::size_t n) noexcept {
  if (n == 0) return {};
  const std::size_t columns = std::clamp<std::size_t>(width / kEntryWidth, 1, n);
  const std::size_t rows = ceil_div(n, columns);
  return {ceil_div(n, rows), rows};
}

// Part `index` of `parts` equal parts of [start, start + length).
std::uint16_t share(std::uint16_t start, std::uint16_t length, std::size_t index, std::size_t parts) noexcept {
  return static_cast<std::uint16_t>(start + length * index / parts);
}

// One entry: the name (cut to `name_width`), the value right-aligned in
// kValueWidth, and a sparkline of as many of the newest points as the rest holds,
// when that is at least kMinSparkline.
void render_entry(term::Frame& frame, Rect area, std::uint16_t name_width, std::size_t i,
                  const SharedState& state, const HistoryBuffer* history,
                  std::vector<std::uint64_t>& bars) {
  const UserMetrics& user = *state.user_metrics;
  const term::Style style = term::fg(color_of(i));
  frame.buffer.set_string(area.x, area.y, user.names()[i], term::fg(Color::Gray), name_width);

  StackText value;
  user.given(i) ? compact(value, user.value(i)) : value.text("N/A");
  const std::uint32_t value_end = std::uint32_t{area.x} + name_width + 1 + kValueWidth;
  const std::uint32_t value_x = value_end - std::min<std::size_t>(value.size(), kValueWidth);
  if (value_x < area.right()) {
    frame.buffer.set_string(static_cast<std::uint16_t>(value_x), area.y, value.view(), style.bold(),
                            static_cast<std::uint16_t>(area.right() - value_x));
  }

  const std::uint32_t spark_x = value_end + 1;
  if (history == nullptr || i >= history->user_count() || spark_x + kMinSparkline > area.right()) return;
  const auto spark_width = static_cast<std::uint16_t>(area.right() - spark_x);
  metric_bars(history->user(i), spark_width, bars);
  term::Sparkline sparkline;
  sparkline.data = bars;
  sparkline.max = 100;
  sparkline.style = style;
  sparkline.render({static_cast<std::uint16_t>(spark_x), area.y, spark_width, 1}, frame.buffer);
}

// Labels as fine as the range needs (a KL divergence near 0.01 would read 0.01
// three times with the built-in charts' two decimals), up to seven significant
// digits, so that a flat series far from zero does not take half the chart for them.
term::Axis value_axis(std::pair<double, double> bounds) {
  term::Axis axis = create_y_axis({}, bounds);
  const double span = bounds.second - bounds.first;
  const double magnitude = std::fmax(std::fabs(bounds.first), std::fabs(bounds.second));
  const int whole_digits = magnitude >= 1.0 && magnitude < 1e6 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 0;
  const int decimals = span > 0.0 && std::isfinite(span)
                           ? std::clamp(2 - static_cast<int>(std::floor(std::log10(span))), 0,
                                        std::clamp(7 - whole_digits, 0, 6))
                           : 2;
  const bool large = magnitude >= 1e6;
  const double at[] = {bounds.first, (bounds.first + bounds.second) * 0.5, bounds.second};
  for (std::size_t k = 0; k < axis.labels.size() && k < std::size(at); ++k) {
    StackText label;
    large ? compact(label, at[k]) : label.fixed(at[k], decimals);
    axis.labels[k] = std::string(label.view());
  }
  return axis;
}

// The chart of metric i, titled with its name and latest value, with the history
// lock held for this cell only.
void render_user_chart(term::Frame& frame, Rect area, const SharedState& state, std::size_t i) {
  const UserMetrics& user = *state.user_metrics;
  StackText title;
  title.text(" ").text(user.names()[i]).text(" ");
  if (user.given(i)) compact(title, user.value(i)).text(" ");

  HistoryLock::Guard history = state.history->lock();
  if (history.poisoned() || i >= history->user_count()) return;  // leave the cell blank
  if (history->steps().empty()) {
    render_waiting(frame, area, title.view());
    return;
  }
  const std::vector<term::Point> points = plot_points(history->steps(), history->user(i));
  // An infinite value (a run that diverged) would stretch the y axis past every
  // other value: the bounds take it as no sample, as the chart leaves it out of the
  // plot, while the x axis still spans its step.
  auto infinite = [](const term::Point& p) { return std::isinf(p.y); };
  std::vector<term::Point> bounded;
  if (std::ranges::any_of(points, infinite)) {
    bounded = points;
    for (term::Point& p : bounded) p.y = std::isinf(p.y) ? NAN : p.y;
  }
  const ChartBounds bounds = chart_bounds({bounded.empty() ? &points : &bounded, 1});
  const term::Dataset dataset{{}, points, term::fg(color_of(i))};  // the title names it: no legend
  term::Chart chart;
  chart.datasets = {&dataset, 1};
  chart.x_axis = create_x_axis(bounds.x.first, bounds.x.second);
  chart.y_axis = value_axis(bounds.y);
  chart.block = titled(title.view());
  chart.render(area, frame.buffer);
}

// Where the chart view puts the built-in grid and the user's charts.
struct ChartLayout {
  Rect built_in;
  Rect user;  // `grid` charts, filled row by row, or column by column when beside
  Grid grid;
  bool beside;
};

ChartLayout chart_layout(Rect area, std::size_t n, std::size_t built_in_columns) noexcept {
  // Below: each row of user charts as high as a row of the grid would be (the grid
  // has two) while that is at least kChartRows.
  std::size_t columns = std::clamp<std::size_t>(area.width / kChartWidth, 1, n);
  std::size_t rows = ceil_div(n, columns);
  columns = ceil_div(n, rows);
  const std::size_t row_height = std::max<std::size_t>(kChartRows, area.height / (2 + rows));
  if (area.height >= kGridRows + rows * row_height) {
    const auto height = static_cast<std::uint16_t>(rows * row_height);
    return {{area.x, area.y, area.width, static_cast<std::uint16_t>(area.height - height)},
            {area.x, static_cast<std::uint16_t>(area.bottom() - height), area.width, height},
            {columns, rows},
            false};
  }
  // Beside: columns of charts as wide as the grid's columns.
  rows = std::clamp<std::size_t>(area.height / kBesideRows, 1, n);
  columns = ceil_div(n, rows);
  rows = ceil_div(n, columns);
  const auto width = static_cast<std::uint16_t>(area.width * columns / (built_in_columns + columns));
  return {{area.x, area.y, static_cast<std::uint16_t>(area.width - width), area.height},
          {static_cast<std::uint16_t>(area.right() - width), area.y, width, area.height},
          {columns, rows},
          true};
}

}  // namespace

std::uint16_t user_metrics_height(std::uint16_t width, std::size_t count) noexcept {
  if (count == 0) return 0;
  const Grid grid = entry_grid(width > 2 ? static_cast<std::uint16_t>(width - 2) : 0, count);
  return static_cast<std::uint16_t>(std::min<std::size_t>(grid.rows + 2, UINT16_MAX));
}

void render_user_metrics(term::Frame& frame, Rect area, const SharedState& state) {
  const UserMetrics& user = *state.user_metrics;
  const std::size_t n = user.size();
  const Rect inner = term::Block::inner(area).intersection(frame.area());
  if (n == 0) return;

  // Short of rows, more and narrower entries share a row; short of columns too, the
  // first ones that fit are shown and the title says how many.
  Grid grid = entry_grid(inner.width, n);
  if (grid.rows > inner.height) {
    grid.rows = inner.height;
    grid.columns = grid.rows == 0 ? 0 : ceil_div(n, grid.rows);
  }
  grid.columns = std::min<std::size_t>(grid.columns, std::max(inner.width / kMinEntryWidth, 1));
  const std::size_t shown = std::min(n, grid.columns * grid.rows);
  StackText title;
  title.text(" Metrics ");
  if (shown < n) title.text("(").grouped(shown).text(" of ").grouped(n).text(") ");
  titled(title.view()).render(area, frame.buffer);
  if (shown == 0) return;

  // One width of names for all entries, so that the values line up; names are cut
  // to leave the narrowest entry room for its value.
  std::size_t longest = 0;
  for (std::size_t i = 0; i < shown; ++i) longest = std::max(longest, user.names()[i].size());
  const std::size_t narrowest = inner.width / grid.columns - (grid.columns > 1 ? kEntryGap : 0);
  const auto name_width = static_cast<std::uint16_t>(
      std::clamp<std::size_t>(narrowest > kValueWidth + 1 ? narrowest - kValueWidth - 1 : 1, 1, longest));
  // The values are read from their cells; the lock is for the sparklines' histories.
  HistoryLock::Guard history = state.history->lock();
  const HistoryBuffer* sequences = history.poisoned() ? nullptr : &*history;
  std::vector<std::uint64_t> bars;
  for (std::size_t i = 0; i < shown; ++i) {
    const std::size_t column = i % grid.columns;
    const std::uint16_t x = share(inner.x, inner.width, column, grid.columns);
    const std::uint16_t end = share(inner.x, inner.width, column + 1, grid.columns);
    const std::uint16_t gap = column + 1 < grid.columns ? kEntryGap : 0;
    const auto width = static_cast<std::uint16_t>(end - x > gap ? end - x - gap : 0);
    const Rect entry{x, static_cast<std::uint16_t>(inner.y + i / grid.columns), width, 1};
    render_entry(frame, entry, name_width, i, state, sequences, bars);
  }
}

void render_sparklines_and_user_metrics(term::Frame& frame, Rect area, const SharedState& state) {
  // The panel takes the rows it needs while the sparklines keep those they would
  // have at least; it is left out rather than shown without a line of entries.
  const std::uint16_t wanted = user_metrics_height(area.width, state.user_metrics->size());
  const auto spare = static_cast<std::uint16_t>(area.height > kSparklineRows ? area.height - kSparklineRows : 0);
  std::uint16_t panel = std::min(wanted, spare);
  if (panel < 3) panel = 0;
  render_sparklines(frame, {area.x, area.y, area.width, static_cast<std::uint16_t>(area.height - panel)}, state);
  if (panel != 0) {
    render_user_metrics(frame, {area.x, static_cast<std::uint16_t>(area.bottom() - panel), area.width, panel},
                        state);
  }
}

void render_charts(term::Frame& frame, Rect area, const SharedState& state) {
  const std::size_t n = state.user_metrics->size();
  if (n == 0) {
    render_chart_grid(frame, area, state);
    return;
  }
  const bool gpu = state.metrics->total_gpu_memory_mb.load() != 0;
  const ChartLayout layout = chart_layout(area, n, gpu ? 3 : 2);
  render_chart_grid(frame, layout.built_in, state);
  const Rect u = layout.user;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t row = layout.beside ? i % layout.grid.rows : i / layout.grid.columns;
    const std::size_t column = layout.beside ? i / layout.grid.rows : i % layout.grid.columns;
    const std::uint16_t x = share(u.x, u.width, column, layout.grid.columns);
    const std::uint16_t y = share(u.y, u.height, row, layout.grid.rows);
    const Rect cell{x, y, static_cast<std::uint16_t>(share(u.x, u.width, column + 1, layout.grid.columns) - x),
                    static_cast<std::uint16_t>(share(u.y, u.height, row + 1, layout.grid.rows) - y)};
    render_user_chart(frame, cell, state, i);
  }
}

}  // namespace vorlisk::tui::views
