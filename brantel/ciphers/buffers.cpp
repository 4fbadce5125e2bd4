// The companion's operations as one table, and the two executors that read it.
#include "buffers.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace brantel::ciphers {

namespace {

// --- The table -------------------------------------------------------------------

constexpr Py_ssize_t AES_KEY_SIZE = 32;  // AES-256
constexpr Py_ssize_t CBC_IV_SIZE = 16;   // one AES block
constexpr Step NO_STEP = {Kind::Input, 0, 0};
constexpr SizeCheck NO_CHECK = {0, 0, nullptr, 0};

// Parameters of the AES services: key, data, IV or nonce.
enum { KEY = 0, DATA = 1, IV = 2 };

SizeCheck key_check(int line) { return {KEY, AES_KEY_SIZE, "aeskey", line}; }
SizeCheck iv_check(int line) { return {IV, CBC_IV_SIZE, "cbc_iv", line}; }
Step input(int param, int line) { return {Kind::Input, param, line}; }
Step length(int param, int line) { return {Kind::Length, param, line}; }

const Operation OPERATIONS[OPERATION_COUNT] = {
    {SHA1, "sha1", signature<In<0>, Len<0>, Out, CellOf<unsigned int>>(),
     {length(0, lines::SHA1_LENGTH), input(0, lines::SHA1_INPUT), NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Rule, "unsigned char [20]", 20, 20, &PyExc_ValueError, "Checksum failed!", lines::SHA1_BLOCK},
    // The output buffer and its cell come first, the encoded text last.
    {BASE64_DECRYPT, "base64_decrypt", signature<Out, CellOf<int>, In<0>, Len<0>>(),
     {length(0, lines::BASE64_LENGTH), input(0, lines::BASE64_INPUT), NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, &PyExc_ValueError, "Checksum failed!",
     lines::BASE64_BLOCK},
    {RANDOM_BUFFER, "random_buffer", signature<Count, Out>(), {NO_STEP, NO_STEP, NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Counted, nullptr, 0, 0, &PyExc_OSError, "get random number failed!", lines::URANDOM_BLOCK},
    // AES: the plaintext side comes before the ciphertext side; CBC's IV length is always 16.
    {AES_CBC_ENCRYPT, "aes_cbc_encrypt", signature<In<KEY>, In<IV>, Fixed<16>, In<DATA>, Len<DATA>, Out, CellOf<int>>(),
     {input(KEY, lines::AES_CBC_ENCRYPTOR_INPUTS), input(DATA, lines::AES_CBC_ENCRYPTOR_INPUTS + 1),
      input(IV, lines::AES_CBC_ENCRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_CBC_ENCRYPTOR_KEY_CHECK), iv_check(lines::AES_CBC_ENCRYPTOR_IV_CHECK)},
     OutputKind::Rule, "unsigned char [1000]", 1000, 1000, &PyExc_ValueError, "AES-CBC encryption failed!",
     lines::AES_CBC_ENCRYPTOR_BLOCK},
    // T is 16, not 1000: any plaintext longer than one block is decrypted a
    // second time into an exact-size buffer.
    {AES_CBC_DECRYPT, "aes_cbc_decrypt", signature<In<KEY>, In<IV>, Fixed<16>, Out, CellOf<int>, In<DATA>, Len<DATA>>(),
     {input(KEY, lines::AES_CBC_DECRYPTOR_INPUTS), input(IV, lines::AES_CBC_DECRYPTOR_INPUTS + 1),
      input(DATA, lines::AES_CBC_DECRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_CBC_DECRYPTOR_KEY_CHECK), iv_check(lines::AES_CBC_DECRYPTOR_IV_CHECK)},
     OutputKind::Rule, "unsigned char [1000]", 1000, 16, &PyExc_ValueError, "AES-CBC decryption failed!",
     lines::AES_CBC_DECRYPTOR_BLOCK},
    {AES_GCM_ENCRYPT, "aes_gcm_encrypt", signature<In<KEY>, In<IV>, Len<IV>, In<DATA>, Len<DATA>, Out, CellOf<int>>(),
     {input(KEY, lines::AES_GCM_ENCRYPTOR_INPUTS), input(DATA, lines::AES_GCM_ENCRYPTOR_INPUTS + 1),
      input(IV, lines::AES_GCM_ENCRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_GCM_ENCRYPTOR_KEY_CHECK), NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, &PyExc_ValueError, "AES-GCM encryption failed!",
     lines::AES_GCM_ENCRYPTOR_BLOCK},
    {AES_GCM_DECRYPT, "aes_gcm_decrypt", signature<In<KEY>, In<IV>, Len<IV>, Out, CellOf<int>, In<DATA>, Len<DATA>>(),
     {input(KEY, lines::AES_GCM_DECRYPTOR_INPUTS), input(IV, lines::AES_GCM_DECRYPTOR_INPUTS + 1),
      input(DATA, lines::AES_GCM_DECRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_GCM_DECRYPTOR_KEY_CHECK), NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, &PyExc_ValueError, "AES-GCM decryption failed!",
     lines::AES_GCM_DECRYPTOR_BLOCK},
    {RSA_ENCRYPT, "rsa_encrypt", signature<In<0>, Len<0>, In<1>, Len<1>, Out, CellOf<size_t>>(),
     {input(0, lines::RSA_ENCRYPTOR_INPUTS), input(1, lines::RSA_ENCRYPTOR_INPUTS + 1), NO_STEP},
     {NO_CHECK, NO_CHECK}, OutputKind::Rule, "unsigned char [1000]", 1000, 1000, &PyExc_ValueError,
     "RSA encryption failed!", lines::RSA_ENCRYPTOR_BLOCK},
    // Handed back as the library returns it (1 valid, 0 anything else).
    {RSA_VERIFY, "rsa_verify", signature<In<0>, Len<0>, In<1>, Len<1>, In<2>, Len<2>>(),
     {input(0, lines::RSA_VERIFIER_INPUTS), input(1, lines::RSA_VERIFIER_INPUTS + 1),
      input(2, lines::RSA_VERIFIER_INPUTS + 2)},
     {NO_CHECK, NO_CHECK}, OutputKind::None, nullptr, 0, 0, nullptr, nullptr, lines::RSA_VERIFIER_BLOCK},
};

// --- Shared state, written only by the exec slots ------------------------------------

// The companion this extension module compares ffi/lib with, and the interned
// names it looks them up by. Set at load, before any function exists: a call
// never imports or initialises anything.
const Companion* own_companion = nullptr;
PyObject* ffi_name = nullptr;
PyObject* lib_name = nullptr;

// Inputs above this many bytes are worked on with the interpreter lock
// released: the bytes are immutable and the output is not yet shared.
constexpr size_t RELEASE_LOCK_ABOVE = 4096;

OwnedRef text(const char* value) { return OwnedRef::checked(PyUnicode_FromString(value)); }

OwnedRef call_method(PyObject* target, const char* name, PyObject* const* args, Py_ssize_t nargs) {
    OwnedRef method = OwnedRef::checked(PyObject_GetAttrString(target, name));
    return OwnedRef::checked(PyObject_Vectorcall(method.get(), args, static_cast<size_t>(nargs), nullptr));
}

// int(ffi.cast("uintptr_t", ffi.addressof(lib, name))), or null with an error set.
void* entry_point(PyObject* ffi, PyObject* lib, const char* name) {
    OwnedRef operation = text(name);
    PyObject* address_args[] = {lib, operation.get()};
    OwnedRef pointer = call_method(ffi, "addressof", address_args, 2);
    OwnedRef uintptr = text("uintptr_t");
    PyObject* cast_args[] = {uintptr.get(), pointer.get()};
    OwnedRef number = OwnedRef::checked(PyNumber_Long(call_method(ffi, "cast", cast_args, 2).get()));
    void* address = PyLong_AsVoidPtr(number.get());
    if (address == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "no entry point for %s", name);
    return address;
}

[[noreturn]] void raise_misreported(const char* operation, long long count, Py_ssize_t size) {
    raise_format(PyExc_ValueError, "%s reported %lld output bytes for a buffer of %zd", operation, count, size);
}

void set_cell(CellValue& cell, CellType type, Py_ssize_t value) {
    switch (type) {
        case CellType::Int: cell.i = static_cast<int>(value); break;
        case CellType::UnsignedInt: cell.u = static_cast<unsigned int>(value); break;
        case CellType::SizeT: cell.z = static_cast<size_t>(value); break;
        case CellType::None: break;
    }
}

// The cell's value as a count, or -1 when it cannot be one.
long long cell_count(const CellValue& cell, CellType type) {
    switch (type) {
        case CellType::Int: return cell.i < 0 ? -1 : cell.i;
        case CellType::UnsignedInt: return cell.u;
        case CellType::SizeT:
            return cell.z > static_cast<size_t>(PY_SSIZE_T_MAX) ? -1 : static_cast<long long>(cell.z);
        case CellType::None: break;
    }
    return -1;
}

// A bytes object cut down to its first n bytes (in place where the allocator can).
OwnedRef shrunk(OwnedRef bytes, Py_ssize_t n) {
    if (PyBytes_GET_SIZE(bytes.get()) == n) return bytes;
    PyObject* raw = bytes.release();
    if (_PyBytes_Resize(&raw, n) < 0) throw PyError();  // raw was released and nulled
    return OwnedRef::steal(raw);
}

OwnedRef new_bytes(Py_ssize_t size, bool zeroed) {
    OwnedRef bytes = OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, size));
    if (zeroed) std::memset(PyBytes_AS_STRING(bytes.get()), 0, static_cast<size_t>(size));
    return bytes;
}

unsigned char* bytes_data(PyObject* bytes) { return reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes)); }

void check_sizes(Call& call, const Operation& op, PyObject* const* values) {
    for (const SizeCheck& check : op.sizes) {
        if (check.line == 0) continue;
        call.at(check.line);
        PyObject* value = values[check.param];
        Py_ssize_t n = PyBytes_Check(value) ? PyBytes_GET_SIZE(value) : PyObject_Length(value);
        if (n < 0) throw PyError();
        if (n != check.size) raise_format(PyExc_ValueError, "%s must be %zd bytes, got %zd", check.name, check.size, n);
    }
}

[[noreturn]] void raise_failure(const Operation& op) { raise(*op.failure_type, op.failure); }

// --- The direct executor -----------------------------------------------------------------

bool direct_possible(const Operation& op, PyObject* const* values) {
    for (int i = 0; i < op.signature.count; ++i) {
        const Arg& arg = op.signature.args[i];
        if ((arg.kind == Kind::Input || arg.kind == Kind::Length) && !PyBytes_CheckExact(values[arg.param]))
            return false;
    }
    return true;
}

size_t input_size(const Operation& op, const DirectArgs& a) {
    size_t total = 0;
    for (int i = 0; i < op.signature.count; ++i) {
        const Arg& arg = op.signature.args[i];
        if (arg.kind == Kind::Input) total += size_of(a.values[arg.param]);
        if (arg.kind == Kind::Count) total += a.count;
    }
    return total;
}

int invoke(const Operation& op, void* entry, const DirectArgs& a, bool release) {
    if (!release) return op.signature.invoke(entry, a);
    int result;
    Py_BEGIN_ALLOW_THREADS
    result = op.signature.invoke(entry, a);
    Py_END_ALLOW_THREADS
    return result;
}

OwnedRef run_direct(Call& call, const Operation& op, PyObject* const* values, unsigned int count, void* entry) {
    check_sizes(call, op, values);
    CellValue cell{};
    DirectArgs a{values, count, nullptr, &cell};
    const bool release = input_size(op, a) > RELEASE_LOCK_ABOVE;
    const lines::Block& at = op.lines;

    if (op.output == OutputKind::None) {
        call.at(at.call);
        return OwnedRef::checked(PyLong_FromLong(invoke(op, entry, a, release)));
    }
    if (op.output == OutputKind::Counted) {
        call.at(at.output);
        OwnedRef buffer = new_bytes(static_cast<Py_ssize_t>(count), false);
        a.output = bytes_data(buffer.get());
        call.at(at.call);
        const int result = invoke(op, entry, a, release);
        call.at(at.check);
        if (result != 1) raise_failure(op);
        return buffer;
    }

    // The first buffer lives on the stack when small; a large one is already
    // the result object, cut to size afterwards, so large outputs are not
    // copied. Only what the library reports as written is read back.
    constexpr Py_ssize_t ON_STACK = 1024;
    unsigned char small[ON_STACK];
    call.at(at.output);
    OwnedRef first;
    a.output = small;
    if (op.capacity > ON_STACK) {
        first = new_bytes(op.capacity, false);
        a.output = bytes_data(first.get());
    }
    call.at(at.call);
    set_cell(cell, op.signature.cell, op.capacity);
    const int result = invoke(op, entry, a, release);
    call.at(at.check);
    if (result != 1) raise_failure(op);

    call.at(at.rerun);
    long long n = cell_count(cell, op.signature.cell);
    if (n > op.threshold) {
        call.at(at.rerun_buffer);
        const Py_ssize_t size = static_cast<Py_ssize_t>(n);
        OwnedRef exact = new_bytes(size, true);
        a.output = bytes_data(exact.get());
        call.at(at.rerun_call);
        set_cell(cell, op.signature.cell, size);
        if (invoke(op, entry, a, release) != 1) raise_failure(op);
        call.at(at.convert);
        n = cell_count(cell, op.signature.cell);
        if (n < 0 || n > size) raise_misreported(op.name, n, size);
        return shrunk(std::move(exact), static_cast<Py_ssize_t>(n));
    }
    call.at(at.convert);
    if (n < 0 || n > op.capacity) raise_misreported(op.name, n, op.capacity);
    if (first) return shrunk(std::move(first), static_cast<Py_ssize_t>(n));
    return OwnedRef::checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(small), n));
}

