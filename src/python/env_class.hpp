// The Python class of a task: one class template, instantiated once per entry of the
// task registry. The task supplies its engine, its spaces and the parts of its texts;
// everything else is the same for every class.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "envs/core/in_use.hpp"
#include "envs/core/step_io.hpp"
#include "envs/core/vec_engine.hpp"
#include "python/binding.hpp"
#include "python/env_texts.hpp"
#include "python/lanes.hpp"
#include "python/numpy.hpp"
#include "render/frames.hpp"

namespace vorlisk::python {

// Space dicts, built anew on every access.
PyObject* discrete_space(long n, const char* dtype);
PyObject* box_space(const float* low, const float* high, std::size_t n);

// Checks `actions` (a one-dimensional contiguous array of `dtype` with `count`
// elements) and returns its data; nullptr with TypeError or ValueError set.
const void* checked_actions(PyObject* actions, int dtype, const char* dtype_name, std::size_t count);

// Checks `mask` (a one-dimensional array of bool or uint8 with `count` elements) and
// returns its data; nullptr with TypeError or ValueError set.
const void* checked_mask(PyObject* mask, std::size_t count);

// "same_step", "next_step" or "disabled"; false with an exception set otherwise.
bool to_autoreset_mode(PyObject* o, envs::AutoresetMode* out);
const char* autoreset_mode_name(envs::AutoresetMode mode);

// A new float32 array of shape (rows, cols) (cols 0: one-dimensional) or uint8.
PyObject* new_array(int dtype, std::size_t rows, std::size_t cols);

// Steps of at least this many lanes run without the interpreter's lock, so that other
// Python threads (a policy, a logger, a data loader) run meanwhile. Letting the lock go
// and taking it back costs about 0.08 to 0.1 us when no other thread wants it: 14 % of
// a one-lane CartPole step, 5 % at 256 lanes, about 1 % from here on; smaller steps
// are over before another thread would get much done.
inline constexpr std::size_t kStepWithoutGilLanes = 2048;

inline constexpr char kInUseMessage[] =
    "step() is already running on this environment in another thread";

// The interpreter's lock let go for the length of a scope, where `release` says so.
class WithoutGil {
 public:
  explicit WithoutGil(bool release) : saved_(release ? PyEval_SaveThread() : nullptr) {}
  ~WithoutGil() {
    if (saved_) PyEval_RestoreThread(saved_);
  }
  WithoutGil(const WithoutGil&) = delete;
  WithoutGil& operator=(const WithoutGil&) = delete;

 private:
  PyThreadState* saved_;
};

// Discrete actions arrive as int32 and are converted to the nearest float; continuous
// ones are float32 and reach the engine as they are.
template <class Task>
inline constexpr bool kDiscrete = std::is_same_v<std::remove_cv_t<decltype(Task::kActions)>,
                                                 envs::DiscreteActions>;

template <class Task>
class VecEnvClass {
  using Engine = Task;
  static constexpr std::size_t kObs = Engine::kObservationSize;

  struct State {
    Engine engine;
    std::vector<float> actions_buffer;  // converted discrete actions; unused otherwise
    // Held by a step while it runs, which may be without the interpreter's lock; the
    // other methods take it too, for the moment they read or change the engine.
    envs::InUse in_use;
  };

  struct Object {
    PyObject_HEAD
    State* state;
  };

 public:
  // A new class for `module`, which keeps it in its state.
  static PyObject* type(PyObject* module) { return guard([&] { return create(module); }); }

 private:
  static State& state(PyObject* self) { return *reinterpret_cast<Object*>(self)->state; }
  static Engine& engine(PyObject* self) { return state(self).engine; }

  static PyObject* in_use_error() {
    PyErr_SetString(PyExc_RuntimeError, kInUseMessage);
    return nullptr;
  }

