// The TUILogger class: converts Python arguments and delegates to tui::Logger.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "envs/core/memory_limit.hpp"
#include "python/binding.hpp"
#include "python/types.hpp"
#include "tui/logger/csv_log.hpp"
#include "tui/logger/history.hpp"
#include "tui/logger/logger.hpp"
#include "tui/logger/metric_set.hpp"
#include "tui/logger/user_metrics.hpp"

namespace vorlisk::python {
namespace {

// update()'s parameters and the most metrics a logger has.
constexpr std::size_t kMaxKeywords = 10 + tui::kMaxUserMetrics;

struct LoggerObject {
  PyObject_HEAD
  tui::Logger* logger;  // owned; null only if construction failed
  // update()'s keyword names, interned: its own parameters, then the logger's
  // metrics. Null only if construction failed.
  PyObject* keywords;
  // A call site passes the same tuple of keyword names on every call: the last one
  // seen (held, so that no other tuple can take its address) and the index in
  // `keywords` of each of its names, so that binding it again takes no search.
  PyObject* last_kwnames;
  std::uint8_t last_slots[kMaxKeywords];
};

tui::Logger& logger_of(PyObject* self) { return *reinterpret_cast<LoggerObject*>(self)->logger; }

constexpr const char kClassDoc[] =
    "TUILogger(mode=\"minimal\", render_interval_ms=100, history_len=100, csv_path=None, "
    "monitor_interval_ms=None, update_interval_steps=None, *, total_steps=None, metrics=(), "
    "display=True)\n--\n\n"
    "High-performance TUI logger with ratatui.\n\n"
    "Renders training metrics in a terminal UI with minimal overhead.\n"
    "Python updates metrics via atomic writes; a separate thread handles rendering.";

// update()'s parameters are the metrics it receives, in table order; the
// optional ones default to None.
#define VORLISK_PY_DEFAULT_EVERY ""
#define VORLISK_PY_DEFAULT_OR_ZERO "=None"
#define VORLISK_PY_DEFAULT_IF_GIVEN "=None"
#define VORLISK_PARAM_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_ARG(kind)(", " #arg VORLISK_PY_DEFAULT_##kind)
constexpr const char kUpdateDoc[] =
    "update($self" VORLISK_METRICS(VORLISK_PARAM_) ", **metrics)\n--\n\n"
    "Update metrics from Python training loop.\n\n"
    "This method is optimized for minimal overhead - uses atomic writes only.\n"
    "GPU metrics are optional and can be provided by Python if available.";
#undef VORLISK_PARAM_
#undef VORLISK_PY_DEFAULT_EVERY
#undef VORLISK_PY_DEFAULT_OR_ZERO
#undef VORLISK_PY_DEFAULT_IF_GIVEN

#define VORLISK_NAME_(cell, type, kind, arg, hist, csv) VORLISK_IF_ARG(kind)(#arg, )
constexpr const char* kUpdateNames[] = {VORLISK_METRICS(VORLISK_NAME_)};
#undef VORLISK_NAME_
#define VORLISK_KIND_(cell, type, kind, arg, hist, csv) VORLISK_IF_ARG(kind)(tui::ArgKind::kind, )
constexpr tui::ArgKind kUpdateKinds[] = {VORLISK_METRICS(VORLISK_KIND_)};
#undef VORLISK_KIND_
constexpr std::size_t kUpdateArgs = std::size(kUpdateNames);
static_assert(kMaxKeywords == kUpdateArgs + tui::kMaxUserMetrics && kMaxKeywords <= 256);
constexpr std::size_t kUpdateRequired = std::ranges::count(kUpdateKinds, tui::ArgKind::EVERY);
static_assert(std::ranges::is_partitioned(kUpdateKinds,
                                          [](tui::ArgKind k) { return k == tui::ArgKind::EVERY; }),
              "update()'s required arguments come first");

constexpr const char kShouldQuitDoc[] =
    "should_quit($self)\n--\n\nCheck if quit was requested via keyboard.";

constexpr const char kShouldSaveDoc[] =
    "should_save($self)\n--\n\nCheck if a checkpoint save was requested via keyboard.\n\n"
    "Returns True once for each press of the s key, then False until the next press.";

constexpr const char kCloseDoc[] = "close($self)\n--\n\nClose the TUI and restore terminal.";

constexpr const char kEnterDoc[] =
    "__enter__($self, /)\n--\n\nReturn the logger itself, for a with statement.";

constexpr const char kExitDoc[] =
    "__exit__($self, exc_type, exc_value, traceback, /)\n--\n\n"
    "Close the logger at the end of a with statement; an exception goes on.";

// The names of the user's metrics: any iterable of str but a str itself, which
// would give its letters. Reading stops one name past the most there may be, so
// that an endless iterable is refused too.
bool to_metric_names(PyObject* o, std::vector<std::string>* out) {
  PyRef iterator = PyRef::steal(PyUnicode_Check(o) || PyBytes_Check(o) ? nullptr : PyObject_GetIter(o));
  if (!iterator) {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Format(PyExc_TypeError, "argument 'metrics': expected an iterable of str, not '%s'",
                 Py_TYPE(o)->tp_name);
    return false;
  }
  while (out->size() <= tui::kMaxUserMetrics) {
    PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
    if (!item) return !PyErr_Occurred();
    if (!to_utf8(item.get(), "metrics", &out->emplace_back())) return false;
  }
  return true;
}

// Constructor arguments, converted in this order; the mode name is checked only
// once every argument has converted.
bool convert_options(PyObject* const* a, tui::LoggerOptions* options) {
  std::string mode = "minimal";
  if (a[0] && !to_utf8(a[0], "mode", &mode)) return false;
  if (a[1] && !to_u64(a[1], "render_interval_ms", &options->render_interval_ms)) return false;
  if (a[2] && !to_size(a[2], "history_len", &options->history_len)) return false;
  if (a[3] && a[3] != Py_None) {
    std::string path;
    if (!to_fs_path(a[3], "csv_path", &path)) return false;
    options->csv_path = std::move(path);
  }
  if (a[4] && a[4] != Py_None &&
      !to_u64(a[4], "monitor_interval_ms", &options->monitor_interval_ms)) {
    return false;
  }
  if (a[5] && a[5] != Py_None &&
      !to_u64(a[5], "update_interval_steps", &options->update_interval_steps)) {
    return false;
  }
  if (a[6] && a[6] != Py_None && !to_u64(a[6], "total_steps", &options->total_steps)) return false;
  if (a[7] && a[7] != Py_None && !to_metric_names(a[7], &options->user_metrics)) return false;
  if (a[8]) {
    const int display = PyObject_IsTrue(a[8]);
    if (display < 0) return false;
    options->display = display != 0;
  }
  std::optional<tui::TUIMode> parsed = tui::parse_mode(mode);
  if (!parsed) {
    PyErr_SetString(PyExc_ValueError, "mode must be 'minimal', 'dashboard', or 'chart'");
    return false;
  }
  options->mode = *parsed;
  return true;
}

// While the display is on, the process's output goes to the display's pipes: what
// Python still buffers must reach them before the display ends and writes them out,
// or it would come after later output. Errors are ignored; one already raised stays.
void flush_python_streams() {
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* raised = PyErr_GetRaisedException();
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
#endif
  for (const char* name : {"stdout", "stderr"}) {
    PyObject* stream = PySys_GetObject(name);  // borrowed
    if (!stream || stream == Py_None) continue;
    PyRef done = PyRef::steal(PyObject_CallMethod(stream, "flush", nullptr));
    if (!done) PyErr_Clear();
  }
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(raised);
#else
  PyErr_Restore(type, value, traceback);
#endif
}

// Waiting for the terminal to be given back (a bounded wait) lets other threads
// run, and a signal be serviced after it; the display never calls into Python.
void close_logger(PyObject* self) {
  flush_python_streams();
  tui::Logger& logger = logger_of(self);
  Py_BEGIN_ALLOW_THREADS
  logger.stop_threads();
  Py_END_ALLOW_THREADS
  logger.close();
}

// An exception that ends the script prints its traceback through sys.excepthook,
// while an open logger still holds the terminal: on the alternate screen the
// traceback would vanish, in raw mode it would be garbled. So the first logger puts
// a hook in front of the existing one that closes the open loggers first.
PyObject* close_loggers_then_report(PyObject* previous_hook, PyObject* const* args,
                                    Py_ssize_t nargs) {
  flush_python_streams();
  tui::close_open_loggers();
  return PyObject_Vectorcall(previous_hook, args, static_cast<std::size_t>(nargs), nullptr);
}

PyMethodDef excepthook_def = {
    "excepthook", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(close_loggers_then_report)),
    METH_FASTCALL, "Closes the open TUILoggers, then reports the exception as before."};

// Best effort: a failure leaves the hook as it was.
void close_loggers_before_tracebacks() {
  static bool installed = false;
  if (installed) return;
  PyObject* previous = PySys_GetObject("excepthook");  // borrowed
  if (!previous) return;
  PyRef hook = PyRef::steal(PyCFunction_New(&excepthook_def, previous));
  if (!hook || PySys_SetObject("excepthook", hook.get()) != 0) {
    PyErr_Clear();
    return;
  }
  installed = true;
}

// update()'s keyword names, interned, so that the names a call spells out (which
// the compiler interns) are found by identity: its own parameters, then `metrics`.
PyObject* update_keywords(const std::vector<std::string>& metrics) {
  PyRef keywords = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(kUpdateArgs + metrics.size())));
  if (!keywords) return nullptr;
  for (std::size_t i = 0; i < kUpdateArgs + metrics.size(); ++i) {
    PyObject* name =
        PyUnicode_InternFromString(i < kUpdateArgs ? kUpdateNames[i] : metrics[i - kUpdateArgs].c_str());
    if (!name) return nullptr;
    PyTuple_SET_ITEM(keywords.get(), static_cast<Py_ssize_t>(i), name);
  }
  return keywords.release();
}