// --- The buffer-layer executor -----------------------------------------------------------

// len(value), failing for None as len() does.
OwnedRef length_of(PyObject* value) {
    Py_ssize_t n = PyObject_Length(value);
    if (n < 0) throw PyError();
    return OwnedRef::checked(PyLong_FromSsize_t(n));
}

OwnedRef run_buffers(Call& call, Library& library, const Operation& op, PyObject* const* values,
                     unsigned int count) {
    const lines::Block& at = op.lines;
    OwnedRef inputs[MAX_ARGS];
    OwnedRef lengths[MAX_ARGS];
    for (const Step& step : op.steps) {
        if (step.line == 0) continue;
        call.at(step.line);
        if (step.kind == Kind::Input)
            inputs[step.param] = library.input_buffer(values[step.param]);
        else
            lengths[step.param] = length_of(values[step.param]);
    }
    check_sizes(call, op, values);

    OwnedRef cell;
    OwnedRef buffer;
    Py_ssize_t size = 0;
    if (op.output == OutputKind::Rule) {
        call.at(at.cell);
        cell = library.make(op.signature.cell == CellType::Int           ? "int *"
                            : op.signature.cell == CellType::UnsignedInt ? "unsigned int *"
                                                                         : "size_t *");
        call.at(at.output);
        buffer = library.make(op.first_buffer);
        size = op.capacity;
    } else if (op.output == OutputKind::Counted) {
        call.at(at.output);
        size = static_cast<Py_ssize_t>(count);
        buffer = library.zeroed_buffer(size);
    }

    // The arguments in the operation's order; lengths not made by a statement
    // of their own are taken here, in the call (None has no len()).
    call.at(at.call);
    PyObject* args[MAX_ARGS];
    OwnedRef numbers[MAX_ARGS];
    int output_at = -1;
    for (int i = 0; i < op.signature.count; ++i) {
        const Arg& arg = op.signature.args[i];
        switch (arg.kind) {
            case Kind::Input: args[i] = inputs[arg.param].get(); break;
            case Kind::Length:
                if (!lengths[arg.param]) lengths[arg.param] = length_of(values[arg.param]);
                args[i] = lengths[arg.param].get();
                break;
            case Kind::Fixed: numbers[i] = OwnedRef::checked(PyLong_FromLong(arg.param)); args[i] = numbers[i].get(); break;
            case Kind::Count: numbers[i] = OwnedRef::checked(PyLong_FromUnsignedLong(count)); args[i] = numbers[i].get(); break;
            case Kind::Output: args[i] = buffer.get(); output_at = i; break;
            case Kind::Cell: args[i] = cell.get(); break;
        }
    }
    // The cell holds the buffer's capacity on entry (the library's output protocol).
    auto fill_cell = [&](Py_ssize_t value) {
        if (!cell) return;
        OwnedRef number = OwnedRef::checked(PyLong_FromSsize_t(value));
        OwnedRef index = OwnedRef::checked(PyLong_FromLong(0));
        check_status(PyObject_SetItem(cell.get(), index.get(), number.get()));
    };
    auto cell_value = [&] {
        OwnedRef index = OwnedRef::checked(PyLong_FromLong(0));
        return OwnedRef::checked(PyObject_GetItem(cell.get(), index.get()));
    };
    fill_cell(size);
    OwnedRef result = library.call(op.name, args, op.signature.count);
    if (op.output == OutputKind::None) return result;
    call.at(at.check);
    if (!result_is(result.get(), 1)) raise_failure(op);

    OwnedRef n;
    if (op.output == OutputKind::Counted) {
        n = OwnedRef::checked(PyLong_FromUnsignedLong(count));
    } else {
        call.at(at.rerun);
        n = cell_value();
        OwnedRef threshold = OwnedRef::checked(PyLong_FromSsize_t(op.threshold));
        if (check_status(PyObject_RichCompareBool(n.get(), threshold.get(), Py_GT))) {
            call.at(at.rerun_buffer);
            size = PyLong_AsSsize_t(n.get());
            if (size == -1 && PyErr_Occurred()) throw PyError();
            buffer = library.zeroed_buffer(size);
            args[output_at] = buffer.get();
            call.at(at.rerun_call);
            fill_cell(size);
            // Examined like the first call: a failed repeat has written nothing usable.
            if (!result_is(library.call(op.name, args, op.signature.count).get(), 1)) raise_failure(op);
            n = cell_value();
        }
    }
    call.at(at.convert);
    return library.bytes_of(buffer.get(), size, n.get(), op.name);
}

}  // namespace

