// The chart view: the dashboard's statistics and device rows above a grid of line
// charts of the recorded history against the step count, and the key help.
#include <array>
#include <cmath>
#include <vector>

#include "tui/term/layout.hpp"
#include "tui/term/widgets/paragraph.hpp"
#include "tui/views/common.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

using term::Color;
using term::Constraint;
using term::Direction;
using term::Rect;

namespace {

using Sequence = const RingBuffer<double>& (HistoryBuffer::*)() const noexcept;

struct Series {
  std::string_view name;
  Color color;
  Sequence values;
};

struct ChartCell {
  std::string_view title;
  std::string_view waiting_title;
  std::array<Series, 2> series;
  std::size_t series_count;
  std::string_view y_title;  // fitted y bounds under this title; empty: the 0-100 axis
};

constexpr ChartCell kReward{" Reward History ", " Reward History ",
                            {{{"Reward", Color::Yellow, &HistoryBuffer::mean_reward}}}, 1,
                            "Reward"};
constexpr ChartCell kLosses{" Losses (Policy/Value) ", " Losses ",
                            {{{"Policy", Color::Red, &HistoryBuffer::policy_loss},
                              {"Value", Color::Blue, &HistoryBuffer::value_loss}}},
                            2, "Loss"};
constexpr ChartCell kCpu{" CPU % ", " CPU % ", {{{"CPU", Color::Green, &HistoryBuffer::cpu_usage}}},
                         1, {}};
constexpr ChartCell kRam{" RAM % ", " RAM % ",
                         {{{"RAM", Color::Cyan, &HistoryBuffer::memory_percent}}}, 1, {}};
constexpr ChartCell kGpu{" GPU % ", " GPU % ", {{{"GPU", Color::Green, &HistoryBuffer::gpu_usage}}},
                         1, {}};
constexpr ChartCell kVram{" VRAM % ", " VRAM % ",
                          {{{"VRAM", Color::Magenta, &HistoryBuffer::gpu_memory_percent}}}, 1, {}};

// The smallest and largest of some values; NaN is skipped.
struct Range {
  double lo = INFINITY;
  double hi = -INFINITY;
  void add(double v) noexcept {
    lo = std::fmin(lo, v);
    hi = std::fmax(hi, v);
  }
  bool empty() const noexcept { return lo > hi; }
};

// (steps[i], values[i]) for every index both sequences have, oldest first.
std::vector<term::Point> plot_points(const RingBuffer<std::uint64_t>& steps,
                                     const RingBuffer<double>& values) {
  std::size_t n = std::min(steps.size(), values.size());
  std::vector<term::Point> points(n);
  for (std::size_t i = 0; i < n; ++i) {
    points[i] = {static_cast<double>(steps[i]), values[i]};
  }
  return points;
}

void render_waiting(term::Frame& frame, Rect area, std::string_view title) noexcept {
  const term::Span span{"Waiting for data...", {}};
  const term::Line lines[] = {{{&span, 1}}};
  term::Paragraph paragraph;
  paragraph.lines = lines;
  paragraph.style = term::fg(Color::DarkGray);
  paragraph.block = titled(title);
  paragraph.render(area, frame.buffer);
}

// One cell of the grid, with the history lock held only for this cell.
void render_cell(term::Frame& frame, Rect area, const SharedState& state, const ChartCell& cell) {
  HistoryLock::Guard history = state.history->lock();
  if (history.poisoned()) return;  // a holder failed half-way: leave the cell blank
  const RingBuffer<std::uint64_t>& steps = history->steps();
  if (steps.empty()) {
    render_waiting(frame, area, cell.waiting_title);
    return;
  }

  std::array<std::vector<term::Point>, 2> points;
  std::array<term::Dataset, 2> datasets;
  Range x, y;
  for (std::size_t i = 0; i < cell.series_count; ++i) {
    const Series& s = cell.series[i];
    points[i] = plot_points(steps, ((*history).*s.values)());
    for (const term::Point& p : points[i]) {
      x.add(p.x);
      y.add(p.y);
    }
    datasets[i] = {s.name, points[i], term::fg(s.color)};
  }

  // Steps are never NaN, so an empty x range means there are no points at all.
  double x_lo = x.empty() ? 0.0 : x.lo;
  double x_hi = x.empty() ? 1.0 : std::fmax(x.hi, x_lo + 1.0);
  term::Axis y_axis;
  if (cell.y_title.empty()) {
    y_axis = create_percentage_y_axis();  // values outside 0-100 are clipped, not clamped
  } else if (y.empty()) {
    // No points, or only NaN ones: nothing to fit.
    y_axis = create_y_axis(cell.y_title, {0.0, 1.0});
  } else {
    double margin = std::fmax(y.hi - y.lo, 0.001) * 0.05;
    y_axis = create_y_axis(cell.y_title, {y.lo - margin, y.hi + margin});
  }

  term::Chart chart;
  chart.datasets = {datasets.data(), cell.series_count};
  chart.x_axis = create_x_axis(x_lo, x_hi);
  chart.y_axis = std::move(y_axis);
  chart.block = titled(cell.title);
  chart.render(area, frame.buffer);
}

}  // namespace

void render_chart_grid(term::Frame& frame, Rect area, const SharedState& state) {
  const bool gpu = state.metrics->total_gpu_memory_mb.load() != 0;
  constexpr std::array<Constraint, 2> kHalves = {Constraint::percentage(50),
                                                 Constraint::percentage(50)};
  constexpr std::array<Constraint, 3> kGpuColumns = {
      Constraint::percentage(40), Constraint::percentage(30), Constraint::percentage(30)};
  constexpr std::array<Constraint, 2> kRewardOverLosses = {Constraint::percentage(60),
                                                           Constraint::percentage(40)};

  std::array<Rect, 3> columns{};
  if (gpu) {
    columns = term::split(area, Direction::Horizontal, kGpuColumns);
  } else {
    auto halves = term::split(area, Direction::Horizontal, kHalves);
    std::copy(halves.begin(), halves.end(), columns.begin());
  }

  auto [reward, losses] = term::split(columns[0], Direction::Vertical, kRewardOverLosses);
  render_cell(frame, reward, state, kReward);
  render_cell(frame, losses, state, kLosses);
  auto [cpu, ram] = term::split(columns[1], Direction::Vertical, kHalves);
  render_cell(frame, cpu, state, kCpu);
  render_cell(frame, ram, state, kRam);
  if (gpu) {
    auto [gpu_usage, vram] = term::split(columns[2], Direction::Vertical, kHalves);
    render_cell(frame, gpu_usage, state, kGpu);
    render_cell(frame, vram, state, kVram);
  }
}

void render_chart_dashboard(term::Frame& frame, const SharedState& state) {
  constexpr std::array<Constraint, 4> kRows = {Constraint::length(5), Constraint::length(3),
                                               Constraint::min(10), Constraint::length(3)};
  auto [stats, device, grid, footer] = term::split(frame.area(), Direction::Vertical, kRows);
  render_stats(frame, stats, state);
  render_device_stats(frame, device, state);
  render_chart_grid(frame, grid, state);
  render_footer(frame, footer, " [q] Quit  [p] Pause  [m] Switch Mode  [s] Save Checkpoint ");
}

}  // namespace vorlisk::tui::views
