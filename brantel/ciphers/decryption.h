/* brantel's companion cipher library: digest, base64, random bytes, AES and RSA over plain buffers.
 * This header is also the cffi declaration text; the builder drops its preprocessor lines. */
#ifndef BRANTEL_DECRYPTION_H
#define BRANTEL_DECRYPTION_H

#include <stddef.h>

/* Conventions shared by every operation below:
 * - The result is 1 on success and 0 on failure, never anything else.
 * - Output protocol: on entry the length cell holds the capacity of the output buffer.
 *   On success the cell always receives the needed length; the output is written only
 *   when that length fits the capacity, otherwise nothing is written and the caller
 *   calls again with a buffer of the reported size. On failure nothing is written to
 *   the output buffer (aes_gcm_decrypt aside, see there).
 * - No state is kept between calls, nothing stays allocated (but the algorithms, fetched
 *   once per process), and copies of keys or plaintext are cleansed before they are
 *   released.
 * - Safe to call from several threads at once. */

/* SHA-1 of message_len bytes of message; needed length 20. */
int sha1(const unsigned char *message, size_t message_len, unsigned char *digest, unsigned int *digest_len);

/* Decodes in_len bytes of standard-alphabet base64 with required '=' padding; ASCII
 * whitespace is ignored anywhere, any other character is a failure. Non-zero bits left
 * over in the last group are accepted and dropped. The decoded length must fit an int. */
int base64_decrypt(unsigned char *out, int *out_len, const unsigned char *in, size_t in_len);

/* Fills the first n bytes of buf from the library's cryptographic generator. */
int random_buffer(unsigned int n, unsigned char *buf);

/* AES-256-CBC with PKCS#7 padding. key is 32 bytes; iv_len must be 16. Encryption
 * needs plain_len rounded up to the next multiple of 16 (a full block when aligned).
 * Decryption fails on a ciphertext that is not a positive multiple of 16 or on bad
 * padding. */
int aes_cbc_encrypt(const unsigned char *key, const unsigned char *iv, size_t iv_len,
                    const unsigned char *plain, size_t plain_len, unsigned char *out, int *out_len);
int aes_cbc_decrypt(const unsigned char *key, const unsigned char *iv, size_t iv_len,
                    unsigned char *out, int *out_len, const unsigned char *cipher, size_t cipher_len);

/* AES-256-GCM without associated data. key is 32 bytes; the nonce is 1 to 128 bytes.
 * The ciphertext is followed by its 16-byte tag, so encryption needs plain_len + 16 and
 * decryption yields cipher_len - 16 bytes, after the tag has been verified.
 * Decryption into an output that holds them and shares no byte with cipher writes those
 * bytes before the tag is known: when the tag (or anything after the nonce was accepted)
 * fails, they are zero-filled before 0 is returned, so no unverified plaintext is left
 * there. Bytes past them, a smaller output and an overlapping one are never written on
 * failure. */
int aes_gcm_encrypt(const unsigned char *key, const unsigned char *nonce, size_t nonce_len,
                    const unsigned char *plain, size_t plain_len, unsigned char *out, int *out_len);
int aes_gcm_decrypt(const unsigned char *key, const unsigned char *nonce, size_t nonce_len,
                    unsigned char *out, int *out_len, const unsigned char *cipher, size_t cipher_len);

/* RSA public keys are PEM or DER, as SubjectPublicKeyInfo or PKCS#1 RSAPublicKey.
 * rsa_encrypt: RSA-OAEP with SHA-256 and MGF1-SHA-256, empty label; needs the modulus
 * size in bytes. rsa_verify: RSASSA-PKCS1-v1_5 with SHA-256 over msg; 1 means the
 * signature is valid, 0 covers everything else. */
int rsa_encrypt(const unsigned char *pubkey, size_t pubkey_len, const unsigned char *plain, size_t plain_len,
                unsigned char *out, size_t *out_len);
int rsa_verify(const unsigned char *pubkey, size_t pubkey_len, const unsigned char *msg, size_t msg_len,
               const unsigned char *sig, size_t sig_len);

/* libc functions the module reaches through the same binding. The declarations are for
 * the cffi text; a C compiler takes them from the system headers, except on Windows:
 * there the narrow chdir/getcwd use the ANSI code page, so the two names are mapped to
 * versions in decryption.c that take and give UTF-8 through the wide-character calls
 * (getcwd(NULL, 0) allocates with malloc, as POSIX does, for the module's free). */
#if defined(_WIN32) && !defined(BRANTEL_DECRYPTION_CDEF)
#include <stdlib.h>
#define chdir brantel_utf8_chdir
#define getcwd brantel_utf8_getcwd
#endif
#if defined(BRANTEL_DECRYPTION_CDEF) || defined(_WIN32)
int chdir(const char *path);
char *getcwd(char *buf, size_t size);
#endif
#ifdef BRANTEL_DECRYPTION_CDEF
void free(void *ptr);
#elif !defined(_WIN32)
#include <stdlib.h>
#include <unistd.h>
#endif

#endif /* BRANTEL_DECRYPTION_H */
