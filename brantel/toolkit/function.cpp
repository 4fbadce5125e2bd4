// The function type: attributes, argument sorting for the three calling forms
// (every message in one table), type checks, and the call boundary.
#include "function.hpp"

#include <structmember.h>

#include "traceback.hpp"

namespace brantel {

namespace {

// Every argument-error message, as the interpreter words them.
namespace msg {
constexpr const char* NO_KEYWORDS = "%.200s() takes no keyword arguments";
constexpr const char* NO_ARGUMENTS = "%.200s() takes no arguments (%zd given)";
constexpr const char* EXACTLY_ONE = "%.200s() takes exactly one argument (%zd given)";
constexpr const char* POSITIONAL_COUNT = "%.200s() takes %.8s %zd positional argument%.1s (%zd given)";
constexpr const char* KEYWORDS_MUST_BE_STRINGS = "%.200s() keywords must be strings";
constexpr const char* MULTIPLE_VALUES = "%s() got multiple values for keyword argument '%U'";
constexpr const char* UNEXPECTED_KEYWORD = "%s() got an unexpected keyword argument '%U'";
constexpr const char* INCORRECT_TYPE = "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)";
}  // namespace msg

constexpr Py_ssize_t MAX_PARAMS = 32;

[[noreturn]] void raise_positional_count(const FunctionSpec* spec, Py_ssize_t given) {
    Py_ssize_t expected = spec->param_count;
    raise_format(PyExc_TypeError, msg::POSITIONAL_COUNT, spec->name, "exactly", expected,
                 expected == 1 ? "" : "s", given);
}

// Sorts vectorcall arguments of a positional-or-keyword function into out[]
// (borrowed references, parameter order).
void sort_keyword_arguments(const FunctionSpec* spec, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** out) {
    const Py_ssize_t nparams = spec->param_count;
    if (nargs > nparams) raise_positional_count(spec, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject* const* kwvalues = args + nargs;
    Py_ssize_t used = 0;
    for (Py_ssize_t p = nargs; p < nparams; ++p) {
        PyObject* found = nullptr;
        for (Py_ssize_t k = 0; k < nkw && !found; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, spec->params[p].name) == 0)
                found = kwvalues[k];
        }
        if (!found) raise_positional_count(spec, p);
        out[p] = found;
        ++used;
    }
    if (used == nkw) return;

    // Keywords remain: report the first that names no parameter left to fill.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) raise_format(PyExc_TypeError, msg::KEYWORDS_MUST_BE_STRINGS, spec->name);
        for (Py_ssize_t p = nargs; p < nparams; ++p)
            if (PyUnicode_CompareWithASCIIString(key, spec->params[p].name) == 0) goto next_key;
        for (Py_ssize_t p = 0; p < nargs; ++p)
            if (PyUnicode_CompareWithASCIIString(key, spec->params[p].name) == 0)
                raise_format(PyExc_TypeError, msg::MULTIPLE_VALUES, spec->name, key);
        raise_format(PyExc_TypeError, msg::UNEXPECTED_KEYWORD, spec->name, key);
    next_key:;
    }
}

void check_types(const FunctionSpec* spec, PyObject* const* args) {
    for (Py_ssize_t p = 0; p < spec->param_count; ++p) {
        PyObject* arg = args[p];
        if (arg == Py_None) continue;
        PyTypeObject* expected = nullptr;
        switch (spec->params[p].check) {
            case TypeCheck::None: continue;
            case TypeCheck::Bytes: expected = &PyBytes_Type; break;
            case TypeCheck::Unicode: expected = &PyUnicode_Type; break;
        }
        if (Py_TYPE(arg) != expected)
            raise_format(PyExc_TypeError, msg::INCORRECT_TYPE, spec->params[p].name, expected->tp_name,
                         Py_TYPE(arg)->tp_name);
    }
}

PyObject* dispatch(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* function = reinterpret_cast<FunctionObject*>(self);
    const FunctionSpec* spec = function->spec;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const bool has_keywords = kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0;
    PyObject* sorted[MAX_PARAMS];

    // Calling forms without keywords fail before the body is entered: no traceback entry.
    switch (spec->form) {
        case CallForm::NoArgs:
            if (has_keywords) return PyErr_Format(PyExc_TypeError, msg::NO_KEYWORDS, spec->name);
            if (nargs != 0) return PyErr_Format(PyExc_TypeError, msg::NO_ARGUMENTS, spec->name, nargs);
            break;
        case CallForm::OneArg:
            if (has_keywords) return PyErr_Format(PyExc_TypeError, msg::NO_KEYWORDS, spec->name);
            if (nargs != 1) return PyErr_Format(PyExc_TypeError, msg::EXACTLY_ONE, spec->name, nargs);
            sorted[0] = args[0];
            break;
        case CallForm::PosOrKw: {
            // Sorting happens at the function's first line and is reported there.
            bool ok = at_boundary([&] {
                sort_keyword_arguments(spec, args, nargs, has_keywords ? kwnames : nullptr, sorted);
                return true;
            }, false);
            if (!ok) {
                add_traceback_entry(function->dotted_name, spec->first_line, function->globals,
                                    function->tb_codes);
                return nullptr;
            }
            break;
        }
    }
    if (!at_boundary([&] { check_types(spec, sorted); return true; }, false)) return nullptr;

    Call call(function);
    PyObject* result = at_boundary([&] { return spec->body(call, sorted); }, static_cast<PyObject*>(nullptr));
    if (result == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "function body failed without an error");
        add_traceback_entry(function->dotted_name, call.line(), function->globals, function->tb_codes);
    }
    return result;
}

