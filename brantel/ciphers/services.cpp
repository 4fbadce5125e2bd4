// The cipher services: urandom, AES-CBC and AES-GCM encryption and decryption,
// RSA encryption and RSA signature verification over the companion library.
// Buffer conventions and the output buffer rule live in buffers.hpp.
#include "../toolkit/integers.hpp"
#include "../toolkit/registry.hpp"
#include "buffers.hpp"

#include <algorithm>
#include <initializer_list>

namespace brantel::ciphers {

namespace {

constexpr Py_ssize_t AES_KEY_SIZE = 32;  // AES-256
constexpr Py_ssize_t CBC_IV_SIZE = 16;   // one AES block
constexpr Py_ssize_t KEPT_PLAINTEXT = 12;  // what aes_cbc_decryptor hands back

// Byte count of an argument whose input buffer has been made (so it is bytes).
OwnedRef byte_count(PyObject* value) {
    Py_ssize_t n = PyBytes_Check(value) ? PyBytes_GET_SIZE(value) : PyObject_Length(value);
    if (n < 0) throw PyError();
    return OwnedRef::checked(PyLong_FromSsize_t(n));
}

// The library takes the AES key without a length and the CBC IV with a fixed
// length of 16, so both are checked here: it must never read past what it was given.
void require_size(PyObject* value, const char* name, Py_ssize_t size) {
    Py_ssize_t n = PyBytes_Check(value) ? PyBytes_GET_SIZE(value) : PyObject_Length(value);
    if (n < 0) throw PyError();
    if (n != size) raise_format(PyExc_ValueError, "%s must be %zd bytes, got %zd", name, size, n);
}

OwnedRef number(Py_ssize_t value) { return OwnedRef::checked(PyLong_FromSsize_t(value)); }  // long is 32-bit on Win64

// Whether every argument is a bytes value, so that a direct call may read them
// in place (None takes the buffer-layer path and fails there as it should).
bool all_bytes(std::initializer_list<PyObject*> values) {
    for (PyObject* value : values)
        if (!PyBytes_Check(value)) return false;
    return true;
}

// Signatures of the companion library's operations: encryptions take their
// input before their output, decryptions their output before their input.
using AesEncrypt = int (*)(const unsigned char*, const unsigned char*, size_t, const unsigned char*, size_t,
                           unsigned char*, int*);
using AesDecrypt = int (*)(const unsigned char*, const unsigned char*, size_t, unsigned char*, int*,
                           const unsigned char*, size_t);
using RsaEncrypt = int (*)(const unsigned char*, size_t, const unsigned char*, size_t, unsigned char*, size_t*);
using RsaVerify = int (*)(const unsigned char*, size_t, const unsigned char*, size_t, const unsigned char*, size_t);

// --- urandom ----------------------------------------------------------------

PyObject* urandom_body(Call& call, PyObject* const* args) {
    call.at(160);  // converted before anything else, reported at the first line
    const unsigned int n = to_unsigned_int(args[0]);
    OwnedRef num_bytes = OwnedRef::checked(PyLong_FromUnsignedLong(n));
    Library library(call);
    if (library.native()) {
        call.at(161);
        OwnedRef buffer = OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n)));
        call.at(162);
        auto random_buffer = library.native_function<int (*)(unsigned int, unsigned char*)>("random_buffer");
        if (random_buffer(n, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(buffer.get()))) != 1) {
            call.at(163);
            raise(PyExc_OSError, "get random number failed!");
        }
        return buffer.release();
    }
    call.at(161);
    OwnedRef buffer = library.zeroed_buffer(static_cast<Py_ssize_t>(n));
    call.at(162);
    OwnedRef result = library.call("random_buffer", {num_bytes.get(), buffer.get()});
    if (!result_is(result.get(), 1)) {
        call.at(163);
        raise(PyExc_OSError, "get random number failed!");
    }
    call.at(164);
    return library.bytes_of(buffer.get(), static_cast<Py_ssize_t>(n), num_bytes.get(), "random_buffer")
        .release();
}

const Param URANDOM_PARAMS[] = {{"num_bytes", "unsigned int", TypeCheck::None}};
const char* const URANDOM_LOCALS[] = {"buffer", "i"};

// --- The four AES services ----------------------------------------------------
// They differ only in data: which parameter is the key, the data and the IV or
// nonce, the order their input buffers are made in, whether the IV length is
// fixed, the operation with its output rule, and the source lines.

enum AesArgument { KEY, DATA, IV };

