"""Tests of the companion cipher library, called directly through its cffi binding and
checked against hashlib, base64 and the cryptography package."""

import base64
import hashlib
import os

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives import padding as sym_padding
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

from brantel.brantel_decryption_ import ffi, lib

FILL = 0xA5
GUARD = 16
KEY = bytes(range(32))
IV = bytes(range(100, 116))
OAEP = padding.OAEP(mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)
HUGE = 2**31  # more than an int length cell can report


class Out:
    """An output buffer of `capacity` bytes followed by a guard, all preset to FILL, and a
    length cell holding the capacity."""

    def __init__(self, capacity, cell_type="int *"):
        self.capacity = capacity
        self.buf = ffi.new("unsigned char[]", capacity + GUARD)
        ffi.memmove(self.buf, bytes([FILL]) * (capacity + GUARD), capacity + GUARD)
        self.cell = ffi.new(cell_type, capacity)

    @property
    def data(self):
        return ffi.buffer(self.buf, self.cell[0])[:]

    def untouched(self):
        return ffi.buffer(self.buf)[:] == bytes([FILL]) * (self.capacity + GUARD)

    def guard_intact(self):
        return ffi.buffer(self.buf)[self.capacity:] == bytes([FILL]) * GUARD

    def zeroed(self, n):
        """The first n bytes are zero and the rest as preset."""
        return ffi.buffer(self.buf)[:] == bytes(n) + bytes([FILL]) * (self.capacity + GUARD - n)


def produce(call, cell_type="int *"):
    """Runs call(buf, cell) through the capacity protocol: a first call into a 1-byte buffer,
    which must report the needed length and write nothing when that is more, then a call
    into a buffer of exactly that size. Returns the output."""
    small = Out(1, cell_type)
    assert call(small.buf, small.cell) == 1
    needed = small.cell[0]
    if needed > 1:
        assert small.untouched()
    exact = Out(needed, cell_type)
    assert call(exact.buf, exact.cell) == 1
    assert exact.cell[0] == needed and exact.guard_intact()
    return exact.data


# --- SHA-1 ---

@pytest.mark.parametrize("message", [b"", b"\x00", bytes(range(256)) * 4096], ids=["empty", "1", "1MiB"])
def test_sha1_matches_hashlib(message):
    digest = produce(lambda buf, cell: lib.sha1(message, len(message), buf, cell), "unsigned int *")
    assert digest == hashlib.sha1(message).digest()


@pytest.mark.parametrize("capacity, written", [(19, False), (20, True), (64, True)])
def test_sha1_capacity(capacity, written):
    out = Out(capacity, "unsigned int *")
    assert lib.sha1(b"abc", 3, out.buf, out.cell) == 1
    assert out.cell[0] == 20 and out.guard_intact()
    assert (out.data == hashlib.sha1(b"abc").digest()) if written else out.untouched()


# --- Base64 ---

def b64(text):
    return produce(lambda buf, cell: lib.base64_decrypt(buf, cell, text, len(text)))


@pytest.mark.parametrize("size", [0, 1, 2, 3, 4, 5, 57, 1000, 65536, 100001, 10 * 2**20 + 1])
def test_base64_round_trip(size):
    data = os.urandom(size)
    assert b64(base64.b64encode(data)) == data


@pytest.mark.parametrize("text", [
    base64.encodebytes(bytes(range(256)) * 3),       # lines of 76 with newlines
    b" \t\n\v\f\raGVs bG8g d29y bGQ=\r\n",            # every whitespace, leading and inner
    b"a G V s b G 8 = ",                             # whitespace between every character
    b"aGk =", b"aG =\n=", b"\n\n",                   # whitespace inside the padding; only whitespace
    b"aGl=", b"aGm=", b"aR==",                       # non-zero trailing bits are accepted
])
def test_base64_matches_python(text):
    assert b64(text) == base64.b64decode(text)


