#include "python/binding.hpp"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "envs/core/memory_limit.hpp"
#include "python/types.hpp"

namespace vorlisk::python {

PyObject* internal_error_type() {
  ModuleState* st = imported_module_state();
  return st && st->internal_error ? st->internal_error : PyExc_RuntimeError;
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const envs::OutOfMemory& e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_SetString(PyExc_MemoryError, "not enough memory: an allocation failed");
  } catch (const std::length_error&) {
    // Containers report sizes beyond their limits this way; to a caller it is
    // the same as running out of memory.
    PyErr_SetString(PyExc_MemoryError, "not enough memory: a size beyond any container's limit");
  } catch (const std::exception& e) {
    PyErr_SetString(internal_error_type(), e.what());
  } catch (...) {
    PyErr_SetString(internal_error_type(), "unknown internal failure");
  }
}

namespace {

bool error_for(PyObject* type, const char* name) {
  // Re-raise the pending conversion error with the argument's name in front.
#if PY_VERSION_HEX >= 0x030C0000  // the fetch/normalise pair is deprecated from 3.12
  PyRef raised = PyRef::steal(PyErr_GetRaisedException());
  PyRef text = PyRef::steal(raised ? PyObject_Str(raised.get()) : nullptr);
#else
  PyObject *t, *v, *tb;
  PyErr_Fetch(&t, &v, &tb);
  PyErr_NormalizeException(&t, &v, &tb);
  PyRef text = PyRef::steal(v ? PyObject_Str(v) : nullptr);
  Py_XDECREF(t);
  Py_XDECREF(v);
  Py_XDECREF(tb);
#endif
  if (!text) return false;
  PyErr_Format(type, "argument '%s': %U", name, text.get());
  return false;
}

}  // namespace

bool bind_arguments(const char* func, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    const char* const* names, std::size_t n, std::size_t required, PyObject** out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = nullptr;
  if (static_cast<std::size_t>(nargs) > n) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu argument%s (%zd given)", func, n,
                 n == 1 ? "" : "s", nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      const char* kname = PyUnicode_AsUTF8(key);
      if (!kname) return false;
      std::size_t slot = n;
      for (std::size_t i = 0; i < n; ++i) {
        if (std::strcmp(kname, names[i]) == 0) {
          slot = i;
          break;
        }
      }
      if (slot == n) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", func, kname);
        return false;
      }
      if (out[slot]) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", func, kname);
        return false;
      }
      out[slot] = args[nargs + k];
    }
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (!out[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", func,
                   names[i], i + 1);
      return false;
    }
  }
  return true;
}

bool to_u64(PyObject* o, const char* name, std::uint64_t* out) {
  // Only a type without __index__ is our error to word; whatever an __index__ of
  // the caller's raises (KeyboardInterrupt, MemoryError, ...) goes through as it is.
  if (!PyIndex_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be interpreted as an integer",
                 name, Py_TYPE(o)->tp_name);
    return false;
  }
  PyRef index = PyRef::steal(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long sign_probe = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (sign_probe == -1 && overflow == 0 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && sign_probe < 0)) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': can't convert negative int to unsigned",
                 name);
    return false;
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return error_for(PyExc_OverflowError, name);
  }
  *out = v;
  return true;
}

bool to_size(PyObject* o, const char* name, std::size_t* out) {
  static_assert(sizeof(std::size_t) <= sizeof(std::uint64_t));
  std::uint64_t v = 0;
  if (!to_u64(o, name, &v)) return false;
  if (v > SIZE_MAX) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': int too large to convert", name);
    return false;
  }
  *out = static_cast<std::size_t>(v);
  return true;
}

bool to_f64(PyObject* o, const char* name, double* out) {
  if (PyFloat_CheckExact(o)) {
    *out = PyFloat_AS_DOUBLE(o);
    return true;
  }
  // As with integers: a type that cannot convert is our error to word, an error
  // raised by the caller's own __float__ or __index__ goes through unchanged.
  const PyNumberMethods* number = Py_TYPE(o)->tp_as_number;
  if (!PyFloat_Check(o) && !PyIndex_Check(o) && (number == nullptr || number->nb_float == nullptr)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': must be real number, not %s", name,
                 Py_TYPE(o)->tp_name);
    return false;
  }
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    // An int too large for a double is worded with the argument's name.
    if (PyLong_Check(o) && PyErr_ExceptionMatches(PyExc_OverflowError)) {
      return error_for(PyExc_OverflowError, name);
    }
    return false;
  }
  *out = v;
  return true;
}

bool to_optional_f64(PyObject* o, const char* name, double* out, bool* present) {
  *present = false;
  if (!o || o == Py_None) return true;
  if (!to_f64(o, name, out)) return false;
  *present = true;
  return true;
}

bool to_utf8(PyObject* o, const char* name, std::string* out) {
  if (!PyUnicode_Check(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to 'str'", name,
                 Py_TYPE(o)->tp_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(o, &size);
  if (!data) return error_for(PyExc_TypeError, name);
  out->assign(data, static_cast<std::size_t>(size));
  return true;
}

bool to_fs_path(PyObject* o, const char* name, std::string* out) {
  if (!PyUnicode_Check(o) && !PyBytes_Check(o) &&
      !PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__fspath__")) {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected str, bytes or os.PathLike object, not '%s'", name,
                 Py_TYPE(o)->tp_name);
    return false;
  }
  // What os.fspath() gives, in the file system's encoding (as open() would use);
  // an error from the object's own __fspath__ goes through unchanged.
  PyRef path = PyRef::steal(PyOS_FSPath(o));
  if (!path) return false;
  PyRef bytes = PyUnicode_Check(path.get()) ? PyRef::steal(PyUnicode_EncodeFSDefault(path.get()))
                                            : std::move(path);
  if (!bytes) return false;
  out->assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
  return true;
}

PyObject* float_list(const float* values, std::size_t n) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* f = PyFloat_FromDouble(static_cast<double>(values[i]));
    if (!f) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), f);
  }
  return list.release();
}

}  // namespace vorlisk::python
