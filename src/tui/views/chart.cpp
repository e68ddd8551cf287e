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

}  // namespace

// (steps[i], values[i]) for every index both sequences have, oldest first. A NaN
// value (a sample that does not exist) stays in the list: the chart draws neither it
// nor a line to it, and the x axis still spans every step.
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

namespace {

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
  for (std::size_t i = 0; i < cell.series_count; ++i) {
    const Series& s = cell.series[i];
    points[i] = plot_points(steps, ((*history).*s.values)());
    datasets[i] = {s.name, points[i], term::fg(s.color)};
  }
  ChartBounds bounds = chart_bounds({points.data(), cell.series_count});

  term::Chart chart;
  chart.datasets = {datasets.data(), cell.series_count};
  chart.x_axis = create_x_axis(bounds.x.first, bounds.x.second);
  // The percentage charts keep 0-100 whatever their values: those outside are
  // clipped, not clamped.
  chart.y_axis = cell.y_title.empty() ? create_percentage_y_axis()
                                      : create_y_axis(cell.y_title, bounds.y);
  chart.block = titled(cell.title);
  chart.render(area, frame.buffer);
}

}  // namespace

ChartBounds chart_bounds(std::span<const std::vector<term::Point>> series) noexcept {
  double x_lo = INFINITY, x_hi = -INFINITY, y_lo = INFINITY, y_hi = -INFINITY;
  for (const std::vector<term::Point>& points : series) {
    for (const term::Point& p : points) {
      x_lo = std::fmin(x_lo, p.x);  // fmin and fmax skip NaN
      x_hi = std::fmax(x_hi, p.x);
      y_lo = std::fmin(y_lo, p.y);
      y_hi = std::fmax(y_hi, p.y);
    }
  }
  ChartBounds b{{0.0, 1.0}, {0.0, 1.0}};
  if (x_lo <= x_hi) b.x = {x_lo, std::fmax(x_hi, x_lo + 1.0)};  // at least one step wide
  // A margin of 5 % on each side, of at least 0.00005. With no value to fit
  // (no points, or only NaN ones), the default range stays.
  if (y_lo <= y_hi) {
    double margin = std::fmax(y_hi - y_lo, 0.001) * 0.05;
    b.y = {y_lo - margin, y_hi + margin};
  }
  return b;
}

void render_chart_grid(term::Frame& frame, Rect area, const SharedState& state) {
  const bool gpu = state.metrics->total_gpu_memory_mb.load() != 0;
  constexpr std::array<Constraint, 3> kGpuColumns = {
      Constraint::percentage(40), Constraint::percentage(30), Constraint::percentage(30)};
  constexpr std::array<Constraint, 2> kRewardOverLosses = {Constraint::percentage(60),
                                                           Constraint::percentage(40)};

  std::array<Rect, 3> columns = gpu_columns(area, gpu, kGpuColumns);

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
  render_panels(frame, state, 10, render_charts,
                " [q] Quit  [p] Pause  [m] Switch Mode  [s] Save Checkpoint ");
}

}  // namespace vorlisk::tui::views
