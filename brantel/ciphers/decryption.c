/* brantel's companion cipher library: SHA-1, base64, random bytes, AES-256-CBC/GCM and RSA
 * encryption and verification on OpenSSL 3.0's EVP interfaces, reached from Python through cffi. */

/* Interfaces deprecated in OpenSSL 3.0 stay out of reach of this file. */
#define OPENSSL_API_COMPAT 30000

#include "decryption.h"

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

enum {
    AES_KEY_LEN = 32,
    AES_BLOCK_LEN = 16,
    CBC_IV_LEN = 16,
    GCM_TAG_LEN = 16
};

/* EVP update calls take int lengths; longer inputs are fed in pieces of this size. */
#define UPDATE_CHUNK ((size_t)1 << 30)

/* Stands in for a null pointer with a zero length, which some OpenSSL calls refuse. */
static const unsigned char EMPTY[1];

/* --- Failure and argument helpers --- */

/* The one exit for every failure: drains the thread's OpenSSL error queue so that no error
 * state reaches later calls, and returns 0. */
static int fail(void)
{
    ERR_clear_error();
    return 0;
}

/* True for a missing buffer that is said to hold bytes. */
static int bad_span(const void *p, size_t len)
{
    return p == NULL && len != 0;
}

/* The capacity an int length cell holds on entry; a negative one holds nothing. */
static size_t int_capacity(const int *cell)
{
    return *cell > 0 ? (size_t)*cell : 0;
}

/* --- Algorithms, fetched once --- */

/* OpenSSL 3 looks an implicit EVP_sha1() or EVP_aes_256_gcm() up in its provider tables
 * on every use, which costs more than hashing or sealing a few bytes. Each algorithm is
 * fetched once for the process instead; CRYPTO_THREAD_run_once makes every thread that
 * arrives first wait for that one fetch (the library never calls back into Python, so
 * the wait cannot hold up an import). The fetched objects are kept until exit. Should a
 * fetch fail, the implicit form is used as before. */
static CRYPTO_ONCE fetch_once = CRYPTO_ONCE_STATIC_INIT;
static EVP_MD *sha1_md;
static EVP_CIPHER *aes_cbc_cipher, *aes_gcm_cipher;

static void fetch_algorithms(void)
{
    sha1_md = EVP_MD_fetch(NULL, "SHA1", NULL);
    aes_cbc_cipher = EVP_CIPHER_fetch(NULL, "AES-256-CBC", NULL);
    aes_gcm_cipher = EVP_CIPHER_fetch(NULL, "AES-256-GCM", NULL);
    ERR_clear_error();
}

static const EVP_MD *sha1_algorithm(void)
{
    return CRYPTO_THREAD_run_once(&fetch_once, fetch_algorithms) && sha1_md != NULL ? sha1_md : EVP_sha1();
}

static const EVP_CIPHER *aes_cbc_algorithm(void)
{
    return CRYPTO_THREAD_run_once(&fetch_once, fetch_algorithms) && aes_cbc_cipher != NULL ? aes_cbc_cipher
                                                                                         : EVP_aes_256_cbc();
}

static const EVP_CIPHER *aes_gcm_algorithm(void)
{
    return CRYPTO_THREAD_run_once(&fetch_once, fetch_algorithms) && aes_gcm_cipher != NULL ? aes_gcm_cipher
                                                                                         : EVP_aes_256_gcm();
}

/* --- SHA-1 --- */

int sha1(const unsigned char *message, size_t message_len, unsigned char *digest, unsigned int *digest_len)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int md_len = 0;
    unsigned int capacity;

    if (bad_span(message, message_len) || digest_len == NULL)
        return fail();
    capacity = *digest_len;
    if (bad_span(digest, capacity))
        return fail();
    if (!EVP_Digest(message != NULL ? message : EMPTY, message_len, md, &md_len, sha1_algorithm(), NULL))
        return fail();
    *digest_len = md_len;
    if (md_len <= capacity)
        memcpy(digest, md, md_len);
    return 1;
}

/* --- Base64 --- */

/* Decoding table: letters map to their values 0..63; the other classes set the top bits,
 * so OR-ing a run of entries shows at once whether all of them are letters. */