@pytest.mark.parametrize("text", [
    b"aGk", b"aGVsbG8", b"a", b"aG=", b"=",          # missing padding / incomplete group
    b"a===", b"====", b"aGk==", b"aG===",            # too much padding
    b"aG=k", b"aGk=aGk=", b"=aGk",                   # '=' before the end
    b"aGk!", b"aG-_", b"aGk=\x00", b"aG\xffk", b"aGk.",  # characters outside the alphabet
])
def test_base64_rejects(text):
    out = Out(64)
    assert lib.base64_decrypt(out.buf, out.cell, text, len(text)) == 0
    assert out.untouched()


# --- Random bytes ---

def test_random_buffer():
    assert lib.random_buffer(0, ffi.new("unsigned char[]", 0)) == 1
    first, second = Out(32), Out(32)
    assert lib.random_buffer(32, first.buf) == 1 and lib.random_buffer(32, second.buf) == 1
    assert first.guard_intact() and second.guard_intact()
    assert ffi.buffer(first.buf, 32)[:] != ffi.buffer(second.buf, 32)[:]


# --- AES-256-CBC ---

def cbc_reference(plain):
    padder = sym_padding.PKCS7(128).padder()
    enc = Cipher(algorithms.AES(KEY), modes.CBC(IV)).encryptor()
    return enc.update(padder.update(plain) + padder.finalize()) + enc.finalize()


def raw_cbc(blocks):
    enc = Cipher(algorithms.AES(KEY), modes.CBC(IV)).encryptor()
    return enc.update(blocks) + enc.finalize()


def cbc_decrypt(cipher, capacity=4096, iv_len=16):
    out = Out(capacity)
    return lib.aes_cbc_decrypt(KEY, IV, iv_len, out.buf, out.cell, cipher, len(cipher)), out


@pytest.mark.parametrize("size", [0, 1, 15, 16, 17, 1000, 65536])
def test_cbc_interop(size):
    plain = os.urandom(size)
    ours = produce(lambda buf, cell: lib.aes_cbc_encrypt(KEY, IV, 16, plain, size, buf, cell))
    assert ours == cbc_reference(plain)
    theirs = cbc_reference(plain)
    assert produce(lambda buf, cell: lib.aes_cbc_decrypt(KEY, IV, 16, buf, cell, theirs, len(theirs))) == plain


@pytest.mark.parametrize("cipher", [
    raw_cbc(b"\x00" * 16),                      # pad byte 0
    raw_cbc(b"\x00" * 15 + b"\x11"),            # pad byte over 16
    raw_cbc(b"\x00" * 13 + b"\x02\x03\x03"),    # pad bytes that disagree
    cbc_reference(b"x" * 20)[:-1],              # not a multiple of the block size
    b"",
], ids=["pad0", "pad17", "mixed", "ragged", "empty"])
def test_cbc_decrypt_rejects(cipher):
    result, out = cbc_decrypt(cipher)
    assert result == 0 and out.untouched()


@pytest.mark.parametrize("iv_len", [0, 12, 15, 17, 32])
def test_cbc_wrong_iv_length(iv_len):
    iv = IV * 2
    enc = Out(64)
    assert lib.aes_cbc_encrypt(KEY, iv, iv_len, b"abc", 3, enc.buf, enc.cell) == 0
    assert enc.untouched()
    assert cbc_decrypt(cbc_reference(b"abc"), iv_len=iv_len)[0] == 0


# --- AES-256-GCM ---

@pytest.mark.parametrize("nonce_len", [12, 8, 16, 60, 128])
@pytest.mark.parametrize("size", [0, 1, 15, 16, 17, 65536])
def test_gcm_interop(nonce_len, size):
    nonce, plain = os.urandom(nonce_len), os.urandom(size)
    ours = produce(lambda buf, cell: lib.aes_gcm_encrypt(KEY, nonce, nonce_len, plain, size, buf, cell))
    assert ours == AESGCM(KEY).encrypt(nonce, plain, None)
    theirs = AESGCM(KEY).encrypt(nonce, plain, None)
    assert produce(lambda buf, cell: lib.aes_gcm_decrypt(KEY, nonce, nonce_len, buf, cell, theirs, len(theirs))) == plain


