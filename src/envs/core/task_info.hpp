// What a task says about itself beyond its physics: its actions, its names and the
// parts of its docstrings that are its own. The Python classes, the Gymnasium
// adapter, the type stubs and the benchmarks read these, so none of them names a task.
#pragma once

#include <cstdint>
#include <string>

namespace vorlisk::envs {

// Integer actions 0 .. count - 1, passed as int32.
struct DiscreteActions {
  std::uint32_t count;
  const char* meaning;  // what the values do, e.g. "push left or push right"
};

// One float32 per lane, meant to lie within [low, high].
struct ContinuousActions {
  float low;
  float high;
  const char* name;  // what the value is, e.g. "torque"
};

struct TaskNames {
  const char* title;          // "CartPole": the class is PyCartPoleVecEnv
  const char* gymnasium_id;   // the Gymnasium environment the task follows
  const char* observations;   // the observation's entries, e.g. "position, velocity"
  // Notes the docstrings add: after the space's lower and upper bounds, after the
  // step's observation and terminal lines.
  const char* bounds_note = "";
  const char* step_observations_note = "";
  const char* step_terminals_note = "";
  // What the render docstring adds about the task's picture.
  const char* render_note = "";
  // The Gymnasium adapter steps every lane with the exact formulas, because the
  // task's blocks drift too far from Gymnasium's dynamics.
  bool gymnasium_exact = false;
};

// The task's Python class: PyCartPoleVecEnv for the title "CartPole".
inline std::string class_name(const TaskNames& names) {
  return std::string("Py") + names.title + "VecEnv";
}

}  // namespace vorlisk::envs
