#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

void render_view(TUIMode mode, term::Frame& frame, const SharedState& state) {
  switch (mode) {
    case TUIMode::Minimal:
      render_minimal(frame, state);
      return;
    case TUIMode::Dashboard:
      render_dashboard(frame, state);
      return;
    case TUIMode::Chart:
      render_chart_dashboard(frame, state);
      return;
  }
}

}  // namespace vorlisk::tui::views
