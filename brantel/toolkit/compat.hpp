// The C API the package is written against is that of CPython 3.13; this
// header supplies, under their own names, the calls and flags that older
// interpreters (down to 3.7) lack, so that no other file needs a version test.
// Everything here is either a macro or an inline function in the header, and
// each back-port sits behind the version that introduced the real thing.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstring>

// --- Init export ----------------------------------------------------------------
// Before 3.9 PyMODINIT_FUNC carries no visibility attribute, so building with
// -fvisibility=hidden would hide PyInit_*; Windows exports it through dllexport.
#if PY_VERSION_HEX < 0x03090000 && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#undef PyMODINIT_FUNC
#ifdef __cplusplus
#define PyMODINIT_FUNC extern "C" __attribute__((visibility("default"))) PyObject*
#else
#define PyMODINIT_FUNC __attribute__((visibility("default"))) PyObject*
#endif
#endif

// --- Type flags -------------------------------------------------------------------
// Absent flags become 0. Immutability is a safeguard only; refusing
// instantiation is back-ported by disallow_instantiation() below. Vectorcall
// through a type spec needs 3.9 (it reads __vectorcalloffset__ from the
// members); before that the flag must stay clear, or the interpreter would read
// a call pointer at offset 0.
#ifndef Py_TPFLAGS_IMMUTABLETYPE
#define Py_TPFLAGS_IMMUTABLETYPE 0
#endif
#ifndef Py_TPFLAGS_DISALLOW_INSTANTIATION
#define Py_TPFLAGS_DISALLOW_INSTANTIATION 0
#define BRANTEL_COMPAT_DISALLOW_BY_TP_NEW 1
#endif
#if PY_VERSION_HEX < 0x03090000
#undef Py_TPFLAGS_HAVE_VECTORCALL
#define Py_TPFLAGS_HAVE_VECTORCALL 0
#endif

// --- Vectorcall protocol (3.8 private, 3.9 public) ------------------------------------
#if PY_VERSION_HEX < 0x03080000
typedef PyObject* (*vectorcallfunc)(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames);
#define PY_VECTORCALL_ARGUMENTS_OFFSET ((size_t)1 << (8 * sizeof(size_t) - 1))
static inline Py_ssize_t PyVectorcall_NARGS(size_t nargsf) {
    return (Py_ssize_t)(nargsf & ~PY_VECTORCALL_ARGUMENTS_OFFSET);
}
#endif

