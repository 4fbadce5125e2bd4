// The module's callable type: a function object that carries a static
// description (name, first line, calling form, parameters, locals, docstring),
// sorts out its arguments in one place and runs a typed body.
//
// The type object is made once by brantel.brantel_sysprobe; the package's
// other extension module receives it, with the factory, through the module's
// frame capsule and creates its functions with its own descriptions.
#pragma once

#include <Python.h>

#include <cstddef>

#include "refs.hpp"

namespace brantel {

// How a function takes its arguments.
enum class CallForm {
    NoArgs,     // f()
    OneArg,     // f(x), positional only
    PosOrKw,    // every parameter by position or by name
};

// The exact type a parameter must have after its arguments are sorted out
// (None always passes; the body decides what None does).
enum class TypeCheck { None, Bytes, Unicode };

struct Param {
    const char* name;
    const char* annotation;  // the string stored in __annotations__
    TypeCheck check;
};

class Call;

// A function body: gets the sorted-out, type-checked arguments (borrowed, in
// parameter order) and returns a new reference, or throws PyError.
using Body = PyObject* (*)(Call& call, PyObject* const* args);

struct FunctionSpec {
    const char* name;
    int first_line;
    CallForm form;
    const Param* params;
    Py_ssize_t param_count;
    const char* return_annotation;  // nullptr: no "return" annotation
    const char* const* local_names;  // after the parameters in __code__.co_varnames
    Py_ssize_t local_count;
    const char* doc;  // nullptr: no docstring
    Body body;
};

// The instance layout; shared by every module of the package that makes functions.
struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionSpec* spec;
    PyObject* name;         // str
    PyObject* qualname;     // str
    PyObject* module;       // str
    PyObject* doc;          // str or None
    PyObject* annotations;  // dict
    PyObject* code;         // code object of the signature
    PyObject* globals;      // the module dictionary: ffi/lib look-ups, traceback frames
    PyObject* dotted_name;  // "brantel.brantel_sysprobe.<name>", for traceback entries
    PyObject* tb_codes;     // dict line -> code object, filled as errors occur
};

// The state of one running body.
class Call {
public:
    explicit Call(FunctionObject* function) noexcept
        : function_(function), line_(function->spec->first_line) {}

    // Records the source line of the statement about to run; an error thrown
    // afterwards gets a traceback entry at this line.
    void at(int line) noexcept { line_ = line; }
    int line() const noexcept { return line_; }

    FunctionObject* function() const noexcept { return function_; }
    PyObject* globals() const noexcept { return function_->globals; }

    // Looks a name up in the module dictionary at call time (so that callers
    // may substitute ffi or lib); a missing name fails with NameError.
    PyObject* global(const char* name) const;  // borrowed

private:
    FunctionObject* function_;
    int line_;
};

// Made once by brantel.brantel_sysprobe. New reference or nullptr with an error set.
PyTypeObject* create_function_type();

// Creates a function object of `type` (made by create_function_type) for a
// static description; its calls enter through `entry`. module_name is the
// value of __module__ and the prefix of traceback names. New reference, or
// nullptr with an error set. brantel.brantel_sysprobe hands this to the other
// extension module together with the type (frame_capsule.hpp).
using FunctionFactory = PyObject* (*)(PyTypeObject* type, const FunctionSpec* spec, PyObject* globals,
                                      const char* module_name, vectorcallfunc entry);
PyObject* new_function(PyTypeObject* type, const FunctionSpec* spec, PyObject* globals, const char* module_name,
                       vectorcallfunc entry) noexcept;

// factory(type, spec, ...) with this extension module's own argument sorting
// and body boundary as the entry, so that a body's C++ exceptions are caught
// in the module that threw them. Throws PyError.
OwnedRef make_function(FunctionFactory factory, PyTypeObject* type, const FunctionSpec* spec, PyObject* globals,
                       const char* module_name);

}  // namespace brantel
