#include "envs/gymnasium/pendulum.hpp"
#include "python/types.hpp"
#include "python/vec_env_class.hpp"

namespace vorlisk::python {
namespace {

constexpr float kMaxTorque = 2.0f;

struct PendulumClass {
  using Engine = envs::gymnasium::Pendulum;
  static constexpr ActionKind kActions = ActionKind::kContinuousF32;
  static constexpr const char* kName = "vorlisk.PyPendulumVecEnv";
  static constexpr const char* kDoc =
      "PyPendulumVecEnv(num_envs, workers=None)\n--\n\n"
      "High-performance vectorized Pendulum environment." VORLISK_ENV_CLASS_SECOND_PARAGRAPH;
  static constexpr const char* kResetDoc = VORLISK_ENV_RESET_DOC("3");
  static constexpr const char* kFinalObservationsDoc = VORLISK_ENV_FINAL_OBSERVATIONS_DOC("3");
  static constexpr const char* kStepDoc =
      VORLISK_ENV_STEP_DOC("float32, continuous torque values [-2.0, 2.0]", "3",
                           " (cos(theta), sin(theta), theta_dot)",
                           " (always 0, Pendulum has no terminal state)");
  static constexpr const char* kObservationSpaceDoc =
      "Gymnasium-compatible observation space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Box format:\n"
      "- shape: (3,) for [cos(theta), sin(theta), theta_dot]\n"
      "- low: lower bounds\n"
      "- high: upper bounds\n"
      "- dtype: \"float32\"";
  static constexpr const char* kActionSpaceDoc =
      "Gymnasium-compatible action space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Box format:\n"
      "- shape: (1,) for torque\n"
      "- low: -2.0\n"
      "- high: 2.0\n"
      "- dtype: \"float32\"";
  static constexpr std::array<float, 3> kObservationLow = {-1.0f, -1.0f, -8.0f};
  static constexpr std::array<float, 3> kObservationHigh = {1.0f, 1.0f, 8.0f};

  static Engine make(std::size_t num_envs, std::size_t workers) {
    return Engine::with_workers(num_envs, workers);
  }
  static PyObject* action_space() {
    constexpr float low = -kMaxTorque;
    constexpr float high = kMaxTorque;
    return box_space(&low, &high, 1);
  }
  // The caller's torques go in unclipped; the engine bounds them.
  static void step(Engine& e, std::span<const float> actions) { e.step_auto_reset(actions); }
};

}  // namespace

PyObject* pendulum_type(PyObject* module) { return VecEnvClass<PendulumClass>::type(module); }

}  // namespace vorlisk::python
