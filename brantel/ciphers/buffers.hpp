// How the helper functions and the cipher services reach the companion
// library. Each library operation is one row of a table (Operation): its
// arguments by kind, its output rule, failure, size checks and source lines.
// Two executors read the rows: run_direct calls the C entry point with the
// bytes arguments read in place, run_buffers goes through ffi and lib as a
// Python caller would (fresh input buffers, a length cell, ffi.unpack).
#pragma once

#include <Python.h>

#include <cstddef>
#include <initializer_list>

#include "../toolkit/function.hpp"
#include "../toolkit/refs.hpp"
#include "source_lines.hpp"

namespace brantel::ciphers {

// --- The companion library as imported at load ---------------------------------

// Indexes of Companion::entries, one per row of the operation table.
enum OperationId {
    SHA1, BASE64_DECRYPT, RANDOM_BUFFER, AES_CBC_ENCRYPT, AES_CBC_DECRYPT,
    AES_GCM_ENCRYPT, AES_GCM_DECRYPT, RSA_ENCRYPT, RSA_VERIFY, OPERATION_COUNT
};

// The ffi and lib that brantel.brantel_sysprobe imported, and the C entry
// points of lib's operations. Filled once at load and never changed after;
// entries stay null when lib is not a compiled cffi library, and then every
// call takes the buffer-layer path.
struct Companion {
    PyObject* ffi = nullptr;  // strong references
    PyObject* lib = nullptr;
    void* entries[OPERATION_COUNT] = {};
};

// Fills `companion` from ffi and lib, replacing what it held.
void resolve_companion(Companion& companion, PyObject* ffi, PyObject* lib);

// Makes `companion` the one this extension module's calls compare ffi/lib
// with. Called by each module's exec slot before it creates a function.
// Throws PyError.
void use_companion(const Companion* companion);

// --- Argument kinds ---------------------------------------------------------------

enum class Kind : unsigned char {
    Input,   // the bytes of a parameter (an input buffer)
    Length,  // the byte count of a parameter
    Fixed,   // a constant length (CBC's IV length, always 16)
    Count,   // urandom's num_bytes as an unsigned int
    Output,  // the output buffer
    Cell,    // the length cell
};

struct Arg {
    Kind kind;
    int param;  // Input, Length: which parameter; Fixed: the value
};

enum class CellType : unsigned char { None, Int, UnsignedInt, SizeT };

union CellValue {
    int i;
    unsigned int u;
    size_t z;
};

// What a direct call hands to the entry point.
struct DirectArgs {
    PyObject* const* values;  // the function's arguments; bytes where Input/Length read them
    unsigned int count;
    unsigned char* output;
    CellValue* cell;
};

inline const unsigned char* data_of(PyObject* bytes) noexcept {
    return reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(bytes));
}
inline size_t size_of(PyObject* bytes) noexcept { return static_cast<size_t>(PyBytes_GET_SIZE(bytes)); }

// The kinds as types: each knows its C parameter type, its value in a direct
// call, and its Arg. A row's signature is written once, as a list of these.
template <typename T, Kind K, int P = 0, CellType C = CellType::None>
struct ArgOf {
    using type = T;
    static constexpr Arg arg{K, P};
    static constexpr CellType cell = C;
};
template <int P>
struct In : ArgOf<const unsigned char*, Kind::Input, P> {
    static const unsigned char* get(const DirectArgs& a) noexcept { return data_of(a.values[P]); }
};
template <int P>
struct Len : ArgOf<size_t, Kind::Length, P> {
    static size_t get(const DirectArgs& a) noexcept { return size_of(a.values[P]); }
};
template <int V>
struct Fixed : ArgOf<size_t, Kind::Fixed, V> {
    static size_t get(const DirectArgs&) noexcept { return V; }
};
struct Count : ArgOf<unsigned int, Kind::Count> {
    static unsigned int get(const DirectArgs& a) noexcept { return a.count; }
};
struct Out : ArgOf<unsigned char*, Kind::Output> {
    static unsigned char* get(const DirectArgs& a) noexcept { return a.output; }
};
// A union and its members share their address.
template <typename T, CellType C>
struct CellOf : ArgOf<T*, Kind::Cell, 0, C> {
    static T* get(const DirectArgs& a) noexcept { return reinterpret_cast<T*>(a.cell); }
};
using IntCell = CellOf<int, CellType::Int>;
using UIntCell = CellOf<unsigned int, CellType::UnsignedInt>;
using SizeCell = CellOf<size_t, CellType::SizeT>;

