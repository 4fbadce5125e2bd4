// Buffer conventions shared by the helper functions and the cipher services.
#include "buffers.hpp"

#include <cstring>

namespace brantel::ciphers {

namespace {

OwnedRef call_method(PyObject* target, const char* name, PyObject* const* args, Py_ssize_t nargs) {
    OwnedRef method = OwnedRef::checked(PyObject_GetAttrString(target, name));
    return OwnedRef::checked(PyObject_Vectorcall(method.get(), args, static_cast<size_t>(nargs), nullptr));
}

OwnedRef text(const char* value) { return OwnedRef::checked(PyUnicode_FromString(value)); }

// The companion module's ffi and lib, held for the life of the process.
struct Companion {
    PyObject* ffi = nullptr;
    PyObject* lib = nullptr;
};

const Companion& companion() {
    static Companion found = [] {
        Companion c;
        PyObject* module = PyImport_ImportModule("brantel.brantel_decryption_");
        if (module != nullptr) {
            c.ffi = PyObject_GetAttrString(module, "ffi");
            c.lib = PyObject_GetAttrString(module, "lib");
            Py_DECREF(module);
        }
        if (c.ffi == nullptr || c.lib == nullptr) {
            // Without them every call takes the buffer-layer path.
            PyErr_Clear();
            Py_CLEAR(c.ffi);
            Py_CLEAR(c.lib);
        }
        return c;
    }();
    return found;
}

// Entry points already resolved, by operation name.
struct NativeEntry {
    const char* operation;
    void* address;
};
constexpr int MAX_NATIVE = 16;
NativeEntry native_entries[MAX_NATIVE];
int native_count = 0;

}  // namespace

Library::Library(Call& call)
    : ffi_(call.global("ffi")), lib_(call.global("lib")),
      // Held for the whole call, so that a body that replaces ffi/lib cannot free them under us.
      ffi_ref_(OwnedRef::borrow(ffi_)), lib_ref_(OwnedRef::borrow(lib_)) {
    const Companion& own = companion();
    native_ = own.lib != nullptr && ffi_ == own.ffi && lib_ == own.lib;
}

void* Library::native_address(const char* operation) {
    for (int i = 0; i < native_count; ++i)
        if (std::strcmp(native_entries[i].operation, operation) == 0) return native_entries[i].address;
    // int(ffi.cast("uintptr_t", ffi.addressof(lib, operation)))
    OwnedRef name = text(operation);
    PyObject* address_args[] = {lib_, name.get()};
    OwnedRef pointer = call_method(ffi_, "addressof", address_args, 2);
    OwnedRef uintptr = text("uintptr_t");
    PyObject* cast_args[] = {uintptr.get(), pointer.get()};
    OwnedRef cast = call_method(ffi_, "cast", cast_args, 2);
    OwnedRef number = OwnedRef::checked(PyNumber_Long(cast.get()));
    void* address = PyLong_AsVoidPtr(number.get());
    if (address == nullptr) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "no entry point for %s", operation);
        throw PyError();
    }
    if (native_count < MAX_NATIVE) native_entries[native_count++] = {operation, address};
    return address;
}

OwnedRef Library::input_buffer(PyObject* value) {
    OwnedRef ctype = text("unsigned char []");
    PyObject* args[] = {ctype.get(), value};
    return call_method(ffi_, "new", args, 2);
}

OwnedRef Library::zeroed_buffer(Py_ssize_t n) {
    OwnedRef ctype = text("unsigned char []");
    OwnedRef size = OwnedRef::checked(PyLong_FromSsize_t(n));
    PyObject* args[] = {ctype.get(), size.get()};
    return call_method(ffi_, "new", args, 2);
}

OwnedRef Library::make(const char* ctype) {
    OwnedRef type = text(ctype);
    PyObject* args[] = {type.get()};
    return call_method(ffi_, "new", args, 1);
}