enum { WS = 0x40, PD = 0x80, XX = 0xC0, B64_NOT_LETTER = 0xC0 };

static const unsigned char B64_TABLE[256] = {
    XX, XX, XX, XX, XX, XX, XX, XX, XX, WS, WS, WS, WS, WS, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    WS, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, 62, XX, XX, XX, 63,
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, XX, XX, XX, PD, XX, XX,
    XX,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14,
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, XX, XX, XX, XX, XX,
    XX, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
};

/* Validates whitespace-free input whose length is a positive multiple of 4: letters
 * everywhere but the last two places, which may be "x=" or "==" padding instead.
 * Stores the padding count; false sends the input to the general scan. */
static int b64_scan_dense(const unsigned char *in, size_t in_len, size_t *pad)
{
    size_t body = in_len - 2, i;
    unsigned int acc = 0;
    unsigned char c2 = B64_TABLE[in[in_len - 2]], c3 = B64_TABLE[in[in_len - 1]];

    for (i = 0; i < body; i++)
        acc |= B64_TABLE[in[i]];
    if (acc & B64_NOT_LETTER)
        return 0;
    if (c2 < 64 && c3 < 64)
        *pad = 0;
    else if (c2 < 64 && c3 == PD)
        *pad = 1;
    else if (c2 == PD && c3 == PD)
        *pad = 2;
    else
        return 0;
    return 1;
}

/* Validates any input: whitespace skipped, letters then at most two '=' at the very end,
 * a multiple of 4 significant characters. Stores the significant and padding counts. */
static int b64_scan_general(const unsigned char *in, size_t in_len, size_t *significant, size_t *pad)
{
    size_t n = 0, pads = 0, i;

    for (i = 0; i < in_len; i++) {
        unsigned char v = B64_TABLE[in[i]];
        if (v < 64) {
            if (pads != 0)
                return 0;
            n++;
        } else if (v == PD) {
            if (++pads > 2)
                return 0;
            n++;
        } else if (v != WS) {
            return 0;
        }
    }
    if (n % 4 != 0)
        return 0;
    *significant = n;
    *pad = pads;
    return 1;
}

/* Decodes validated whitespace-free input, four characters at a time. */
static void b64_decode_dense(unsigned char *out, const unsigned char *in, size_t in_len, size_t pad)
{
    size_t groups = in_len / 4 - (pad != 0), i;

    for (i = 0; i < groups; i++, in += 4, out += 3) {
        uint32_t v = (uint32_t)B64_TABLE[in[0]] << 18 | (uint32_t)B64_TABLE[in[1]] << 12
                     | (uint32_t)B64_TABLE[in[2]] << 6 | (uint32_t)B64_TABLE[in[3]];
        out[0] = (unsigned char)(v >> 16);
        out[1] = (unsigned char)(v >> 8);
        out[2] = (unsigned char)v;
    }
    /* A padded last group: the bits below its final byte are dropped, not checked. */
    if (pad == 2) {
        out[0] = (unsigned char)(B64_TABLE[in[0]] << 2 | B64_TABLE[in[1]] >> 4);
    } else if (pad == 1) {
        uint32_t v = (uint32_t)B64_TABLE[in[0]] << 12 | (uint32_t)B64_TABLE[in[1]] << 6 | B64_TABLE[in[2]];
        out[0] = (unsigned char)(v >> 10);
        out[1] = (unsigned char)(v >> 2);
    }
}

/* Decodes validated input with whitespace in it: letters are gathered into groups, and
 * whitespace and the trailing '=' are stepped over. */
static void b64_decode_sparse(unsigned char *out, const unsigned char *in, size_t in_len)
{
    uint32_t v = 0;
    int held = 0;
    size_t i;

    for (i = 0; i < in_len; i++) {
        unsigned char c = B64_TABLE[in[i]];
        if (c >= 64)
            continue;
        v = v << 6 | c;
        if (++held == 4) {
            *out++ = (unsigned char)(v >> 16);
            *out++ = (unsigned char)(v >> 8);
            *out++ = (unsigned char)v;
            v = 0;
            held = 0;
        }
    }
    if (held == 2) {
        *out = (unsigned char)(v >> 4);
    } else if (held == 3) {
        out[0] = (unsigned char)(v >> 10);
        out[1] = (unsigned char)(v >> 2);
    }
}

