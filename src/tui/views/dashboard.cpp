// The dashboard view: statistics, device figures, sparklines of the recent history
// and the key help. The statistics and device rows are shared with the chart view.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "tui/term/layout.hpp"
#include "tui/term/widgets/gauge.hpp"
#include "tui/term/widgets/paragraph.hpp"
#include "tui/term/widgets/sparkline.hpp"
#include "tui/views/common.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

using term::Color;
using term::Constraint;
using term::Direction;
using term::Rect;

namespace {

constexpr term::Style kLabel = term::fg(Color::Gray);

// A label and its value on one line.
struct LabelledValue {
  std::array<term::Span, 2> spans;
  term::Line line() const noexcept { return {spans}; }
};

LabelledValue labelled(std::string_view label, const StackText& value, term::Style style) {
  return {{term::Span{label, kLabel}, term::Span{value.view(), style}}};
}

// A bordered paragraph of labelled values.
void render_panel(term::Frame& frame, Rect area, std::string_view title,
                  std::span<const term::Line> lines) noexcept {
  term::Paragraph paragraph;
  paragraph.lines = lines;
  paragraph.block = titled(title);
  paragraph.render(area, frame.buffer);
}

template <std::size_t N>
std::array<Rect, N> columns(Rect area, const std::array<Constraint, N>& widths) {
  return term::split(area, Direction::Horizontal, widths);
}

constexpr std::array<Constraint, 4> kQuarters = {
    Constraint::percentage(25), Constraint::percentage(25), Constraint::percentage(25),
    Constraint::percentage(25)};

// One device column: "LABEL value" in a bordered block, the value coloured by load.
void render_device_column(term::Frame& frame, Rect area, std::string_view title,
                          std::string_view label, const StackText& value, double load,
                          Color base) noexcept {
  LabelledValue line = labelled(label, value, term::fg(load_color(load, base)).bold());
  const term::Line lines[] = {line.line()};
  render_panel(frame, area, title, lines);
}

StackText usage_text(double percent) {
  StackText text;
  if (percent > 0.0) {
    text.fixed(percent, 1).text("%");
  } else {
    text.text("N/A");
  }
  return text;
}

StackText memory_text(double used_gb, double total_gb) {
  StackText text;
  text.fixed(used_gb, 1).text("/").fixed(total_gb, 1).text(" GB");
  return text;
}

}  // namespace

// NaN entries are samples that do not exist: their columns stay empty.
std::vector<std::uint64_t> reward_bars(const RingBuffer<double>& rewards) {
  if (rewards.size() == 0) return {50};
  double lo = INFINITY;
  double hi = -INFINITY;
  for (std::size_t i = 0; i < rewards.size(); ++i) {
    lo = std::fmin(lo, rewards[i]);  // fmin and fmax skip NaN
    hi = std::fmax(hi, rewards[i]);
  }
  // The scale spans at least one unit, so that noise in a steady reward is not blown
  // up to full height. A narrower spread is centred on it: a flat history sits at
  // half height, as a single entry does, instead of vanishing along the bottom.
  const double range = std::fmax(hi - lo, 1.0);
  const double bottom = hi - lo >= 1.0 ? lo : (lo + hi) * 0.5 - 0.5;
  std::vector<std::uint64_t> bars;
  bars.reserve(rewards.size());
  for (std::size_t i = 0; i < rewards.size(); ++i) {
    bars.push_back(std::isnan(rewards[i]) ? term::Sparkline::kNoSample
                                          : bar_height((rewards[i] - bottom) / range * 100.0));
  }
  return bars;
}

std::vector<std::uint64_t> percentage_bars(const RingBuffer<double>& values) {
  std::vector<std::uint64_t> bars;
  bars.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    bars.push_back(std::isnan(values[i]) ? term::Sparkline::kNoSample : bar_height(values[i]));
  }
  return bars;
}

