// The cipher services: urandom, AES-CBC and AES-GCM encryption and decryption,
// RSA encryption and RSA signature verification over the companion library.
// Buffer conventions and the output buffer rule live in buffers.hpp.
#include "../toolkit/integers.hpp"
#include "../toolkit/registry.hpp"
#include "buffers.hpp"

#include <initializer_list>
#include <utility>

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

OwnedRef number(long value) { return OwnedRef::checked(PyLong_FromLong(value)); }

// Whether every argument is a bytes value, so that a direct call may read them
// in place (None takes the buffer-layer path and fails there as it should).
bool all_bytes(std::initializer_list<PyObject*> values) {
    for (PyObject* value : values)
        if (!PyBytes_Check(value)) return false;
    return true;
}

// Signatures of the companion library's AES operations: encryptions take
// their input before their output, decryptions their output before their input.
using AesEncrypt = int (*)(const unsigned char*, const unsigned char*, size_t, const unsigned char*, size_t,
                           unsigned char*, int*);
using AesDecrypt = int (*)(const unsigned char*, const unsigned char*, size_t, unsigned char*, int*,
                           const unsigned char*, size_t);
using RsaEncrypt = int (*)(const unsigned char*, size_t, const unsigned char*, size_t, unsigned char*, size_t*);
using RsaVerify = int (*)(const unsigned char*, size_t, const unsigned char*, size_t, const unsigned char*, size_t);

// An AES encryption called directly: key, IV or nonce, then the plaintext.
OwnedRef native_encrypt(Call& call, Library& library, const OutputRule& rule, const OutputLines& lines,
                        PyObject* key, PyObject* iv, size_t iv_len, PyObject* plain, const char* failure) {
    auto encrypt = library.native_function<AesEncrypt>(rule.operation);
    return run_native<int>(
        call, rule, lines,
        [&](unsigned char* out, int* cell) {
            return encrypt(data_of(key), data_of(iv), iv_len, data_of(plain), size_of(plain), out, cell);
        },
        PyExc_ValueError, failure);
}

// An AES decryption called directly: key, IV or nonce, then the ciphertext.
OwnedRef native_decrypt(Call& call, Library& library, const OutputRule& rule, const OutputLines& lines,
                        PyObject* key, PyObject* iv, size_t iv_len, PyObject* cipher, const char* failure) {
    auto decrypt = library.native_function<AesDecrypt>(rule.operation);
    return run_native<int>(
        call, rule, lines,
        [&](unsigned char* out, int* cell) {
            return decrypt(data_of(key), data_of(iv), iv_len, out, cell, data_of(cipher), size_of(cipher));
        },
        PyExc_ValueError, failure);
}

constexpr OutputRule CBC_DECRYPT_RULE = {"aes_cbc_decrypt", "unsigned char [1000]", 1000, 16, "int *", 3, 4};
constexpr OutputLines CBC_DECRYPT_LINES = {176, 177, 179, 183};
constexpr OutputRule CBC_ENCRYPT_RULE = {"aes_cbc_encrypt", "unsigned char [1000]", 1000, 1000, "int *", 5, 6};
constexpr OutputLines CBC_ENCRYPT_LINES = {203, 204, 206, 210};
constexpr OutputRule GCM_ENCRYPT_RULE = {"aes_gcm_encrypt", "unsigned char [100000]", 100000, 100000, "int *", 5, 6};
constexpr OutputLines GCM_ENCRYPT_LINES = {222, 223, 225, 229};
constexpr OutputRule GCM_DECRYPT_RULE = {"aes_gcm_decrypt", "unsigned char [100000]", 100000, 100000, "int *", 3, 4};
constexpr OutputLines GCM_DECRYPT_LINES = {240, 241, 243, 247};
constexpr OutputRule RSA_ENCRYPT_RULE = {"rsa_encrypt", "unsigned char [1000]", 1000, 1000, "size_t *", 4, 5};
constexpr OutputLines RSA_ENCRYPT_LINES = {257, 258, 260, 264};

// aes_cbc_decryptor hands back at most the first 12 bytes.
PyObject* kept_plaintext(OwnedRef plaintext) {
    if (PyBytes_GET_SIZE(plaintext.get()) <= KEPT_PLAINTEXT) return plaintext.release();
    return check(PyBytes_FromStringAndSize(PyBytes_AS_STRING(plaintext.get()), KEPT_PLAINTEXT));
}

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

// --- aes_cbc_decryptor ------------------------------------------------------