def test_gcm_one_byte_nonce_round_trip():
    cipher = produce(lambda buf, cell: lib.aes_gcm_encrypt(KEY, b"n", 1, b"payload", 7, buf, cell))
    assert produce(lambda buf, cell: lib.aes_gcm_decrypt(KEY, b"n", 1, buf, cell, cipher, len(cipher))) == b"payload"


NONCE = bytes(12)
SEALED = AESGCM(KEY).encrypt(NONCE, b"attack at dawn", None)


def flip(data, index):
    return data[:index] + bytes([data[index] ^ 1]) + data[index + 1:]


@pytest.mark.parametrize("key, nonce, cipher", [
    (KEY, NONCE, flip(SEALED, 0)),                  # ciphertext
    (KEY, NONCE, flip(SEALED, len(SEALED) - 1)),    # tag
    (KEY, NONCE, SEALED[:-1]),                      # truncated tag
    (KEY, NONCE, SEALED[:15]),                      # shorter than a tag
    (KEY, NONCE, b""),
    (KEY, b"\x01" + NONCE[1:], SEALED),             # other nonce
    (bytes(32), NONCE, SEALED),                     # other key
], ids=["ciphertext", "tag", "truncated", "short", "empty", "nonce", "key"])
@pytest.mark.parametrize("capacity", [64, 1])
def test_gcm_decrypt_rejects(key, nonce, cipher, capacity):
    # A forgery must fail even when the output would not fit: the wrappers never check the
    # result of their second call. An output that holds the text was decrypted into before
    # the tag could be checked and must come back zeroed; a smaller one is never written.
    out = Out(capacity)
    assert lib.aes_gcm_decrypt(key, nonce, len(nonce), out.buf, out.cell, cipher, len(cipher)) == 0
    text_len = len(cipher) - 16
    assert out.zeroed(text_len if 0 <= text_len <= capacity else 0)
    assert out.cell[0] == capacity


