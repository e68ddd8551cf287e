// The docstrings of an environment class, built from what its task says about itself
// (names, observation size, actions) around the texts every class shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "envs/core/task_info.hpp"

namespace vorlisk::python {

using Actions = std::variant<envs::DiscreteActions, envs::ContinuousActions>;

struct EnvTexts {
  std::string class_name;      // PyCartPoleVecEnv
  std::string qualified_name;  // vorlisk.PyCartPoleVecEnv
  std::string class_doc;
  std::string reset;
  std::string step;
  std::string final_observations;
  std::string observation_space;
  std::string action_space;
};

// `max_steps`: the episode limit the class has by default.
EnvTexts env_texts(const envs::TaskNames& names, std::size_t observation_size, Actions actions,
                   std::uint32_t max_steps);

// The docstring of render, for frames of `width` x `height` pixels.
std::string render_text(const envs::TaskNames& names, std::size_t width, std::size_t height);

// A float as Python writes it: the shortest text that reads back the same, with a
// decimal point ("-2.0", "0.07").
std::string float_text(float value);

// The texts every environment class shares.
inline constexpr const char kGetLogsDoc[] =
    "get_logs($self)\n--\n\nGet episode statistics since last clear.\n\nReturns dict with:\n"
    "- episode_count: number of completed episodes\n"
    "- total_reward: sum of rewards across all completed episodes\n"
    "- total_steps: sum of steps across all completed episodes\n"
    "- mean_reward: average episode reward (or 0 if no episodes)\n"
    "- mean_length: average episode length (or 0 if no episodes)";
inline constexpr const char kClearLogsDoc[] = "clear_logs($self)\n--\n\nClear episode statistics.";
inline constexpr const char kNumEnvsDoc[] = "Get the number of environments.";
inline constexpr const char kMaxEpisodeStepsDoc[] = "The steps after which an episode is truncated.";
inline constexpr const char kAutoresetModeDoc[] =
    "What becomes of a lane whose episode ends: 'same_step' (restarted within that step), "
    "'next_step' (restarted by the next step) or 'disabled' (held until reset).";
inline constexpr const char kObservationSizeDoc[] = "Get the observation shape per environment.";
inline constexpr const char kSingleObservationSpaceDoc[] =
    "Gymnasium-compatible observation space for a single environment.";
inline constexpr const char kSingleActionSpaceDoc[] =
    "Gymnasium-compatible action space for a single environment.";

}  // namespace vorlisk::python