PyObject* logger_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const kNames[] = {"mode",        "render_interval_ms",  "history_len",
                                       "csv_path",    "monitor_interval_ms", "update_interval_steps",
                                       "total_steps", "metrics",             "display",
                                       nullptr};
  PyObject* a[9] = {};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOOO$OOO:TUILogger", const_cast<char**>(kNames),
                                   &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7], &a[8])) {
    return nullptr;
  }
  tui::LoggerOptions options;
  if (guard([&] { return convert_options(a, &options) ? 0 : -1; }) != 0) return nullptr;

  PyRef self = PyRef::steal(type->tp_alloc(type, 0));
  if (!self) return nullptr;
  return guard([&]() -> PyObject* {
    // Every ring holds at least one point.
    envs::check_fits(std::max<std::size_t>(options.history_len, 1),
                     sizeof(tui::HistoryPoint) + options.user_metrics.size() * sizeof(double),
                     "history points");
    auto* object = reinterpret_cast<LoggerObject*>(self.get());
    try {
      object->logger = new tui::Logger(std::move(options));
      close_loggers_before_tracebacks();
    } catch (const tui::UserMetricNameError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
      return nullptr;
    } catch (const tui::CsvCreateError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
      return nullptr;
    }
    object->keywords = update_keywords(object->logger->shared().user_metrics->names());
    if (!object->keywords) return nullptr;
    return self.release();
  });
}

