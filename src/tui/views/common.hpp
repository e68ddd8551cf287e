// Helpers the views share.
//
// Text the views build for one frame, formatted into fixed storage on the stack so
// that drawing a frame allocates no strings. Spans borrow these texts, so a
// StackText must outlive the widget that draws it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tui/logger/ring_buffer.hpp"
#include "tui/logger/shared_state.hpp"
#include "tui/term/frame.hpp"
#include "tui/term/layout.hpp"
#include "tui/term/style.hpp"
#include "tui/term/widgets/block.hpp"
#include "tui/term/widgets/chart.hpp"

namespace vorlisk::tui::views {

class StackText {
 public:
  static constexpr std::size_t kCapacity = 1024;

  std::string_view view() const noexcept { return {data_, size_}; }
  std::size_t size() const noexcept { return size_; }

  // Each appends; what does not fit in kCapacity is cut.
  StackText& text(std::string_view s) noexcept;
  // Decimal, with a comma between groups of three digits: 1234567 -> 1,234,567.
  StackText& grouped(std::uint64_t n) noexcept;
  // Fixed point with `decimals` places, rounded to nearest with exact ties to even;
  // a negative value (negative zero too) keeps its sign; NaN, inf and -inf as such.
  StackText& fixed(double value, int decimals) noexcept;
  // A duration as hours (as many digits as they take), minutes and seconds: 1:02:05.
  StackText& duration(std::uint64_t seconds) noexcept;
  // Pads what was appended since `start` with spaces on the left to `width`
  // characters; longer text is kept whole.
  StackText& right_align(std::size_t start, std::size_t width) noexcept;

 private:
  char data_[kCapacity];
  std::size_t size_ = 0;
};

// How far the run has come: the time since the logger started and, when the total
// of steps is known, the share done (steps beyond the total count too) and the time
// left at the reported steps per second.
struct RunProgress {
  std::uint64_t elapsed_s = 0;
  std::optional<double> percent;             // absent without a total
  std::optional<std::uint64_t> remaining_s;  // absent without a total or a rate
};
RunProgress run_progress(const SharedState& state) noexcept;

// Load colours of the device panels: red above 80 %, yellow above 60 %, else the
// panel's own colour. NaN counts as no load.
term::Color load_color(double percent, term::Color base) noexcept;

// A percentage as a bar height for a sparkline of maximum 100: clamped to 0..100
// and truncated; NaN gives 0.
std::uint64_t bar_height(double percent) noexcept;

// A block with all four borders and `title` at the top left, in the colours of
// what it frames.
inline term::Block titled(std::string_view title) noexcept {
  term::Block block;
  block.title = title;
  return block;
}

// The sparkline series of the dashboard (maximum 100). The reward history is
// scaled from its minimum to its maximum, over at least one unit centred on the
// values when they spread less; fewer than two entries give the single value 50.
// Percentages are clamped to 0..100. NaN entries (samples that do not exist) give
// term::Sparkline::kNoSample, an empty column.
std::vector<std::uint64_t> reward_bars(const RingBuffer<double>& rewards);
std::vector<std::uint64_t> percentage_bars(const RingBuffer<double>& values);

// Axis bounds of a line chart over all points of its datasets: x from the
// smallest step to the largest, at least 1 wide; y fitted with a margin. Both
// (0, 1) when there are no points.
struct ChartBounds {
  std::pair<double, double> x;
  std::pair<double, double> y;
};
ChartBounds chart_bounds(std::span<const std::vector<term::Point>> series) noexcept;

// A chart's points: (steps[i], values[i]) for every index both sequences have,
// oldest first.
std::vector<term::Point> plot_points(const RingBuffer<std::uint64_t>& steps,
                                     const RingBuffer<double>& values);

// A chart cell before the first history point: "Waiting for data..." under `title`.
void render_waiting(term::Frame& frame, term::Rect area, std::string_view title) noexcept;

// While drawing is paused: " PAUSED " at the right end of the top border of the
// block drawn over `block`. The frame stays on screen until drawing resumes.
void render_paused_mark(term::Frame& frame, term::Rect block, const SharedState& state) noexcept;

// The frame of the dashboard and chart views, top to bottom: the statistics (5
// rows), the device figures (3 rows), `middle` taking the rest (at least
// `middle_rows`), and the key help `footer` (3 rows).
using Panel = void (*)(term::Frame&, term::Rect, const SharedState&);
void render_panels(term::Frame& frame, const SharedState& state, std::uint16_t middle_rows,
                   Panel middle, std::string_view footer);

// Columns of a row with GPU figures (split by `with_gpu`) or without them (two
// halves, and an empty third part).
std::array<term::Rect, 3> gpu_columns(term::Rect area, bool gpu,
                                      const std::array<term::Constraint, 3>& with_gpu) noexcept;

inline constexpr std::array<term::Constraint, 2> kHalves = {term::Constraint::percentage(50),
                                                            term::Constraint::percentage(50)};

}  // namespace vorlisk::tui::views