@pytest.mark.parametrize("damage", ["ciphertext", "tag", "cut"])
@pytest.mark.parametrize("size", [1, 15, 16, 17, 1000, 65536])
@pytest.mark.parametrize("slack", [0, 7])
def test_gcm_failed_tag_leaves_no_plaintext(damage, size, slack):
    plain = bytes(range(1, 256)) * (size // 255 + 1)
    sealed = AESGCM(KEY).encrypt(NONCE, plain[:size], None)
    cipher = {"ciphertext": flip(sealed, size // 2), "tag": flip(sealed, len(sealed) - 1),
              "cut": sealed[:-1]}[damage]
    out = Out(len(cipher) - 16 + slack)
    assert lib.aes_gcm_decrypt(KEY, NONCE, 12, out.buf, out.cell, cipher, len(cipher)) == 0
    assert out.zeroed(len(cipher) - 16)


@pytest.mark.parametrize("size", [0, 1, 15, 16, 17])
@pytest.mark.parametrize("slack", [1, 100])
def test_gcm_decrypt_into_larger_output(size, slack):
    plain = os.urandom(size)
    sealed = AESGCM(KEY).encrypt(NONCE, plain, None)
    out = Out(size + slack)
    assert lib.aes_gcm_decrypt(KEY, NONCE, 12, out.buf, out.cell, sealed, len(sealed)) == 1
    assert out.cell[0] == size
    assert ffi.buffer(out.buf)[:] == plain + bytes([FILL]) * (slack + GUARD)


AT = 48  # where the input sits in the shared buffer of the overlap tests


@pytest.mark.parametrize("size", [17, 1000])
@pytest.mark.parametrize("shift", [-AT, -17, -1, 0, 1, 16], ids=lambda s: "out%+d" % s)
def test_gcm_decrypt_overlapping_output(size, shift):
    # Output and input in one buffer, out at AT + shift and the input at AT: in place, out
    # just before it (-17 ends where a 17-byte input's text starts) or inside it.
    plain = os.urandom(size)
    sealed = AESGCM(KEY).encrypt(NONCE, plain, None)
    whole = ffi.new("unsigned char[]", AT + len(sealed) + 64)
    ffi.memmove(whole + AT, sealed, len(sealed))
    cell = ffi.new("int *", size)
    assert lib.aes_gcm_decrypt(KEY, NONCE, 12, whole + AT + shift, cell, whole + AT, len(sealed)) == 1
    assert cell[0] == size
    assert ffi.buffer(whole + AT + shift, size)[:] == plain


@pytest.mark.parametrize("shift", [-1, 0, 1, 16])
def test_gcm_failed_decrypt_leaves_overlapping_input_alone(shift):
    # An output that shares bytes with the input is decrypted into a scratch buffer, so a
    # forgery changes neither.
    forged = flip(AESGCM(KEY).encrypt(NONCE, os.urandom(100), None), 3)
    whole = ffi.new("unsigned char[]", AT + len(forged) + 64)
    ffi.memmove(whole + AT, forged, len(forged))
    before = ffi.buffer(whole)[:]
    cell = ffi.new("int *", 100)
    assert lib.aes_gcm_decrypt(KEY, NONCE, 12, whole + AT + shift, cell, whole + AT, len(forged)) == 0
    assert ffi.buffer(whole)[:] == before


@pytest.mark.parametrize("nonce_len", [0, 129])
def test_gcm_bad_nonce_length(nonce_len):
    nonce = bytes(256)
    for capacity in (64, 1):
        enc, dec = Out(capacity), Out(capacity)
        assert lib.aes_gcm_encrypt(KEY, nonce, nonce_len, b"abc", 3, enc.buf, enc.cell) == 0
        assert lib.aes_gcm_decrypt(KEY, nonce, nonce_len, dec.buf, dec.cell, SEALED, len(SEALED)) == 0
        assert enc.untouched() and dec.untouched()


@pytest.mark.parametrize("op", ["cbc_encrypt", "cbc_decrypt", "gcm_encrypt", "gcm_decrypt"])
def test_aes_length_beyond_int_fails_before_reading(op):
    # The buffer is far shorter than the length claimed: the call must fail before reading.
    data, out = ffi.new("unsigned char[]", 64), Out(64)
    if op.endswith("encrypt"):
        result = getattr(lib, "aes_" + op)(KEY, IV, 16 if op.startswith("cbc") else 12, data, HUGE, out.buf, out.cell)
    else:
        result = getattr(lib, "aes_" + op)(KEY, IV, 16 if op.startswith("cbc") else 12, out.buf, out.cell, data, HUGE + 32)
    assert result == 0 and out.untouched()


# --- RSA ---

RSA_BITS = [1024, 2048, 3072, 4096]


@pytest.fixture(scope="module")
def rsa_keys():
    return {bits: rsa.generate_private_key(public_exponent=65537, key_size=bits) for bits in RSA_BITS}


KEY_FORMATS = [
    (serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo),
    (serialization.Encoding.PEM, serialization.PublicFormat.PKCS1),
    (serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo),
    (serialization.Encoding.DER, serialization.PublicFormat.PKCS1),
]
FORMAT_IDS = ["pem-spki", "pem-pkcs1", "der-spki", "der-pkcs1"]


def rsa_encrypt(pub, plain, capacity=1024):
    out = Out(capacity, "size_t *")
    return lib.rsa_encrypt(pub, len(pub), plain, len(plain), out.buf, out.cell), out


def rsa_verify(pub, msg, sig):
    return lib.rsa_verify(pub, len(pub), msg, len(msg), sig, len(sig))


@pytest.mark.parametrize("encoding, fmt", KEY_FORMATS, ids=FORMAT_IDS)
@pytest.mark.parametrize("bits", RSA_BITS)
def test_rsa_encrypt_decrypts_with_private_key(rsa_keys, encoding, fmt, bits):
    key = rsa_keys[bits]
    pub = key.public_key().public_bytes(encoding, fmt)
    longest = b"m" * (bits // 8 - 66)  # OAEP with SHA-256 leaves k - 66 bytes
    cipher = produce(lambda buf, cell: lib.rsa_encrypt(pub, len(pub), longest, len(longest), buf, cell), "size_t *")
    assert len(cipher) == bits // 8
    assert key.decrypt(cipher, OAEP) == longest


@pytest.mark.parametrize("capacity", [1024, 1])
def test_rsa_encrypt_message_too_long(rsa_keys, capacity):
    pub = rsa_keys[2048].public_key().public_bytes(*KEY_FORMATS[0])
    result, out = rsa_encrypt(pub, b"m" * 191, capacity)
    assert result == 0 and out.untouched()


@pytest.mark.parametrize("kind", ["garbage", "empty", "private", "ec", "truncated"])
def test_rsa_rejects_keys(rsa_keys, kind):
    if kind == "private":
        bad = rsa_keys[2048].private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                           serialization.NoEncryption())
    elif kind == "ec":
        bad = ec.generate_private_key(ec.SECP256R1()).public_key().public_bytes(*KEY_FORMATS[0])
    elif kind == "truncated":
        bad = rsa_keys[2048].public_key().public_bytes(*KEY_FORMATS[2])[:-10]
    else:
        bad = {"garbage": b"not a key", "empty": b""}[kind]
    result, out = rsa_encrypt(bad, b"x")
    assert result == 0 and out.untouched()
    sig = rsa_keys[2048].sign(b"msg", padding.PKCS1v15(), hashes.SHA256())
    assert rsa_verify(bad, b"msg", sig) == 0


@pytest.mark.parametrize("encoding, fmt", KEY_FORMATS, ids=FORMAT_IDS)
@pytest.mark.parametrize("bits", RSA_BITS)
def test_rsa_verify_valid(rsa_keys, encoding, fmt, bits):
    key = rsa_keys[bits]
    sig = key.sign(b"message", padding.PKCS1v15(), hashes.SHA256())
    assert rsa_verify(key.public_key().public_bytes(encoding, fmt), b"message", sig) == 1


@pytest.mark.parametrize("case", ["message", "signature", "truncated", "garbage", "empty", "sha1", "pss", "other-key"])
def test_rsa_verify_invalid_is_exactly_zero(rsa_keys, case):
    key = rsa_keys[2048]
    sig = key.sign(b"message", padding.PKCS1v15(), hashes.SHA256())
    msg, pub = b"message", key.public_key().public_bytes(*KEY_FORMATS[0])
    if case == "message":
        msg = b"messagf"
    elif case == "signature":
        sig = flip(sig, 100)
    elif case == "truncated":
        sig = sig[:-1]
    elif case == "garbage":
        sig = b"\xff" * 256
    elif case == "empty":
        sig = b""
    elif case == "sha1":
        sig = key.sign(msg, padding.PKCS1v15(), hashes.SHA1())
    elif case == "pss":
        sig = key.sign(msg, padding.PSS(padding.MGF1(hashes.SHA256()), 32), hashes.SHA256())
    else:
        pub = rsa_keys[3072].public_key().public_bytes(*KEY_FORMATS[0])
    result = rsa_verify(pub, msg, sig)
    assert type(result) is int and result == 0


# --- RSA public-key forms ---

RSA_ENCRYPTION = bytes.fromhex("06092a864886f70d010101")  # 1.2.840.113549.1.1.1


def der(tag, contents, length=None):
    """A DER element; `length` replaces the encoded length octets."""
    if length is None:
        n = len(contents)
        size = (n.bit_length() + 7) // 8
        length = bytes([n]) if n < 0x80 else bytes([0x80 | size]) + n.to_bytes(size, "big")
    return bytes([tag]) + length + contents


def spki(pkcs1, alg=RSA_ENCRYPTION + b"\x05\x00", unused=0, bits_length=None, outer_length=None):
    return der(0x30, der(0x30, alg) + der(0x03, bytes([unused]) + pkcs1, bits_length), outer_length)


def huge(n_octets, value):
    """Long-form length octets."""
    return bytes([0x80 | n_octets]) + value.to_bytes(n_octets, "big")


def armour(label, body, width=64, newline=b"\n", blanks=b""):
    """PEM text; `blanks` ends every base64 line."""
    text = base64.b64encode(body)
    lines = [text[i:i + width] + blanks for i in range(0, len(text), width)]
    return newline.join([b"-----BEGIN " + label + b"-----", *lines, b"-----END " + label + b"-----"]) + newline


def public_forms(key):
    pub = key.public_key()
    return (pub.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo),
            pub.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1),
            pub.public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo))