namespace brantel {
namespace compat {

// Calls callable(*args[:nargs], **dict(zip(kwnames, args[nargs:]))) through
// tp_call: the vectorcall form for interpreters without it.
inline PyObject* call_with_tuple(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* tuple = PyTuple_New(nargs);
    if (tuple == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SET_ITEM(tuple, i, args[i]);
    }
    PyObject* kwargs = nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw > 0) {
        kwargs = PyDict_New();
        for (Py_ssize_t k = 0; kwargs != nullptr && k < nkw; ++k)
            if (PyDict_SetItem(kwargs, PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0) Py_CLEAR(kwargs);
        if (kwargs == nullptr) {
            Py_DECREF(tuple);
            return nullptr;
        }
    }
    PyObject* result = PyObject_Call(callable, tuple, kwargs);
    Py_DECREF(tuple);
    Py_XDECREF(kwargs);
    return result;
}

// tp_call of a type whose instances keep their vectorcall function at Offset:
// unpacks the argument tuple and keyword dictionary into the vectorcall form.
template <std::size_t Offset>
PyObject* call_through_vectorcall(PyObject* self, PyObject* args, PyObject* kwargs) {
    vectorcallfunc function = *reinterpret_cast<vectorcallfunc*>(reinterpret_cast<char*>(self) + Offset);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwargs ? PyDict_Size(kwargs) : 0;
    PyObject* const* positional = reinterpret_cast<PyTupleObject*>(args)->ob_item;
    if (nkw <= 0) return function(self, positional, static_cast<size_t>(nargs), nullptr);

    // Positional arguments, then the keyword values; each held for the call.
    PyObject** stack = static_cast<PyObject**>(PyMem_Malloc(sizeof(PyObject*) * static_cast<size_t>(nargs + nkw)));
    PyObject* kwnames = stack ? PyTuple_New(nkw) : nullptr;
    if (kwnames == nullptr) {
        PyMem_Free(stack);
        return stack ? nullptr : PyErr_NoMemory();
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) stack[i] = positional[i];
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (k < nkw && PyDict_Next(kwargs, &pos, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(kwnames, k, key);
        Py_INCREF(value);
        stack[nargs + k++] = value;
    }
    PyObject* result = function(self, stack, static_cast<size_t>(nargs), kwnames);
    for (Py_ssize_t i = 0; i < k; ++i) Py_DECREF(stack[nargs + i]);
    Py_DECREF(kwnames);
    PyMem_Free(stack);
    return result;
}

// Types made from a spec before 3.10 inherit object's tp_new; clearing it is
// how those versions refuse instantiation.
inline void disallow_instantiation(PyTypeObject* type) {
#ifdef BRANTEL_COMPAT_DISALLOW_BY_TP_NEW
    if (type != nullptr) type->tp_new = nullptr;
#else
    (void)type;
#endif
}

// A code object for a signature: file, name, first line, argument count and
// variable names. New reference, or nullptr with an error set.
inline PyObject* signature_code(const char* file, const char* name, int first_line, Py_ssize_t argcount,
                                PyObject* varnames) {
    PyObject* empty = reinterpret_cast<PyObject*>(PyCode_NewEmpty(file, name, first_line));
    if (empty == nullptr) return nullptr;
#if PY_VERSION_HEX >= 0x03080000
    PyObject* result = nullptr;
    PyObject* replace = PyObject_GetAttrString(empty, "replace");
    PyObject* no_args = replace ? PyTuple_New(0) : nullptr;
    PyObject* changes = no_args ? Py_BuildValue("{s:n,s:n,s:O}", "co_argcount", argcount, "co_nlocals",
                                                PyTuple_GET_SIZE(varnames), "co_varnames", varnames)
                                : nullptr;
    if (changes != nullptr) result = PyObject_Call(replace, no_args, changes);
    Py_XDECREF(changes);
    Py_XDECREF(no_args);
    Py_XDECREF(replace);
    Py_DECREF(empty);
    return result;
#else
    // 3.7 has no code.replace(): build the same object with PyCode_New from
    // the empty one's parts.
    auto* code = reinterpret_cast<PyCodeObject*>(empty);
    PyObject* result = reinterpret_cast<PyObject*>(PyCode_New(
        static_cast<int>(argcount), 0, static_cast<int>(PyTuple_GET_SIZE(varnames)), code->co_stacksize,
        code->co_flags, code->co_code, code->co_consts, code->co_names, varnames, code->co_freevars,
        code->co_cellvars, code->co_filename, code->co_name, code->co_firstlineno, code->co_lnotab));
    Py_DECREF(empty);
    return result;
#endif
}

// Pauses the cyclic garbage collector for a scope (3.10 added the C API; before
// it the collector runs as usual). A decode that makes thousands of containers,
// none of them in a cycle, would otherwise trigger collections that find nothing.
class GcPause {
public:
#if PY_VERSION_HEX >= 0x030A0000
    GcPause() noexcept : was_enabled_(PyGC_Disable()) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    int was_enabled_;
#else
    GcPause() noexcept {}
#endif
public:
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;
};

}  // namespace compat
}  // namespace brantel

// tp_call for a type whose instances keep their vectorcall function in
// Type::member. From 3.9 the interpreter's PyVectorcall_Call does it (the
// offset comes from the type spec's __vectorcalloffset__ member).
#if PY_VERSION_HEX >= 0x03090000
#define BRANTEL_VECTORCALL_TP_CALL(Type, member) PyVectorcall_Call
#else
#define BRANTEL_VECTORCALL_TP_CALL(Type, member) (&brantel::compat::call_through_vectorcall<offsetof(Type, member)>)
#endif

// --- Calls (3.9) ----------------------------------------------------------------------
#if PY_VERSION_HEX < 0x03090000
static inline PyObject* PyObject_Vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                                            PyObject* kwnames) {
#if PY_VERSION_HEX >= 0x03080000
    return _PyObject_Vectorcall(callable, args, nargsf, kwnames);
#else
    return brantel::compat::call_with_tuple(callable, args, nargsf, kwnames);
#endif
}
static inline PyObject* PyObject_CallNoArgs(PyObject* callable) {
    return PyObject_CallFunctionObjArgs(callable, nullptr);
}
static inline PyObject* PyObject_CallOneArg(PyObject* callable, PyObject* arg) {
    return PyObject_CallFunctionObjArgs(callable, arg, nullptr);
}
static inline PyObject* PyObject_CallMethodNoArgs(PyObject* self, PyObject* name) {
    return PyObject_CallMethodObjArgs(self, name, nullptr);
}
static inline PyObject* PyObject_CallMethodOneArg(PyObject* self, PyObject* name, PyObject* arg) {
    return PyObject_CallMethodObjArgs(self, name, arg, nullptr);
}
static inline PyInterpreterState* PyThreadState_GetInterpreter(PyThreadState* tstate) { return tstate->interp; }
#endif

