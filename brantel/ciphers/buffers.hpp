// How arguments reach the cipher library and how its output comes back:
// input buffers, length cells, the output buffer rule with its capacity
// protocol, and the one-copy conversion of output bytes.
#pragma once

#include <Python.h>

#include <initializer_list>

#include "../toolkit/function.hpp"
#include "../toolkit/refs.hpp"

namespace brantel::ciphers {

// The companion library as a call sees it: `ffi` and `lib` of the module
// dictionary, looked up when the call starts (callers may substitute them).
class Library {
public:
    explicit Library(Call& call);

    // ffi.new("unsigned char []", value): the bytes plus one zero byte. None and
    // other non-bytes fail with the buffer layer's own error.
    OwnedRef input_buffer(PyObject* value);
    // ffi.new("unsigned char []", n): n zero bytes.
    OwnedRef zeroed_buffer(Py_ssize_t n);
    // ffi.new(ctype) for a fixed array type such as "unsigned char [1000]" or a
    // length cell type such as "int *".
    OwnedRef make(const char* ctype);
    // ffi.NULL.
    OwnedRef null();

    // cell[0] = value / cell[0].
    void set_cell(PyObject* cell, Py_ssize_t value);
    OwnedRef cell_value(PyObject* cell);

    // lib.<operation>(*args).
    OwnedRef call(const char* operation, PyObject* const* args, Py_ssize_t nargs);
    OwnedRef call(const char* operation, std::initializer_list<PyObject*> args) {
        return call(operation, args.begin(), static_cast<Py_ssize_t>(args.size()));
    }
    // ffi.string(pointer).
    OwnedRef string(PyObject* pointer);

    // The first n bytes of a buffer whose size is `size`, copied once. A count
    // outside 0..size (a library that misreports) fails with ValueError.
    OwnedRef bytes_of(PyObject* buffer, Py_ssize_t size, PyObject* n, const char* operation);

    PyObject* ffi() const noexcept { return ffi_; }
    PyObject* lib() const noexcept { return lib_; }

private:
    PyObject* ffi_;  // borrowed from the module dictionary, held for the call
    PyObject* lib_;
    OwnedRef ffi_ref_;
    OwnedRef lib_ref_;
};

// Whether a library result equals the int `value` (the interpreter's equality).
bool result_is(PyObject* result, long value);

// One variable-length library operation: where its output buffer and length
// cell sit among its arguments, the first buffer's capacity C and the re-run
// threshold T.
struct OutputRule {
    const char* operation;
    const char* first_buffer;  // e.g. "unsigned char [1000]"
    Py_ssize_t capacity;       // C
    Py_ssize_t threshold;      // T
    const char* cell;          // e.g. "int *"
    Py_ssize_t output_index;   // position of the output buffer among the arguments
    Py_ssize_t cell_index;     // position of the length cell
};

// Lines of the statements that run_with_output performs, for traceback entries.
struct OutputLines {
    int call;     // the first library call
    int check;    // the comparison with 1 and the raise
    int rerun;    // the re-run into an exact-size buffer
    int convert;  // reading the output back
};

// Calls the operation with `args` (the output and cell positions are filled
// here), applying the capacity protocol: the cell holds the buffer's capacity
// before each call. A first result other than 1 raises failure_type with
// failure_message. When the reported length exceeds T, the operation runs once
// more into a buffer of exactly that length (its result is not examined).
// Returns the output bytes; throws PyError.
OwnedRef run_with_output(Call& call, Library& library, const OutputRule& rule, PyObject** args,
                         Py_ssize_t nargs, const OutputLines& lines, PyObject* failure_type,
                         const char* failure_message);

}  // namespace brantel::ciphers
