"""Speed of the cipher services against the `cryptography` package, measured in one run.

    python benchmarks/bench_ciphers.py [--repeat N]

Prints microseconds per call for each pair and the ratio service / cryptography
next to its goal, then the AES-GCM services against the floor of the libcrypto
that the companion links: a small C helper, compiled here with the system
compiler and loaded with ctypes, that does what a stateless call must (a fresh
context, one update, the tag, nothing else). A benchmark, not a test: it never fails.
"""
import argparse
import atexit
import ctypes
import os
import shlex
import shutil
import subprocess
import sysconfig
import tempfile
import time
import timeit

from cryptography.hazmat.primitives import hashes, padding, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import brantel.brantel_decryption_  # noqa: F401  (its libcrypto is loaded before the helper's)
from brantel import _sysprobe_internal as svc

KEY = bytes(range(32))
IV = bytes(range(16))
NONCE = bytes(range(12))


def cryptography_cbc_encrypt(data):
    padder = padding.PKCS7(128).padder()
    encryptor = Cipher(algorithms.AES(KEY), modes.CBC(IV)).encryptor()
    return encryptor.update(padder.update(data) + padder.finalize()) + encryptor.finalize()


def cases():
    """(label, service call, cryptography call, goal ratio)"""
    aesgcm = AESGCM(KEY)
    for size, goal in ((64 * 1024, 1.1), (16, 1.5)):
        plain = bytes(i % 251 for i in range(size))
        sealed = aesgcm.encrypt(NONCE, plain, None)
        yield (f"aes_gcm_encryptor {size} B", lambda p=plain: svc.aes_gcm_encryptor(KEY, p, NONCE),
               lambda p=plain: aesgcm.encrypt(NONCE, p, None), goal)
        yield (f"aes_gcm_decryptor {size} B", lambda s=sealed: svc.aes_gcm_decryptor(KEY, s, NONCE),
               lambda s=sealed: aesgcm.decrypt(NONCE, s, None), goal)

    private = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    public = private.public_key()
    der = public.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    message = b"m" * 256
    signature = private.sign(message, asym.PKCS1v15(), hashes.SHA256())
    yield ("rsa_verifier 2048-bit", lambda: svc.rsa_verifier(der, message, signature),
           lambda: public.verify(signature, message, asym.PKCS1v15(), hashes.SHA256()), 1.2)
    # The service parses the key on every call; this row shows cryptography doing the same.
    yield ("  (crypto loads key too)", lambda: svc.rsa_verifier(der, message, signature),
           lambda: serialization.load_der_public_key(der).verify(signature, message, asym.PKCS1v15(),
                                                                  hashes.SHA256()), None)

    plain = bytes(900)
    yield ("aes_cbc_encryptor 900 B", lambda: svc.aes_cbc_encryptor(KEY, plain, IV),
           lambda: cryptography_cbc_encrypt(plain), 3.0)


def per_call_us(function, repeat, clock=time.perf_counter):
    timer = timeit.Timer(function, timer=clock)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e6


# This thread's CPU time where its clock is fine enough: on a shared machine the wall clock
# also counts the time other processes hold the core.
CPU_CLOCK = time.thread_time if time.get_clock_info("thread_time").resolution <= 1e-6 else time.perf_counter