void logger_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // Runs close(), without the interpreter lock, as close_logger() does: nothing else
  // can reach the logger any more.
  tui::Logger* logger = reinterpret_cast<LoggerObject*>(self)->logger;
  if (logger) {
    flush_python_streams();
    Py_BEGIN_ALLOW_THREADS
    delete logger;
    Py_END_ALLOW_THREADS
  }
  Py_XDECREF(reinterpret_cast<LoggerObject*>(self)->keywords);
  Py_XDECREF(reinterpret_cast<LoggerObject*>(self)->last_kwnames);
  type->tp_free(self);
  Py_DECREF(type);
}

// The hot path: exact ints and floats are read directly, anything else goes
// through the general converters, which also word the errors.
inline bool steps_arg(PyObject* o, const char* name, std::uint64_t* out) {
  if (PyLong_CheckExact(o)) {
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v != static_cast<unsigned long long>(-1) || !PyErr_Occurred()) {
      *out = v;
      return true;
    }
    PyErr_Clear();
  }
  return to_u64(o, name, out);
}

inline bool float_arg(PyObject* o, const char* name, double* out) {
  if (PyFloat_CheckExact(o)) {
    *out = PyFloat_AS_DOUBLE(o);
    return true;
  }
  return to_f64(o, name, out);
}

// update()'s argument `o` (nullptr when absent) into `out`; an optional one
// that is absent or None leaves `out` as it is.
template <tui::ArgKind kind, class T>
bool update_arg(PyObject* o, const char* name, T* out) {
  if constexpr (kind != tui::ArgKind::EVERY) {
    if (o == nullptr || o == Py_None) return true;
  }
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    return steps_arg(o, name, out);
  } else {
    double value;
    if (!float_arg(o, name, &value)) return false;
    *out = value;
    return true;
  }
}

// The index of `key` in `keywords`, or -1: by identity first, then by text for a
// name built at run time (a ** dict's keys, say).
Py_ssize_t keyword_index(PyObject* keywords, PyObject* key) {
  const Py_ssize_t n = PyTuple_GET_SIZE(keywords);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (PyTuple_GET_ITEM(keywords, i) == key) return i;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (PyUnicode_Compare(PyTuple_GET_ITEM(keywords, i), key) == 0) return i;
  }
  return -1;
}

