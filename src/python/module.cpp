// Module initialisation, in CPython's multi-phase form: PyInit_vorlisk only hands
// over the definition, and executing it builds `vorlisk`, its submodule
// `vorlisk.envs`, and registers every class, stopping at the first failure. The
// classes and the exception class live in the module's state.
#include "python/binding.hpp"
#include "python/numpy.hpp"
#include "python/types.hpp"

namespace vorlisk::python {
namespace {

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

bool add_env_types(PyObject* module, const ModuleState& st) {
  for (PyObject* type : st.envs) {
    if (PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type)) < 0) return false;
  }
  return true;
}

// `envs.__all__`: the class names in registry order, for `from vorlisk.envs import *`
// and for code that goes through every task.
bool add_all(PyObject* envs, const ModuleState& st) {
  PyRef names = PyRef::steal(PyList_New(0));
  if (!names) return false;
  for (PyObject* type : st.envs) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__name__"));
    if (!name || PyList_Append(names.get(), name.get()) < 0) return false;
  }
  return PyModule_AddObjectRef(envs, "__all__", names.get()) == 0;
}

bool create_classes(PyObject* module, ModuleState& st) {
  st.tui_logger = create_env_types(module, st.envs) ? tui_logger_type(module) : nullptr;
  if (!st.tui_logger) return false;
  st.internal_error = PyErr_NewExceptionWithDoc(
      "vorlisk.InternalError",
      "Raised when an internal invariant of vorlisk is broken; the object stays usable.",
      PyExc_BaseException, nullptr);
  return st.internal_error != nullptr;
}

int exec_module(PyObject* module) {
  ModuleState& st = state_of(module);
  if (!create_classes(module, st)) return -1;

  PyRef envs = PyRef::steal(PyModule_New("envs"));
  if (!envs || !add_env_types(envs.get(), st) || !add_all(envs.get(), st)) return -1;
  if (PyModule_AddObjectRef(module, "envs", envs.get()) < 0) return -1;

  PyRef sys = PyRef::steal(PyImport_ImportModule("sys"));
  if (!sys) return -1;
  PyRef modules = PyRef::steal(PyObject_GetAttrString(sys.get(), "modules"));
  PyRef key = PyRef::steal(PyUnicode_FromString("vorlisk.envs"));
  if (!modules || !key || PyObject_SetItem(modules.get(), key.get(), envs.get()) < 0) return -1;

  if (PyModule_AddObjectRef(module, "TUILogger", st.tui_logger) < 0) return -1;
  PyRef same = PyRef::steal(PyObject_GetAttrString(module, "TUILogger"));
  if (!same || PyModule_AddObjectRef(module, "Logger", same.get()) < 0) return -1;

  if (!add_env_types(module, st)) return -1;
  if (PyModule_AddStringConstant(module, "__version__", VORLISK_VERSION) < 0) return -1;
  return PyModule_AddObjectRef(module, "InternalError", st.internal_error);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  ModuleState& st = state_of(module);
  for (PyObject* type : st.envs) Py_VISIT(type);
  Py_VISIT(st.tui_logger);
  Py_VISIT(st.internal_error);
  return 0;
}

int clear_module(PyObject* module) {
  ModuleState& st = state_of(module);
  for (PyObject*& type : st.envs) Py_CLEAR(type);
  Py_CLEAR(st.tui_logger);
  Py_CLEAR(st.internal_error);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vorlisk", "Vorlisk Python module.", sizeof(ModuleState), nullptr,
    module_slots, traverse_module, clear_module, free_module,
};

}  // namespace

ModuleState* imported_module_state() {
  PyRef name = PyRef::steal(PyUnicode_FromString("vorlisk"));
  PyRef module = PyRef::steal(name ? PyImport_GetModule(name.get()) : nullptr);
  if (!module || !PyModule_Check(module.get()) || PyModule_GetDef(module.get()) != &module_def) {
    PyErr_Clear();
    return nullptr;
  }
  return &state_of(module.get());
}

}  // namespace vorlisk::python

PyMODINIT_FUNC PyInit_vorlisk() {
  using namespace vorlisk::python;
  if (!import_numpy()) return nullptr;
  return PyModuleDef_Init(&module_def);
}
