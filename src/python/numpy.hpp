// Include NumPy's C API through this header only: the API table is imported once,
// by import_numpy(), in numpy.cpp.
#pragma once

#include "python/binding.hpp"

#ifndef VORLISK_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#define PY_ARRAY_UNIQUE_SYMBOL vorlisk_ARRAY_API
#include <numpy/arrayobject.h>

namespace vorlisk::python {

// Imports NumPy's C API; false with an exception set on failure.
bool import_numpy();

}  // namespace vorlisk::python