// Binds update()'s arguments: its own parameters into `a`, by position or keyword
// (absent ones nullptr), and the logger's metrics into `metrics`, by keyword only,
// setting bit i of *given for metrics[i]. Errors are worded as bind_arguments words
// them.
bool bind_update(LoggerObject* object, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject** a, PyObject** metrics, std::uint32_t* given) {
  if (static_cast<std::size_t>(nargs) > kUpdateArgs) {
    PyErr_Format(PyExc_TypeError, "update() takes at most %zu arguments (%zd given)", kUpdateArgs,
                 nargs);
    return false;
  }
  for (std::size_t i = 0; i < kUpdateArgs; ++i) {
    a[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
  }
  *given = 0;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  const bool known = kwnames == object->last_kwnames;
  std::uint8_t slots[kMaxKeywords];
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t index = known ? object->last_slots[k] : keyword_index(object->keywords, key);
    if (index < 0) {
      if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "update() got an unexpected keyword argument '%U'", key);
      }
      return false;
    }
    const auto slot = static_cast<std::size_t>(index);
    const std::uint32_t bit = slot < kUpdateArgs ? 0 : std::uint32_t{1} << (slot - kUpdateArgs);
    if (slot < kUpdateArgs ? a[slot] != nullptr : (*given & bit) != 0) {
      PyErr_Format(PyExc_TypeError, "update() got multiple values for argument '%U'", key);
      return false;
    }
    if (slot < kUpdateArgs) {
      a[slot] = args[nargs + k];
    } else {
      metrics[slot - kUpdateArgs] = args[nargs + k];
      *given |= bit;
    }
    // Names are neither unknown nor repeated here, so there are at most kMaxKeywords.
    if (!known) slots[k] = static_cast<std::uint8_t>(slot);
  }
  if (!known && nkw != 0) {
    PyObject* previous = object->last_kwnames;
    object->last_kwnames = Py_NewRef(kwnames);
    Py_XDECREF(previous);
    std::copy_n(slots, nkw, object->last_slots);
  }
  for (std::size_t i = 0; i < kUpdateRequired; ++i) {
    if (!a[i]) {
      PyErr_Format(PyExc_TypeError, "update() missing required argument '%s' (pos %zu)",
                   kUpdateNames[i], i + 1);
      return false;
    }
  }
  return true;
}

PyObject* logger_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  auto* object = reinterpret_cast<LoggerObject*>(self);
  PyObject* a[kUpdateArgs];
  PyObject* metrics[tui::kMaxUserMetrics];
  std::uint32_t named = 0;
  if (!bind_update(object, args, nargs, kwnames, a, metrics, &named)) return nullptr;
  // Everything is converted before anything is stored, so a bad argument
  // changes nothing.
  tui::UpdateArgs u;
  std::size_t i = 0;
#define VORLISK_CONVERT_(cell, type, kind, arg, hist, csv) \
  VORLISK_IF_ARG(kind)(if (!update_arg<tui::ArgKind::kind>(a[i++], #arg, &u.arg)) return nullptr;)
  VORLISK_METRICS(VORLISK_CONVERT_)
#undef VORLISK_CONVERT_
  // A metric given as None counts as not given, as the optional figures above do.
  double values[tui::kMaxUserMetrics];
  for (std::uint32_t rest = named; rest != 0; rest &= rest - 1) {
    const auto m = static_cast<std::size_t>(std::countr_zero(rest));
    PyObject* o = metrics[m];
    if (o == Py_None) continue;
    if (PyFloat_CheckExact(o)) {
      values[m] = PyFloat_AS_DOUBLE(o);
    } else if (!to_f64(o, object->logger->shared().user_metrics->names()[m].c_str(), &values[m])) {
      return nullptr;
    }
    u.user.given |= std::uint32_t{1} << m;
  }
  u.user.values = values;
  object->logger->update(u);
  Py_RETURN_NONE;
}

PyObject* logger_should_quit(PyObject* self, PyObject*) {
  return PyBool_FromLong(logger_of(self).should_quit());
}

PyObject* logger_should_save(PyObject* self, PyObject*) {
  return PyBool_FromLong(logger_of(self).should_save());
}

PyObject* logger_close(PyObject* self, PyObject*) {
  close_logger(self);
  Py_RETURN_NONE;
}

PyObject* logger_enter(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* logger_exit(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError, "__exit__ expected 3 arguments, got %zd", nargs);
    return nullptr;
  }
  close_logger(self);
  Py_RETURN_NONE;  // not True: an exception raised in the block goes on
}

PyMethodDef logger_methods[] = {
    {"update", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(logger_update)),
     METH_FASTCALL | METH_KEYWORDS, kUpdateDoc},
    {"should_quit", logger_should_quit, METH_NOARGS, kShouldQuitDoc},
    {"should_save", logger_should_save, METH_NOARGS, kShouldSaveDoc},
    {"close", logger_close, METH_NOARGS, kCloseDoc},
    {"__enter__", logger_enter, METH_NOARGS, kEnterDoc},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(logger_exit)), METH_FASTCALL,
     kExitDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot logger_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(logger_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(logger_dealloc)},
    {Py_tp_methods, logger_methods},
    {0, nullptr},
};

PyType_Spec logger_spec = {
    "vorlisk.TUILogger", sizeof(LoggerObject), 0, Py_TPFLAGS_DEFAULT, logger_slots,
};

}  // namespace

PyObject* tui_logger_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &logger_spec, nullptr);
}

}  // namespace vorlisk::python
