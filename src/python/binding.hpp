// A thin RAII and argument-conversion layer over the CPython C API.
//
// Every entry point of the module is a C function that must return NULL with an
// exception set on failure and must never let a C++ exception escape. `guard`
// provides that boundary; the converters produce TypeError/OverflowError texts that
// name the offending argument.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace vorlisk::python {

// An owned (strong) reference, released on destruction.
class PyRef {
 public:
  PyRef() = default;
  static PyRef steal(PyObject* o) { return PyRef(o); }
  static PyRef borrow(PyObject* o) {
    Py_XINCREF(o);
    return PyRef(o);
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(obj_);
      obj_ = std::exchange(other.obj_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  PyObject* release() { return std::exchange(obj_, nullptr); }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  explicit PyRef(PyObject* o) : obj_(o) {}
  PyObject* obj_ = nullptr;
};

// The module's exception for internal failures (a broken invariant, a thread that
// could not be started). It derives from BaseException so that a plain
// `except Exception` in user code does not silently swallow a bug. The class is
// held by the module; this borrows it from the imported module (RuntimeError in
// the unlikely case that there is none).
PyObject* internal_error_type();

// Sets the Python error that corresponds to the C++ exception being handled.
// Must be called from inside a catch block.
void set_error_from_current_exception() noexcept;

// Runs `f` and converts any C++ exception into a Python error (returning the
// failure value of the C function: nullptr for objects, -1 for ints).
template <class F>
auto guard(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    set_error_from_current_exception();
    if constexpr (std::is_pointer_v<decltype(f())>) {
      return nullptr;
    } else {
      return -1;
    }
  }
}

// Binds a fastcall (args, nargs, kwnames) triple to the positional-or-keyword
// parameters `names` (count `n`), of which the first `required` are mandatory.
// Unfilled optional slots are left as nullptr. Returns false with TypeError set,
// worded as CPython words its own signature errors.
bool bind_arguments(const char* func, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    const char* const* names, std::size_t n, std::size_t required, PyObject** out);

// Converters: return false with an exception set that names the argument.
bool to_u64(PyObject* o, const char* name, std::uint64_t* out);
bool to_size(PyObject* o, const char* name, std::size_t* out);
bool to_f64(PyObject* o, const char* name, double* out);
// None, or an absent (nullptr) argument, leaves *present false.
bool to_optional_f64(PyObject* o, const char* name, double* out, bool* present);
bool to_utf8(PyObject* o, const char* name, std::string* out);
// A str, bytes or os.PathLike file name as the bytes the system calls take.
bool to_fs_path(PyObject* o, const char* name, std::string* out);

// A Python float list from single-precision values, as the space dicts need.
PyObject* float_list(const float* values, std::size_t n);

}  // namespace vorlisk::python