// --- Companion ----------------------------------------------------------------------------

void resolve_companion(Companion& companion, PyObject* ffi, PyObject* lib) {
    release_companion(companion);
    Py_INCREF(ffi);
    Py_INCREF(lib);
    companion.ffi = ffi;
    companion.lib = lib;
    for (const Operation& op : OPERATIONS) {
        companion.entries[op.id] = entry_point(ffi, lib, op.name);
        if (companion.entries[op.id] == nullptr) {
            // Not a compiled cffi library (or one without this operation): it
            // is still usable through its buffer layer, so every call goes that way.
            PyErr_Clear();
            std::fill(std::begin(companion.entries), std::end(companion.entries), nullptr);
            return;
        }
    }
}

void release_companion(Companion& companion) noexcept {
    Py_CLEAR(companion.ffi);
    Py_CLEAR(companion.lib);
    std::fill(std::begin(companion.entries), std::end(companion.entries), nullptr);
}

void use_companion(const Companion* companion) {
    if (ffi_name == nullptr) ffi_name = check(PyUnicode_InternFromString("ffi"));
    if (lib_name == nullptr) lib_name = check(PyUnicode_InternFromString("lib"));
    own_companion = companion;
}

// --- Library --------------------------------------------------------------------------------

namespace {
PyObject* global(Call& call, PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(call.globals(), name);
    if (value == nullptr) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        throw PyError();
    }
    return value;
}
}  // namespace