// --- Modules and references (3.10) -------------------------------------------------------
#if PY_VERSION_HEX < 0x030A0000
static inline int PyModule_AddObjectRef(PyObject* module, const char* name, PyObject* value) {
    if (value == nullptr) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "PyModule_AddObjectRef() must be called with an error set if value is NULL");
        return -1;
    }
    Py_INCREF(value);
    if (PyModule_AddObject(module, name, value) < 0) {
        Py_DECREF(value);
        return -1;
    }
    return 0;
}
static inline PyObject* Py_NewRef(PyObject* obj) {
    Py_INCREF(obj);
    return obj;
}
static inline PyObject* Py_XNewRef(PyObject* obj) {
    Py_XINCREF(obj);
    return obj;
}
#endif

// --- Smaller conveniences other code may reach for ------------------------------------------
#if PY_VERSION_HEX < 0x03090000
#ifndef Py_IS_TYPE
#define Py_IS_TYPE(ob, type) (Py_TYPE(ob) == (type))
#endif
#ifndef Py_SET_TYPE
#define Py_SET_TYPE(ob, type) ((void)(Py_TYPE(ob) = (type)))
#endif
#ifndef Py_SET_SIZE
#define Py_SET_SIZE(ob, size) ((void)(Py_SIZE(ob) = (size)))
#endif
static inline int PyModule_AddType(PyObject* module, PyTypeObject* type) {
    if (!(type->tp_flags & Py_TPFLAGS_READY) && PyType_Ready(type) < 0) return -1;
    const char* name = std::strrchr(type->tp_name, '.');
    return PyModule_AddObjectRef(module, name ? name + 1 : type->tp_name, reinterpret_cast<PyObject*>(type));
}
#endif

#if PY_VERSION_HEX < 0x030A0000
static inline int Py_Is(PyObject* x, PyObject* y) { return x == y; }
static inline int Py_IsNone(PyObject* x) { return x == Py_None; }
static inline int Py_IsTrue(PyObject* x) { return x == Py_True; }
static inline int Py_IsFalse(PyObject* x) { return x == Py_False; }
#endif

#if PY_VERSION_HEX < 0x030D0000
// 1 and a new reference when found, 0 and nullptr when missing, -1 on error.
static inline int PyDict_GetItemRef(PyObject* dict, PyObject* key, PyObject** result) {
    *result = PyDict_GetItemWithError(dict, key);
    if (*result != nullptr) {
        Py_INCREF(*result);
        return 1;
    }
    return PyErr_Occurred() ? -1 : 0;
}
static inline int PyDict_GetItemStringRef(PyObject* dict, const char* key, PyObject** result) {
    PyObject* key_object = PyUnicode_FromString(key);
    if (key_object == nullptr) {
        *result = nullptr;
        return -1;
    }
    int found = PyDict_GetItemRef(dict, key_object, result);
    Py_DECREF(key_object);
    return found;
}
// Steals value, even on failure.
static inline int PyModule_Add(PyObject* module, const char* name, PyObject* value) {
    int status = PyModule_AddObjectRef(module, name, value);
    Py_XDECREF(value);
    return status;
}
#endif