int base64_decrypt(unsigned char *out, int *out_len, const unsigned char *in, size_t in_len)
{
    size_t significant = in_len, pad = 0, needed, capacity;
    int dense;

    if (out_len == NULL || bad_span(in, in_len))
        return fail();
    capacity = int_capacity(out_len);
    if (bad_span(out, capacity))
        return fail();
    /* The whole input is validated before a byte is written, so a failure leaves out alone. */
    dense = in_len % 4 == 0 && in_len != 0 && b64_scan_dense(in, in_len, &pad);
    if (!dense && !b64_scan_general(in, in_len, &significant, &pad))
        return fail();
    needed = significant / 4 * 3 - pad;
    if (needed > INT_MAX)
        return fail();
    *out_len = (int)needed;
    if (needed == 0 || needed > capacity)
        return 1;
    if (dense)
        b64_decode_dense(out, in, in_len, pad);
    else
        b64_decode_sparse(out, in, in_len);
    return 1;
}

/* --- Random bytes --- */

int random_buffer(unsigned int n, unsigned char *buf)
{
    if (bad_span(buf, n))
        return fail();
    while (n > 0) {
        int chunk = n > INT_MAX ? INT_MAX : (int)n;
        if (RAND_bytes(buf, chunk) != 1)
            return fail();
        buf += chunk;
        n -= (unsigned int)chunk;
    }
    return 1;
}

/* --- AES --- */

/* Sets ctx up for cipher in the direction enc (1 encrypt, 0 decrypt) with a 32-byte key and
 * an iv of iv_len bytes; only GCM accepts an iv length other than the cipher's own. */
static int aes_init(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher, int enc,
                    const unsigned char *key, const unsigned char *iv, size_t iv_len)
{
    /* The key and IV lengths are the cipher object's own fields; asking the context would
     * query the provider each time. The usual IV length needs a single initialisation. */
    if (EVP_CIPHER_get_key_length(cipher) != AES_KEY_LEN)
        return 0;
    if (iv_len == (size_t)EVP_CIPHER_get_iv_length(cipher))
        return EVP_CipherInit_ex(ctx, cipher, NULL, key, iv, enc) == 1;
    if (EVP_CIPHER_get_mode(cipher) != EVP_CIPH_GCM_MODE || iv_len > INT_MAX
        || EVP_CipherInit_ex(ctx, cipher, NULL, NULL, NULL, enc) != 1
        || EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_IVLEN, (int)iv_len, NULL) != 1)
        return 0;
    return EVP_CipherInit_ex(ctx, NULL, NULL, key, iv, enc) == 1;
}

/* Runs len bytes of in through ctx into out in pieces that fit EVP's int lengths and stores
 * the number of bytes written. out needs room for everything the cipher writes, final block
 * included: len bytes when decrypting, the padded length when encrypting with CBC. */
static int aes_update(EVP_CIPHER_CTX *ctx, unsigned char *out, size_t *written,
                      const unsigned char *in, size_t len)
{
    size_t total = 0;

    while (len > 0) {
        size_t chunk = len < UPDATE_CHUNK ? len : UPDATE_CHUNK;
        int n = 0;
        if (EVP_CipherUpdate(ctx, out + total, &n, in, (int)chunk) != 1 || n < 0)
            return 0;
        total += (size_t)n;
        in += chunk;
        len -= chunk;
    }
    *written = total;
    return 1;
}

/* Finishes ctx into out and adds what it wrote to *written. */
static int aes_final(EVP_CIPHER_CTX *ctx, unsigned char *out, size_t *written)
{
    int n = 0;

    if (EVP_CipherFinal_ex(ctx, out + *written, &n) != 1 || n < 0)
        return 0;
    *written += (size_t)n;
    return 1;
}