def paired_us(first, second, repeat):
    """Microseconds per call of both on CPU_CLOCK. Their rounds are taken in turn, so that
    what load remains reaches both alike, and there are ten times as many, each a tenth as
    long, so that the best of them more often falls in a quiet moment."""
    timers = [timeit.Timer(first, timer=CPU_CLOCK), timeit.Timer(second, timer=CPU_CLOCK)]
    numbers = [max(1, timer.autorange()[0] // 10) for timer in timers]
    best = [float("inf"), float("inf")]
    for _ in range(repeat * 10):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(numbers[i]) / numbers[i] * 1e6)
    return best


# The floor: the companion's AES-GCM work with nothing around it. The arguments are set once,
# so that each timed call is a ctypes call without arguments to convert; the cipher is
# fetched once, as the companion does.
FLOOR_SOURCE = r"""
#include <openssl/evp.h>

static EVP_CIPHER *gcm;
static const unsigned char *key, *nonce, *in;
static unsigned char *out, *tag;
static int in_len;

int floor_prepare(const unsigned char *k, const unsigned char *n, const unsigned char *i, int i_len,
                  unsigned char *o, unsigned char *t)
{
    if (gcm == NULL && (gcm = EVP_CIPHER_fetch(NULL, "AES-256-GCM", NULL)) == NULL)
        return 0;
    key = k, nonce = n, in = i, in_len = i_len, out = o, tag = t;
    return 1;
}

/* Encrypts in into out and leaves the tag in tag. */
int floor_seal(void)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int n = 0, ok = ctx != NULL && EVP_EncryptInit_ex(ctx, gcm, NULL, key, nonce) == 1
                    && EVP_EncryptUpdate(ctx, out, &n, in, in_len) == 1
                    && EVP_EncryptFinal_ex(ctx, out + n, &n) == 1
                    && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, tag) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

/* Decrypts in into out and checks it against tag. */
int floor_open(void)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int n = 0, ok = ctx != NULL && EVP_DecryptInit_ex(ctx, gcm, NULL, key, nonce) == 1
                    && EVP_DecryptUpdate(ctx, out, &n, in, in_len) == 1
                    && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1
                    && EVP_DecryptFinal_ex(ctx, out + n, &n) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

/* What a call costs the harness alone. */
int floor_nothing(void) { return 1; }
"""


def build_floor():
    """The floor helper, compiled against the OpenSSL the companion was built with and
    loaded into this process, where the companion's libcrypto is already loaded."""
    from brantel.ciphers.build_decryption import crypto_libraries, find_openssl

    include_dirs, library_dirs = find_openssl()
    work = tempfile.mkdtemp(prefix="brantel-gcm-floor-")
    atexit.register(shutil.rmtree, work, True)
    source, library = os.path.join(work, "floor.c"), os.path.join(work, "floor.so")
    with open(source, "w") as f:
        f.write(FLOOR_SOURCE)
    compiler = shlex.split(os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc")
    command = compiler + ["-O2", "-shared", "-fPIC", source, "-o", library]
    command += ["-I" + d for d in include_dirs] + ["-L" + d for d in library_dirs]
    command += ["-Wl,-rpath," + d for d in library_dirs] + ["-l" + name for name in crypto_libraries()]
    subprocess.run(command, check=True)
    helper = ctypes.CDLL(library)
    for name in ("floor_seal", "floor_open", "floor_nothing"):
        getattr(helper, name).argtypes, getattr(helper, name).restype = [], ctypes.c_int
    return helper


def loaded_libcrypto():
    """The libcrypto files mapped into this process (Linux), else None."""
    try:
        with open("/proc/self/maps") as maps:
            return sorted({line.split()[-1] for line in maps if "/libcrypto" in line})
    except OSError:
        return None


def floor_cases(helper):
    """(label, service call, floor call, goal ratio). Each floor call is set up just before
    it is timed, since the helper holds one set of arguments."""
    for size in (64 * 1024, 16):
        plain = bytes(i % 251 for i in range(size))
        sealed = AESGCM(KEY).encrypt(NONCE, plain, None)
        out, tag = ctypes.create_string_buffer(size + 16), ctypes.create_string_buffer(sealed[size:], 16)

        def seal(p=plain, o=out, t=tag):
            if helper.floor_prepare(KEY, NONCE, p, len(p), o, t) != 1 or helper.floor_seal() != 1:
                raise SystemExit("the floor helper failed to encrypt")
            return helper.floor_seal

        def open_(s=sealed, o=out, t=tag):
            if helper.floor_prepare(KEY, NONCE, s, len(s) - 16, o, t) != 1 or helper.floor_open() != 1:
                raise SystemExit("the floor helper failed to decrypt")
            return helper.floor_open

        yield (f"aes_gcm_encryptor {size} B", lambda p=plain: svc.aes_gcm_encryptor(KEY, p, NONCE), seal, 1.1)
        yield (f"aes_gcm_decryptor {size} B", lambda s=sealed: svc.aes_gcm_decryptor(KEY, s, NONCE), open_, 1.1)


def print_row(label, mine, reference, goal):
    ratio = mine / reference
    verdict = "" if goal is None else ("ok" if ratio <= goal else "MISSED")
    goal_text = "" if goal is None else f"{goal:.1f}x"
    print(f"{label:26} {mine:11.2f} {reference:10.2f} {ratio:6.2f}x {goal_text:>6} {verdict}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timing rounds per case (best is kept)")
    args = parser.parse_args()
    print(f"{'case':26} {'service µs':>11} {'crypto µs':>10} {'ratio':>7} {'goal':>6}")
    for label, ours, theirs, goal in cases():
        print_row(label, per_call_us(ours, args.repeat), per_call_us(theirs, args.repeat), goal)

    helper = build_floor()
    mapped = loaded_libcrypto()
    if mapped is None:
        print("\nlibcrypto: not checked on this platform")
    elif len(mapped) == 1:
        print(f"\nlibcrypto: {mapped[0]} (the companion's and the floor's)")
    else:
        print(f"\nlibcrypto: SEVERAL LOADED, the floor may not use the companion's: {', '.join(mapped)}")
    harness = per_call_us(helper.floor_nothing, args.repeat, CPU_CLOCK)
    print(f"floor: fresh context, one update, tag, final; a ctypes call alone costs {harness:.2f} µs of it")
    print(f"(timed on time.{CPU_CLOCK.__name__}, the rounds of each pair taken in turn)")
    print(f"{'case':26} {'service µs':>11} {'floor µs':>10} {'ratio':>7} {'goal':>6}")
    for label, ours, prepare_floor, goal in floor_cases(helper):
        print_row(label, *paired_us(ours, prepare_floor(), args.repeat), goal)


if __name__ == "__main__":
    main()
