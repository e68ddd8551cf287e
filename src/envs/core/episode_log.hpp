// Running totals of finished episodes; records merge by field-wise addition.
#pragma once

#include <cstdint>

namespace vorlisk::envs {

struct EpisodeLog {
  float total_reward = 0.0f;
  std::uint32_t episode_count = 0;
  std::uint32_t total_steps = 0;

  void add_episode(float episode_return, std::uint32_t steps) {
    total_reward += episode_return;
    episode_count += 1;
    total_steps += steps;
  }

  void merge(const EpisodeLog& other) {
    total_reward += other.total_reward;
    episode_count += other.episode_count;
    total_steps += other.total_steps;
  }
};

}  // namespace vorlisk::envs