int aes_cbc_encrypt(const unsigned char *key, const unsigned char *iv, size_t iv_len,
                    const unsigned char *plain, size_t plain_len, unsigned char *out, int *out_len)
{
    EVP_CIPHER_CTX *ctx;
    size_t needed, capacity, written = 0;
    int ok;

    if (key == NULL || iv == NULL || iv_len != CBC_IV_LEN || bad_span(plain, plain_len) || out_len == NULL)
        return fail();
    capacity = int_capacity(out_len);
    if (bad_span(out, capacity) || plain_len > (size_t)INT_MAX - AES_BLOCK_LEN)
        return fail();
    /* PKCS#7 always adds 1 to 16 bytes of padding. */
    needed = plain_len - plain_len % AES_BLOCK_LEN + AES_BLOCK_LEN;

    ctx = EVP_CIPHER_CTX_new();
    ok = ctx != NULL && aes_init(ctx, aes_cbc_algorithm(), 1, key, iv, iv_len);
    /* Every input is checked before the first write; past here only an internal library
     * fault can fail, and ciphertext is the only thing that reaches out. */
    if (ok && needed <= capacity)
        ok = aes_update(ctx, out, &written, plain, plain_len) && aes_final(ctx, out, &written)
             && written == needed;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return fail();
    *out_len = (int)needed;
    return 1;
}

int aes_cbc_decrypt(const unsigned char *key, const unsigned char *iv, size_t iv_len,
                    unsigned char *out, int *out_len, const unsigned char *cipher, size_t cipher_len)
{
    EVP_CIPHER_CTX *ctx = NULL;
    unsigned char *plain = NULL;
    size_t capacity, written = 0;
    int ok;

    if (key == NULL || iv == NULL || iv_len != CBC_IV_LEN || cipher == NULL || out_len == NULL
        || cipher_len == 0 || cipher_len % AES_BLOCK_LEN != 0)
        return fail();
    capacity = int_capacity(out_len);
    /* At most one block of padding comes off, so a longer ciphertext cannot fit an int. */
    if (bad_span(out, capacity) || cipher_len > (size_t)INT_MAX + AES_BLOCK_LEN)
        return fail();

    /* The padding is only known good after the last block, so nothing reaches out before. */
    ok = (plain = OPENSSL_malloc(cipher_len)) != NULL
         && (ctx = EVP_CIPHER_CTX_new()) != NULL
         && aes_init(ctx, aes_cbc_algorithm(), 0, key, iv, iv_len)
         && aes_update(ctx, plain, &written, cipher, cipher_len)
         && aes_final(ctx, plain, &written)
         && written <= INT_MAX;
    if (ok) {
        *out_len = (int)written;
        if (written != 0 && written <= capacity)
            memcpy(out, plain, written);
    }
    EVP_CIPHER_CTX_free(ctx);
    OPENSSL_clear_free(plain, cipher_len);
    return ok ? 1 : fail();
}

int aes_gcm_encrypt(const unsigned char *key, const unsigned char *nonce, size_t nonce_len,
                    const unsigned char *plain, size_t plain_len, unsigned char *out, int *out_len)
{
    EVP_CIPHER_CTX *ctx;
    size_t needed, capacity, written = 0;
    int ok;

    if (key == NULL || nonce == NULL || nonce_len == 0 || bad_span(plain, plain_len) || out_len == NULL)
        return fail();
    capacity = int_capacity(out_len);
    if (bad_span(out, capacity) || plain_len > (size_t)INT_MAX - GCM_TAG_LEN)
        return fail();
    needed = plain_len + GCM_TAG_LEN;

    /* The context is set up even when out is too small, so that a nonce the cipher refuses
     * fails the first call rather than the caller's second one. */
    ctx = EVP_CIPHER_CTX_new();
    ok = ctx != NULL && aes_init(ctx, aes_gcm_algorithm(), 1, key, nonce, nonce_len);
    /* Straight into out: every input is checked by now, and only ciphertext is written. */
    if (ok && needed <= capacity)
        ok = aes_update(ctx, out, &written, plain, plain_len) && aes_final(ctx, out, &written)
             && written == plain_len
             && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, GCM_TAG_LEN, out + plain_len) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return fail();
    *out_len = (int)needed;
    return 1;
}

/* Whether [a, a + a_len) and [b, b + b_len) share a byte. Compared as addresses: the two
 * spans may lie in unrelated objects. */
static int spans_overlap(const void *a, size_t a_len, const void *b, size_t b_len)
{
    uintptr_t x = (uintptr_t)a, y = (uintptr_t)b;

    return a_len != 0 && b_len != 0 && x < y + b_len && y < x + a_len;
}

