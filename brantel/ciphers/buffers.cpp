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
    {SHA1, "sha1", signature<In<0>, Len<0>, Out, UIntCell>(),
     {length(0, lines::SHA1_LENGTH), input(0, lines::SHA1_INPUT), NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Rule, "unsigned char [20]", 20, 20, -1, 0, &PyExc_ValueError, "Checksum failed!", lines::SHA1_BLOCK},
    // The output buffer and its cell come first, the encoded text last.
    {BASE64_DECRYPT, "base64_decrypt", signature<Out, IntCell, In<0>, Len<0>>(),
     {length(0, lines::BASE64_LENGTH), input(0, lines::BASE64_INPUT), NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, 0, 0, &PyExc_ValueError, "Checksum failed!",
     lines::BASE64_BLOCK},
    {RANDOM_BUFFER, "random_buffer", signature<Count, Out>(), {NO_STEP, NO_STEP, NO_STEP}, {NO_CHECK, NO_CHECK},
     OutputKind::Counted, nullptr, 0, 0, -1, 0, &PyExc_OSError, "get random number failed!", lines::URANDOM_BLOCK},
    // AES: the plaintext side comes before the ciphertext side; CBC's IV length is always 16.
    {AES_CBC_ENCRYPT, "aes_cbc_encrypt", signature<In<KEY>, In<IV>, Fixed<16>, In<DATA>, Len<DATA>, Out, IntCell>(),
     {input(KEY, lines::AES_CBC_ENCRYPTOR_INPUTS), input(DATA, lines::AES_CBC_ENCRYPTOR_INPUTS + 1),
      input(IV, lines::AES_CBC_ENCRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_CBC_ENCRYPTOR_KEY_CHECK), iv_check(lines::AES_CBC_ENCRYPTOR_IV_CHECK)},
     OutputKind::Rule, "unsigned char [1000]", 1000, 1000, DATA, 16, &PyExc_ValueError, "AES-CBC encryption failed!",
     lines::AES_CBC_ENCRYPTOR_BLOCK},
    // T is 16, not 1000: any plaintext longer than one block is decrypted a
    // second time into an exact-size buffer.
    {AES_CBC_DECRYPT, "aes_cbc_decrypt", signature<In<KEY>, In<IV>, Fixed<16>, Out, IntCell, In<DATA>, Len<DATA>>(),
     {input(KEY, lines::AES_CBC_DECRYPTOR_INPUTS), input(IV, lines::AES_CBC_DECRYPTOR_INPUTS + 1),
      input(DATA, lines::AES_CBC_DECRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_CBC_DECRYPTOR_KEY_CHECK), iv_check(lines::AES_CBC_DECRYPTOR_IV_CHECK)},
     OutputKind::Rule, "unsigned char [1000]", 1000, 16, DATA, 0, &PyExc_ValueError, "AES-CBC decryption failed!",
     lines::AES_CBC_DECRYPTOR_BLOCK},
    {AES_GCM_ENCRYPT, "aes_gcm_encrypt", signature<In<KEY>, In<IV>, Len<IV>, In<DATA>, Len<DATA>, Out, IntCell>(),
     {input(KEY, lines::AES_GCM_ENCRYPTOR_INPUTS), input(DATA, lines::AES_GCM_ENCRYPTOR_INPUTS + 1),
      input(IV, lines::AES_GCM_ENCRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_GCM_ENCRYPTOR_KEY_CHECK), NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, DATA, 16, &PyExc_ValueError, "AES-GCM encryption failed!",
     lines::AES_GCM_ENCRYPTOR_BLOCK},
    {AES_GCM_DECRYPT, "aes_gcm_decrypt", signature<In<KEY>, In<IV>, Len<IV>, Out, IntCell, In<DATA>, Len<DATA>>(),
     {input(KEY, lines::AES_GCM_DECRYPTOR_INPUTS), input(IV, lines::AES_GCM_DECRYPTOR_INPUTS + 1),
      input(DATA, lines::AES_GCM_DECRYPTOR_INPUTS + 2)},
     {key_check(lines::AES_GCM_DECRYPTOR_KEY_CHECK), NO_CHECK},
     OutputKind::Rule, "unsigned char [100000]", 100000, 100000, DATA, 0, &PyExc_ValueError, "AES-GCM decryption failed!",
     lines::AES_GCM_DECRYPTOR_BLOCK},
    {RSA_ENCRYPT, "rsa_encrypt", signature<In<0>, Len<0>, In<1>, Len<1>, Out, SizeCell>(),
     {input(0, lines::RSA_ENCRYPTOR_INPUTS), input(1, lines::RSA_ENCRYPTOR_INPUTS + 1), NO_STEP},
     {NO_CHECK, NO_CHECK}, OutputKind::Rule, "unsigned char [1000]", 1000, 1000, -1, 0, &PyExc_ValueError,
     "RSA encryption failed!", lines::RSA_ENCRYPTOR_BLOCK},
    // Handed back as the library returns it (1 valid, 0 anything else).
    {RSA_VERIFY, "rsa_verify", signature<In<0>, Len<0>, In<1>, Len<1>, In<2>, Len<2>>(),
     {input(0, lines::RSA_VERIFIER_INPUTS), input(1, lines::RSA_VERIFIER_INPUTS + 1),
      input(2, lines::RSA_VERIFIER_INPUTS + 2)},
     {NO_CHECK, NO_CHECK}, OutputKind::None, nullptr, 0, 0, -1, 0, nullptr, nullptr, lines::RSA_VERIFIER_BLOCK},
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
constexpr Py_ssize_t ON_STACK = 1024;

OwnedRef text(const char* value) { return OwnedRef::checked(PyUnicode_FromString(value)); }
OwnedRef number(long long value) { return OwnedRef::checked(PyLong_FromLongLong(value)); }

OwnedRef call_method(PyObject* target, const char* name, std::initializer_list<PyObject*> args) {
    OwnedRef method = OwnedRef::checked(PyObject_GetAttrString(target, name));
    return OwnedRef::checked(PyObject_Vectorcall(method.get(), args.begin(), args.size(), nullptr));
}

[[noreturn]] void raise_misreported(const char* operation, long long count, Py_ssize_t size) {
    raise_format(PyExc_ValueError, "%s reported %lld output bytes for a buffer of %zd", operation, count, size);
}

[[noreturn]] void raise_failure(const Operation& op) { raise(*op.failure_type, op.failure); }

void check_sizes(Call& call, const Operation& op, PyObject* const* values) {
    for (const SizeCheck& check : op.sizes) {
        if (check.line == 0) continue;
        call.at(check.line);
        Py_ssize_t n = PyObject_Length(values[check.param]);
        if (n < 0) throw PyError();
        if (n != check.size) raise_format(PyExc_ValueError, "%s must be %zd bytes, got %zd", check.name, check.size, n);
    }
}

// --- The direct executor -----------------------------------------------------------------

void set_cell(CellValue& cell, CellType type, Py_ssize_t value) {
    if (type == CellType::Int) cell.i = static_cast<int>(value);
    if (type == CellType::UnsignedInt) cell.u = static_cast<unsigned int>(value);
    if (type == CellType::SizeT) cell.z = static_cast<size_t>(value);
}

// The cell's value as a count, or -1 when it cannot be one.
long long cell_count(const CellValue& cell, CellType type) {
    if (type == CellType::Int) return cell.i < 0 ? -1 : cell.i;
    if (type == CellType::UnsignedInt) return cell.u;
    return cell.z > static_cast<size_t>(PY_SSIZE_T_MAX) ? -1 : static_cast<long long>(cell.z);
}

OwnedRef new_bytes(Py_ssize_t size) { return OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, size)); }
unsigned char* bytes_data(PyObject* bytes) { return reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes)); }

