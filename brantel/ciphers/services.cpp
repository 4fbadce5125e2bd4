// The cipher services: urandom, AES-CBC and AES-GCM encryption and decryption,
// RSA encryption and RSA signature verification. Each is one row of the
// operation table (buffers.cpp) with its signature here.
#include "../toolkit/integers.hpp"
#include "../toolkit/registry.hpp"
#include "buffers.hpp"

namespace brantel::ciphers {

namespace {

constexpr Py_ssize_t KEPT_PLAINTEXT = 12;  // what aes_cbc_decryptor hands back

PyObject* urandom_body(Call& call, PyObject* const* args) {
    call.at(lines::URANDOM);  // converted before anything else, reported at the first line
    const unsigned int n = to_unsigned_int(args[0]);
    return run(call, operation(RANDOM_BUFFER), args, n).release();
}

template <OperationId ID>
PyObject* service_body(Call& call, PyObject* const* args) {
    return run(call, operation(ID), args).release();
}

PyObject* aes_cbc_decryptor_body(Call& call, PyObject* const* args) {
    OwnedRef plaintext = run(call, operation(AES_CBC_DECRYPT), args);
    // Callers only ever see the first 12 bytes of a CBC plaintext.
    call.at(lines::AES_CBC_DECRYPTOR_KEEP);
    if (PyBytes_GET_SIZE(plaintext.get()) <= KEPT_PLAINTEXT) return plaintext.release();
    return check(PyBytes_FromStringAndSize(PyBytes_AS_STRING(plaintext.get()), KEPT_PLAINTEXT));
}

constexpr Param bytes_param(const char* name) { return {name, "bytes", TypeCheck::Bytes}; }

const Param URANDOM_PARAMS[] = {{"num_bytes", "unsigned int", TypeCheck::None}};
const char* const URANDOM_LOCALS[] = {"buffer", "i"};
const Param AES_CBC_DECRYPTOR_PARAMS[] = {bytes_param("aeskey"), bytes_param("nonce_cipher"), bytes_param("cbc_iv")};
const char* const AES_CBC_DECRYPTOR_LOCALS[] = {"aeskey_char", "cbc_iv_char", "nonce_cipher_char",
                                                "nonce_txt", "nonce_len", "i"};
const Param AES_CBC_ENCRYPTOR_PARAMS[] = {bytes_param("aeskey"), bytes_param("nonce"), bytes_param("cbc_iv")};
const char* const AES_CBC_ENCRYPTOR_LOCALS[] = {"aeskey_char", "nonce_txt_char", "cbc_iv_char",
                                                "nonce_cipher", "nonce_cipher_len", "i"};
const Param AES_GCM_ENCRYPTOR_PARAMS[] = {bytes_param("aeskey"), bytes_param("content"), bytes_param("nonce")};
const char* const AES_GCM_ENCRYPTOR_LOCALS[] = {"aeskey_char", "content_char", "nonce_char",
                                                "cipher_txt", "cipher_len", "i"};
const Param AES_GCM_DECRYPTOR_PARAMS[] = {bytes_param("aeskey"), bytes_param("cipher_txt"), bytes_param("nonce")};
const char* const AES_GCM_DECRYPTOR_LOCALS[] = {"aeskey_char", "nonce_char", "cipher_txt_char",
                                                "content", "content_len", "i"};
const Param RSA_ENCRYPTOR_PARAMS[] = {bytes_param("pubkey"), bytes_param("content")};
const char* const RSA_ENCRYPTOR_LOCALS[] = {"pubkey_char", "content_char", "cipher", "cipher_len", "i"};
const Param RSA_VERIFIER_PARAMS[] = {bytes_param("pubkey"), bytes_param("message"), bytes_param("signature")};
const char* const RSA_VERIFIER_LOCALS[] = {"pubkey_char", "msg", "sig"};

const FunctionSpec URANDOM = {
    "urandom", lines::URANDOM, CallForm::OneArg, URANDOM_PARAMS, 1, "bytes", URANDOM_LOCALS, 2, nullptr,
    urandom_body};
const FunctionSpec AES_CBC_DECRYPTOR = {
    "aes_cbc_decryptor", lines::AES_CBC_DECRYPTOR, CallForm::PosOrKw, AES_CBC_DECRYPTOR_PARAMS, 3, "bytes",
    AES_CBC_DECRYPTOR_LOCALS, 6, nullptr, aes_cbc_decryptor_body};
const FunctionSpec AES_CBC_ENCRYPTOR = {
    "aes_cbc_encryptor", lines::AES_CBC_ENCRYPTOR, CallForm::PosOrKw, AES_CBC_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_CBC_ENCRYPTOR_LOCALS, 6, nullptr, service_body<AES_CBC_ENCRYPT>};
const FunctionSpec AES_GCM_ENCRYPTOR = {
    "aes_gcm_encryptor", lines::AES_GCM_ENCRYPTOR, CallForm::PosOrKw, AES_GCM_ENCRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_ENCRYPTOR_LOCALS, 6, nullptr, service_body<AES_GCM_ENCRYPT>};
const FunctionSpec AES_GCM_DECRYPTOR = {
    "aes_gcm_decryptor", lines::AES_GCM_DECRYPTOR, CallForm::PosOrKw, AES_GCM_DECRYPTOR_PARAMS, 3, "bytes",
    AES_GCM_DECRYPTOR_LOCALS, 6, nullptr, service_body<AES_GCM_DECRYPT>};
const FunctionSpec RSA_ENCRYPTOR = {
    "rsa_encryptor", lines::RSA_ENCRYPTOR, CallForm::PosOrKw, RSA_ENCRYPTOR_PARAMS, 2, "bytes",
    RSA_ENCRYPTOR_LOCALS, 5, nullptr, service_body<RSA_ENCRYPT>};
// The "bool" annotation is historical; the result is the library's int.
const FunctionSpec RSA_VERIFIER = {
    "rsa_verifier", lines::RSA_VERIFIER, CallForm::PosOrKw, RSA_VERIFIER_PARAMS, 3, "bool",
    RSA_VERIFIER_LOCALS, 3, nullptr, service_body<RSA_VERIFY>};

const FunctionSpec* const SERVICES[] = {
    &URANDOM, &AES_CBC_DECRYPTOR, &AES_CBC_ENCRYPTOR, &AES_GCM_ENCRYPTOR,
    &AES_GCM_DECRYPTOR, &RSA_ENCRYPTOR, &RSA_VERIFIER,
};

}  // namespace

SpecList published_services() { return {SERVICES, sizeof(SERVICES) / sizeof(SERVICES[0])}; }

}  // namespace brantel::ciphers
