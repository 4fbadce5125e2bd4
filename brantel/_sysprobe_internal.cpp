// brantel._sysprobe_internal: publishes brantel.brantel_sysprobe's internal
// functions (inventory entry, queries, cipher services) for the package's own
// code and tests. The functions belong to brantel.brantel_sysprobe: its
// function type and factory, its __module__, its dictionary for ffi/lib
// look-ups and traceback globals, and the companion library it imported, all
// taken from the capsule it publishes at the end of its load.
#include <Python.h>

#include <cstring>

#include "ciphers/buffers.hpp"
#include "toolkit/frame_capsule.hpp"
#include "toolkit/integers.hpp"
#include "toolkit/registry.hpp"
#include "toolkit/version.hpp"

namespace brantel {
namespace {

constexpr const char* OWNER = "brantel.brantel_sysprobe";

const FrameCapsule& frame_of(PyObject* owner) {
    PyObject* capsule = PyObject_GetAttrString(owner, FRAME_CAPSULE_ATTRIBUTE);
    if (capsule == nullptr && !PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyError();
    PyErr_Clear();
    OwnedRef held = OwnedRef::steal(capsule);
    const auto* frame = capsule != nullptr && PyCapsule_IsValid(capsule, FRAME_CAPSULE_NAME)
                            ? static_cast<const FrameCapsule*>(PyCapsule_GetPointer(capsule, FRAME_CAPSULE_NAME))
                            : nullptr;
    if (frame == nullptr || frame->size != sizeof(FrameCapsule))
        raise_format(PyExc_ImportError, "%s.%s is not the capsule %s", OWNER, FRAME_CAPSULE_ATTRIBUTE,
                     FRAME_CAPSULE_NAME);
    return *frame;  // lives in the loaded module's statics for the life of the process
}

void publish(PyObject* module, const FrameCapsule& frame, SpecList specs) {
    for (Py_ssize_t i = 0; i < specs.count; ++i) {
        OwnedRef function = make_function(frame.make_function, frame.function_type, specs.items[i], frame.globals,
                                          OWNER);
        check_status(PyModule_AddObjectRef(module, specs.items[i]->name, function.get()));
    }
}

int exec_internal(PyObject* module) {
    return at_boundary([&] {
        OwnedRef owner = OwnedRef::checked(PyImport_ImportModule(OWNER));
        const FrameCapsule& frame = frame_of(owner.get());
        ciphers::use_companion(frame.companion);
        publish(module, frame, inventory::published_functions());
        publish(module, frame, ciphers::published_services());
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