constexpr int MAX_ARGS = 7;
using Invoke = int (*)(void* entry, const DirectArgs& args);

struct Signature {
    Arg args[MAX_ARGS];
    int count;
    CellType cell;
    Invoke invoke;  // calls the entry point with the arguments in this order
};

template <typename... K>
int invoke(void* entry, const DirectArgs& a) {
    return reinterpret_cast<int (*)(typename K::type...)>(entry)(K::get(a)...);
}

template <typename... K>
constexpr Signature signature() {
    static_assert(sizeof...(K) <= MAX_ARGS, "too many arguments");
    CellType cell = CellType::None;
    ((cell = K::cell != CellType::None ? K::cell : cell), ...);
    return {{K::arg...}, static_cast<int>(sizeof...(K)), cell, invoke<K...>};
}

// --- The table row ------------------------------------------------------------------

// A statement made before the call: an input buffer or a len() of a parameter.
struct Step {
    Kind kind;  // Input or Length
    int param, line;
};

// A parameter the library reads without a length (the AES key) or with a
// fixed one (the CBC IV): checked so that the library never reads past it.
struct SizeCheck {
    int param;
    Py_ssize_t size;
    const char* name;  // in the message "<name> must be <size> bytes, got <n>"
    int line;
};

enum class OutputKind : unsigned char {
    None,     // the result is handed back as the library returns it (rsa_verify)
    Counted,  // a zero-filled buffer of num_bytes bytes, read back whole (random_buffer)
    Rule,     // a fixed first buffer of `capacity` bytes, the cell, and the re-run rule
};

struct Operation {
    OperationId id;
    const char* name;  // lib.<name>
    Signature signature;
    Step steps[3];  // in the order they are made; unused entries have line 0
    SizeCheck sizes[2];  // unused entries have line 0
    OutputKind output;
    const char* first_buffer;  // e.g. "unsigned char [1000]" (Rule only)
    Py_ssize_t capacity;       // C
    Py_ssize_t threshold;      // T: a reported length above it is made again into an exact buffer
    // The output is never longer than parameter `bound_param` plus `bound_extra`
    // bytes (-1: no such bound). A direct call sizes its first buffer by it.
    int bound_param;
    Py_ssize_t bound_extra;
    PyObject* const* failure_type;  // raised with `failure` when a call's result is not 1
    const char* failure;
    lines::Block lines;
};

// The table's row for an operation.
const Operation& operation(OperationId id);

// Runs one row: the direct executor when ffi and lib are the companion's own
// and every bytes argument is bytes, the buffer-layer executor otherwise.
// `values` are the function's arguments in parameter order; `count` is the
// converted num_bytes for Count. Returns the output bytes, or the library's
// result for OutputKind::None. Throws PyError.
OwnedRef run(Call& call, const Operation& op, PyObject* const* values, unsigned int count = 0);

// ffi and lib of the module dictionary, looked up when a call starts (callers
// may substitute them), for the bodies that call the library themselves.
class Library {
public:
    explicit Library(Call& call);

    OwnedRef make(const char* ctype, PyObject* init = nullptr);  // ffi.new(ctype[, init])
    OwnedRef null();                                              // ffi.NULL
    OwnedRef string(PyObject* pointer);                           // ffi.string(pointer)
    OwnedRef call(const char* operation, PyObject* const* args, Py_ssize_t nargs);  // lib.<operation>(*args)
    // The first n bytes of a buffer of `size` bytes (ffi.unpack). A count
    // outside 0..size (a library that misreports) fails with ValueError.
    OwnedRef bytes_of(PyObject* buffer, Py_ssize_t size, PyObject* n, const char* operation);

    PyObject* ffi() const noexcept { return ffi_.get(); }
    PyObject* lib() const noexcept { return lib_.get(); }
    // The C entry point of an operation when ffi and lib are the companion's
    // own, else null.
    void* entry(OperationId id) const noexcept;

private:
    // Held for the whole call, so that a body that replaces ffi/lib cannot free them under us.
    OwnedRef ffi_;
    OwnedRef lib_;
};

// Whether a library result equals the int `value` (the interpreter's equality).
bool result_is(PyObject* result, long value);

}  // namespace brantel::ciphers