PyObject* aes_cbc_decryptor_body(Call& call, PyObject* const* args) {
    PyObject* aeskey = args[0];
    PyObject* nonce_cipher = args[1];
    PyObject* cbc_iv = args[2];
    Library library(call);
    if (library.native() && all_bytes({aeskey, nonce_cipher, cbc_iv})) {
        call.at(170);
        require_size(aeskey, "aeskey", AES_KEY_SIZE);
        call.at(172);
        require_size(cbc_iv, "cbc_iv", CBC_IV_SIZE);
        OwnedRef plaintext = native_decrypt(call, library, CBC_DECRYPT_RULE, CBC_DECRYPT_LINES, aeskey, cbc_iv,
                                            CBC_IV_SIZE, nonce_cipher, "AES-CBC decryption failed!");
        call.at(184);
        return kept_plaintext(std::move(plaintext));
    }
    call.at(167);
    OwnedRef aeskey_char = library.input_buffer(aeskey);
    call.at(168);
    OwnedRef cbc_iv_char = library.input_buffer(cbc_iv);
    call.at(169);
    OwnedRef nonce_cipher_char = library.input_buffer(nonce_cipher);
    call.at(170);
    require_size(aeskey, "aeskey", AES_KEY_SIZE);
    call.at(172);
    require_size(cbc_iv, "cbc_iv", CBC_IV_SIZE);

    call.at(174);
    OwnedRef iv_len = number(CBC_IV_SIZE);
    OwnedRef cipher_len = byte_count(nonce_cipher);
    PyObject* call_args[] = {aeskey_char.get(), cbc_iv_char.get(), iv_len.get(), nullptr, nullptr,
                             nonce_cipher_char.get(), cipher_len.get()};
    // T is 16, not 1000: any plaintext longer than one block is decrypted a
    // second time into an exact-size buffer. Callers only ever see 12 bytes.
    OwnedRef nonce_txt = run_with_output(call, library, CBC_DECRYPT_RULE, call_args, 7, CBC_DECRYPT_LINES,
                                         PyExc_ValueError, "AES-CBC decryption failed!");
    call.at(184);
    return kept_plaintext(std::move(nonce_txt));
}

const Param AES_CBC_DECRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"nonce_cipher", "bytes", TypeCheck::Bytes},
    {"cbc_iv", "bytes", TypeCheck::Bytes},
};
const char* const AES_CBC_DECRYPTOR_LOCALS[] = {"aeskey_char", "cbc_iv_char", "nonce_cipher_char",
                                                "nonce_txt", "nonce_len", "i"};

// --- aes_cbc_encryptor ------------------------------------------------------

PyObject* aes_cbc_encryptor_body(Call& call, PyObject* const* args) {
    PyObject* aeskey = args[0];
    PyObject* nonce = args[1];
    PyObject* cbc_iv = args[2];
    Library library(call);
    if (library.native() && all_bytes({aeskey, nonce, cbc_iv})) {
        call.at(197);
        require_size(aeskey, "aeskey", AES_KEY_SIZE);
        call.at(199);
        require_size(cbc_iv, "cbc_iv", CBC_IV_SIZE);
        return native_encrypt(call, library, CBC_ENCRYPT_RULE, CBC_ENCRYPT_LINES, aeskey, cbc_iv, CBC_IV_SIZE, nonce,
                              "AES-CBC encryption failed!")
            .release();
    }
    call.at(194);
    OwnedRef aeskey_char = library.input_buffer(aeskey);
    call.at(195);
    OwnedRef nonce_txt_char = library.input_buffer(nonce);
    call.at(196);
    OwnedRef cbc_iv_char = library.input_buffer(cbc_iv);
    call.at(197);
    require_size(aeskey, "aeskey", AES_KEY_SIZE);
    call.at(199);
    require_size(cbc_iv, "cbc_iv", CBC_IV_SIZE);

    call.at(201);
    OwnedRef iv_len = number(CBC_IV_SIZE);
    OwnedRef nonce_len = byte_count(nonce);
    PyObject* call_args[] = {aeskey_char.get(), cbc_iv_char.get(), iv_len.get(), nonce_txt_char.get(),
                             nonce_len.get(), nullptr, nullptr};
    return run_with_output(call, library, CBC_ENCRYPT_RULE, call_args, 7, CBC_ENCRYPT_LINES, PyExc_ValueError,
                           "AES-CBC encryption failed!")
        .release();
}

const Param AES_CBC_ENCRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
    {"cbc_iv", "bytes", TypeCheck::Bytes},
};
const char* const AES_CBC_ENCRYPTOR_LOCALS[] = {"aeskey_char", "nonce_txt_char", "cbc_iv_char",
                                                "nonce_cipher", "nonce_cipher_len", "i"};

// --- aes_gcm_encryptor ------------------------------------------------------

