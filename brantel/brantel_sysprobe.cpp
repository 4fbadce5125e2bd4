// brantel.brantel_sysprobe: module definition, create and exec slots, and the
// load sequence as a table of named steps.
#include <Python.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "ciphers/buffers.hpp"
#include "ciphers/helpers.hpp"
#include "toolkit/frame_capsule.hpp"
#include "toolkit/function.hpp"
#include "toolkit/refs.hpp"
#include "toolkit/traceback.hpp"
#include "toolkit/version.hpp"

namespace brantel {
namespace {

constexpr const char* QUALIFIED_NAME = "brantel.brantel_sysprobe";

// --- Process-wide state (written only by the create and exec slots) ---------

struct ModuleState {
    long long owner_interpreter = -1;  // -1: no interpreter owns the module yet
    PyObject* module = nullptr;        // strong reference once execution started
    PyObject* dict = nullptr;          // borrowed from module
    PyTypeObject* function_type = nullptr;
    // Builtins the module's code uses, looked up once (strong reference).
    PyObject* not_implemented_error = nullptr;
    // The handler this load added to the logger, until the load completes
    // (strong references): a failed load takes it off again.
    PyObject* added_handler = nullptr;
    PyObject* logger = nullptr;
    ciphers::Companion companion;  // the ffi and lib imported at load
    FrameCapsule frame = {};       // published as _C_API
};

ModuleState state;

// --- Small helpers over the module dictionary --------------------------------

// Binds name in the module dictionary.
void bind(const char* name, PyObject* value) { check_status(PyDict_SetItemString(state.dict, name, value)); }

PyObject* global(const char* name) {
    PyObject* value = PyDict_GetItemString(state.dict, name);
    if (value == nullptr) raise_format(PyExc_NameError, "name '%s' is not defined", name);
    return value;
}

// import name (absolute, with the module dictionary as globals).
OwnedRef import_module(const char* name, PyObject* fromlist = nullptr) {
    OwnedRef module_name = OwnedRef::checked(PyUnicode_FromString(name));
    return OwnedRef::checked(
        PyImport_ImportModuleLevelObject(module_name.get(), state.dict, nullptr, fromlist, 0));
}

// from module import name: a missing attribute is ImportError "cannot import name".
OwnedRef import_from(PyObject* module, const char* name) {
    OwnedRef attr_name = OwnedRef::checked(PyUnicode_FromString(name));
    PyObject* value = PyObject_GetAttr(module, attr_name.get());
    if (value == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name %S", attr_name.get());
        }
        throw PyError();
    }
    return OwnedRef::steal(value);
}

// from module import a, b, ...: binds each name.
void bind_from(const char* module_name, std::initializer_list<const char*> names) {
    OwnedRef fromlist = OwnedRef::checked(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* name : names)
        PyTuple_SET_ITEM(fromlist.get(), i++, OwnedRef::checked(PyUnicode_FromString(name)).release());
    OwnedRef module = import_module(module_name, fromlist.get());
    for (const char* name : names) bind(name, import_from(module.get(), name).get());
}

void bind_import(const char* name) { bind(name, import_module(name).get()); }

OwnedRef call_method(PyObject* target, const char* name, PyObject* args, PyObject* kwargs = nullptr) {
    OwnedRef method = OwnedRef::checked(PyObject_GetAttrString(target, name));
    OwnedRef no_args;
    if (args == nullptr) {
        no_args = OwnedRef::checked(PyTuple_New(0));
        args = no_args.get();
    }
    return OwnedRef::checked(PyObject_Call(method.get(), args, kwargs));
}

// --- Load steps ----------------------------------------------------------------
// Each step does one job and throws PyError on failure. `line` is the line of
// the module's source the step stands for, shown in the load traceback entry.

struct LoadStep {
    const char* what;
    int line;
    void (*run)();
};

void check_version() {
    char compiled[64];
    std::snprintf(compiled, sizeof compiled, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    char running[4] = {0};
    std::strncpy(running, Py_GetVersion(), 3);
    if (!versions_agree(compiled, running)) {
        char message[256];
        std::snprintf(message, sizeof message,
                      "compiletime version %s of module '%.100s' does not match runtime version %s", compiled,
                      QUALIFIED_NAME, running);
        check_status(PyErr_WarnEx(nullptr, message, 1));
    }
}

void register_in_sys_modules() {
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* existing = PyDict_GetItemString(modules, QUALIFIED_NAME);
    if (existing == nullptr) {
        if (PyErr_Occurred()) throw PyError();
        check_status(PyDict_SetItemString(modules, QUALIFIED_NAME, state.module));
    }
}

void look_up_builtins() {
    PyObject* builtins = PyEval_GetBuiltins();
    for (const char* name : {"NotImplementedError", "ValueError", "open", "IOError", "eval",
                             "EnvironmentError", "bin"}) {
        PyObject* value = builtins ? PyDict_GetItemString(builtins, name) : nullptr;
        if (value == nullptr) raise_format(PyExc_NameError, "name '%s' is not defined", name);
        if (std::strcmp(name, "NotImplementedError") == 0) {
            Py_INCREF(value);  // held for the process, whatever becomes of the builtins
            Py_XSETREF(state.not_implemented_error, value);
        }
    }
}

void import_standard_modules() {
    bind_import("sys");
    bind_from("pathlib", {"Path"});
    bind_import("logging");
    bind_from("logging.handlers", {"RotatingFileHandler"});
}

void set_up_logger() {
    PyObject* logging = global("logging");
    OwnedRef logger = call_method(logging, "getLogger", OwnedRef::checked(Py_BuildValue("(O)", global("__name__"))).get());
    bind("logger", logger.get());
    OwnedRef debug = OwnedRef::checked(PyObject_GetAttrString(logging, "DEBUG"));
    call_method(logger.get(), "setLevel", OwnedRef::checked(PyTuple_Pack(1, debug.get())).get());

    // Path(__file__).parent / 'brantel.log'
    OwnedRef path = OwnedRef::checked(PyObject_CallOneArg(global("Path"), global("__file__")));
    OwnedRef parent = OwnedRef::checked(PyObject_GetAttrString(path.get(), "parent"));
    OwnedRef file_name = OwnedRef::checked(PyUnicode_FromString("brantel.log"));
    OwnedRef log_path = OwnedRef::checked(PyNumber_TrueDivide(parent.get(), file_name.get()));

    OwnedRef kwargs = OwnedRef::checked(Py_BuildValue("{s:L,s:i}", "maxBytes", 19327352832LL, "backupCount", 5));
    OwnedRef handler = OwnedRef::checked(PyObject_Call(
        global("RotatingFileHandler"), OwnedRef::checked(PyTuple_Pack(1, log_path.get())).get(), kwargs.get()));
    bind("handler", handler.get());
    OwnedRef formatter = call_method(
        logging, "Formatter",
        OwnedRef::checked(Py_BuildValue(
            "(s)", "%(levelname)s|%(module)s|%(funcName)s|%(lineno)d|%(asctime)s|%(process)d|%(thread)d|%(message)s"))
            .get());
    call_method(handler.get(), "setFormatter", OwnedRef::checked(PyTuple_Pack(1, formatter.get())).get());
    call_method(logger.get(), "addHandler", OwnedRef::checked(PyTuple_Pack(1, handler.get())).get());
    state.logger = logger.release();
    state.added_handler = handler.release();
}

// A load that fails after the logger step takes its handler off the logger
// and closes it, so that a retried import does not add a second one on the
// same file. The pending error is kept; a failure in here is dropped.
void remove_added_handler() {
    if (state.added_handler == nullptr) return;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyObject* removed = PyObject_CallMethod(state.logger, "removeHandler", "O", state.added_handler);
    Py_XDECREF(removed);
    PyObject* closed = PyObject_CallMethod(state.added_handler, "close", nullptr);
    Py_XDECREF(closed);
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
    Py_CLEAR(state.added_handler);
    Py_CLEAR(state.logger);
}

void import_traceback() { bind_import("traceback"); }

void check_platform() {
    OwnedRef platform = OwnedRef::checked(PyObject_GetAttrString(global("sys"), "platform"));
    for (const char* supported : {"linux", "darwin", "win32"})
        if (PyUnicode_Check(platform.get()) && PyUnicode_CompareWithASCIIString(platform.get(), supported) == 0)
            return;
    raise(state.not_implemented_error, "Unsupported platform");
}

void import_companion() {
    bind_from("brantel.brantel_decryption_", {"ffi", "lib"});
    ciphers::resolve_companion(state.companion, global("ffi"), global("lib"));
    ciphers::use_companion(&state.companion);
}

void import_more_modules() {
    for (const char* name : {"os", "time", "subprocess", "base64", "json"}) bind_import(name);
    bind_from("typing", {"Tuple", "List"});
}

void create_functions() {
    if (state.function_type == nullptr)
        state.function_type = reinterpret_cast<PyTypeObject*>(check(reinterpret_cast<PyObject*>(create_function_type())));
    SpecList helpers = ciphers::helper_functions();
    for (Py_ssize_t i = 0; i < helpers.count; ++i) {
        OwnedRef function = make_function(new_function, state.function_type, helpers.items[i], state.dict,
                                          QUALIFIED_NAME);
        bind(helpers.items[i]->name, function.get());
    }
}

// Last: what brantel._sysprobe_internal takes from this module (frame_capsule.hpp).
void publish_frame() {
    state.frame = {sizeof(FrameCapsule), state.function_type, new_function, state.dict, &state.companion};
    OwnedRef capsule = OwnedRef::checked(PyCapsule_New(&state.frame, FRAME_CAPSULE_NAME, nullptr));
    bind(FRAME_CAPSULE_ATTRIBUTE, capsule.get());
}

void bind_builtins() { bind("__builtins__", OwnedRef::checked(PyImport_ImportModule("builtins")).get()); }

// After the re-entry guard, the version check and remembering the module: the
// load sequence, in order. The module's top-level statements start at "standard imports".
const LoadStep LOAD_STEPS[] = {
    {"__builtins__", 1, bind_builtins},
    {"sys.modules", 1, register_in_sys_modules},
    {"builtins used", 1, look_up_builtins},
    {"standard imports", 8, import_standard_modules},
    {"logger", 13, set_up_logger},
    {"import traceback", 20, import_traceback},
    {"platform gate", 22, check_platform},
    {"companion library", 25, import_companion},
    {"more imports", 27, import_more_modules},
    {"functions", 55, create_functions},
    {"frame capsule", 55, publish_frame},
};

// --- Slots ---------------------------------------------------------------------

// Copies spec.<attribute> into the module dictionary under `key`; a missing
// attribute is skipped.
void copy_from_spec(PyObject* spec, PyObject* dict, const char* attribute, const char* key, bool skip_none) {
    PyObject* value = PyObject_GetAttrString(spec, attribute);
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyError();
        PyErr_Clear();
        return;
    }
    OwnedRef owned = OwnedRef::steal(value);
    if (skip_none && value == Py_None) return;
    check_status(PyDict_SetItemString(dict, key, value));
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    return at_boundary([&]() -> PyObject* {
        long long id = PyInterpreterState_GetID(PyThreadState_GetInterpreter(PyThreadState_Get()));
        if (state.owner_interpreter == -1) {
            if (id == -1) throw PyError();
            state.owner_interpreter = id;
        } else if (id != state.owner_interpreter) {
            raise(PyExc_ImportError,
                  "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        }
        if (state.module != nullptr) {
            Py_INCREF(state.module);
            return state.module;
        }
        OwnedRef name = OwnedRef::checked(PyObject_GetAttrString(spec, "name"));
        OwnedRef module = OwnedRef::checked(PyModule_NewObject(name.get()));
        PyObject* dict = check(PyModule_GetDict(module.get()));
        copy_from_spec(spec, dict, "loader", "__loader__", false);
        copy_from_spec(spec, dict, "origin", "__file__", false);
        copy_from_spec(spec, dict, "parent", "__package__", false);
        copy_from_spec(spec, dict, "submodule_search_locations", "__path__", true);
        return module.release();
    }, static_cast<PyObject*>(nullptr));
}

// Forgets a module whose execution failed, so that a later import starts afresh.
int fail_load(int line) {
    if (state.dict != nullptr) add_traceback_entry("init brantel.brantel_sysprobe", line, state.dict);
    remove_added_handler();
    Py_CLEAR(state.module);
    state.dict = nullptr;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init brantel.brantel_sysprobe");
    return -1;
}

int exec_module(PyObject* module) {
    // Re-entry guard: once per process.
    if (state.module != nullptr) {
        if (state.module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'brantel_sysprobe' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    if (!at_boundary([] { check_version(); return true; }, false)) return fail_load(1);

    Py_INCREF(module);
    state.module = module;
    state.dict = PyModule_GetDict(module);
    for (const LoadStep& step : LOAD_STEPS)
        if (!at_boundary([&] { step.run(); return true; }, false)) return fail_load(step.line);
    // Loaded: from now on the handler is never removed.
    Py_CLEAR(state.added_handler);
    Py_CLEAR(state.logger);
    return 0;
}

PyModuleDef_Slot SLOTS[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "brantel_sysprobe",
    nullptr,  // no documentation
    0,        // state lives in process-wide statics
    nullptr,  // no method table: every callable is made during execution
    SLOTS,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace brantel

PyMODINIT_FUNC PyInit_brantel_sysprobe(void) { return PyModuleDef_Init(&brantel::MODULE_DEF); }
