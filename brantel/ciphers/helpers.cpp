// The module's four public functions: sha1, base64_decode, chdir, getcwd.
// Thin wrappers over the companion library; sha1 and base64_decode are rows of
// the operation table (buffers.cpp).
#include "helpers.hpp"

#include <cerrno>
#include <cstring>

#include "buffers.hpp"

namespace brantel::ciphers {

namespace {

// Lowercase hexadecimal, two digits per byte.
PyObject* hex_of(PyObject* bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    const Py_ssize_t n = PyBytes_GET_SIZE(bytes);
    const unsigned char* data = data_of(bytes);
    OwnedRef text = OwnedRef::checked(PyUnicode_New(2 * n, 127));
    auto* out = static_cast<char*>(PyUnicode_DATA(text.get()));
    for (Py_ssize_t i = 0; i < n; ++i) {
        out[2 * i] = DIGITS[data[i] >> 4];
        out[2 * i + 1] = DIGITS[data[i] & 15];
    }
    return text.release();
}

PyObject* sha1_body(Call& call, PyObject* const* args) {
    OwnedRef digest = run(call, operation(SHA1), args);
    return hex_of(digest.get());
}

PyObject* base64_decode_body(Call& call, PyObject* const* args) {
    return run(call, operation(BASE64_DECRYPT), args).release();
}

PyObject* chdir_body(Call& call, PyObject* const* args) {
    Library library(call);
    call.at(lines::CHDIR_ENCODE);
    // path.encode(): None fails with the interpreter's AttributeError.
    OwnedRef encoded = OwnedRef::checked(PyObject_CallMethod(args[0], "encode", nullptr));
    // The library sees a zero-terminated string: a path with a NUL in it would
    // name another directory, so it is refused here.
    if (!PyBytes_Check(encoded.get())) raise(PyExc_TypeError, "path.encode() did not give bytes");
    if (std::memchr(PyBytes_AS_STRING(encoded.get()), 0, size_of(encoded.get())) != nullptr) Py_RETURN_FALSE;
    OwnedRef path_char = library.make("unsigned char []", encoded.get());
    call.at(lines::CHDIR_CALL);
    PyObject* chdir_args[] = {path_char.get()};
    OwnedRef result = library.call("chdir", chdir_args, 1);
    return PyBool_FromLong(result_is(result.get(), 0));
}

// The library could not tell the directory (it may have been removed): the
// error number cffi saved, or a plain OSError when the buffer layer keeps none.
[[noreturn]] void raise_getcwd_failed(Library& library) {
    PyObject* saved = PyObject_GetAttrString(library.ffi(), "errno");
    if (saved == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyError();
        PyErr_Clear();
        raise(PyExc_OSError, "getcwd failed");
    }
    OwnedRef held = OwnedRef::steal(saved);
    const long code = PyLong_AsLong(saved);
    if (code == -1 && PyErr_Occurred()) throw PyError();
    errno = static_cast<int>(code);
    PyErr_SetFromErrno(PyExc_OSError);
    throw PyError();
}

PyObject* getcwd_body(Call& call, PyObject* const*) {
    Library library(call);
    call.at(lines::GETCWD_CALL);
    OwnedRef null = library.null();
    OwnedRef zero = OwnedRef::checked(PyLong_FromLong(0));
    PyObject* getcwd_args[] = {null.get(), zero.get()};
    OwnedRef cwd = library.call("getcwd", getcwd_args, 2);
    if (check_status(PyObject_RichCompareBool(cwd.get(), null.get(), Py_EQ))) raise_getcwd_failed(library);
    call.at(lines::GETCWD_STRING);
    PyObject* free_args[] = {cwd.get()};
    OwnedRef result;
    try {
        result = OwnedRef::checked(PyUnicode_FromEncodedObject(library.string(cwd.get()).get(), "utf-8", "strict"));
    } catch (const PyError&) {
        // The library's string is released on the failure path too; its error is kept.
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyObject* freed = PyObject_CallMethod(library.lib(), "free", "O", cwd.get());
        Py_XDECREF(freed);
        PyErr_Clear();
        PyErr_Restore(type, value, tb);
        throw;
    }
    call.at(lines::GETCWD_FREE);
    library.call("free", free_args, 1);
    return result.release();
}

const Param SHA1_PARAMS[] = {{"message", "bytes", TypeCheck::Bytes}};
const char* const SHA1_LOCALS[] = {"message_len", "message_char", "digest_length", "digest_value", "i"};
const Param BASE64_PARAMS[] = {{"cipher_txt", "bytes", TypeCheck::Bytes}};
const char* const BASE64_LOCALS[] = {"cipher_len", "cipher_txt_char", "content_len", "content_char", "i"};
const Param CHDIR_PARAMS[] = {{"path", "unicode", TypeCheck::Unicode}};
const char* const CHDIR_LOCALS[] = {"path_char"};
const char* const GETCWD_LOCALS[] = {"cwd", "result"};

const FunctionSpec SHA1_FUNCTION = {
    "sha1", lines::SHA1, CallForm::OneArg, SHA1_PARAMS, 1, "unicode", SHA1_LOCALS, 5,
    "calculate sha1(internally used)\n\n    :return: calculated sha1\n    ", sha1_body};

const FunctionSpec BASE64_DECODE = {
    "base64_decode", lines::BASE64_DECODE, CallForm::OneArg, BASE64_PARAMS, 1, "bytes", BASE64_LOCALS, 5,
    "decode base64(internally used)\n\n    :return: decoded value\n    ", base64_decode_body};

const FunctionSpec CHDIR = {
    "chdir", lines::CHDIR, CallForm::OneArg, CHDIR_PARAMS, 1, "bool", CHDIR_LOCALS, 1,
    "change current directory(internally used)\n\n    :return: Upon successful completion, True returned, "
    "False on Failure.\n    ",
    chdir_body};

const FunctionSpec GETCWD = {
    "getcwd", lines::GETCWD, CallForm::NoArgs, nullptr, 0, "unicode", GETCWD_LOCALS, 2,
    "get current directory(internally used)\n\n    :return: the current directory.\n    ", getcwd_body};

const FunctionSpec* const HELPERS[] = {&SHA1_FUNCTION, &BASE64_DECODE, &CHDIR, &GETCWD};

}  // namespace

SpecList helper_functions() { return {HELPERS, 4}; }

}  // namespace brantel::ciphers