KEY_LAYOUTS = {
    "rebuilt-spki": lambda der_spki, pkcs1, pem: spki(pkcs1),
    "no-parameters": lambda der_spki, pkcs1, pem: spki(pkcs1, RSA_ENCRYPTION),
    "pem-crlf": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki, newline=b"\r\n"),
    "pem-one-line": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki, width=4096),
    "pem-5-wide": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki, width=5),
    "pem-spaces-tabs": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki, blanks=b" \t "),
    "pem-no-newline": lambda der_spki, pkcs1, pem: pem.rstrip(b"\n"),
    "pem-trailing-space": lambda der_spki, pkcs1, pem: pem + b"\n \r\n",
    "pkcs1-pem-crlf": lambda der_spki, pkcs1, pem: armour(b"RSA PUBLIC KEY", pkcs1, width=76, newline=b"\r\n"),
    # Left to the decoder, which accepts them.
    "leading-text": lambda der_spki, pkcs1, pem: b"key:\n" + pem,
    "long-form-length": lambda der_spki, pkcs1, pem: spki(pkcs1, outer_length=huge(3, len(spki(pkcs1, outer_length=b"")) - 1)),
    "spki-in-rsa-armour": lambda der_spki, pkcs1, pem: armour(b"RSA PUBLIC KEY", der_spki),
}


