#include "python/env_class.hpp"

#include "python/types.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace vorlisk::python {

PyObject* discrete_space(long n, const char* dtype) {
  return Py_BuildValue("{s:l,s:s}", "n", n, "dtype", dtype);
}

PyObject* box_space(const float* low, const float* high, std::size_t n) {
  PyRef shape = PyRef::steal(Py_BuildValue("(n)", static_cast<Py_ssize_t>(n)));
  PyRef low_list = PyRef::steal(float_list(low, n));
  PyRef high_list = PyRef::steal(float_list(high, n));
  if (!shape || !low_list || !high_list) return nullptr;
  return Py_BuildValue("{s:O,s:s,s:O,s:O}", "shape", shape.get(), "dtype", "float32", "low",
                       low_list.get(), "high", high_list.get());
}

const void* checked_actions(PyObject* actions, int dtype, const char* dtype_name, std::size_t count) {
  if (!PyArray_Check(actions)) {
    PyErr_Format(PyExc_TypeError,
                 "argument 'actions': expected a one-dimensional numpy.ndarray of dtype %s, got '%s'",
                 dtype_name, Py_TYPE(actions)->tp_name);
    return nullptr;
  }
  auto* array = reinterpret_cast<PyArrayObject*>(actions);
  if (PyArray_NDIM(array) != 1 || !PyArray_EquivTypenums(PyArray_TYPE(array), dtype) ||
      !PyArray_ISNOTSWAPPED(array)) {
    PyRef dtype_text = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
    if (!dtype_text) return nullptr;
    PyErr_Format(PyExc_TypeError,
                 "argument 'actions': expected a one-dimensional numpy.ndarray of dtype %s, "
                 "got a %d-dimensional array of dtype %U",
                 dtype_name, PyArray_NDIM(array), dtype_text.get());
    return nullptr;
  }
  if (!PyArray_IS_C_CONTIGUOUS(array) && !PyArray_IS_F_CONTIGUOUS(array)) {
    PyErr_SetString(PyExc_ValueError, "Actions must be a contiguous C-order array");
    return nullptr;
  }
  const auto got = static_cast<std::size_t>(PyArray_SIZE(array));
  if (got != count) {
    PyErr_Format(PyExc_ValueError, "Expected %zu actions, got %zu", count, got);
    return nullptr;
  }
  return PyArray_DATA(array);
}

const void* checked_mask(PyObject* mask, std::size_t count) {
  auto* array = PyArray_Check(mask) ? reinterpret_cast<PyArrayObject*>(mask) : nullptr;
  if (!array || PyArray_NDIM(array) != 1 ||
      (PyArray_TYPE(array) != NPY_BOOL && PyArray_TYPE(array) != NPY_UINT8)) {
    PyErr_Format(PyExc_TypeError,
                 "argument 'mask': expected a one-dimensional numpy.ndarray of dtype bool, got '%s'",
                 Py_TYPE(mask)->tp_name);
    return nullptr;
  }
  if (!PyArray_IS_C_CONTIGUOUS(array)) {
    PyErr_SetString(PyExc_ValueError, "mask must be a contiguous array");
    return nullptr;
  }
  const auto got = static_cast<std::size_t>(PyArray_SIZE(array));
  if (got != count) {
    PyErr_Format(PyExc_ValueError, "Expected a mask of %zu lanes, got %zu", count, got);
    return nullptr;
  }
  return PyArray_DATA(array);
}

namespace {
constexpr std::array<std::pair<envs::AutoresetMode, const char*>, 3> kModeNames = {{
    {envs::AutoresetMode::kSameStep, "same_step"},
    {envs::AutoresetMode::kNextStep, "next_step"},
    {envs::AutoresetMode::kDisabled, "disabled"},
}};
}  // namespace

bool to_autoreset_mode(PyObject* o, envs::AutoresetMode* out) {
  std::string name;
  if (!to_utf8(o, "autoreset_mode", &name)) return false;
  for (const auto& [mode, mode_name] : kModeNames) {
    if (name == mode_name) {
      *out = mode;
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError,
               "autoreset_mode must be 'same_step', 'next_step' or 'disabled', got %R", o);
  return false;
}

const char* autoreset_mode_name(envs::AutoresetMode mode) {
  for (const auto& [m, name] : kModeNames) {
    if (m == mode) return name;
  }
  return "same_step";
}

bool create_env_types(PyObject* module, std::array<PyObject*, envs::tasks::Registry::kCount>& out) {
  bool ok = true;
  envs::tasks::Registry::each([&]<class Task>(std::size_t i) {
    out[i] = ok ? VecEnvClass<Task>::type(module) : nullptr;
    ok = out[i] != nullptr;
  });
  return ok;
}

PyObject* new_array(int dtype, std::size_t rows, std::size_t cols) {
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  return PyArray_SimpleNew(cols == 0 ? 1 : 2, dims, dtype);
}

}  // namespace vorlisk::python