Library::Library(Call& call)
    : ffi_(OwnedRef::borrow(global(call, ffi_name))), lib_(OwnedRef::borrow(global(call, lib_name))) {}

void* Library::entry(OperationId id) const noexcept {
    const Companion* own = own_companion;
    if (own == nullptr || ffi_.get() != own->ffi || lib_.get() != own->lib) return nullptr;
    return own->entries[id];
}

OwnedRef Library::input_buffer(PyObject* value) {
    OwnedRef ctype = text("unsigned char []");
    PyObject* args[] = {ctype.get(), value};
    return call_method(ffi(), "new", args, 2);
}

OwnedRef Library::zeroed_buffer(Py_ssize_t n) {
    OwnedRef ctype = text("unsigned char []");
    OwnedRef size = OwnedRef::checked(PyLong_FromSsize_t(n));
    PyObject* args[] = {ctype.get(), size.get()};
    return call_method(ffi(), "new", args, 2);
}

OwnedRef Library::make(const char* ctype) {
    OwnedRef type = text(ctype);
    PyObject* args[] = {type.get()};
    return call_method(ffi(), "new", args, 1);
}

OwnedRef Library::null() { return OwnedRef::checked(PyObject_GetAttrString(ffi(), "NULL")); }

OwnedRef Library::string(PyObject* pointer) {
    PyObject* args[] = {pointer};
    return call_method(ffi(), "string", args, 1);
}