// The first n bytes of the output: a bytes object cut down in place (where the
// allocator can), or a copy of the stack buffer.
OwnedRef output_bytes(OwnedRef bytes, const unsigned char* small, Py_ssize_t n) {
    if (!bytes) return OwnedRef::checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(small), n));
    if (PyBytes_GET_SIZE(bytes.get()) == n) return bytes;
    PyObject* raw = bytes.release();
    if (_PyBytes_Resize(&raw, n) < 0) throw PyError();  // raw was released and nulled
    return OwnedRef::steal(raw);
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
    size_t input = 0;
    for (int i = 0; i < op.signature.count; ++i)
        if (op.signature.args[i].kind == Kind::Input) input += size_of(values[op.signature.args[i].param]);
    const bool release = input + count > RELEASE_LOCK_ABOVE;
    const lines::Block& at = op.lines;
    if (op.output == OutputKind::None) {
        call.at(at.call);
        return number(invoke(op, entry, a, release));
    }
    // The first buffer holds what the output can be at most (the row's bound),
    // rather than C bytes: the library writes only what fits and reports the
    // length either way. With the whole output in hand after one call, the
    // re-run that the rule asks for past T is not made: the companion's own
    // operations give the same output again (RSA-OAEP an equally valid one),
    // so it would only double the work. Calls through a substituted ffi or lib
    // keep the rule call for call. A small buffer lives on the stack; a large
    // one is already the result object, so large outputs are not copied.
    Py_ssize_t first_size = op.output == OutputKind::Counted ? static_cast<Py_ssize_t>(count) : op.capacity;
    if (op.bound_param >= 0) first_size = PyBytes_GET_SIZE(values[op.bound_param]) + op.bound_extra;
    unsigned char small[ON_STACK];
    call.at(at.output);
    OwnedRef first = first_size > ON_STACK ? new_bytes(first_size) : OwnedRef();
    a.output = first ? bytes_data(first.get()) : small;
    call.at(at.call);
    set_cell(cell, op.signature.cell, first_size);
    if (invoke(op, entry, a, release) != 1) {
        call.at(at.check);
        raise_failure(op);
    }
    if (op.output == OutputKind::Counted) return output_bytes(std::move(first), small, first_size);

    call.at(at.rerun);
    long long n = cell_count(cell, op.signature.cell);
    Py_ssize_t size = first_size;
    // Longer than the first buffer: the same call into an exact-size buffer
    // (only what the library reports as written is read back).
    if (n > first_size) {
        call.at(at.rerun_buffer);
        size = static_cast<Py_ssize_t>(n);
        first = new_bytes(size);
        a.output = bytes_data(first.get());
        call.at(at.rerun_call);
        set_cell(cell, op.signature.cell, size);
        if (invoke(op, entry, a, release) != 1) raise_failure(op);
        n = cell_count(cell, op.signature.cell);
    }
    call.at(at.convert);
    if (n < 0 || n > size) raise_misreported(op.name, n, size);
    return output_bytes(std::move(first), small, static_cast<Py_ssize_t>(n));
}