namespace {

void render_sparkline(term::Frame& frame, Rect area, std::string_view title, Color color,
                      const std::vector<std::uint64_t>& bars) noexcept {
  term::Sparkline sparkline;
  sparkline.data = bars;
  sparkline.max = 100;
  sparkline.style = term::fg(color);
  sparkline.block = titled(title);
  sparkline.render(area, frame.buffer);
}

// Two sparklines, one above the other.
void render_sparkline_pair(term::Frame& frame, Rect area, std::string_view top_title,
                           Color top_color, const RingBuffer<double>& top,
                           std::string_view bottom_title, Color bottom_color,
                           const RingBuffer<double>& bottom) {
  auto [upper, lower] = term::split(area, Direction::Vertical, kHalves);
  render_sparkline(frame, upper, top_title, top_color, percentage_bars(top));
  render_sparkline(frame, lower, bottom_title, bottom_color, percentage_bars(bottom));
}

}  // namespace

void render_stats(term::Frame& frame, Rect area, const SharedState& state) {
  const MetricsBuffer& m = *state.metrics;
  auto [progress, performance, losses, entropy_area] = columns(area, kQuarters);

  StackText steps, episodes, reward, sps, policy, value, entropy_label;
  steps.grouped(m.steps.load());
  episodes.grouped(m.episodes.load());
  reward.fixed(m.mean_reward.load(), 2);
  sps.fixed(m.sps.load(), 0);
  policy.fixed(m.policy_loss.load(), 6);
  value.fixed(m.value_loss.load(), 6);
  const double entropy = m.entropy.load();
  entropy_label.fixed(entropy, 4);

  const term::Style bold = term::Style{}.bold();

  // The time since the start, and with a total of steps the share done and the time
  // left, each where it fits.
  const RunProgress run = run_progress(state);
  StackText elapsed, done, left;
  std::string_view left_label;
  elapsed.duration(run.elapsed_s);
  const std::size_t room = progress.width > 2 ? progress.width - 2u : 0u;
  if (run.percent) {
    done.text(" (").fixed(*run.percent, 1).text("%)");
    if (std::string_view("Steps: ").size() + steps.size() + done.size() > room) done = StackText();
    left_label = "  ETA: ";
    run.remaining_s ? left.duration(*run.remaining_s) : left.text("--:--:--");
    if (std::string_view("Time: ").size() + elapsed.size() + left_label.size() + left.size() > room) {
      left_label = {};
      left = StackText();
    }
  }
  const term::Span steps_line[] = {{"Steps: ", kLabel}, {steps.view(), bold.fg_color(Color::Cyan)},
                                   {done.view(), kLabel}};
  const LabelledValue episodes_value = labelled("Episodes: ", episodes, bold.fg_color(Color::Green));
  const term::Span time_line[] = {
      {"Time: ", kLabel}, {elapsed.view(), bold}, {left_label, kLabel}, {left.view(), bold}};
  const term::Line progress_lines[] = {{steps_line}, episodes_value.line(), {time_line}};
  const LabelledValue performance_values[] = {
      labelled("Reward: ", reward, bold.fg_color(Color::Yellow)),
      labelled("SPS: ", sps, bold.fg_color(Color::Magenta))};
  const LabelledValue loss_values[] = {labelled("Policy: ", policy, term::fg(Color::Red)),
                                       labelled("Value: ", value, term::fg(Color::Blue))};
  auto panel = [&](Rect r, std::string_view title, const LabelledValue (&values)[2]) {
    const term::Line lines[] = {values[0].line(), values[1].line()};
    render_panel(frame, r, title, lines);
  };
  render_panel(frame, progress, " Progress ", progress_lines);
  panel(performance, " Performance ", performance_values);
  panel(losses, " Losses ", loss_values);

  // fmin skips NaN, so a NaN entropy fills the gauge; never above 100 %.
  const double fill = std::fmin(std::fabs(entropy), 1.0) * 100.0;
  term::Gauge gauge;
  gauge.percent = static_cast<std::uint16_t>(fill);
  gauge.label = entropy_label.view();
  gauge.gauge_style = term::fg(Color::Green);
  gauge.block = titled(" Entropy ");
  gauge.render(entropy_area, frame.buffer);
}

