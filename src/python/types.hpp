// Factories of the module's classes and the state the module keeps them in.
#pragma once

#include <array>

#include "envs/tasks/registry.hpp"
#include "python/binding.hpp"

namespace vorlisk::python {

// Each creates its heap type for `module` and returns a new reference to it
// (nullptr with an exception set on failure): the environment class of every task in
// the registry, in its order, and the logger's.
bool create_env_types(PyObject* module, std::array<PyObject*, envs::tasks::Registry::kCount>& out);
PyObject* tui_logger_type(PyObject* module);

// What each module object owns: its classes and its exception class, created once
// when the module executes.
struct ModuleState {
  std::array<PyObject*, envs::tasks::Registry::kCount> envs{};
  PyObject* tui_logger = nullptr;
  PyObject* internal_error = nullptr;
};

// The state of the imported `vorlisk` module (sys.modules), or nullptr without an
// exception set when there is none. For error paths, which have no module at hand.
ModuleState* imported_module_state();

}  // namespace vorlisk::python
