// Traceback entries for errors that leave a function body.
#pragma once

#include <Python.h>

namespace brantel {

// The file name every entry of this module shows.
inline constexpr const char* SOURCE_FILE = "brantel\\brantel_sysprobe";

// Adds one traceback entry to the pending exception: function name
// `dotted_name`, file SOURCE_FILE, the given line, a frame whose globals are
// `globals`. When `code_cache` (a dict) is given, code objects are reused per line.
// Never fails: a failure while building the entry leaves the original error in place.
void add_traceback_entry(PyObject* dotted_name, int line, PyObject* globals,
                         PyObject* code_cache = nullptr);

// Same, with a C string name (for inner steps that have no function object).
void add_traceback_entry(const char* dotted_name, int line, PyObject* globals);

}  // namespace brantel