struct AesService {
    int param_of[3];           // parameter index of the key, the data, the IV/nonce
    AesArgument buffer_order[3];  // the order the input buffers are made in
    int buffer_lines[3];
    bool encrypts;             // plaintext in, ciphertext out (else the reverse)
    bool fixed_iv;             // CBC: the IV is 16 bytes and passed as 16
    int key_check_line;
    int iv_check_line;         // CBC only
    int lengths_line;          // the length arguments and the output buffer
    OutputRule rule;
    OutputLines lines;
    const char* failure;
    int keep_line;             // > 0: hand back at most the first 12 bytes (CBC decryption)
};

// Mirrors the IV lengths the library sees: 16 for CBC, the nonce's own for GCM.
Py_ssize_t iv_length(const AesService& s, PyObject* iv) {
    return s.fixed_iv ? CBC_IV_SIZE : PyBytes_GET_SIZE(iv);
}

// The AES key reaches the library without a length and the CBC IV with a fixed
// length of 16, so both are checked first: the library must never read past
// what it was given.
void check_sizes(Call& call, const AesService& s, PyObject* key, PyObject* iv) {
    call.at(s.key_check_line);
    require_size(key, "aeskey", AES_KEY_SIZE);
    if (s.fixed_iv) {
        call.at(s.iv_check_line);
        require_size(iv, "cbc_iv", CBC_IV_SIZE);
    }
}

// Calls the operation directly, reading the arguments in place.
OwnedRef run_aes_native(Call& call, Library& library, const AesService& s, PyObject* key, PyObject* data,
                        PyObject* iv) {
    const size_t iv_len = static_cast<size_t>(iv_length(s, iv));
    if (s.encrypts) {
        auto encrypt = library.native_function<AesEncrypt>(s.rule.operation);
        return run_native<int>(
            call, s.rule, s.lines,
            [&](unsigned char* out, int* cell) {
                return encrypt(data_of(key), data_of(iv), iv_len, data_of(data), size_of(data), out, cell);
            },
            PyExc_ValueError, s.failure);
    }
    auto decrypt = library.native_function<AesDecrypt>(s.rule.operation);
    return run_native<int>(
        call, s.rule, s.lines,
        [&](unsigned char* out, int* cell) {
            return decrypt(data_of(key), data_of(iv), iv_len, out, cell, data_of(data), size_of(data));
        },
        PyExc_ValueError, s.failure);
}

// Calls the operation through the buffer layer: fresh input buffers, in order.
OwnedRef run_aes_buffers(Call& call, Library& library, const AesService& s, PyObject* const* value) {
    OwnedRef buffer[3];
    for (int k = 0; k < 3; ++k) {
        const AesArgument which = s.buffer_order[k];
        call.at(s.buffer_lines[k]);
        buffer[which] = library.input_buffer(value[which]);
    }
    check_sizes(call, s, value[KEY], value[IV]);

    call.at(s.lengths_line);
    OwnedRef iv_len = number(iv_length(s, value[IV]));
    OwnedRef data_len = byte_count(value[DATA]);
    PyObject* key = buffer[KEY].get();
    PyObject* iv = buffer[IV].get();
    PyObject* data = buffer[DATA].get();
    PyObject* args[7];
    if (s.encrypts) {
        PyObject* in_order[] = {key, iv, iv_len.get(), data, data_len.get(), nullptr, nullptr};
        std::copy(in_order, in_order + 7, args);
    } else {
        PyObject* in_order[] = {key, iv, iv_len.get(), nullptr, nullptr, data, data_len.get()};
        std::copy(in_order, in_order + 7, args);
    }
    return run_with_output(call, library, s.rule, args, 7, s.lines, PyExc_ValueError, s.failure);
}

template <const AesService& S>
PyObject* aes_body(Call& call, PyObject* const* args) {
    PyObject* const value[3] = {args[S.param_of[KEY]], args[S.param_of[DATA]], args[S.param_of[IV]]};
    Library library(call);
    OwnedRef result;
    if (library.native() && all_bytes({value[KEY], value[DATA], value[IV]})) {
        check_sizes(call, S, value[KEY], value[IV]);
        result = run_aes_native(call, library, S, value[KEY], value[DATA], value[IV]);
    } else {
        result = run_aes_buffers(call, library, S, value);
    }
    if (S.keep_line > 0) {
        // Callers only ever see the first 12 bytes of a CBC plaintext.
        call.at(S.keep_line);
        if (PyBytes_GET_SIZE(result.get()) > KEPT_PLAINTEXT)
            return check(PyBytes_FromStringAndSize(PyBytes_AS_STRING(result.get()), KEPT_PLAINTEXT));
    }
    return result.release();
}