// --- The buffer-layer executor -----------------------------------------------------------

// len(value), failing for None as len() does.
OwnedRef length_of(PyObject* value) {
    Py_ssize_t n = PyObject_Length(value);
    if (n < 0) throw PyError();
    return number(n);
}

OwnedRef run_buffers(Call& call, Library& library, const Operation& op, PyObject* const* values,
                     unsigned int count) {
    const lines::Block& at = op.lines;
    OwnedRef made[MAX_ARGS][2];  // per parameter: its input buffer, its length
    for (const Step& step : op.steps) {
        if (step.line == 0) continue;
        call.at(step.line);
        const bool is_input = step.kind == Kind::Input;
        made[step.param][is_input ? 0 : 1] =
            is_input ? library.make("unsigned char []", values[step.param]) : length_of(values[step.param]);
    }
    check_sizes(call, op, values);

    static constexpr const char* CELL_TYPES[] = {nullptr, "int *", "unsigned int *", "size_t *"};
    OwnedRef cell, buffer;
    Py_ssize_t size = static_cast<Py_ssize_t>(count);
    if (op.output == OutputKind::Rule) {
        call.at(at.cell);
        cell = library.make(CELL_TYPES[static_cast<int>(op.signature.cell)]);
        call.at(at.output);
        buffer = library.make(op.first_buffer);
        size = op.capacity;
    } else if (op.output == OutputKind::Counted) {
        call.at(at.output);
        buffer = library.make("unsigned char []", number(size).get());
    }

    // The arguments in the operation's order; lengths not made by a statement
    // of their own are taken here, in the call (None has no len()).
    call.at(at.call);
    PyObject* args[MAX_ARGS];
    OwnedRef numbers[MAX_ARGS];
    int output_at = 0;
    for (int i = 0; i < op.signature.count; ++i) {
        const Arg& arg = op.signature.args[i];
        switch (arg.kind) {
            case Kind::Input: args[i] = made[arg.param][0].get(); break;
            case Kind::Length:
                if (!made[arg.param][1]) made[arg.param][1] = length_of(values[arg.param]);
                args[i] = made[arg.param][1].get();
                break;
            case Kind::Fixed: numbers[i] = number(arg.param); args[i] = numbers[i].get(); break;
            case Kind::Count: numbers[i] = number(count); args[i] = numbers[i].get(); break;
            case Kind::Output: args[i] = buffer.get(); output_at = i; break;
            case Kind::Cell: args[i] = cell.get(); break;
        }
    }
    // The cell holds the buffer's capacity on entry (the library's output protocol).
    OwnedRef zero = number(0);
    auto call_once = [&] {
        if (cell) check_status(PyObject_SetItem(cell.get(), zero.get(), number(size).get()));
        return library.call(op.name, args, op.signature.count);
    };
    OwnedRef result = call_once();
    if (op.output == OutputKind::None) return result;
    call.at(at.check);
    if (!result_is(result.get(), 1)) raise_failure(op);

    OwnedRef n = number(count);
    if (op.output == OutputKind::Rule) {
        call.at(at.rerun);
        n = OwnedRef::checked(PyObject_GetItem(cell.get(), zero.get()));
        if (check_status(PyObject_RichCompareBool(n.get(), number(op.threshold).get(), Py_GT))) {
            call.at(at.rerun_buffer);
            size = PyLong_AsSsize_t(n.get());
            if (size == -1 && PyErr_Occurred()) throw PyError();
            buffer = library.make("unsigned char []", n.get());
            args[output_at] = buffer.get();
            call.at(at.rerun_call);
            // Examined like the first call: a failed repeat has written nothing usable.
            if (!result_is(call_once().get(), 1)) raise_failure(op);
            n = OwnedRef::checked(PyObject_GetItem(cell.get(), zero.get()));
        }
    }
    call.at(at.convert);
    return library.bytes_of(buffer.get(), size, n.get(), op.name);
}

}  // namespace