int aes_gcm_decrypt(const unsigned char *key, const unsigned char *nonce, size_t nonce_len,
                    unsigned char *out, int *out_len, const unsigned char *cipher, size_t cipher_len)
{
    EVP_CIPHER_CTX *ctx;
    unsigned char *scratch = NULL, *target;
    unsigned char tag[GCM_TAG_LEN], nothing[1];
    size_t text_len, capacity, written = 0;
    int ok;

    if (key == NULL || nonce == NULL || nonce_len == 0 || cipher == NULL || out_len == NULL
        || cipher_len < GCM_TAG_LEN)
        return fail();
    text_len = cipher_len - GCM_TAG_LEN;
    capacity = int_capacity(out_len);
    if (bad_span(out, capacity) || text_len > INT_MAX)
        return fail();
    /* OpenSSL takes the expected tag through a non-const pointer. */
    memcpy(tag, cipher + text_len, GCM_TAG_LEN);

    /* The plaintext goes straight into out when it fits there and out shares no byte with
     * the input; it is written before the tag can be checked, so a failure past that point
     * cleanses it. A size query, or an out that overlaps the input, is decrypted into a
     * scratch buffer instead and out receives it only after the tag has matched: the tag is
     * checked even when out is too small, so that a forgery fails the first call. */
    if (text_len == 0)
        target = nothing; /* nothing is written, but the final call wants somewhere */
    else if (text_len <= capacity && !spans_overlap(out, text_len, cipher, cipher_len))
        target = out;
    else
        target = scratch = OPENSSL_malloc(text_len);
    ctx = target != NULL ? EVP_CIPHER_CTX_new() : NULL;
    ok = ctx != NULL && aes_init(ctx, aes_gcm_algorithm(), 0, key, nonce, nonce_len);
    if (ok) {
        ok = aes_update(ctx, target, &written, cipher, text_len)
             && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, GCM_TAG_LEN, tag) == 1
             && aes_final(ctx, target, &written)
             && written == text_len;
        if (!ok && target == out)
            OPENSSL_cleanse(out, text_len);
    }
    EVP_CIPHER_CTX_free(ctx);
    if (scratch != NULL) {
        if (ok && text_len <= capacity)
            memcpy(out, scratch, text_len);
        OPENSSL_clear_free(scratch, text_len);
    }
    if (!ok)
        return fail();
    *out_len = (int)text_len;
    return 1;
}

/* --- RSA --- */

/* The general decoder costs several times the verification itself, so the common key forms
 * are taken apart here and only the RSAPublicKey goes to OpenSSL. What this path does not
 * recognise goes to the decoder, which keeps the set of accepted keys as it was. */

enum { DER_SEQUENCE = 0x30, DER_BIT_STRING = 0x03, DER_NULL = 0x05 };

/* The whole AlgorithmIdentifier OID element for rsaEncryption, 1.2.840.113549.1.1.1. */
static const unsigned char RSA_ENCRYPTION_OID[] = {
    0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01
};

static const char PEM_BEGIN[] = "-----BEGIN ";
static const char PEM_END[] = "-----END ";
static const char PEM_SPKI_LABEL[] = "PUBLIC KEY-----";
static const char PEM_PKCS1_LABEL[] = "RSA PUBLIC KEY-----";

/* Reads one DER element with a one-byte tag from [*p, end): a definite length in its shortest
 * form, contents that fit before end. Sets the contents span and moves *p past the element. */
static int der_take(const unsigned char **p, const unsigned char *end, unsigned char tag,
                    const unsigned char **contents, size_t *contents_len)
{
    const unsigned char *q = *p;
    size_t len;

    if (end - q < 2 || q[0] != tag)
        return 0;
    len = q[1];
    q += 2;
    if (len & 0x80) {
        size_t n = len & 0x7f;
        /* n == 0 is the indefinite form; a leading zero byte or a value under 0x80 is not
         * the shortest form; more than size_t's bytes cannot fit in memory anyway. */
        if (n == 0 || n > sizeof(size_t) || (size_t)(end - q) < n || q[0] == 0)
            return 0;
        for (len = 0; n > 0; n--)
            len = len << 8 | *q++;
        if (len < 0x80)
            return 0;
    }
    if (len > (size_t)(end - q))
        return 0;
    *contents = q;
    *contents_len = len;
    *p = q + len;
    return 1;
}

