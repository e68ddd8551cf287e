#include "envs/gymnasium/mountain_car.hpp"
#include "python/types.hpp"
#include "python/vec_env_class.hpp"

namespace vorlisk::python {
namespace {

struct MountainCarClass {
  using Engine = envs::gymnasium::MountainCar;
  static constexpr ActionKind kActions = ActionKind::kDiscreteInt32;
  static constexpr const char* kName = "vorlisk.PyMountainCarVecEnv";
  static constexpr const char* kDoc =
      "PyMountainCarVecEnv(num_envs, workers=None)\n--\n\n"
      "High-performance vectorized MountainCar environment." VORLISK_ENV_CLASS_SECOND_PARAGRAPH;
  static constexpr const char* kResetDoc = VORLISK_ENV_RESET_DOC("2");
  static constexpr const char* kFinalObservationsDoc = VORLISK_ENV_FINAL_OBSERVATIONS_DOC("2");
  static constexpr const char* kStepDoc =
      VORLISK_ENV_STEP_DOC("int32, values 0, 1, or 2", "2", "", "");
  static constexpr const char* kObservationSpaceDoc =
      "Gymnasium-compatible observation space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Box format:\n"
      "- shape: (2,) for [position, velocity]\n"
      "- low: lower bounds\n"
      "- high: upper bounds\n"
      "- dtype: \"float32\"";
  static constexpr const char* kActionSpaceDoc =
      "Gymnasium-compatible action space specification.\n\n"
      "Returns a dict matching gymnasium.spaces.Discrete format:\n"
      "- n: 3 (push left, no push, push right)\n"
      "- dtype: \"int32\"";
  static constexpr std::array<float, 2> kObservationLow = {-1.2f, -0.07f};
  static constexpr std::array<float, 2> kObservationHigh = {0.6f, 0.07f};

  static Engine make(std::size_t num_envs, std::size_t workers) {
    return Engine::with_workers(num_envs, workers);
  }
  static PyObject* action_space() { return discrete_space(3, "int32"); }
  static void step(Engine& e, std::span<const float> actions) { e.step_auto_reset(actions); }
};

}  // namespace

PyObject* mountain_car_type(PyObject* module) { return VecEnvClass<MountainCarClass>::type(module); }

}  // namespace vorlisk::python
