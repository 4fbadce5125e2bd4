// Conversion of Python objects to unsigned C integers, with the interpreter's
// messages: __int__ for non-ints (floats truncate), the negative and too-large
// errors, and the interpreter's own 32-bit overflow above 2**32 - 1.
#pragma once

#include <Python.h>

#include <cstddef>

namespace brantel {

// Each throws PyError with the error set.
unsigned char to_unsigned_char(PyObject* obj);
unsigned short to_unsigned_short(PyObject* obj);
unsigned int to_unsigned_int(PyObject* obj);
size_t to_size_t(PyObject* obj);

}  // namespace brantel
