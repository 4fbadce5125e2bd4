// brantel._sysprobe_internal: publishes brantel.brantel_sysprobe's internal
// functions (inventory entry, queries, cipher services) for the package's own
// code and tests. The functions belong to brantel.brantel_sysprobe: its
// function type, its __module__, and its dictionary for ffi/lib look-ups and
// traceback globals.
#include <Python.h>

#include <cstring>

#include "toolkit/integers.hpp"
#include "toolkit/registry.hpp"
#include "toolkit/version.hpp"

namespace brantel {
namespace {

constexpr const char* OWNER = "brantel.brantel_sysprobe";

void publish(PyObject* module, PyTypeObject* type, PyObject* globals, SpecList specs) {
    for (Py_ssize_t i = 0; i < specs.count; ++i) {
        OwnedRef function = make_function(type, specs.items[i], globals, OWNER);
        check_status(PyModule_AddObjectRef(module, specs.items[i]->name, function.get()));
    }
}

int exec_internal(PyObject* module) {
    return at_boundary([&] {
        OwnedRef owner = OwnedRef::checked(PyImport_ImportModule(OWNER));
        PyObject* globals = check(PyModule_GetDict(owner.get()));
        // Every function of the module shares one type; sha1 is one of them.
        OwnedRef sample = OwnedRef::checked(PyObject_GetAttrString(owner.get(), "sha1"));
        auto* type = Py_TYPE(sample.get());
        publish(module, type, globals, inventory::published_functions());
        publish(module, type, globals, ciphers::published_services());
        return 0;
    }, -1);
}

// versions_agree(compiled, running) -> bool: the load-time version comparison,
// reachable for tests.
PyObject* py_versions_agree(PyObject*, PyObject* args) {
    const char* compiled;
    const char* running;
    if (!PyArg_ParseTuple(args, "ss:versions_agree", &compiled, &running)) return nullptr;
    return PyBool_FromLong(versions_agree(compiled, running));
}

// to_unsigned(ctype, value) -> int: the C integer conversions every function
// uses ("unsigned char", "unsigned short", "unsigned int", "size_t"), for tests.
PyObject* py_to_unsigned(PyObject*, PyObject* args) {
    const char* ctype;
    PyObject* value;
    if (!PyArg_ParseTuple(args, "sO:to_unsigned", &ctype, &value)) return nullptr;
    return at_boundary([&]() -> PyObject* {
        if (std::strcmp(ctype, "unsigned char") == 0) return PyLong_FromUnsignedLong(to_unsigned_char(value));
        if (std::strcmp(ctype, "unsigned short") == 0) return PyLong_FromUnsignedLong(to_unsigned_short(value));
        if (std::strcmp(ctype, "unsigned int") == 0) return PyLong_FromUnsignedLong(to_unsigned_int(value));
        if (std::strcmp(ctype, "size_t") == 0) return PyLong_FromSize_t(to_size_t(value));
        raise_format(PyExc_ValueError, "unknown C integer type %s", ctype);
    }, static_cast<PyObject*>(nullptr));
}

PyMethodDef METHODS[] = {
    {"to_unsigned", py_to_unsigned, METH_VARARGS,
     "to_unsigned(ctype, value)\n--\n\nConverts value as a function argument of that C type is converted."},
    {"versions_agree", py_versions_agree, METH_VARARGS,
     "versions_agree(compiled, running)\n--\n\nWhether the load check accepts these versions."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_internal)},
    {0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "_sysprobe_internal", "Internal functions of brantel.brantel_sysprobe.", 0,
    METHODS, SLOTS, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace brantel

PyMODINIT_FUNC PyInit__sysprobe_internal(void) { return PyModuleDef_Init(&brantel::MODULE_DEF); }