PyObject* aes_gcm_encryptor_body(Call& call, PyObject* const* args) {
    PyObject* aeskey = args[0];
    PyObject* content = args[1];
    PyObject* nonce = args[2];
    Library library(call);
    if (library.native() && all_bytes({aeskey, content, nonce})) {
        call.at(218);
        require_size(aeskey, "aeskey", AES_KEY_SIZE);
        return native_encrypt(call, library, GCM_ENCRYPT_RULE, GCM_ENCRYPT_LINES, aeskey, nonce, size_of(nonce),
                              content, "AES-GCM encryption failed!")
            .release();
    }
    call.at(215);
    OwnedRef aeskey_char = library.input_buffer(aeskey);
    call.at(216);
    OwnedRef content_char = library.input_buffer(content);
    call.at(217);
    OwnedRef nonce_char = library.input_buffer(nonce);
    call.at(218);
    require_size(aeskey, "aeskey", AES_KEY_SIZE);

    call.at(220);
    OwnedRef nonce_len = byte_count(nonce);
    OwnedRef content_len = byte_count(content);
    PyObject* call_args[] = {aeskey_char.get(), nonce_char.get(), nonce_len.get(), content_char.get(),
                             content_len.get(), nullptr, nullptr};
    return run_with_output(call, library, GCM_ENCRYPT_RULE, call_args, 7, GCM_ENCRYPT_LINES, PyExc_ValueError,
                           "AES-GCM encryption failed!")
        .release();
}

const Param AES_GCM_ENCRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"content", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
};
const char* const AES_GCM_ENCRYPTOR_LOCALS[] = {"aeskey_char", "content_char", "nonce_char",
                                                "cipher_txt", "cipher_len", "i"};

// --- aes_gcm_decryptor ------------------------------------------------------

PyObject* aes_gcm_decryptor_body(Call& call, PyObject* const* args) {
    PyObject* aeskey = args[0];
    PyObject* cipher_txt = args[1];
    PyObject* nonce = args[2];
    Library library(call);
    if (library.native() && all_bytes({aeskey, cipher_txt, nonce})) {
        call.at(236);
        require_size(aeskey, "aeskey", AES_KEY_SIZE);
        return native_decrypt(call, library, GCM_DECRYPT_RULE, GCM_DECRYPT_LINES, aeskey, nonce, size_of(nonce),
                              cipher_txt, "AES-GCM decryption failed!")
            .release();
    }
    call.at(233);
    OwnedRef aeskey_char = library.input_buffer(aeskey);
    call.at(234);
    OwnedRef nonce_char = library.input_buffer(nonce);
    call.at(235);
    OwnedRef cipher_txt_char = library.input_buffer(cipher_txt);
    call.at(236);
    require_size(aeskey, "aeskey", AES_KEY_SIZE);

    call.at(238);
    OwnedRef nonce_len = byte_count(nonce);
    OwnedRef cipher_len = byte_count(cipher_txt);
    PyObject* call_args[] = {aeskey_char.get(), nonce_char.get(), nonce_len.get(), nullptr, nullptr,
                             cipher_txt_char.get(), cipher_len.get()};
    return run_with_output(call, library, GCM_DECRYPT_RULE, call_args, 7, GCM_DECRYPT_LINES, PyExc_ValueError,
                           "AES-GCM decryption failed!")
        .release();
}

const Param AES_GCM_DECRYPTOR_PARAMS[] = {
    {"aeskey", "bytes", TypeCheck::Bytes},
    {"cipher_txt", "bytes", TypeCheck::Bytes},
    {"nonce", "bytes", TypeCheck::Bytes},
};
const char* const AES_GCM_DECRYPTOR_LOCALS[] = {"aeskey_char", "nonce_char", "cipher_txt_char",
                                                "content", "content_len", "i"};

// --- rsa_encryptor ----------------------------------------------------------

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
    AES_CBC_DECRYPTOR_LOCALS, 6, nullptr, aes_cbc_decryptor_body};

const FunctionSpec AES_CBC_ENCRYPTOR = {
    "aes_cbc_encryptor", 193, CallForm::PosOrKw, AES_CBC_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_CBC_ENCRYPTOR_LOCALS, 6, nullptr, aes_cbc_encryptor_body};

const FunctionSpec AES_GCM_ENCRYPTOR = {
    "aes_gcm_encryptor", 214, CallForm::PosOrKw, AES_GCM_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_ENCRYPTOR_LOCALS, 6, nullptr, aes_gcm_encryptor_body};

const FunctionSpec AES_GCM_DECRYPTOR = {
    "aes_gcm_decryptor", 232, CallForm::PosOrKw, AES_GCM_DECRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_DECRYPTOR_LOCALS, 6, nullptr, aes_gcm_decryptor_body};

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