// --- The type's slots ---

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->code);
    Py_VISIT(f->globals);
    Py_VISIT(f->dotted_name);
    Py_VISIT(f->tb_codes);
    return 0;
}

int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->code);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->dotted_name);
    Py_CLEAR(f->tb_codes);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    function_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

PyMemberDef FUNCTION_MEMBERS[] = {
    {"__name__", T_OBJECT, offsetof(FunctionObject, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(FunctionObject, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), READONLY, nullptr},
    {"__doc__", T_OBJECT, offsetof(FunctionObject, doc), READONLY, nullptr},
    {"__annotations__", T_OBJECT, offsetof(FunctionObject, annotations), READONLY, nullptr},
    {"__code__", T_OBJECT, offsetof(FunctionObject, code), READONLY, nullptr},
    {"__globals__", T_OBJECT, offsetof(FunctionObject, globals), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

// No defaults anywhere; present so that inspect.signature() reads __code__.
PyGetSetDef FUNCTION_GETSET[] = {
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot FUNCTION_SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_members, FUNCTION_MEMBERS},
    {Py_tp_getset, FUNCTION_GETSET},
    {0, nullptr},
};

PyType_Spec FUNCTION_TYPE_SPEC = {
    "brantel.brantel_sysprobe.sysprobe_function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    FUNCTION_SLOTS,
};

OwnedRef text(const char* value) { return OwnedRef::checked(PyUnicode_FromString(value)); }

// A code object for the signature: file, name, first line, argument count and
// variable names (parameters, then the body's locals).
OwnedRef make_code(const FunctionSpec* spec) {
    OwnedRef empty = OwnedRef::checked(
        reinterpret_cast<PyObject*>(PyCode_NewEmpty(SOURCE_FILE, spec->name, spec->first_line)));
    const Py_ssize_t nvars = spec->param_count + spec->local_count;
    OwnedRef varnames = OwnedRef::checked(PyTuple_New(nvars));
    for (Py_ssize_t i = 0; i < nvars; ++i) {
        const char* name = i < spec->param_count ? spec->params[i].name
                                                 : spec->local_names[i - spec->param_count];
        PyTuple_SET_ITEM(varnames.get(), i, text(name).release());
    }
    OwnedRef replace = OwnedRef::checked(PyObject_GetAttrString(empty.get(), "replace"));
    OwnedRef no_args = OwnedRef::checked(PyTuple_New(0));
    OwnedRef changes = OwnedRef::checked(PyDict_New());
    OwnedRef argcount = OwnedRef::checked(PyLong_FromSsize_t(spec->param_count));
    OwnedRef nlocals = OwnedRef::checked(PyLong_FromSsize_t(nvars));
    check_status(PyDict_SetItemString(changes.get(), "co_argcount", argcount.get()));
    check_status(PyDict_SetItemString(changes.get(), "co_nlocals", nlocals.get()));
    check_status(PyDict_SetItemString(changes.get(), "co_varnames", varnames.get()));
    return OwnedRef::checked(PyObject_Call(replace.get(), no_args.get(), changes.get()));
}

OwnedRef make_annotations(const FunctionSpec* spec) {
    OwnedRef annotations = OwnedRef::checked(PyDict_New());
    for (Py_ssize_t i = 0; i < spec->param_count; ++i)
        check_status(PyDict_SetItemString(annotations.get(), spec->params[i].name,
                                          text(spec->params[i].annotation).get()));
    if (spec->return_annotation)
        check_status(PyDict_SetItemString(annotations.get(), "return", text(spec->return_annotation).get()));
    return annotations;
}

}  // namespace

PyObject* Call::global(const char* name) const {
    PyObject* value = PyDict_GetItemString(function_->globals, name);
    if (value == nullptr) raise_format(PyExc_NameError, "name '%s' is not defined", name);
    return value;
}

PyTypeObject* create_function_type() {
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&FUNCTION_TYPE_SPEC));
}

PyObject* new_function(PyTypeObject* type, const FunctionSpec* spec, PyObject* globals, const char* module_name,
                       vectorcallfunc entry) noexcept {
    return at_boundary([&]() -> PyObject* {
        if (spec->param_count > MAX_PARAMS) raise(PyExc_SystemError, "too many parameters");
        OwnedRef self = OwnedRef::checked(type->tp_alloc(type, 0));
        auto* f = reinterpret_cast<FunctionObject*>(self.get());
        // tp_alloc zero-fills, so a failure below leaves a valid object to release.
        f->vectorcall = entry;
        f->spec = spec;
        f->name = text(spec->name).release();
        f->qualname = text(spec->name).release();
        f->module = text(module_name).release();
        f->doc = spec->doc ? text(spec->doc).release() : (Py_INCREF(Py_None), Py_None);
        f->annotations = make_annotations(spec).release();
        f->code = make_code(spec).release();
        Py_INCREF(globals);
        f->globals = globals;
        f->dotted_name = OwnedRef::checked(PyUnicode_FromFormat("%s.%s", module_name, spec->name)).release();
        f->tb_codes = OwnedRef::checked(PyDict_New()).release();
        return self.release();
    }, static_cast<PyObject*>(nullptr));
}

OwnedRef make_function(FunctionFactory factory, PyTypeObject* type, const FunctionSpec* spec, PyObject* globals,
                       const char* module_name) {
    return OwnedRef::checked(factory(type, spec, globals, module_name, dispatch));
}

}  // namespace brantel
