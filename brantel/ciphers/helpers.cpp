// The module's four public functions: sha1, base64_decode, chdir, getcwd.
// Thin wrappers over the companion library; buffer conventions in buffers.hpp.
#include "helpers.hpp"

#include "buffers.hpp"

namespace brantel::ciphers {

namespace {

// len(value), failing for None as len() does.
OwnedRef length_of(PyObject* value) {
    Py_ssize_t n = PyObject_Length(value);
    if (n < 0) throw PyError();
    return OwnedRef::checked(PyLong_FromSsize_t(n));
}

// --- sha1 -------------------------------------------------------------------

constexpr OutputRule SHA1_RULE = {"sha1", "unsigned char [20]", 20, 20, "unsigned int *", 2, 3};
constexpr OutputLines SHA1_LINES = {66, 67, 69, 71};
using Sha1Function = int (*)(const unsigned char*, size_t, unsigned char*, unsigned int*);

PyObject* sha1_body(Call& call, PyObject* const* args) {
    PyObject* message = args[0];
    Library library(call);
    OwnedRef digest;
    if (library.native() && message != Py_None) {
        auto sha1 = library.native_function<Sha1Function>("sha1");
        digest = run_native<unsigned int>(
            call, SHA1_RULE, SHA1_LINES,
            [&](unsigned char* out, unsigned int* cell) { return sha1(data_of(message), size_of(message), out, cell); },
            PyExc_ValueError, "Checksum failed!");
    } else {
        call.at(62);
        OwnedRef message_len = length_of(message);
        call.at(63);
        OwnedRef message_char = library.input_buffer(message);
        PyObject* call_args[] = {message_char.get(), message_len.get(), nullptr, nullptr};
        digest = run_with_output(call, library, SHA1_RULE, call_args, 4, SHA1_LINES, PyExc_ValueError,
                                 "Checksum failed!");
    }
    call.at(71);
    return check(PyObject_CallMethod(digest.get(), "hex", nullptr));
}

const Param SHA1_PARAMS[] = {{"message", "bytes", TypeCheck::Bytes}};
const char* const SHA1_LOCALS[] = {"message_len", "message_char", "digest_length", "digest_value", "i"};

// --- base64_decode ----------------------------------------------------------

constexpr OutputRule BASE64_RULE = {"base64_decrypt", "unsigned char [100000]", 100000, 100000, "int *", 0, 1};
constexpr OutputLines BASE64_LINES = {84, 85, 87, 88};
using Base64Function = int (*)(unsigned char*, int*, const unsigned char*, size_t);

PyObject* base64_decode_body(Call& call, PyObject* const* args) {
    PyObject* cipher_txt = args[0];
    Library library(call);
    if (library.native() && cipher_txt != Py_None) {
        auto decode = library.native_function<Base64Function>("base64_decrypt");
        return run_native<int>(
                   call, BASE64_RULE, BASE64_LINES,
                   [&](unsigned char* out, int* cell) {
                       return decode(out, cell, data_of(cipher_txt), size_of(cipher_txt));
                   },
                   PyExc_ValueError, "Checksum failed!")
            .release();
    }
    call.at(80);
    OwnedRef cipher_len = length_of(cipher_txt);
    call.at(81);
    OwnedRef cipher_txt_char = library.input_buffer(cipher_txt);

    PyObject* call_args[] = {nullptr, nullptr, cipher_txt_char.get(), cipher_len.get()};
    return run_with_output(call, library, BASE64_RULE, call_args, 4, BASE64_LINES, PyExc_ValueError,
                           "Checksum failed!")
        .release();
}

const Param BASE64_PARAMS[] = {{"cipher_txt", "bytes", TypeCheck::Bytes}};
const char* const BASE64_LOCALS[] = {"cipher_len", "cipher_txt_char", "content_len", "content_char", "i"};

// --- chdir ------------------------------------------------------------------

PyObject* chdir_body(Call& call, PyObject* const* args) {
    PyObject* path = args[0];
    Library library(call);
    call.at(94);
    // path.encode(): None fails with the interpreter's AttributeError.
    OwnedRef encoded = OwnedRef::checked(PyObject_CallMethod(path, "encode", nullptr));
    OwnedRef path_char = library.input_buffer(encoded.get());
    call.at(95);
    OwnedRef result = library.call("chdir", {path_char.get()});
    return PyBool_FromLong(result_is(result.get(), 0));
}

const Param CHDIR_PARAMS[] = {{"path", "unicode", TypeCheck::Unicode}};
const char* const CHDIR_LOCALS[] = {"path_char"};

// --- getcwd -----------------------------------------------------------------

PyObject* getcwd_body(Call& call, PyObject* const*) {
    Library library(call);
    call.at(103);
    OwnedRef null = library.null();
    OwnedRef zero = OwnedRef::checked(PyLong_FromLong(0));
    OwnedRef cwd = library.call("getcwd", {null.get(), zero.get()});
    if (check_status(PyObject_RichCompareBool(cwd.get(), null.get(), Py_EQ))) {
        // The library could not tell the directory (it may have been removed).
        OwnedRef saved_errno = OwnedRef::checked(PyObject_GetAttrString(library.ffi(), "errno"));
        int code = static_cast<int>(PyLong_AsLong(saved_errno.get()));
        if (code == -1 && PyErr_Occurred()) throw PyError();
        errno = code;
        PyErr_SetFromErrno(PyExc_OSError);
        throw PyError();
    }
    call.at(104);
    OwnedRef result;
    try {
        OwnedRef raw = library.string(cwd.get());
        result = OwnedRef::checked(PyUnicode_FromEncodedObject(raw.get(), "utf-8", "strict"));
    } catch (const PyError&) {
        // The library's string is released on the failure path too.
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyObject* freed = PyObject_CallMethod(library.lib(), "free", "O", cwd.get());
        Py_XDECREF(freed);
        if (freed == nullptr) {
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(tb);
        } else {
            PyErr_Restore(type, value, tb);
        }
        throw;
    }
    call.at(105);
    library.call("free", {cwd.get()});
    return result.release();
}

const char* const GETCWD_LOCALS[] = {"cwd", "result"};

const FunctionSpec SHA1 = {
    "sha1", 55, CallForm::OneArg, SHA1_PARAMS, 1, "unicode", SHA1_LOCALS, 5,
    "calculate sha1(internally used)\n\n    :return: calculated sha1\n    ", sha1_body};

const FunctionSpec BASE64_DECODE = {
    "base64_decode", 73, CallForm::OneArg, BASE64_PARAMS, 1, "bytes", BASE64_LOCALS, 5,
    "decode base64(internally used)\n\n    :return: decoded value\n    ", base64_decode_body};

const FunctionSpec CHDIR = {
    "chdir", 90, CallForm::OneArg, CHDIR_PARAMS, 1, "bool", CHDIR_LOCALS, 1,
    "change current directory(internally used)\n\n    :return: Upon successful completion, True returned, "
    "False on Failure.\n    ",
    chdir_body};

const FunctionSpec GETCWD = {
    "getcwd", 98, CallForm::NoArgs, nullptr, 0, "unicode", GETCWD_LOCALS, 2,
    "get current directory(internally used)\n\n    :return: the current directory.\n    ", getcwd_body};

const FunctionSpec* const HELPERS[] = {&SHA1, &BASE64_DECODE, &CHDIR, &GETCWD};

}  // namespace

SpecList helper_functions() { return {HELPERS, 4}; }

}  // namespace brantel::ciphers
