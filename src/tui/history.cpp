#include "tui/history.hpp"

#include <algorithm>

namespace vorlisk::tui {

namespace {
std::size_t ring_capacity(std::size_t history_len) { return std::max<std::size_t>(history_len, 1); }
}  // namespace

HistoryBuffer::HistoryBuffer(std::size_t history_len)
    : steps_(ring_capacity(history_len)),
      mean_reward_(ring_capacity(history_len)),
      sps_(ring_capacity(history_len)),
      policy_loss_(ring_capacity(history_len)),
      value_loss_(ring_capacity(history_len)),
      cpu_usage_(ring_capacity(history_len)),
      gpu_usage_(ring_capacity(history_len)),
      memory_percent_(ring_capacity(history_len)),
      gpu_memory_percent_(ring_capacity(history_len)),
      max_len_(history_len) {}

void HistoryBuffer::append(const HistoryPoint& p) noexcept {
  if (steps_.size() >= max_len_) {
    steps_.pop_front();
    mean_reward_.pop_front();
    sps_.pop_front();
    policy_loss_.pop_front();
    value_loss_.pop_front();
    cpu_usage_.pop_front();
    gpu_usage_.pop_front();
    memory_percent_.pop_front();
    gpu_memory_percent_.pop_front();
  }
  steps_.push_back(p.steps);
  mean_reward_.push_back(p.mean_reward);
  sps_.push_back(p.sps);
  policy_loss_.push_back(p.policy_loss);
  value_loss_.push_back(p.value_loss);
  cpu_usage_.push_back(p.cpu_usage);
  gpu_usage_.push_back(p.gpu_usage);
  memory_percent_.push_back(p.memory_percent);
  gpu_memory_percent_.push_back(p.gpu_memory_percent);
}

}  // namespace vorlisk::tui
