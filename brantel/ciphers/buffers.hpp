// How arguments reach the cipher library and how its output comes back:
// input buffers, length cells, the output buffer rule with its capacity
// protocol, and the one-copy conversion of output bytes.
#pragma once

#include <Python.h>

#include <algorithm>
#include <initializer_list>
#include <type_traits>
#include <utility>

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

    // Whether ffi and lib are the companion module's own. Then an operation may
    // be called directly (native_function), reading bytes arguments in place:
    // the library reads no more than the lengths it is given and keeps nothing,
    // so the result is the same as through fresh input buffers, without the
    // copies. A substituted ffi or lib always gets the buffer-layer calls.
    bool native() const noexcept { return native_; }
    // The C entry point of lib.<operation>, cast to the caller's signature.
    template <typename Function>
    Function native_function(const char* operation) {
        return reinterpret_cast<Function>(native_address(operation));
    }

private:
    void* native_address(const char* operation);

    PyObject* ffi_;  // borrowed from the module dictionary, held for the call
    PyObject* lib_;
    OwnedRef ffi_ref_;
    OwnedRef lib_ref_;
    bool native_ = false;
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

// A length reported through a cell, as a signed count (or -1 when it is not one).
template <typename Cell>
long long reported_count(Cell cell) noexcept {
    if constexpr (std::is_signed_v<Cell>) {
        return cell < 0 ? -1 : static_cast<long long>(cell);
    } else {
        return cell > static_cast<unsigned long long>(PY_SSIZE_T_MAX) ? -1 : static_cast<long long>(cell);
    }
}

[[noreturn]] void raise_misreported(const char* operation, long long count, Py_ssize_t size);

// run_with_output for a direct call: `op(out, cell)` calls the operation with
// its output buffer and cell. Same protocol, same re-run rule; the first buffer
// is not zero-filled (only what the library reports as written is read back)
// and the re-run writes straight into the result.
// A bytes object cut down to its first n bytes (in place where the allocator can).
inline OwnedRef shrunk(OwnedRef bytes, Py_ssize_t n) {
    if (PyBytes_GET_SIZE(bytes.get()) == n) return bytes;
    PyObject* raw = bytes.release();
    if (_PyBytes_Resize(&raw, n) < 0) throw PyError();  // raw was released and nulled
    return OwnedRef::steal(raw);
}

template <typename Cell, typename Op>
OwnedRef run_native(Call& call, const OutputRule& rule, const OutputLines& lines, Op op, PyObject* failure_type,
                    const char* failure_message) {
    // The first buffer lives on the stack when small; a large one is already
    // the result object, cut to size afterwards, so large outputs are not copied.
    constexpr Py_ssize_t SMALL = 64;
    unsigned char small[SMALL];
    OwnedRef first_bytes;
    unsigned char* first = small;
    if (rule.capacity > SMALL) {
        first_bytes = OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, rule.capacity));
        first = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(first_bytes.get()));
    }
    call.at(lines.call);
    Cell cell = static_cast<Cell>(rule.capacity);
    const int result = op(first, &cell);
    call.at(lines.check);
    if (result != 1) raise(failure_type, failure_message);

    call.at(lines.rerun);
    long long count = reported_count(cell);
    if (count > rule.threshold) {
        const Py_ssize_t size = static_cast<Py_ssize_t>(count);
        OwnedRef exact = OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, size));
        auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(exact.get()));
        std::fill(out, out + size, 0);
        cell = static_cast<Cell>(size);
        op(out, &cell);  // result deliberately not examined
        call.at(lines.convert);
        count = reported_count(cell);
        if (count < 0 || count > size) raise_misreported(rule.operation, count, size);
        return shrunk(std::move(exact), static_cast<Py_ssize_t>(count));
    }
    call.at(lines.convert);
    if (count < 0 || count > rule.capacity) raise_misreported(rule.operation, count, rule.capacity);
    if (first_bytes) return shrunk(std::move(first_bytes), static_cast<Py_ssize_t>(count));
    return OwnedRef::checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(first), count));
}

// A bytes argument read in place by a direct call.
inline const unsigned char* data_of(PyObject* bytes) noexcept {
    return reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(bytes));
}
inline size_t size_of(PyObject* bytes) noexcept { return static_cast<size_t>(PyBytes_GET_SIZE(bytes)); }

}  // namespace brantel::ciphers
