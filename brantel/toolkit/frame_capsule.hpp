// What brantel.brantel_sysprobe hands to the package's other extension module
// (brantel._sysprobe_internal): published as the capsule `_C_API` at the end
// of its load.
//
// Everything the other module needs comes from here, and nothing is found
// through another object: a module attribute can be replaced by anyone (a
// function type taken from `sha1` could be any type), and a function-local
// static that imports the companion at first use would run Python code under
// C++'s static-initialisation guard, where a second thread waiting on the
// guard holds the interpreter lock that the import needs.
#pragma once

#include <Python.h>

#include <cstddef>

#include "function.hpp"

namespace brantel {

namespace ciphers {
struct Companion;
}

inline constexpr const char* FRAME_CAPSULE_ATTRIBUTE = "_C_API";
inline constexpr const char* FRAME_CAPSULE_NAME = "brantel.brantel_sysprobe._C_API";

struct FrameCapsule {
    size_t size;                  // sizeof(FrameCapsule) where it was made: both modules agree on the layout
    PyTypeObject* function_type;  // the type every function of the package has
    FunctionFactory make_function;
    PyObject* globals;            // the module dictionary: ffi/lib look-ups, traceback frames
    const ciphers::Companion* companion;  // the ffi and lib imported at load, with their entry points
};

}  // namespace brantel
