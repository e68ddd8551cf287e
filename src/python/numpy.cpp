#define VORLISK_NUMPY_IMPORT
#include "python/numpy.hpp"

namespace vorlisk::python {

bool import_numpy() { return PyArray_ImportNumPyAPI() == 0; }

}  // namespace vorlisk::python