OwnedRef Library::null() { return OwnedRef::checked(PyObject_GetAttrString(ffi_, "NULL")); }

void Library::set_cell(PyObject* cell, Py_ssize_t value) {
    OwnedRef number = OwnedRef::checked(PyLong_FromSsize_t(value));
    OwnedRef index = OwnedRef::checked(PyLong_FromLong(0));
    check_status(PyObject_SetItem(cell, index.get(), number.get()));
}

OwnedRef Library::cell_value(PyObject* cell) {
    OwnedRef index = OwnedRef::checked(PyLong_FromLong(0));
    return OwnedRef::checked(PyObject_GetItem(cell, index.get()));
}

OwnedRef Library::call(const char* operation, PyObject* const* args, Py_ssize_t nargs) {
    return call_method(lib_, operation, args, nargs);
}

OwnedRef Library::string(PyObject* pointer) {
    PyObject* args[] = {pointer};
    return call_method(ffi_, "string", args, 1);
}

OwnedRef Library::bytes_of(PyObject* buffer, Py_ssize_t size, PyObject* n, const char* operation) {
    Py_ssize_t count = PyLong_Check(n) ? PyLong_AsSsize_t(n) : -1;
    if (count == -1 && PyErr_Occurred()) PyErr_Clear();
    if (count < 0 || count > size)
        raise_format(PyExc_ValueError, "%s reported %R output bytes for a buffer of %zd", operation, n, size);
    // One copy through the buffer protocol, not one object per byte.
    OwnedRef view_owner = [&] {
        PyObject* args[] = {buffer};
        return call_method(ffi_, "buffer", args, 1);
    }();
    Py_buffer view;
    check_status(PyObject_GetBuffer(view_owner.get(), &view, PyBUF_SIMPLE));
    if (view.len < count) {
        PyBuffer_Release(&view);
        raise_format(PyExc_ValueError, "%s reported %zd output bytes for a buffer of %zd", operation, count,
                     static_cast<Py_ssize_t>(view.len));
    }
    PyObject* result = PyBytes_FromStringAndSize(static_cast<const char*>(view.buf), count);
    PyBuffer_Release(&view);
    return OwnedRef::checked(result);
}

void raise_misreported(const char* operation, long long count, Py_ssize_t size) {
    raise_format(PyExc_ValueError, "%s reported %lld output bytes for a buffer of %zd", operation, count, size);
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

OwnedRef run_with_output(Call& call, Library& library, const OutputRule& rule, PyObject** args,
                         Py_ssize_t nargs, const OutputLines& lines, PyObject* failure_type,
                         const char* failure_message) {
    OwnedRef buffer = library.make(rule.first_buffer);
    OwnedRef cell = library.make(rule.cell);
    Py_ssize_t size = rule.capacity;
    args[rule.output_index] = buffer.get();
    args[rule.cell_index] = cell.get();

    call.at(lines.call);
    library.set_cell(cell.get(), size);
    OwnedRef result = library.call(rule.operation, args, nargs);
    call.at(lines.check);
    if (!result_is(result.get(), 1)) raise(failure_type, failure_message);

    call.at(lines.rerun);
    OwnedRef length = library.cell_value(cell.get());
    OwnedRef threshold = OwnedRef::checked(PyLong_FromSsize_t(rule.threshold));
    if (check_status(PyObject_RichCompareBool(length.get(), threshold.get(), Py_GT))) {
        size = PyLong_AsSsize_t(length.get());
        if (size == -1 && PyErr_Occurred()) throw PyError();
        buffer = library.zeroed_buffer(size);
        args[rule.output_index] = buffer.get();
        library.set_cell(cell.get(), size);
        library.call(rule.operation, args, nargs);  // result deliberately not examined
        length = library.cell_value(cell.get());
    }

    call.at(lines.convert);
    return library.bytes_of(buffer.get(), size, length.get(), rule.operation);
}

}  // namespace brantel::ciphers