OwnedRef Library::call(const char* operation, PyObject* const* args, Py_ssize_t nargs) {
    return call_method(lib(), operation, args, nargs);
}

OwnedRef Library::bytes_of(PyObject* buffer, Py_ssize_t size, PyObject* n, const char* operation) {
    Py_ssize_t count = PyLong_Check(n) ? PyLong_AsSsize_t(n) : -1;
    if (count == -1 && PyErr_Occurred()) PyErr_Clear();
    if (count < 0 || count > size)
        raise_format(PyExc_ValueError, "%s reported %R output bytes for a buffer of %zd", operation, n, size);
    // ffi.unpack gives the bytes as a list of ints; bytes() joins them in one go.
    OwnedRef how_many = OwnedRef::checked(PyLong_FromSsize_t(count));
    PyObject* args[] = {buffer, how_many.get()};
    OwnedRef unpacked = call_method(ffi(), "unpack", args, 2);
    OwnedRef result = OwnedRef::checked(PyBytes_FromObject(unpacked.get()));
    if (PyBytes_GET_SIZE(result.get()) != count)
        raise_format(PyExc_ValueError, "ffi.unpack gave %zd bytes, not %zd", PyBytes_GET_SIZE(result.get()), count);
    return result;
}

bool result_is(PyObject* result, long value) {
    if (PyLong_CheckExact(result)) {
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(result, &overflow);
        return overflow == 0 && v == value;
    }
    OwnedRef expected = OwnedRef::checked(PyLong_FromLong(value));
    return check_status(PyObject_RichCompareBool(result, expected.get(), Py_EQ)) == 1;
}

OwnedRef run(Call& call, const Operation& op, PyObject* const* values, unsigned int count) {
    Library library(call);
    void* entry = library.entry(op.id);
    if (entry != nullptr && direct_possible(op, values)) return run_direct(call, op, values, count, entry);
    return run_buffers(call, library, op, values, count);
}

const Operation& operation(OperationId id) { return OPERATIONS[id]; }

}  // namespace brantel::ciphers
