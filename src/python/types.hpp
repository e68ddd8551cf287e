// Factories of the module's classes. Each creates its heap type on first use and
// returns a new reference to it (nullptr with an exception set on failure).
#pragma once

#include "python/binding.hpp"

namespace vorlisk::python {

PyObject* cartpole_type();
PyObject* mountain_car_type();
PyObject* pendulum_type();
PyObject* tui_logger_type();

}  // namespace vorlisk::python
