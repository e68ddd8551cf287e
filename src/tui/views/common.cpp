// Number formatting, chart axes and the frame of the dashboard and chart views.
#include "tui/views/common.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tui/term/widgets/paragraph.hpp"
#include "tui/views/output_pane.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

StackText& StackText::text(std::string_view s) noexcept {
  std::size_t n = std::min(s.size(), kCapacity - size_);
  std::memcpy(data_ + size_, s.data(), n);
  size_ += n;
  return *this;
}

StackText& StackText::grouped(std::uint64_t n) noexcept {
  char digits[20];
  char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  std::size_t count = static_cast<std::size_t>(end - digits);
  for (std::size_t i = 0; i < count; ++i) {
    // A separator before every digit whose position from the right is a
    // positive multiple of three.
    std::size_t from_right = count - 1 - i;
    if (i > 0 && from_right % 3 == 2) text(",");
    text({digits + i, 1});
  }
  return *this;
}

StackText& StackText::fixed(double value, int decimals) noexcept {
  if (std::isnan(value)) return text("NaN");
  if (std::isinf(value)) return text(value < 0 ? "-inf" : "inf");
  // The longest finite value: a sign, 309 digits, a point and the decimals.
  char digits[330];
  auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return *this;
  return text({digits, static_cast<std::size_t>(end - digits)});
}

StackText& StackText::duration(std::uint64_t seconds) noexcept {
  char digits[20];
  char* end = std::to_chars(digits, digits + sizeof digits, seconds / 3600).ptr;
  text({digits, static_cast<std::size_t>(end - digits)});
  for (std::uint64_t part : {seconds / 60 % 60, seconds % 60}) {
    const char two[] = {':', static_cast<char>('0' + part / 10), static_cast<char>('0' + part % 10)};
    text({two, sizeof two});
  }
  return *this;
}

StackText& StackText::right_align(std::size_t start, std::size_t width) noexcept {
  std::size_t length = size_ - start;
  if (length >= width) return *this;
  std::size_t pad = std::min(width - length, kCapacity - size_);
  std::memmove(data_ + start + pad, data_ + start, length);
  std::memset(data_ + start, ' ', pad);
  size_ += pad;
  return *this;
}

RunProgress run_progress(const SharedState& state) noexcept {
  RunProgress progress;
  const auto elapsed = state.now() - state.start_time;
  progress.elapsed_s = static_cast<std::uint64_t>(
      std::max<std::int64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 0));
  const std::uint64_t total = state.total_steps;
  if (total == 0) return progress;
  const std::uint64_t steps = state.metrics->steps.load();
  progress.percent = static_cast<double>(steps) / static_cast<double>(total) * 100.0;
  const double remaining = steps >= total ? 0.0 : static_cast<double>(total - steps);
  const double sps = state.metrics->sps.load();
  // No rate yet (or none that makes sense): no time left to show. Beyond a century
  // the figure says nothing either.
  const double seconds = remaining == 0.0 ? 0.0 : remaining / sps;
  if (seconds >= 0.0 && seconds < 3.2e9) {
    progress.remaining_s = static_cast<std::uint64_t>(std::ceil(seconds));
  }
  return progress;
}

term::Color load_color(double percent, term::Color base) noexcept {
  if (percent > 80.0) return term::Color::Red;
  if (percent > 60.0) return term::Color::Yellow;
  return base;
}

std::uint64_t bar_height(double percent) noexcept {
  if (!(percent > 0.0)) return 0;
  if (percent >= 100.0) return 100;
  return static_cast<std::uint64_t>(percent);
}

std::array<term::Rect, 3> gpu_columns(term::Rect area, bool gpu,
                                      const std::array<term::Constraint, 3>& with_gpu) noexcept {
  if (gpu) return term::split(area, term::Direction::Horizontal, with_gpu);
  auto [left, right] = term::split(area, term::Direction::Horizontal, kHalves);
  return {left, right, term::Rect{}};
}

void render_panels(term::Frame& frame, const SharedState& state, std::uint16_t middle_rows,
                   Panel middle, std::string_view footer) {
  // What the process printed goes just above the key help, where the middle part
  // can spare the rows.
  const std::uint16_t output_rows =
      output_pane_rows(state, frame.area().height, static_cast<std::uint16_t>(11 + middle_rows));
  const std::array<term::Constraint, 5> rows = {
      term::Constraint::length(5), term::Constraint::length(3), term::Constraint::min(middle_rows),
      term::Constraint::length(output_rows), term::Constraint::length(3)};
  auto [stats, device, middle_area, output_area, footer_area] =
      term::split(frame.area(), term::Direction::Vertical, rows);
  render_stats(frame, stats, state);
  render_device_stats(frame, device, state);
  middle(frame, middle_area, state);
  render_output_pane(frame, output_area, state);

  // The key help: one dark gray line in a bordered block without a title.
  const term::Span span{footer, {}};
  const term::Line lines[] = {{{&span, 1}}};
  term::Paragraph paragraph;
  paragraph.lines = lines;
  paragraph.style = term::fg(term::Color::DarkGray);
  paragraph.block = term::Block();
  paragraph.render(footer_area, frame.buffer);
  render_paused_mark(frame, footer_area, state);
}

void render_paused_mark(term::Frame& frame, term::Rect block, const SharedState& state) noexcept {
  constexpr std::string_view kMark = " PAUSED ";
  if (!state.paused->load(std::memory_order_relaxed) || block.width < kMark.size() + 2) return;
  // Reversed, so that it stands out without colours too.
  constexpr term::Style kStyle = term::fg(term::Color::Yellow).bold().add(term::Modifier::Reversed);
  const auto x = static_cast<std::uint16_t>(block.right() - 1 - kMark.size());
  frame.buffer.set_string(x, block.top(), kMark, kStyle);
}

namespace {

// Step counts: 2.5M, 1.5K, or a whole number. The tests are >=, so 999 999 reads
// 1000.0K, and NaN fails both and is written whole.
std::string step_label(double v) {
  StackText text;
  if (v >= 1'000'000.0) {
    text.fixed(v / 1'000'000.0, 1).text("M");
  } else if (v >= 1000.0) {
    text.fixed(v / 1000.0, 1).text("K");
  } else {
    text.fixed(v, 0);
  }
  return std::string(text.view());
}

std::string value_label(double v) {
  StackText text;
  return std::string(text.fixed(v, 2).view());
}

// An axis line in dark gray with three labels: the lower end, the middle, the upper end.
term::Axis axis(double lower, double upper, std::string (*label)(double)) {
  term::Axis a;
  a.style = term::fg(term::Color::DarkGray);
  a.bounds[0] = lower;
  a.bounds[1] = upper;
  a.labels.reserve(3);
  a.labels.push_back(label(lower));
  a.labels.push_back(label((lower + upper) * 0.5));
  a.labels.push_back(label(upper));
  return a;
}

// A value axis: its title in dark gray.
term::Axis titled_axis(std::string_view title, term::Axis a) {
  a.title = std::string(title);
  a.title_style = term::fg(term::Color::DarkGray);
  return a;
}

// The percentage axis's fixed labels.
std::string percent_label(double v) {
  StackText text;
  return std::string(text.fixed(v, 0).view());
}

}  // namespace

term::Axis create_x_axis(double lower, double upper) { return axis(lower, upper, step_label); }

term::Axis create_y_axis(std::string_view title, std::pair<double, double> bounds) {
  return titled_axis(title, axis(bounds.first, bounds.second, value_label));
}

term::Axis create_percentage_y_axis() { return titled_axis("%", axis(0.0, 100.0, percent_label)); }

}  // namespace vorlisk::tui::views
