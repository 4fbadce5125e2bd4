"""Speed of the cipher services against the `cryptography` package, measured in one run.

    python benchmarks/bench_ciphers.py [--repeat N]

Prints microseconds per call for each pair and the ratio service / cryptography
next to its goal. A benchmark, not a test: it never fails.
"""
import argparse
import timeit

from cryptography.hazmat.primitives import hashes, padding, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

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


def per_call_us(function, repeat):
    timer = timeit.Timer(function)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timing rounds per case (best is kept)")
    args = parser.parse_args()
    print(f"{'case':26} {'service µs':>11} {'crypto µs':>10} {'ratio':>7} {'goal':>6}")
    for label, ours, theirs, goal in cases():
        mine, reference = per_call_us(ours, args.repeat), per_call_us(theirs, args.repeat)
        ratio = mine / reference
        verdict = "" if goal is None else ("ok" if ratio <= goal else "MISSED")
        goal_text = "" if goal is None else f"{goal:.1f}x"
        print(f"{label:26} {mine:11.2f} {reference:10.2f} {ratio:6.2f}x {goal_text:>6} {verdict}")


if __name__ == "__main__":
    main()