/* What the quick path makes of an input: a key; a refusal, for a form it knows that is
 * broken or carries bytes too many or too few; or nothing it knows, left to the decoder. */
enum { KEY_UNKNOWN, KEY_REFUSED, KEY_FOUND };

/* An RSAPublicKey that fills exactly der_len bytes, as a new key; NULL otherwise. */
static EVP_PKEY *pkcs1_rsa_key(const unsigned char *der, size_t der_len)
{
    const unsigned char *p = der;
    EVP_PKEY *pkey;

    if (der_len == 0 || der_len > LONG_MAX)
        return NULL;
    pkey = d2i_PublicKey(EVP_PKEY_RSA, NULL, &p, (long)der_len);
    if (pkey != NULL && p != der + der_len) {
        EVP_PKEY_free(pkey);
        pkey = NULL;
    }
    return pkey;
}

/* An RSAPublicKey exactly, or a SubjectPublicKeyInfo for rsaEncryption:
 * SEQUENCE { SEQUENCE { OID, NULL or nothing }, BIT STRING { 0, RSAPublicKey } }. Bytes after
 * the outer SEQUENCE, unused bits or bytes beside the key in the BIT STRING are refused, as
 * is an RSAPublicKey that does not parse; other algorithms and other encodings of the
 * lengths are left to the decoder. */
static int der_rsa_key(const unsigned char *der, size_t der_len, EVP_PKEY **pkey)
{
    const unsigned char *p = der, *end = der + der_len, *outer, *alg, *bits, *null;
    size_t outer_len, alg_len, bits_len, null_len;

    if (!der_take(&p, end, DER_SEQUENCE, &outer, &outer_len))
        return KEY_UNKNOWN;
    if (p != end)
        return KEY_REFUSED;
    if (outer_len != 0 && outer[0] != DER_SEQUENCE) {
        /* SEQUENCE { INTEGER, INTEGER }: an RSAPublicKey. */
        *pkey = pkcs1_rsa_key(der, der_len);
        return *pkey != NULL ? KEY_FOUND : KEY_REFUSED;
    }
    p = outer;
    end = outer + outer_len;
    if (!der_take(&p, end, DER_SEQUENCE, &alg, &alg_len) || !der_take(&p, end, DER_BIT_STRING, &bits, &bits_len)
        || p != end)
        return KEY_UNKNOWN;
    if (alg_len < sizeof(RSA_ENCRYPTION_OID) || memcmp(alg, RSA_ENCRYPTION_OID, sizeof(RSA_ENCRYPTION_OID)) != 0)
        return KEY_UNKNOWN;
    p = alg + sizeof(RSA_ENCRYPTION_OID);
    end = alg + alg_len;
    if (p != end && (!der_take(&p, end, DER_NULL, &null, &null_len) || null_len != 0 || p != end))
        return KEY_UNKNOWN;
    /* The first content byte counts the unused bits; a key is whole bytes. */
    if (bits_len < 2 || bits[0] != 0)
        return KEY_REFUSED;
    *pkey = pkcs1_rsa_key(bits + 1, bits_len - 1);
    return *pkey != NULL ? KEY_FOUND : KEY_REFUSED;
}

/* Moves *p past the text s when [*p, end) starts with it. */
static int text_take(const unsigned char **p, const unsigned char *end, const char *s)
{
    size_t n = strlen(s);

    if ((size_t)(end - *p) < n || memcmp(*p, s, n) != 0)
        return 0;
    *p += n;
    return 1;
}

/* Moves *p past a line break, LF or CR LF. */
static int eol_take(const unsigned char **p, const unsigned char *end)
{
    return text_take(p, end, "\n") || text_take(p, end, "\r\n");
}

/* Finds the base64 body of one armoured key filling the whole input: the BEGIN line, lines
 * holding base64 with spaces or tabs, the END line with the same label, then whitespace.
 * Blank lines, headers and anything else are left to the decoder, whose PEM reader gives
 * them meanings of its own. */
