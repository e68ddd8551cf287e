#include "tui/logger/mode.hpp"

namespace vorlisk::tui {

std::optional<TUIMode> parse_mode(std::string_view name) noexcept {
  if (name == "minimal") return TUIMode::Minimal;
  if (name == "dashboard") return TUIMode::Dashboard;
  if (name == "chart") return TUIMode::Chart;
  return std::nullopt;
}

TUIMode next_mode(TUIMode mode) noexcept {
  switch (mode) {
    case TUIMode::Minimal:
      return TUIMode::Dashboard;
    case TUIMode::Dashboard:
      return TUIMode::Chart;
    case TUIMode::Chart:
      break;
  }
  return TUIMode::Minimal;
}

}  // namespace vorlisk::tui
