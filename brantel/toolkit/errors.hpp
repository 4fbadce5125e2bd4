// The one error path: a Python error is set, PyError is thrown, and the
// boundary where control returns to CPython catches it and returns NULL/-1.
#pragma once

#include <Python.h>

#include <new>

namespace brantel {

// Carries nothing: the Python error indicator is already set when it is thrown.
struct PyError {};

// A null result of the C API means an error is set.
inline PyObject* check(PyObject* result) {
    if (result == nullptr) throw PyError();
    return result;
}

// A negative status of the C API means an error is set.
inline int check_status(int status) {
    if (status < 0) throw PyError();
    return status;
}

[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PyError();
}

// PyErr_Format, then throw.
template <typename... Args>
[[noreturn]] void raise_format(PyObject* type, const char* format, Args... args) {
    PyErr_Format(type, format, args...);
    throw PyError();
}

// Runs body at a boundary: a PyError becomes the failure value, as does
// std::bad_alloc (turned into MemoryError). Nothing else crosses.
template <typename Body, typename Result>
Result at_boundary(Body&& body, Result failure) {
    try {
        return body();
    } catch (const PyError&) {
        return failure;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return failure;
    }
}

}  // namespace brantel