// --- Companion ----------------------------------------------------------------------------

void resolve_companion(Companion& companion, PyObject* ffi, PyObject* lib) {
    Py_INCREF(ffi);
    Py_INCREF(lib);
    Py_XSETREF(companion.ffi, ffi);
    Py_XSETREF(companion.lib, lib);
    for (const Operation& op : OPERATIONS) {
        // int(ffi.cast("uintptr_t", ffi.addressof(lib, name)))
        PyObject* address = nullptr;
        try {
            OwnedRef pointer = call_method(ffi, "addressof", {lib, text(op.name).get()});
            address = check(PyNumber_Long(call_method(ffi, "cast", {text("uintptr_t").get(), pointer.get()}).get()));
        } catch (const PyError&) {
        }
        companion.entries[op.id] = address ? PyLong_AsVoidPtr(address) : nullptr;
        Py_XDECREF(address);
        if (companion.entries[op.id] == nullptr) {
            // Not a compiled cffi library (or one without this operation): it
            // is still usable through its buffer layer, so every call goes that way.
            PyErr_Clear();
            std::fill(std::begin(companion.entries), std::end(companion.entries), nullptr);
            return;
        }
    }
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
    if (value == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return check(value);
}
}  // namespace

Library::Library(Call& call)
    : ffi_(OwnedRef::borrow(global(call, ffi_name))), lib_(OwnedRef::borrow(global(call, lib_name))) {}

void* Library::entry(OperationId id) const noexcept {
    const Companion* own = own_companion;
    if (own == nullptr || ffi_.get() != own->ffi || lib_.get() != own->lib) return nullptr;
    return own->entries[id];
}

OwnedRef Library::make(const char* ctype, PyObject* init) {
    OwnedRef type = text(ctype);
    return init ? call_method(ffi(), "new", {type.get(), init}) : call_method(ffi(), "new", {type.get()});
}

OwnedRef Library::null() { return OwnedRef::checked(PyObject_GetAttrString(ffi(), "NULL")); }

OwnedRef Library::string(PyObject* pointer) { return call_method(ffi(), "string", {pointer}); }

OwnedRef Library::call(const char* operation, PyObject* const* args, Py_ssize_t nargs) {
    OwnedRef method = OwnedRef::checked(PyObject_GetAttrString(lib(), operation));
    return OwnedRef::checked(PyObject_Vectorcall(method.get(), args, static_cast<size_t>(nargs), nullptr));
}

OwnedRef Library::bytes_of(PyObject* buffer, Py_ssize_t size, PyObject* n, const char* operation) {
    Py_ssize_t count = PyLong_Check(n) ? PyLong_AsSsize_t(n) : -1;
    if (count == -1 && PyErr_Occurred()) PyErr_Clear();
    if (count < 0 || count > size)
        raise_format(PyExc_ValueError, "%s reported %R output bytes for a buffer of %zd", operation, n, size);
    // ffi.unpack gives the bytes as a list of ints; bytes() joins them in one go.
    OwnedRef result = OwnedRef::checked(PyBytes_FromObject(call_method(ffi(), "unpack", {buffer, n}).get()));
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
    return check_status(PyObject_RichCompareBool(result, number(value).get(), Py_EQ)) == 1;
}

OwnedRef run(Call& call, const Operation& op, PyObject* const* values, unsigned int count) {
    Library library(call);
    void* entry = library.entry(op.id);
    for (int i = 0; entry != nullptr && i < op.signature.count; ++i) {
        const Arg& arg = op.signature.args[i];
        // None and other non-bytes go through the buffer layer and fail there as they should.
        if ((arg.kind == Kind::Input || arg.kind == Kind::Length) && !PyBytes_CheckExact(values[arg.param]))
            entry = nullptr;
    }
    if (entry != nullptr) return run_direct(call, op, values, count, entry);
    return run_buffers(call, library, op, values, count);
}

const Operation& operation(OperationId id) { return OPERATIONS[id]; }

}  // namespace brantel::ciphers
