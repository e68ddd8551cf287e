// Factories of the module's classes and the state the module keeps them in.
#pragma once

#include "python/binding.hpp"

namespace vorlisk::python {

// Each creates its heap type for `module` and returns a new reference to it
// (nullptr with an exception set on failure).
PyObject* cartpole_type(PyObject* module);
PyObject* mountain_car_type(PyObject* module);
PyObject* pendulum_type(PyObject* module);
PyObject* tui_logger_type(PyObject* module);

// What each module object owns: its classes and its exception class, created once
// when the module executes.
struct ModuleState {
  PyObject* cartpole = nullptr;
  PyObject* mountain_car = nullptr;
  PyObject* pendulum = nullptr;
  PyObject* tui_logger = nullptr;
  PyObject* internal_error = nullptr;
};

// The state of the imported `vorlisk` module (sys.modules), or nullptr without an
// exception set when there is none. For error paths, which have no module at hand.
ModuleState* imported_module_state();

}  // namespace vorlisk::python