// T is 16, not 1000, for CBC decryption: any plaintext longer than one block is
// decrypted a second time into an exact-size buffer.
constexpr AesService AES_CBC_DECRYPT = {
    {0, 1, 2}, {KEY, IV, DATA}, {167, 168, 169}, false, true, 170, 172, 174,
    {"aes_cbc_decrypt", "unsigned char [1000]", 1000, 16, "int *", 3, 4}, {176, 177, 179, 183},
    "AES-CBC decryption failed!", 184};
constexpr AesService AES_CBC_ENCRYPT = {
    {0, 1, 2}, {KEY, DATA, IV}, {194, 195, 196}, true, true, 197, 199, 201,
    {"aes_cbc_encrypt", "unsigned char [1000]", 1000, 1000, "int *", 5, 6}, {203, 204, 206, 210},
    "AES-CBC encryption failed!", 0};
constexpr AesService AES_GCM_ENCRYPT = {
    {0, 1, 2}, {KEY, DATA, IV}, {215, 216, 217}, true, false, 218, 0, 220,
    {"aes_gcm_encrypt", "unsigned char [100000]", 100000, 100000, "int *", 5, 6}, {222, 223, 225, 229},
    "AES-GCM encryption failed!", 0};
constexpr AesService AES_GCM_DECRYPT = {
    {0, 1, 2}, {KEY, IV, DATA}, {233, 234, 235}, false, false, 236, 0, 238,
    {"aes_gcm_decrypt", "unsigned char [100000]", 100000, 100000, "int *", 3, 4}, {240, 241, 243, 247},
    "AES-GCM decryption failed!", 0};

const Param AES_CBC_DECRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"nonce_cipher", "bytes", TypeCheck::Bytes},
    {"cbc_iv", "bytes", TypeCheck::Bytes},
};
const char* const AES_CBC_DECRYPTOR_LOCALS[] = {"aeskey_char", "cbc_iv_char", "nonce_cipher_char",
                                                "nonce_txt", "nonce_len", "i"};
const Param AES_CBC_ENCRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
    {"cbc_iv", "bytes", TypeCheck::Bytes},
};
const char* const AES_CBC_ENCRYPTOR_LOCALS[] = {"aeskey_char", "nonce_txt_char", "cbc_iv_char",
                                                "nonce_cipher", "nonce_cipher_len", "i"};
const Param AES_GCM_ENCRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"content", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
};
const char* const AES_GCM_ENCRYPTOR_LOCALS[] = {"aeskey_char", "content_char", "nonce_char",
                                                "cipher_txt", "cipher_len", "i"};
const Param AES_GCM_DECRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"cipher_txt", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
};
const char* const AES_GCM_DECRYPTOR_LOCALS[] = {"aeskey_char", "nonce_char", "cipher_txt_char",
                                                "content", "content_len", "i"};

// --- rsa_encryptor ----------------------------------------------------------

constexpr OutputRule RSA_ENCRYPT_RULE = {"rsa_encrypt", "unsigned char [1000]", 1000, 1000, "size_t *", 4, 5};
constexpr OutputLines RSA_ENCRYPT_LINES = {257, 258, 260, 264};

PyObject* rsa_encryptor_body(Call& call, PyObject* const* args) {
    PyObject* pubkey = args[0];
    PyObject* content = args[1];
    Library library(call);
    if (library.native() && all_bytes({pubkey, content})) {
        auto encrypt = library.native_function<RsaEncrypt>("rsa_encrypt");
        return run_native<size_t>(
                   call, RSA_ENCRYPT_RULE, RSA_ENCRYPT_LINES,
                   [&](unsigned char* out, size_t* cell) {
                       return encrypt(data_of(pubkey), size_of(pubkey), data_of(content), size_of(content), out, cell);
                   },
                   PyExc_ValueError, "RSA encryption failed!")
            .release();
    }
    call.at(252);
    OwnedRef pubkey_char = library.input_buffer(pubkey);
    call.at(253);
    OwnedRef content_char = library.input_buffer(content);

    call.at(255);
    OwnedRef pubkey_len = byte_count(pubkey);
    OwnedRef content_len = byte_count(content);
    PyObject* call_args[] = {pubkey_char.get(), pubkey_len.get(), content_char.get(), content_len.get(),
                             nullptr, nullptr};
    return run_with_output(call, library, RSA_ENCRYPT_RULE, call_args, 6, RSA_ENCRYPT_LINES, PyExc_ValueError,
                           "RSA encryption failed!")
        .release();
}