static int pem_body(const unsigned char *in, size_t in_len, const unsigned char **body, size_t *body_len,
                    int *pkcs1)
{
    const unsigned char *p = in, *end = in + in_len, *line;
    const char *label;

    if (!text_take(&p, end, PEM_BEGIN))
        return 0;
    if (text_take(&p, end, PEM_PKCS1_LABEL))
        label = PEM_PKCS1_LABEL;
    else if (text_take(&p, end, PEM_SPKI_LABEL))
        label = PEM_SPKI_LABEL;
    else
        return 0;
    if (!eol_take(&p, end))
        return 0;
    *body = p;
    for (line = p; !text_take(&p, end, PEM_END); line = p) {
        int letters = 0;
        for (; p < end && *p != '\n' && *p != '\r'; p++) {
            if (B64_TABLE[*p] < 64 || *p == '=')
                letters = 1;
            else if (*p != ' ' && *p != '\t')
                return 0;
        }
        if (!letters || !eol_take(&p, end))
            return 0;
    }
    *body_len = (size_t)(line - *body);
    if (!text_take(&p, end, label) || (p != end && !eol_take(&p, end)))
        return 0;
    for (; p < end; p++)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return 0;
    *pkcs1 = label == PEM_PKCS1_LABEL;
    return 1;
}

/* Whether text other than whitespace follows the last END line of PEM text. */
static int text_after_pem_end(const unsigned char *in, size_t in_len)
{
    const unsigned char *p = in, *end = in + in_len, *last = NULL;
    size_t n = strlen(PEM_END);

    for (; (size_t)(end - p) >= n; p++)
        if (memcmp(p, PEM_END, n) == 0)
            last = p;
    if (last == NULL)
        return 0;
    /* Past the label, to the closing dashes. */
    for (p = last + n; (size_t)(end - p) >= 5 && memcmp(p, "-----", 5) != 0; p++)
        if (*p == '\n')
            return 1;
    if ((size_t)(end - p) < 5)
        return 1;
    for (p += 5; p < end; p++)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return 1;
    return 0;
}

/* PEM armour around either DER form. Armour with text after its END line is refused. */
static int pem_rsa_key(const unsigned char *in, size_t in_len, EVP_PKEY **pkey)
{
    const unsigned char *body;
    unsigned char *der;
    size_t body_len, significant, pad, der_len;
    int pkcs1, verdict;

    if (!pem_body(in, in_len, &body, &body_len, &pkcs1))
        return text_after_pem_end(in, in_len) ? KEY_REFUSED : KEY_UNKNOWN;
    if (!b64_scan_general(body, body_len, &significant, &pad))
        return KEY_UNKNOWN;
    der_len = significant / 4 * 3 - pad;
    if (der_len == 0 || (der = OPENSSL_malloc(der_len)) == NULL)
        return KEY_UNKNOWN;
    b64_decode_sparse(der, body, body_len);
    verdict = der_rsa_key(der, der_len, pkey);
    OPENSSL_free(der);
    return verdict;
}

/* The common key forms, by their first byte. */
static int quick_rsa_key(const unsigned char *data, size_t len, EVP_PKEY **pkey)
{
    if (data[0] == DER_SEQUENCE)
        return der_rsa_key(data, len, pkey);
    if (data[0] == (unsigned char)PEM_BEGIN[0])
        return pem_rsa_key(data, len, pkey);
    return KEY_UNKNOWN;
}

/* Whatever OpenSSL's decoder makes of the input as an RSA public key; NULL when nothing.
 * Binary input must be used up by the key; PEM text may end in whitespace only. */
static EVP_PKEY *decoded_rsa_key(const unsigned char *data, size_t len)
{
    EVP_PKEY *pkey = NULL;
    OSSL_DECODER_CTX *dctx;
    size_t begin_len = strlen(PEM_BEGIN), i;
    int pem = 0;

    for (i = 0; !pem && len - i >= begin_len && i < len; i++)
        pem = memcmp(data + i, PEM_BEGIN, begin_len) == 0;

    if (pem && text_after_pem_end(data, len))
        return NULL;
    dctx = OSSL_DECODER_CTX_new_for_pkey(&pkey, NULL, NULL, "RSA", EVP_PKEY_PUBLIC_KEY, NULL, NULL);
    if (dctx == NULL || OSSL_DECODER_from_data(dctx, &data, &len) != 1 || (!pem && len != 0)) {
        EVP_PKEY_free(pkey);
        pkey = NULL;
    }
    OSSL_DECODER_CTX_free(dctx);
    return pkey;
}

