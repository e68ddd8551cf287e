// Module initialisation: builds `vorlisk`, its submodule `vorlisk.envs`, and
// registers every class, stopping at the first failure.
#include <cstring>

#include "python/binding.hpp"
#include "python/numpy.hpp"
#include "python/types.hpp"

namespace vorlisk::python {
namespace {

using TypeFactory = PyObject* (*)();
constexpr TypeFactory kEnvTypes[] = {cartpole_type, mountain_car_type, pendulum_type};

bool add_types(PyObject* module) {
  for (TypeFactory factory : kEnvTypes) {
    PyRef type = PyRef::steal(factory());
    if (!type) return false;
    const char* name = reinterpret_cast<PyTypeObject*>(type.get())->tp_name;
    const char* dot = std::strrchr(name, '.');
    if (PyModule_AddObjectRef(module, dot ? dot + 1 : name, type.get()) < 0) return false;
  }
  return true;
}

bool init(PyObject* module) {
  PyRef envs = PyRef::steal(PyModule_New("envs"));
  if (!envs || !add_types(envs.get())) return false;
  if (PyModule_AddObjectRef(module, "envs", envs.get()) < 0) return false;

  PyRef sys = PyRef::steal(PyImport_ImportModule("sys"));
  if (!sys) return false;
  PyRef modules = PyRef::steal(PyObject_GetAttrString(sys.get(), "modules"));
  PyRef key = PyRef::steal(PyUnicode_FromString("vorlisk.envs"));
  if (!modules || !key || PyObject_SetItem(modules.get(), key.get(), envs.get()) < 0) return false;

  PyRef logger = PyRef::steal(tui_logger_type());
  if (!logger || PyModule_AddObjectRef(module, "TUILogger", logger.get()) < 0) return false;
  PyRef same = PyRef::steal(PyObject_GetAttrString(module, "TUILogger"));
  if (!same || PyModule_AddObjectRef(module, "Logger", same.get()) < 0) return false;

  if (!add_types(module)) return false;
  return PyModule_AddObjectRef(module, "InternalError", internal_error_type()) == 0;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vorlisk", "Vorlisk Python module.", -1, nullptr, nullptr, nullptr,
    nullptr, nullptr,
};

}  // namespace
}  // namespace vorlisk::python

PyMODINIT_FUNC PyInit_vorlisk() {
  using namespace vorlisk::python;
  if (!import_numpy()) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&module_def));
  if (!module || !init(module.get())) return nullptr;
  return module.release();
}