const Param RSA_ENCRYPTOR_PARAMS[] = {
    {"pubkey", "bytes", TypeCheck::Bytes},
    {"content", "bytes", TypeCheck::Bytes},
};
const char* const RSA_ENCRYPTOR_LOCALS[] = {"pubkey_char", "content_char", "cipher", "cipher_len", "i"};

// --- rsa_verifier -----------------------------------------------------------

PyObject* rsa_verifier_body(Call& call, PyObject* const* args) {
    PyObject* pubkey = args[0];
    PyObject* message = args[1];
    PyObject* signature = args[2];
    Library library(call);
    if (library.native() && all_bytes({pubkey, message, signature})) {
        call.at(273);
        auto verify = library.native_function<RsaVerify>("rsa_verify");
        return PyLong_FromLong(verify(data_of(pubkey), size_of(pubkey), data_of(message), size_of(message),
                                      data_of(signature), size_of(signature)));
    }
    call.at(270);
    OwnedRef pubkey_char = library.input_buffer(pubkey);
    call.at(271);
    OwnedRef msg = library.input_buffer(message);
    call.at(272);
    OwnedRef sig = library.input_buffer(signature);

    call.at(273);
    OwnedRef pubkey_len = byte_count(pubkey);
    OwnedRef msg_len = byte_count(message);
    OwnedRef sig_len = byte_count(signature);
    // Handed back as the library returns it (1 valid, 0 anything else), not
    // converted to bool: callers may compare it with 1.
    return library
        .call("rsa_verify",
              {pubkey_char.get(), pubkey_len.get(), msg.get(), msg_len.get(), sig.get(), sig_len.get()})
        .release();
}

const Param RSA_VERIFIER_PARAMS[] = {
    {"pubkey", "bytes", TypeCheck::Bytes},
    {"message", "bytes", TypeCheck::Bytes},
    {"signature", "bytes", TypeCheck::Bytes},
};
const char* const RSA_VERIFIER_LOCALS[] = {"pubkey_char", "msg", "sig"};

// --- The published descriptions ---------------------------------------------

const FunctionSpec URANDOM = {
    "urandom", 160, CallForm::OneArg, URANDOM_PARAMS, 1, "bytes", URANDOM_LOCALS, 2, nullptr, urandom_body};

const FunctionSpec AES_CBC_DECRYPTOR = {
    "aes_cbc_decryptor", 166, CallForm::PosOrKw, AES_CBC_DECRYPTOR_PARAMS, 3, "bytes",
    AES_CBC_DECRYPTOR_LOCALS, 6, nullptr, aes_body<AES_CBC_DECRYPT>};

const FunctionSpec AES_CBC_ENCRYPTOR = {
    "aes_cbc_encryptor", 193, CallForm::PosOrKw, AES_CBC_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_CBC_ENCRYPTOR_LOCALS, 6, nullptr, aes_body<AES_CBC_ENCRYPT>};

const FunctionSpec AES_GCM_ENCRYPTOR = {
    "aes_gcm_encryptor", 214, CallForm::PosOrKw, AES_GCM_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_ENCRYPTOR_LOCALS, 6, nullptr, aes_body<AES_GCM_ENCRYPT>};

const FunctionSpec AES_GCM_DECRYPTOR = {
    "aes_gcm_decryptor", 232, CallForm::PosOrKw, AES_GCM_DECRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_DECRYPTOR_LOCALS, 6, nullptr, aes_body<AES_GCM_DECRYPT>};

const FunctionSpec RSA_ENCRYPTOR = {
    "rsa_encryptor", 251, CallForm::PosOrKw, RSA_ENCRYPTOR_PARAMS, 2, "bytes",
    RSA_ENCRYPTOR_LOCALS, 5, nullptr, rsa_encryptor_body};

// The "bool" annotation is historical; the result is the library's int.
const FunctionSpec RSA_VERIFIER = {
    "rsa_verifier", 269, CallForm::PosOrKw, RSA_VERIFIER_PARAMS, 3, "bool",
    RSA_VERIFIER_LOCALS, 3, nullptr, rsa_verifier_body};

const FunctionSpec* const SERVICES[] = {
    &URANDOM, &AES_CBC_DECRYPTOR, &AES_CBC_ENCRYPTOR, &AES_GCM_ENCRYPTOR,
    &AES_GCM_DECRYPTOR, &RSA_ENCRYPTOR, &RSA_VERIFIER,
};

}  // namespace

SpecList published_services() { return {SERVICES, sizeof(SERVICES) / sizeof(SERVICES[0])}; }

}  // namespace brantel::ciphers
