// Traceback entries: an empty code object carrying file, name and line, and a
// frame whose globals are the module dictionary (as the interpreter's own
// _PyTraceback_Add does, with the module's globals instead of a fresh dict).
#include "traceback.hpp"

#include <frameobject.h>

namespace brantel {

namespace {

// New reference to a code object for (name, line), or nullptr with an error set.
PyObject* code_for(PyObject* dotted_name, int line, PyObject* cache) {
    PyObject* key = nullptr;
    if (cache != nullptr) {
        key = PyLong_FromLong(line);
        if (key == nullptr) return nullptr;
        PyObject* cached = PyDict_GetItemWithError(cache, key);
        if (cached != nullptr) {
            Py_DECREF(key);
            Py_INCREF(cached);
            return cached;
        }
        if (PyErr_Occurred()) {
            Py_DECREF(key);
            return nullptr;
        }
    }
    const char* name = PyUnicode_AsUTF8(dotted_name);
    PyObject* code = name ? reinterpret_cast<PyObject*>(PyCode_NewEmpty(SOURCE_FILE, name, line)) : nullptr;
    if (code != nullptr && key != nullptr && PyDict_SetItem(cache, key, code) < 0) Py_CLEAR(code);
    Py_XDECREF(key);
    return code;
}

}  // namespace

void add_traceback_entry(PyObject* dotted_name, int line, PyObject* globals, PyObject* code_cache) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);

    PyObject* code = code_for(dotted_name, line, code_cache);
    PyFrameObject* frame = nullptr;
    if (code != nullptr)
        frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), globals, nullptr);
    // Whatever went wrong while building the entry, the original error wins.
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
    if (frame != nullptr) {
        // The empty code object reports its first line for a frame that has not
        // run, so the entry shows `line`.
        PyTraceBack_Here(frame);
        Py_DECREF(frame);
    }
    Py_XDECREF(code);
}

void add_traceback_entry(const char* dotted_name, int line, PyObject* globals) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyObject* name = PyUnicode_FromString(dotted_name);
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
    if (name == nullptr) return;
    add_traceback_entry(name, line, globals, nullptr);
    Py_DECREF(name);
}

}  // namespace brantel