@pytest.mark.parametrize("layout", KEY_LAYOUTS)
@pytest.mark.parametrize("bits", [1024, 4096])
def test_rsa_key_layouts(rsa_keys, layout, bits):
    key = rsa_keys[bits]
    pub = KEY_LAYOUTS[layout](*public_forms(key))
    sig = key.sign(b"message", padding.PKCS1v15(), hashes.SHA256())
    assert rsa_verify(pub, b"message", sig) == 1
    cipher = produce(lambda buf, cell: lib.rsa_encrypt(pub, len(pub), b"abc", 3, buf, cell), "size_t *")
    assert key.decrypt(cipher, OAEP) == b"abc"


MALFORMED_KEYS = {
    **{f"spki-cut-{cut}": lambda der_spki, pkcs1, pem, cut=cut: der_spki[:cut] for cut in (1, 2, 4, 20, 24, -1)},
    "pkcs1-cut": lambda der_spki, pkcs1, pem: pkcs1[:-1],
    "pem-cut-end": lambda der_spki, pkcs1, pem: pem[:-3],
    "pem-cut-body": lambda der_spki, pkcs1, pem: pem[:100] + pem[-25:],
    "pem-spki-cut": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki[:-3]),
    "pem-end-label": lambda der_spki, pkcs1, pem: pem.replace(b"END PUBLIC", b"END RSA PUBLIC"),
    "oid-pss": lambda der_spki, pkcs1, pem: spki(pkcs1, bytes.fromhex("06092a864886f70d01010a0500")),
    "oid-ec": lambda der_spki, pkcs1, pem: spki(pkcs1, bytes.fromhex("06072a8648ce3d020106082a8648ce3d030107")),
    "oid-md2-rsa": lambda der_spki, pkcs1, pem: spki(pkcs1, bytes.fromhex("06092a864886f70d0101020500")),
    "pem-oid-pss": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", spki(pkcs1, bytes.fromhex("06092a864886f70d01010a"))),
    "outer-len-4": lambda der_spki, pkcs1, pem: b"\x30" + huge(4, 0xFFFFFFFF) + der_spki[4:],
    "outer-len-8": lambda der_spki, pkcs1, pem: b"\x30" + huge(8, 2**64 - 1) + der_spki[4:],
    "outer-len-9": lambda der_spki, pkcs1, pem: b"\x30" + huge(9, 2**72 - 1) + der_spki[4:],
    "outer-len-plus-1": lambda der_spki, pkcs1, pem: b"\x30" + huge(2, len(der_spki) - 3) + der_spki[4:],
    "bits-len-4": lambda der_spki, pkcs1, pem: spki(pkcs1, bits_length=huge(4, 0x7FFFFFFF)),
    "bits-indefinite": lambda der_spki, pkcs1, pem: spki(pkcs1, bits_length=b"\x80"),
    "pkcs1-len-8": lambda der_spki, pkcs1, pem: b"\x30" + huge(8, 2**63) + pkcs1[4:],
    "pem-huge-len": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", b"\x30" + huge(8, 2**64 - 1) + der_spki[4:]),
}