  static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> PyObject* {
      static const char* names[] = {"num_envs", "workers", "max_episode_steps", "autoreset_mode",
                                    nullptr};
      // "O|O$OO:ClassName", so that signature errors name the class.
      static const std::string format = "O|O$OO:" + texts().class_name;
      PyObject* num_envs_arg = nullptr;
      PyObject* workers_arg = Py_None;
      PyObject* limit_arg = Py_None;
      PyObject* mode_arg = nullptr;
      if (!PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), const_cast<char**>(names),
                                       &num_envs_arg, &workers_arg, &limit_arg, &mode_arg)) {
        return nullptr;
      }
      std::size_t num_envs = 0, workers = 1, limit = envs::kEpisodeLimitOf<Engine>;
      envs::AutoresetMode mode = envs::AutoresetMode::kSameStep;
      if (!to_size(num_envs_arg, "num_envs", &num_envs)) return nullptr;
      if (workers_arg != Py_None && !to_size(workers_arg, "workers", &workers)) return nullptr;
      if (limit_arg != Py_None && !to_size(limit_arg, "max_episode_steps", &limit)) return nullptr;
      if (mode_arg && !to_autoreset_mode(mode_arg, &mode)) return nullptr;
      if (num_envs == 0) {
        PyErr_SetString(PyExc_ValueError, "num_envs must be greater than 0");
        return nullptr;
      }
      // Some tasks count steps in single precision, which is exact up to 2^24.
      if (limit == 0 || limit > envs::kMaxEpisodeLimit) {
        PyErr_Format(PyExc_ValueError, "max_episode_steps must be between 1 and %u, got %zu",
                     static_cast<unsigned>(envs::kMaxEpisodeLimit), limit);
        return nullptr;
      }
      auto st = std::unique_ptr<State>(new State{Engine::with_workers(num_envs, workers), {}, {}});
      st->engine.max_steps = static_cast<std::uint32_t>(limit);
      st->engine.autoreset_mode = mode;
      if constexpr (kDiscrete<Task>) st->actions_buffer.resize(num_envs);
      PyObject* self = type->tp_alloc(type, 0);
      if (!self) return nullptr;
      reinterpret_cast<Object*>(self)->state = st.release();
      return self;
    });
  }

  static void tp_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<Object*>(self)->state;
    type->tp_free(self);
    Py_DECREF(type);
  }

  static PyObject* observations(const Engine& e) {
    PyObject* obs = new_array(NPY_FLOAT32, e.num_envs, kObs);
    if (obs) {
      e.write_observations({static_cast<float*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(obs))),
                            e.num_envs * kObs});
    }
    return obs;
  }

  static PyObject* reset(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
      // `mask` is keyword-only.
      if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "reset() takes 1 positional argument but %zd were given", nargs);
        return nullptr;
      }
      static const char* const names[] = {"seed", "mask"};
      PyObject* arguments[2] = {nullptr, nullptr};
      if (!bind_arguments("reset", args, nargs, kwnames, names, 2, 1, arguments)) return nullptr;
      std::uint64_t seed = 0;
      if (arguments[0] != Py_None && !to_u64(arguments[0], "seed", &seed)) return nullptr;
      const envs::Claim claim(state(self).in_use);
      if (!claim) return in_use_error();
      Engine& e = engine(self);
      if (arguments[1] && arguments[1] != Py_None) {
        const void* mask = checked_mask(arguments[1], e.num_envs);
        if (!mask) return nullptr;
        e.reset_lanes(seed, {static_cast<const std::uint8_t*>(mask), e.num_envs});
      } else {
        e.reset(seed);
      }
      return observations(e);
    });
  }

  static PyObject* step(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return step_with<false>("step", self, args, nargs, kwnames);
  }

  // `step` with the exact formulas on every lane, whatever `workers` says: the chunked
  // path, which with one chunk runs on the calling thread. It gives every lane the
  // dynamics a tail lane or a chunk lane has (the blocks of some tasks approximate),
  // for callers that need those; private, so that the public surface stays as it is.
  static PyObject* step_per_lane(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return step_with<true>("_step_per_lane", self, args, nargs, kwnames);
  }

  template <bool kPerLane>
  static PyObject* step_with(const char* name, PyObject* self, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
      PyObject* actions_arg;
      if (nargs == 1 && !kwnames) {
        actions_arg = args[0];
      } else {
        static const char* const names[] = {"actions"};
        if (!bind_arguments(name, args, nargs, kwnames, names, 1, 1, &actions_arg)) return nullptr;
      }
      State& st = state(self);
      const envs::Claim claim(st.in_use);
      if (!claim) return in_use_error();
      Engine& e = st.engine;
      envs::StepActions actions{.count = e.num_envs};
      if constexpr (kDiscrete<Task>) {
        // Converted by the engine a stretch of lanes at a time, as it steps them.
        const void* data = checked_actions(actions_arg, NPY_INT32, "int32", e.num_envs);
        if (!data) return nullptr;
        actions.int32_bytes = static_cast<const char*>(data);
        actions.converted = st.actions_buffer.data();
      } else {
        const void* data = checked_actions(actions_arg, NPY_FLOAT32, "float32", e.num_envs);
        if (!data) return nullptr;
        actions.floats = aligned_floats(data, st.actions_buffer, e.num_envs).data();
      }

      // The result arrays first: the engine writes each lane's results straight into
      // them as it steps it.
      PyRef obs = PyRef::steal(new_array(NPY_FLOAT32, e.num_envs, kObs));
      PyRef rewards = PyRef::steal(new_array(NPY_FLOAT32, e.num_envs, 0));
      PyRef terminals = PyRef::steal(new_array(NPY_UINT8, e.num_envs, 0));
      PyRef truncations = PyRef::steal(new_array(NPY_UINT8, e.num_envs, 0));
      if (!obs || !rewards || !terminals || !truncations) return nullptr;
      const envs::StepResults out{data_of<float>(obs), data_of<float>(rewards),
                                  data_of<std::uint8_t>(terminals),
                                  data_of<std::uint8_t>(truncations)};
      {
        // The caller's actions array stays alive: the call's arguments hold it.
        const WithoutGil unlocked(e.num_envs >= kStepWithoutGilLanes);
        if constexpr (kPerLane) {
          e.step_into_per_lane(actions, out);
        } else {
          e.step_into(actions, out);
        }
      }
      return PyTuple_Pack(4, obs.get(), rewards.get(), terminals.get(), truncations.get());
    });
  }

  template <class T>
  static T* data_of(const PyRef& array) {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  }

  // The caller's float32 data as it is; only an unaligned array is copied first.
  static std::span<const float> aligned_floats(const void* data, std::vector<float>& scratch,
                                               std::size_t n) {
    if (reinterpret_cast<std::uintptr_t>(data) % alignof(float) == 0) {
      return {static_cast<const float*>(data), n};
    }
    scratch.resize(n);
    std::memcpy(scratch.data(), data, n * sizeof(float));
    return scratch;
  }

  static PyObject* final_observations(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
      const envs::Claim claim(state(self).in_use);
      if (!claim) return in_use_error();
      const Engine& e = engine(self);
      const std::size_t count = e.final_count();
      PyRef lanes = PyRef::steal(new_array(NPY_INT64, count, 0));
      PyRef obs = PyRef::steal(new_array(NPY_FLOAT32, count, kObs));
      if (!lanes || !obs) return nullptr;
      e.write_final_observations({data_of<std::int64_t>(lanes), count},
                                 {data_of<float>(obs), count * kObs});
      return PyTuple_Pack(2, lanes.get(), obs.get());
    });
  }

  // Private: the exact state of every lane, one float64 row each, for tasks whose
  // observations lose part of it (tests start Gymnasium's environment from it).
  static PyObject* exact_state(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
      const envs::Claim claim(state(self).in_use);
      if (!claim) return in_use_error();
      const Engine& e = engine(self);
      const auto columns = e.state_columns();
      PyRef out = PyRef::steal(new_array(NPY_FLOAT64, e.num_envs, columns.size()));
      if (!out) return nullptr;
      double* row = data_of<double>(out);
      for (std::size_t i = 0; i < e.num_envs; ++i) {
        for (const double* column : columns) *row++ = column[i];
      }
      return out.release();
    });
  }

  // Draws into a fresh array; the object keeps nothing for it.
  static PyObject* render_frames(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guard([&]() -> PyObject* {
      static const char* const names[] = {"lanes"};
      PyObject* lanes_arg;
      if (!bind_arguments("render", args, nargs, kwnames, names, 1, 1, &lanes_arg)) return nullptr;
      const envs::Claim claim(state(self).in_use);
      if (!claim) return in_use_error();
      const Engine& e = engine(self);
      constexpr render::FrameSize kFrame = Task::kFrame;
      LaneChoice choice;
      if (!to_lanes(lanes_arg, e.num_envs, render::frame_bytes(kFrame), &choice)) return nullptr;
      PyRef frames = PyRef::steal(new_frames(choice, kFrame.height, kFrame.width));
      if (!frames) return nullptr;
      render::render_lanes(e, choice.lanes,
                           {data_of<std::uint8_t>(frames), choice.lanes.size() * render::frame_bytes(kFrame)});
      return frames.release();
    });
  }

  static PyObject* get_logs(PyObject* self, PyObject*) {
    const envs::Claim claim(state(self).in_use);
    if (!claim) return in_use_error();
    const auto& log = engine(self).log;
    const float count = static_cast<float>(log.episode_count);
    const float steps = static_cast<float>(log.total_steps);
    const bool any = log.episode_count > 0;
    return Py_BuildValue("{s:d,s:d,s:d,s:d,s:d}", "episode_count", double{count}, "total_reward",
                         double{log.total_reward}, "total_steps", double{steps}, "mean_reward",
                         any ? double{log.total_reward / count} : 0.0, "mean_length",
                         any ? double{steps / count} : 0.0);
  }

  static PyObject* clear_logs(PyObject* self, PyObject*) {
    const envs::Claim claim(state(self).in_use);
    if (!claim) return in_use_error();
    engine(self).log = {};
    Py_RETURN_NONE;
  }

  static PyObject* get_num_envs(PyObject* self, void*) { return PyLong_FromSize_t(engine(self).num_envs); }
  static PyObject* get_max_episode_steps(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(engine(self).max_steps);
  }
  static PyObject* get_autoreset_mode(PyObject* self, void*) {
    return PyUnicode_FromString(autoreset_mode_name(engine(self).autoreset_mode));
  }
  static PyObject* get_observation_size(PyObject*, void*) { return PyLong_FromSize_t(kObs); }
  static PyObject* get_observation_space(PyObject*, void*) {
    return box_space(Task::kObservationLow.data(), Task::kObservationHigh.data(), kObs);
  }
  static PyObject* get_action_space(PyObject*, void*) {
    if constexpr (kDiscrete<Task>) {
      return discrete_space(Task::kActions.count, "int32");
    } else {
      return box_space(&Task::kActions.low, &Task::kActions.high, 1);
    }
  }

  static const std::string& render_doc() {
    static const std::string doc =
        render_text(Task::kNames, Task::kFrame.width, Task::kFrame.height);
    return doc;
  }

  static const EnvTexts& texts() {
    static const EnvTexts t =
        env_texts(Task::kNames, kObs, Task::kActions, envs::kEpisodeLimitOf<Engine>);
    return t;
  }

  // `_state` where the task has one; otherwise an end marker, which ends the list a
  // row early.
  static constexpr PyMethodDef kStateMethod = [] {
    if constexpr (envs::HasStateColumns<Engine>) {
      return PyMethodDef{"_state", exact_state, METH_NOARGS, nullptr};
    } else {
      return PyMethodDef{nullptr, nullptr, 0, nullptr};
    }
  }();

  static PyObject* create(PyObject* module) {
    const EnvTexts& t = texts();
    static PyMethodDef methods[] = {
        {"reset", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(reset)),
         METH_FASTCALL | METH_KEYWORDS, t.reset.c_str()},
        {"step", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(step)),
         METH_FASTCALL | METH_KEYWORDS, t.step.c_str()},
        {"_step_per_lane", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(step_per_lane)),
         METH_FASTCALL | METH_KEYWORDS, nullptr},
        {"final_observations", final_observations, METH_NOARGS, t.final_observations.c_str()},
        {"get_logs", get_logs, METH_NOARGS, kGetLogsDoc},
        {"clear_logs", clear_logs, METH_NOARGS, kClearLogsDoc},
        {"render", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(render_frames)),
         METH_FASTCALL | METH_KEYWORDS, render_doc().c_str()},
        kStateMethod,
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        {"num_envs", get_num_envs, nullptr, kNumEnvsDoc, nullptr},
        {"max_episode_steps", get_max_episode_steps, nullptr, kMaxEpisodeStepsDoc, nullptr},
        {"autoreset_mode", get_autoreset_mode, nullptr, kAutoresetModeDoc, nullptr},
        {"observation_size", get_observation_size, nullptr, kObservationSizeDoc, nullptr},
        {"observation_space", get_observation_space, nullptr, t.observation_space.c_str(), nullptr},
        {"single_observation_space", get_observation_space, nullptr, kSingleObservationSpaceDoc,
         nullptr},
        {"action_space", get_action_space, nullptr, t.action_space.c_str(), nullptr},
        {"single_action_space", get_action_space, nullptr, kSingleActionSpaceDoc, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(tp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(tp_dealloc)},
        {Py_tp_doc, const_cast<char*>(t.class_doc.c_str())},
        {Py_tp_methods, methods},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {t.qualified_name.c_str(), sizeof(Object), 0, Py_TPFLAGS_DEFAULT,
                               slots};
    PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &spec, nullptr));
    // What the Gymnasium adapter reads: the id the task follows, whether it must step
    // with the exact formulas, and the steps an episode lasts at most.
    PyRef gymnasium = PyRef::steal(Py_BuildValue(
        "{s:s,s:O,s:I}", "id", Task::kNames.gymnasium_id, "exact",
        Task::kNames.gymnasium_exact ? Py_True : Py_False, "max_episode_steps",
        static_cast<unsigned int>(envs::kEpisodeLimitOf<Engine>)));
    if (!type || !gymnasium || PyObject_SetAttrString(type.get(), "_gymnasium", gymnasium.get()) < 0) {
      return nullptr;
    }
    return type.release();
  }
};

}  // namespace vorlisk::python
