#include "python/lanes.hpp"

#include <climits>
#include <cstdint>

#include "envs/core/memory_limit.hpp"
#include "python/numpy.hpp"

namespace vorlisk::python {
namespace {

constexpr const char kExpected[] =
    "an int, a sequence of ints or a one-dimensional integer numpy.ndarray";

bool is_bool(PyObject* o) { return PyBool_Check(o) || PyArray_IsScalar(o, Bool); }

bool out_of_range(PyObject* index, std::size_t num_envs) {
  PyErr_Format(PyExc_IndexError, "lane %S is out of range for an environment of %zu lanes", index,
               num_envs);
  return false;
}

// Lane `v` of `num_envs`, counting from the end where negative.
bool resolve(long long v, std::size_t num_envs, std::size_t* out) {
  const auto n = static_cast<long long>(num_envs);  // lanes are far fewer than 2**63
  if (v < 0) v += n;
  if (v < 0 || v >= n) return false;
  *out = static_cast<std::size_t>(v);
  return true;
}

// One index of any integer type: a Python int, a NumPy integer, a 0-d integer array.
bool lane_of(PyObject* item, std::size_t num_envs, std::size_t* out) {
  if (is_bool(item) || !PyIndex_Check(item)) {
    PyErr_Format(PyExc_TypeError, "argument 'lanes': lane indices must be integers, not '%s'",
                 Py_TYPE(item)->tp_name);
    return false;
  }
  PyRef index = PyRef::steal(PyNumber_Index(item));
  if (!index) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && overflow == 0 && PyErr_Occurred()) return false;
  return (overflow == 0 && resolve(v, num_envs, out)) || out_of_range(index.get(), num_envs);
}

bool from_array(PyArrayObject* array, std::size_t num_envs, std::size_t frame_bytes,
                LaneChoice* out) {
  PyObject* object = reinterpret_cast<PyObject*>(array);
  if (!PyArray_ISINTEGER(array) || PyArray_NDIM(array) > 1) {
    PyRef dtype = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
    if (!dtype) return false;
    PyErr_Format(PyExc_TypeError, "argument 'lanes': expected %s, got a %d-dimensional array of dtype %U",
                 kExpected, PyArray_NDIM(array), dtype.get());
    return false;
  }
  if (PyArray_NDIM(array) == 0) {
    out->single = true;
    out->lanes.resize(1);
    return lane_of(object, num_envs, out->lanes.data());
  }
  const auto count = static_cast<std::size_t>(PyArray_SIZE(array));
  envs::check_fits(count, frame_bytes, "frames");
  // Every integer type widens to one of these two without loss.
  const bool is_unsigned = PyArray_ISUNSIGNED(array);
  PyRef wide = PyRef::steal(PyArray_FROMANY(object, is_unsigned ? NPY_UINT64 : NPY_INT64, 1, 1,
                                            NPY_ARRAY_CARRAY_RO));
  if (!wide) return false;
  const void* data = PyArray_DATA(reinterpret_cast<PyArrayObject*>(wide.get()));
  out->lanes.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    long long v = 0;
    bool fits = true;
    if (is_unsigned) {
      const std::uint64_t u = static_cast<const std::uint64_t*>(data)[k];
      fits = u <= static_cast<std::uint64_t>(LLONG_MAX);
      v = static_cast<long long>(u);
    } else {
      v = static_cast<const std::int64_t*>(data)[k];
    }
    if (!fits || !resolve(v, num_envs, &out->lanes[k])) {
      PyRef index = PyRef::steal(is_unsigned ? PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(v))
                                             : PyLong_FromLongLong(v));
      return index && out_of_range(index.get(), num_envs);
    }
  }
  return true;
}

}  // namespace

bool to_lanes(PyObject* arg, std::size_t num_envs, std::size_t frame_bytes, LaneChoice* out) {
  if (PyArray_Check(arg)) {
    return from_array(reinterpret_cast<PyArrayObject*>(arg), num_envs, frame_bytes, out);
  }
  if (!is_bool(arg) && PyIndex_Check(arg)) {
    out->single = true;
    out->lanes.resize(1);
    return lane_of(arg, num_envs, out->lanes.data());
  }
  if (is_bool(arg) || !PySequence_Check(arg) || PyUnicode_Check(arg) || PyBytes_Check(arg) ||
      PyByteArray_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "argument 'lanes': expected %s, got '%s'", kExpected,
                 Py_TYPE(arg)->tp_name);
    return false;
  }
  const Py_ssize_t size = PySequence_Size(arg);
  if (size < 0) return false;
  envs::check_fits(static_cast<std::size_t>(size), frame_bytes, "frames");
  // A tuple of the items: an item's __index__ may change a list while we read it.
  PyRef items = PyRef::steal(PySequence_Tuple(arg));
  if (!items) return false;
  const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
  envs::check_fits(count, frame_bytes, "frames");
  out->lanes.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    PyObject* item = PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(k));
    if (!lane_of(item, num_envs, &out->lanes[k])) return false;
  }
  return true;
}

PyObject* new_frames(const LaneChoice& choice, std::size_t height, std::size_t width) {
  npy_intp dims[4] = {static_cast<npy_intp>(choice.lanes.size()), static_cast<npy_intp>(height),
                      static_cast<npy_intp>(width), 3};
  return choice.single ? PyArray_SimpleNew(3, dims + 1, NPY_UINT8)
                       : PyArray_SimpleNew(4, dims, NPY_UINT8);
}

}  // namespace vorlisk::python