void render_device_stats(term::Frame& frame, Rect area, const SharedState& state) {
  const MetricsBuffer& m = *state.metrics;
  const double cpu = m.cpu_usage.load();
  const double memory_gb = static_cast<double>(m.memory_mb.load()) / 1024.0;
  const double total_memory_gb = static_cast<double>(m.total_memory_mb.load()) / 1024.0;

  StackText memory;
  double memory_load = 0.0;
  if (total_memory_gb > 0.0) {
    memory = memory_text(memory_gb, total_memory_gb);
    memory_load = memory_gb / total_memory_gb * 100.0;
  } else {
    memory.text("N/A");
  }

  const std::uint64_t total_gpu_memory_mb = m.total_gpu_memory_mb.load();
  if (total_gpu_memory_mb == 0) {
    auto [cpu_area, memory_area] = columns(area, kHalves);
    render_device_column(frame, cpu_area, " CPU ", "CPU: ", usage_text(cpu), cpu, Color::Green);
    render_device_column(frame, memory_area, " Memory ", "RAM: ", memory, memory_load,
                         Color::Cyan);
    return;
  }

  const double gpu = m.gpu_usage.load();
  const double gpu_memory_gb = static_cast<double>(m.gpu_memory_mb.load()) / 1024.0;
  const double total_gpu_memory_gb = static_cast<double>(total_gpu_memory_mb) / 1024.0;
  auto [cpu_area, gpu_area, memory_area, gpu_memory_area] = columns(area, kQuarters);
  render_device_column(frame, cpu_area, " CPU ", "CPU: ", usage_text(cpu), cpu, Color::Green);
  render_device_column(frame, gpu_area, " GPU ", "GPU: ", usage_text(gpu), gpu, Color::Green);
  render_device_column(frame, memory_area, " Memory ", "RAM: ", memory, memory_load,
                       Color::Cyan);
  render_device_column(frame, gpu_memory_area, " GPU Memory ", "VRAM: ",
                       memory_text(gpu_memory_gb, total_gpu_memory_gb),
                       gpu_memory_gb / total_gpu_memory_gb * 100.0, Color::Magenta);
}

void render_sparklines(term::Frame& frame, Rect area, const SharedState& state) {
  const bool gpu = state.metrics->total_gpu_memory_mb.load() != 0;
  // Read in place under the lock; update() skips its history point meanwhile
  // rather than wait.
  HistoryLock::Guard history = state.history->lock();
  if (history.poisoned()) return;  // a holder failed half-way: leave the row blank

  constexpr std::array<Constraint, 3> kThirds = {
      Constraint::percentage(33), Constraint::percentage(33), Constraint::percentage(34)};
  std::array<Rect, 3> parts = gpu_columns(area, gpu, kThirds);

  render_sparkline(frame, parts[0], " Reward History ", Color::Yellow,
                   reward_bars(history->mean_reward()));
  render_sparkline_pair(frame, parts[1], " CPU % ", Color::Green, history->cpu_usage(),
                        " RAM % ", Color::Cyan, history->memory_percent());
  if (gpu) {
    render_sparkline_pair(frame, parts[2], " GPU % ", Color::Green, history->gpu_usage(),
                          " VRAM % ", Color::Magenta, history->gpu_memory_percent());
  }
}

void render_dashboard(term::Frame& frame, const SharedState& state) {
  render_panels(frame, state, 8, render_sparklines_and_user_metrics,
                " [q] Quit  [p] Pause  [m] Toggle Mode  [s] Save Checkpoint ");
}

}  // namespace vorlisk::tui::views
