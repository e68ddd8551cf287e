#include "tui/logger/shared_state.hpp"

#include <utility>

namespace vorlisk::tui {

SharedState SharedState::create(TUIMode mode, std::size_t history_len) {
  SharedState state{
      std::make_shared<MetricsBuffer>(),
      std::make_shared<HistoryLock>(std::in_place, history_len),
      std::make_shared<RunningFlag>(),
      std::make_shared<std::atomic<bool>>(false),
      std::make_shared<ModeCell>(mode),
      std::make_shared<std::atomic<bool>>(false),
      std::make_shared<std::atomic<bool>>(false),
  };
  state.start_time = state.now();
  return state;
}

}  // namespace vorlisk::tui