/* Decodes an RSA public key from PEM or DER, as SubjectPublicKeyInfo or PKCS#1
 * RSAPublicKey. Returns a new key, or NULL for anything else (other key types included). */
static EVP_PKEY *load_rsa_public_key(const unsigned char *data, size_t len)
{
    EVP_PKEY *pkey;

    if (data == NULL || len == 0)
        return NULL;
    /* The errors of the attempts that do not match, here or in the decoder, which tries each
     * encoding and structure in turn, are dropped whatever the outcome. */
    ERR_set_mark();
    pkey = NULL;
    if (quick_rsa_key(data, len, &pkey) == KEY_UNKNOWN)
        pkey = decoded_rsa_key(data, len);
    ERR_pop_to_mark();
    if (pkey != NULL && EVP_PKEY_is_a(pkey, "RSA") != 1) {
        EVP_PKEY_free(pkey);
        pkey = NULL;
    }
    return pkey;
}

int rsa_encrypt(const unsigned char *pubkey, size_t pubkey_len, const unsigned char *plain, size_t plain_len,
                unsigned char *out, size_t *out_len)
{
    EVP_PKEY *pkey;
    EVP_PKEY_CTX *pctx = NULL;
    unsigned char *cipher = NULL;
    size_t capacity, needed = 0;
    int ok;

    if (bad_span(plain, plain_len) || out_len == NULL)
        return fail();
    capacity = *out_len;
    if (bad_span(out, capacity))
        return fail();
    if (plain == NULL)
        plain = EMPTY;

    /* OAEP is randomised, so the result is always computed, which also makes a message too
     * long for the key fail the first call; out receives it only when it fits. */
    pkey = load_rsa_public_key(pubkey, pubkey_len);
    ok = pkey != NULL
         && (pctx = EVP_PKEY_CTX_new_from_pkey(NULL, pkey, NULL)) != NULL
         && EVP_PKEY_encrypt_init(pctx) == 1
         && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_OAEP_PADDING) == 1
         && EVP_PKEY_CTX_set_rsa_oaep_md_name(pctx, "SHA256", NULL) == 1
         && EVP_PKEY_CTX_set_rsa_mgf1_md_name(pctx, "SHA256", NULL) == 1
         && EVP_PKEY_encrypt(pctx, NULL, &needed, plain, plain_len) == 1
         && (cipher = OPENSSL_malloc(needed)) != NULL
         && EVP_PKEY_encrypt(pctx, cipher, &needed, plain, plain_len) == 1;
    if (ok) {
        *out_len = needed;
        if (needed <= capacity)
            memcpy(out, cipher, needed);
    }
    OPENSSL_free(cipher);
    EVP_PKEY_CTX_free(pctx);
    EVP_PKEY_free(pkey);
    return ok ? 1 : fail();
}

int rsa_verify(const unsigned char *pubkey, size_t pubkey_len, const unsigned char *msg, size_t msg_len,
               const unsigned char *sig, size_t sig_len)
{
    EVP_PKEY *pkey;
    EVP_MD_CTX *mctx = NULL;
    EVP_PKEY_CTX *pctx = NULL;
    int ok;

    if (bad_span(msg, msg_len) || sig == NULL || sig_len == 0)
        return fail();
    if (msg == NULL)
        msg = EMPTY;

    pkey = load_rsa_public_key(pubkey, pubkey_len);
    /* EVP_DigestVerify gives 1 for a good signature, 0 for a bad one and negative for an
     * error; callers get exactly 1 or 0. */
    ok = pkey != NULL
         && (mctx = EVP_MD_CTX_new()) != NULL
         && EVP_DigestVerifyInit_ex(mctx, &pctx, "SHA256", NULL, NULL, pkey, NULL) == 1
         && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1
         && EVP_DigestVerify(mctx, sig, sig_len, msg, msg_len) == 1;
    EVP_MD_CTX_free(mctx);
    EVP_PKEY_free(pkey);
    return ok ? 1 : fail();
}

#ifdef _WIN32
#include "win_paths.c"
#endif