@pytest.mark.parametrize("case", MALFORMED_KEYS)
def test_rsa_rejects_malformed_keys(rsa_keys, case):
    key = rsa_keys[2048]
    bad = MALFORMED_KEYS[case](*public_forms(key))
    result, out = rsa_encrypt(bad, b"x")
    assert result == 0 and out.untouched()
    assert rsa_verify(bad, b"msg", key.sign(b"msg", padding.PKCS1v15(), hashes.SHA256())) == 0


LENIENT_KEYS = {
    "spki-trailing-byte": lambda der_spki, pkcs1, pem: der_spki + b"\x00",
    "long-form-trailing-byte": lambda der_spki, pkcs1, pem: spki(pkcs1, outer_length=huge(3, len(spki(pkcs1, outer_length=b"")) - 1)) + b"\x00",
    "leading-text-trailing-text": lambda der_spki, pkcs1, pem: b"key:\n" + pem + b"junk\n",
    "pem-end-line-cut": lambda der_spki, pkcs1, pem: pem[:-7] + b"\n",
    "pkcs1-trailing-bytes": lambda der_spki, pkcs1, pem: pkcs1 + b"junk",
    "bit-string-trailing-byte": lambda der_spki, pkcs1, pem: spki(pkcs1 + b"\x00"),
    "pem-trailing-text": lambda der_spki, pkcs1, pem: pem + b"junk",
    "pem-spki-trailing-byte": lambda der_spki, pkcs1, pem: armour(b"PUBLIC KEY", der_spki + b"\x00"),
    "unused-bits": lambda der_spki, pkcs1, pem: spki(pkcs1, unused=1),
}


# Bytes too many or too few around a key the parser knows are refused, not handed to a
# decoder that would take them (a bit string with unused bits loses the exponent's low bit,
# so it encrypts to a wrong key).
@pytest.mark.parametrize("case", LENIENT_KEYS)
def test_rsa_rejects_extra_or_partial_bytes(rsa_keys, case):
    key = rsa_keys[2048]
    bad = LENIENT_KEYS[case](*public_forms(key))
    result, out = rsa_encrypt(bad, b"x")
    assert result == 0 and out.untouched()
    assert rsa_verify(bad, b"msg", key.sign(b"msg", padding.PKCS1v15(), hashes.SHA256())) == 0


# --- libc ---

def test_chdir_getcwd_free(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # restores the working directory afterwards
    target = tmp_path / "sub"
    target.mkdir()
    assert lib.chdir(os.fsencode(target)) == 0
    cwd = lib.getcwd(ffi.NULL, 0)
    assert ffi.string(cwd) == os.fsencode(os.path.realpath(target))
    lib.free(cwd)
    assert lib.chdir(os.fsencode(tmp_path / "missing")) == -1
