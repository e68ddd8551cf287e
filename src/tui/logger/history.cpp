#include "tui/logger/history.hpp"

#include <algorithm>

namespace vorlisk::tui {

HistoryBuffer::HistoryBuffer(std::size_t history_len, std::size_t user_metrics)
    : max_len_(history_len), capacity_(std::max<std::size_t>(history_len, 1)) {
  user_.reserve(user_metrics);
  for (std::size_t i = 0; i < user_metrics; ++i) user_.emplace_back(capacity_);
}

void HistoryBuffer::append(const HistoryPoint& p, std::span<const double> user) noexcept {
  if (steps_.size() >= max_len_) {
#define VORLISK_POP_(cell, type, kind, arg, hist, csv) VORLISK_IF_HIST(hist)(cell##_.pop_front();)
    VORLISK_METRICS(VORLISK_POP_)
#undef VORLISK_POP_
#define VORLISK_POP_(name, used, total) name##_.pop_front();
    VORLISK_DERIVED_HISTORY(VORLISK_POP_)
#undef VORLISK_POP_
    for (RingBuffer<double>& sequence : user_) sequence.pop_front();
  }
#define VORLISK_PUSH_(cell, type, kind, arg, hist, csv) VORLISK_IF_HIST(hist)(cell##_.push_back(p.cell);)
  VORLISK_METRICS(VORLISK_PUSH_)
#undef VORLISK_PUSH_
#define VORLISK_PUSH_(name, used, total) name##_.push_back(p.name);
  VORLISK_DERIVED_HISTORY(VORLISK_PUSH_)
#undef VORLISK_PUSH_
  for (std::size_t i = 0; i < user_.size(); ++i) user_[i].push_back(i < user.size() ? user[i] : kNoSample);
}

}  // namespace vorlisk::tui
