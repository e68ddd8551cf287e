#include "tui/logger/shared_state.hpp"

#include <utility>

namespace vorlisk::tui {

SharedState SharedState::create(TUIMode mode, std::size_t history_len,
                                std::vector<std::string> user_metrics) {
  // First, so that names that cannot be used cost nothing else.
  auto user = std::make_shared<UserMetrics>(std::move(user_metrics));
  SharedState state{
      std::make_shared<MetricsBuffer>(),
      std::make_shared<HistoryLock>(std::in_place, history_len, user->size()),
      std::make_shared<RunningFlag>(),
      std::make_shared<std::atomic<bool>>(false),
      std::make_shared<ModeCell>(mode),
      std::make_shared<std::atomic<bool>>(false),
      std::make_shared<std::atomic<bool>>(false),
      std::move(user),
  };
  state.start_time = state.now();
  return state;
}

}  // namespace vorlisk::tui
