#include <limits>

#include "envs/gymnasium/cartpole.hpp"
#include "python/types.hpp"
#include "python/vec_env_class.hpp"

namespace vorlisk::python {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct CartPoleClass {
  using Engine = envs::gymnasium::CartPole;
  static constexpr ActionKind kActions = ActionKind::kDiscreteInt32;
  static constexpr const char* kName = "vorlisk.PyCartPoleVecEnv";
  static constexpr const char* kDoc =
      "PyCartPoleVecEnv(num_envs, workers=None)\n--\n\n"
      "High-performance vectorized CartPole environment." VORLISK_ENV_CLASS_SECOND_PARAGRAPH;
  static constexpr const char* kResetDoc = VORLISK_ENV_RESET_DOC("4");
  static constexpr const char* kFinalObservationsDoc = VORLISK_ENV_FINAL_OBSERVATIONS_DOC("4");
  static constexpr const char* kStepDoc =
      VORLISK_ENV_STEP_DOC("int32, values 0 or 1", "4", "", "");
  static constexpr const char* kObservationSpaceDoc =
      "Gymnasium-compatible observation space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Box format:\n"
      "- shape: (4,) for [cart_pos, cart_vel, pole_angle, pole_vel]\n"
      "- low: lower bounds (unbounded for velocities)\n"
      "- high: upper bounds (unbounded for velocities)\n"
      "- dtype: \"float32\"";
  static constexpr const char* kActionSpaceDoc =
      "Gymnasium-compatible action space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Discrete format:\n"
      "- n: 2 (push left or push right)\n"
      "- dtype: \"int32\"";
  static constexpr std::array<float, 4> kObservationLow = {-4.8f, -kInf, -0.418f, -kInf};
  static constexpr std::array<float, 4> kObservationHigh = {4.8f, kInf, 0.418f, kInf};

  static Engine make(std::size_t num_envs, std::size_t workers) {
    return Engine::with_workers(num_envs, workers);
  }
  static PyObject* action_space() { return discrete_space(2, "int32"); }
  // CartPole leaves the choice of path to its caller.
  static void step(Engine& e, std::span<const float> actions) {
    if (e.workers < 2) {
      e.step_auto_reset_simd(actions);
    } else {
      e.step_auto_reset_parallel(actions);
    }
  }
};

}  // namespace

PyObject* cartpole_type(PyObject* module) { return VecEnvClass<CartPoleClass>::type(module); }

}  // namespace vorlisk::python
