#include "python/env_texts.hpp"

#include <charconv>

namespace vorlisk::python {
namespace {

// "values 0 or 1", "values 0, 1, or 2", ...
std::string discrete_values(std::uint32_t count) {
  std::string text = "values ";
  for (std::uint32_t v = 0; v < count; ++v) {
    if (v > 0) text += count == 2 ? " " : ", ";
    if (v > 0 && v + 1 == count) text += "or ";
    text += std::to_string(v);
  }
  return text;
}

struct ActionTexts {
  std::string step_dtype;  // what the step docstring says the actions are
  std::string space;       // the body of the action space's docstring
};

ActionTexts action_texts(const envs::DiscreteActions& a) {
  return {"int32, " + discrete_values(a.count),
          "Returns a dict matching gymnasium.spaces.Discrete format:\n- n: " +
              std::to_string(a.count) + " (" + a.meaning + ")\n- dtype: \"int32\""};
}

ActionTexts action_texts(const envs::ContinuousActions& a) {
  const std::string low = float_text(a.low);
  const std::string high = float_text(a.high);
  return {"float32, continuous " + std::string(a.name) + " values [" + low + ", " + high + "]",
          "Returns a dict matching gymnasium.spaces.Box format:\n- shape: (1,) for " +
              std::string(a.name) + "\n- low: " + low + "\n- high: " + high +
              "\n- dtype: \"float32\""};
}

}  // namespace

std::string float_text(float value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  std::string text(buffer, end);
  if (text.find_first_of(".en") == std::string::npos) text += ".0";
  return text;
}

EnvTexts env_texts(const envs::TaskNames& names, std::size_t observation_size, Actions actions,
                   std::uint32_t max_steps) {
  const std::string k = std::to_string(observation_size);
  const ActionTexts action = std::visit([](const auto& a) { return action_texts(a); }, actions);
  EnvTexts t;
  t.class_name = envs::class_name(names);
  t.qualified_name = "vorlisk." + t.class_name;
  t.class_doc = t.class_name + "(num_envs, workers=None, *, max_episode_steps=" +
                std::to_string(max_steps) + ", autoreset_mode='same_step')\n--\n\nHigh-performance vectorized " +
                names.title +
                " environment.\n\nThe implementation is SIMD-optimized and steps every lane in "
                "one call on NumPy arrays.";
  t.reset = "reset($self, seed, *, mask=None)\n--\n\nReset all environments.\n\nReturns observations as a numpy "
            "array of shape (num_envs, " + k +
            ").\n\n# Errors\n\nReturns `ValueError` if observation array reshape fails.";
  t.step = "step($self, actions)\n--\n\nStep all environments with the given actions.\n\n"
           "# Arguments\n\n* `actions` - numpy array of shape (num_envs,) with dtype " +
           action.step_dtype +
           "\n\n# Returns\n\nTuple of (observations, rewards, terminals, truncations) where:\n"
           "- observations: shape (num_envs, " + k + "), dtype float32" +
           names.step_observations_note +
           "\n- rewards: shape (num_envs,), dtype float32\n"
           "- terminals: shape (num_envs,), dtype uint8" + names.step_terminals_note +
           "\n- truncations: shape (num_envs,), dtype uint8\n\n"
           "# Errors\n\nReturns `ValueError` if actions array is not contiguous or has wrong size.";
  t.final_observations =
      "final_observations($self)\n--\n\nFinal observations of the episodes that ended in the "
      "last step.\n\nA finished lane's row in the observations of `step` already starts its "
      "next episode; this gives the observation it reached before, which a learner needs to "
      "bootstrap the value of a truncated episode.\n\nReturns a tuple (indices, observations) "
      "where:\n- indices: the lanes whose terminal or truncation flag the last step set, "
      "ascending, dtype int64\n- observations: shape (len(indices), " + k +
      "), dtype float32\n\nBoth are empty after `reset` and before the first step.";
  t.observation_space =
      "Gymnasium-compatible observation space specification.\n\nReturns a dict matching "
      "gymnasium.spaces.Box format:\n- shape: (" + k + ",) for [" + names.observations +
      "]\n- low: lower bounds" + names.bounds_note + "\n- high: upper bounds" +
      names.bounds_note + "\n- dtype: \"float32\"";
  t.action_space = "Gymnasium-compatible action space specification.\n\n" + action.space;
  return t;
}

std::string render_text(const envs::TaskNames& names, std::size_t width, std::size_t height) {
  const std::string frame = std::to_string(height) + ", " + std::to_string(width) + ", 3";
  return "render($self, lanes)\n--\n\nDraw lanes as RGB images, as Gymnasium's " +
         std::string(names.gymnasium_id) + " draws its rgb_array frames." + names.render_note +
         "\n\n# Arguments\n\n* `lanes` - a lane index, or a sequence or one-dimensional "
         "integer array of lane indices; negative indices count from the last lane\n\n"
         "# Returns\n\nFor one index, its frame: a new numpy array of shape (" + frame +
         "), dtype uint8, rows from the top. For a sequence, one frame a lane in its order: "
         "shape (len(lanes), " + frame + ").\n\n# Errors\n\nReturns `IndexError` for a lane "
         "outside the environment, `TypeError` for lanes of another type, and `MemoryError` "
         "when the frames cannot fit in memory.";
}

}  // namespace vorlisk::python
