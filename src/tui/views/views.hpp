// The three display modes of the training monitor, drawn from the logger's shared
// state into a frame, and the helpers they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "tui/logger/shared_state.hpp"
#include "tui/term/frame.hpp"
#include "tui/term/widgets/chart.hpp"

namespace vorlisk::tui::views {

term::Axis create_x_axis(double lower, double upper);
term::Axis create_y_axis(std::string_view title, std::pair<double, double> bounds);
term::Axis create_percentage_y_axis();

// One bordered status line.
void render_minimal(term::Frame& frame, const SharedState& state);

// Statistics, device figures, sparklines and the key help.
void render_dashboard(term::Frame& frame, const SharedState& state);
void render_stats(term::Frame& frame, term::Rect area, const SharedState& state);
void render_device_stats(term::Frame& frame, term::Rect area, const SharedState& state);
void render_sparklines(term::Frame& frame, term::Rect area, const SharedState& state);

// Statistics, device figures, history charts and the key help.
void render_chart_dashboard(term::Frame& frame, const SharedState& state);
void render_chart_grid(term::Frame& frame, term::Rect area, const SharedState& state);

// The training loop's own metrics. The dashboard shows a panel of their latest
// values, each with a sparkline, below its sparkline row; the chart view a chart of
// each below (or, when the height is short, beside) its grid of charts. Both are
// left out without such metrics.
void render_user_metrics(term::Frame& frame, term::Rect area, const SharedState& state);
// Rows the panel takes at `width` to show `count` metrics, borders included.
std::uint16_t user_metrics_height(std::uint16_t width, std::size_t count) noexcept;
void render_sparklines_and_user_metrics(term::Frame& frame, term::Rect area, const SharedState& state);
void render_charts(term::Frame& frame, term::Rect area, const SharedState& state);

// The view of `mode`.
void render_view(TUIMode mode, term::Frame& frame, const SharedState& state);

}  // namespace vorlisk::tui::views
