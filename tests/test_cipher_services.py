"""Cipher services: urandom and the AES/RSA wrappers over the companion library."""
import itertools
import types

import pytest
from cryptography.hazmat.primitives import hashes, padding, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import brantel.brantel_sysprobe as sysprobe
from brantel import _sysprobe_internal as svc
from brantel.brantel_decryption_ import ffi as REAL_FFI

KEY = bytes(range(32))
IV = bytes(range(100, 116))
NONCE = bytes(range(200, 212))
NONE_BUFFER = "expected new array length or list/tuple/str, not NoneType"


def cbc(data):
    """AES-256-CBC with PKCS#7 padding under KEY and IV, by cryptography."""
    padder, encryptor = padding.PKCS7(128).padder(), Cipher(algorithms.AES(KEY), modes.CBC(IV)).encryptor()
    return encryptor.update(padder.update(data) + padder.finalize()) + encryptor.finalize()


@pytest.fixture(scope="module")
def rsa_key():
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def public_bytes(private, encoding, fmt):
    return private.public_key().public_bytes(getattr(serialization.Encoding, encoding),
                                             getattr(serialization.PublicFormat, fmt))


KEY_FORMATS = list(itertools.product(["PEM", "DER"], ["SubjectPublicKeyInfo", "PKCS1"]))


class FakeLib:
    """Stands in for lib: follows the capacity protocol with a fixed output and records each call."""

    OUTPUT_AT = {"aes_cbc_encrypt": 5, "aes_cbc_decrypt": 3, "aes_gcm_encrypt": 5,
                 "aes_gcm_decrypt": 3, "rsa_encrypt": 4}

    def __init__(self, output=b"", results=(1,)):
        self.output, self.results, self.calls = output, results, []

    def __getattr__(self, name):
        def operation(*args):
            self.calls.append(types.SimpleNamespace(args=args))
            if name in self.OUTPUT_AT:
                out, cell = args[self.OUTPUT_AT[name]], args[self.OUTPUT_AT[name] + 1]
                self.calls[-1].capacity, self.calls[-1].size = cell[0], REAL_FFI.sizeof(out)
                if len(self.output) <= cell[0]:
                    REAL_FFI.memmove(out, self.output, len(self.output))
                cell[0] = len(self.output)
            elif name == "random_buffer":
                REAL_FFI.memmove(args[1], b"\xab" * args[0], args[0])
            return self.results[min(len(self.calls), len(self.results)) - 1]
        return operation


@pytest.fixture
def fake(use_lib):
    return lambda **kwargs: use_lib(FakeLib(**kwargs))


def last_entry(excinfo):
    tb = excinfo.value.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    return tb


def own_entry(excinfo):
    """The module's own traceback entry (a substituted ffi may add frames after it)."""
    tb, found = excinfo.value.__traceback__, None
    while tb:
        if tb.tb_frame.f_code.co_filename == "brantel\\brantel_sysprobe":
            found = tb
        tb = tb.tb_next
    return found


# --- Surface ------------------------------------------------------------------

SURFACE = [
    ("urandom", 160, ["num_bytes"], "unsigned int", "bytes", ["buffer", "i"]),
    ("aes_cbc_decryptor", 166, ["aeskey", "nonce_cipher", "cbc_iv"], "bytes", "bytes",
     ["aeskey_char", "cbc_iv_char", "nonce_cipher_char", "nonce_txt", "nonce_len", "i"]),
    ("aes_cbc_encryptor", 193, ["aeskey", "nonce", "cbc_iv"], "bytes", "bytes",
     ["aeskey_char", "nonce_txt_char", "cbc_iv_char", "nonce_cipher", "nonce_cipher_len", "i"]),
    ("aes_gcm_encryptor", 214, ["aeskey", "content", "nonce"], "bytes", "bytes",
     ["aeskey_char", "content_char", "nonce_char", "cipher_txt", "cipher_len", "i"]),
    ("aes_gcm_decryptor", 232, ["aeskey", "cipher_txt", "nonce"], "bytes", "bytes",
     ["aeskey_char", "nonce_char", "cipher_txt_char", "content", "content_len", "i"]),
    ("rsa_encryptor", 251, ["pubkey", "content"], "bytes", "bytes",
     ["pubkey_char", "content_char", "cipher", "cipher_len", "i"]),
    ("rsa_verifier", 269, ["pubkey", "message", "signature"], "bytes", "bool", ["pubkey_char", "msg", "sig"]),
]


@pytest.mark.parametrize("name, line, params, annotation, result, local_names", SURFACE)
def test_surface(name, line, params, annotation, result, local_names):
    f = getattr(svc, name)
    assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (name, name, "brantel.brantel_sysprobe", None)
    assert f.__annotations__ == {**{p: annotation for p in params}, "return": result}
    code = f.__code__
    assert (code.co_filename, code.co_firstlineno, code.co_argcount) == ("brantel\\brantel_sysprobe", line, len(params))
    assert code.co_varnames == tuple(params + local_names)
    assert name not in vars(sysprobe)


# --- urandom ------------------------------------------------------------------

@pytest.mark.parametrize("n, expected", [(0, 0), (1, 1), (2.9, 2), (4096, 4096)])
def test_urandom_lengths(n, expected):
    result = svc.urandom(n)
    assert type(result) is bytes and len(result) == expected
    assert n < 16 or result != svc.urandom(n)


def test_urandom_passes_converted_count(fake):
    lib = fake()
    assert svc.urandom(3.7) == b"\xab" * 3
    (call,) = lib.calls
    assert call.args[0] == 3 and sysprobe.ffi.sizeof(call.args[1]) == 3


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((-1,), {}, OverflowError, "can't convert negative value to unsigned int"),
    ((2**32,), {}, OverflowError, "Python int too large to convert to C unsigned long"),
    (("8",), {}, TypeError, "an integer is required"),
    ((), {"num_bytes": 8}, TypeError, "urandom() takes no keyword arguments"),
    ((), {}, TypeError, "urandom() takes exactly one argument (0 given)"),
    ((1, 2), {}, TypeError, "urandom() takes exactly one argument (2 given)"),
])
def test_urandom_argument_errors(fake, args, kwargs, error, message):
    lib = fake()
    with pytest.raises(error) as excinfo:
        svc.urandom(*args, **kwargs)
    assert str(excinfo.value) == message and lib.calls == []


def test_urandom_library_failure(fake):
    fake(results=(0,))
    with pytest.raises(OSError, match="^get random number failed!$"):
        svc.urandom(4)


# --- AES-CBC ------------------------------------------------------------------

@pytest.mark.parametrize("size", [0, 1, 12, 15, 16, 17, 100, 999])
def test_cbc_interop(size):
    plain = bytes(range(256)) * 4
    plain = plain[:size]
    cipher = svc.aes_cbc_encryptor(KEY, plain, IV)
    assert cipher == cbc(plain)
    assert svc.aes_cbc_decryptor(KEY, cipher, IV) == plain[:12]


@pytest.mark.parametrize("cipher", [
    pytest.param(cbc(b"x" * 20)[:-1], id="not-block-aligned"),
    pytest.param(b"", id="empty"),
    pytest.param(cbc(b"x" * 20)[:16] + bytes(16), id="bad-padding"),
])
def test_cbc_decrypt_failure(cipher):
    with pytest.raises(ValueError, match="^AES-CBC decryption failed!$"):
        svc.aes_cbc_decryptor(KEY, cipher, IV)


# --- AES-GCM ------------------------------------------------------------------

@pytest.mark.parametrize("size, nonce", [(0, NONCE), (16, NONCE), (1000, NONCE), (70000, NONCE),
                                         (33, bytes(16)), (33, b"\x01" * 8)])
def test_gcm_interop(size, nonce):
    plain = bytes(i % 251 for i in range(size))
    sealed = svc.aes_gcm_encryptor(KEY, plain, nonce)
    assert sealed == AESGCM(KEY).encrypt(nonce, plain, None)
    assert svc.aes_gcm_decryptor(KEY, sealed, nonce) == plain


def test_gcm_one_mebibyte_round_trip():
    plain = bytes(i % 253 for i in range(1 << 20))
    sealed = svc.aes_gcm_encryptor(KEY, plain, NONCE)
    assert len(sealed) == (1 << 20) + 16
    assert AESGCM(KEY).decrypt(NONCE, sealed, None) == plain
    assert svc.aes_gcm_decryptor(KEY, sealed, NONCE) == plain


SEALED = AESGCM(KEY).encrypt(NONCE, b"attack at dawn", None)


@pytest.mark.parametrize("key, sealed, nonce", [
    pytest.param(KEY, bytes([SEALED[0] ^ 1]) + SEALED[1:], NONCE, id="ciphertext"),
    pytest.param(KEY, SEALED[:-1] + bytes([SEALED[-1] ^ 0x80]), NONCE, id="tag"),
    pytest.param(KEY, SEALED[:-1], NONCE, id="truncated"),
    pytest.param(KEY, SEALED[:15], NONCE, id="shorter-than-tag"),
    pytest.param(KEY, SEALED, bytes(12), id="nonce"),
    pytest.param(bytes(32), SEALED, NONCE, id="key"),
])
def test_gcm_tampered(key, sealed, nonce):
    with pytest.raises(ValueError, match="^AES-GCM decryption failed!$"):
        svc.aes_gcm_decryptor(key, sealed, nonce)


def test_gcm_empty_nonce_rejected():
    with pytest.raises(ValueError, match="^AES-GCM encryption failed!$"):
        svc.aes_gcm_encryptor(KEY, b"data", b"")


# --- Key and IV sizes: the library reads 32 key bytes and 16 IV bytes ---------

SIZED_CALLS = {
    "aes_cbc_encryptor": lambda key, iv: (key, b"data", iv),
    "aes_cbc_decryptor": lambda key, iv: (key, cbc(b"data"), iv),
    "aes_gcm_encryptor": lambda key, iv: (key, b"data", NONCE),
    "aes_gcm_decryptor": lambda key, iv: (key, SEALED, NONCE),
}
BAD_KEYS = [(b"", 0), (KEY[:16], 16), (KEY[:31], 31), (KEY + b"!", 33)]
BAD_IVS = [(b"", 0), (IV[:8], 8), (IV[:15], 15), (IV + b"!", 17), (IV + IV, 32)]


@pytest.mark.parametrize("name, key, iv, message", [
    *[(name, key, IV, f"aeskey must be 32 bytes, got {n}") for name in SIZED_CALLS for key, n in BAD_KEYS],
    *[(name, KEY, iv, f"cbc_iv must be 16 bytes, got {n}") for name in list(SIZED_CALLS)[:2] for iv, n in BAD_IVS],
    ("aes_cbc_encryptor", KEY[:8], IV[:8], "aeskey must be 32 bytes, got 8"),
])
def test_key_and_iv_sizes_checked_before_library(fake, name, key, iv, message):
    lib = fake()
    with pytest.raises(ValueError) as excinfo:
        getattr(svc, name)(*SIZED_CALLS[name](key, iv))
    assert str(excinfo.value) == message and lib.calls == []


# --- RSA ----------------------------------------------------------------------

OAEP = asym.OAEP(mgf=asym.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)


@pytest.mark.parametrize("encoding, fmt", KEY_FORMATS)
def test_rsa_encryptor_interop(rsa_key, encoding, fmt):
    for plain in (b"", b"session key", bytes(190)):
        cipher = svc.rsa_encryptor(public_bytes(rsa_key, encoding, fmt), plain)
        assert len(cipher) == 256 and rsa_key.decrypt(cipher, OAEP) == plain


@pytest.mark.parametrize("pubkey, content", [
    pytest.param(b"not a key", b"x", id="garbage-key"),
    pytest.param(b"", b"x", id="empty-key"),
    pytest.param("PEM", bytes(191), id="too-long-for-oaep-sha256"),
])
def test_rsa_encryptor_failure(rsa_key, pubkey, content):
    if pubkey == "PEM":
        pubkey = public_bytes(rsa_key, "PEM", "PKCS1")
    with pytest.raises(ValueError, match="^RSA encryption failed!$"):
        svc.rsa_encryptor(pubkey, content)


@pytest.mark.parametrize("encoding, fmt", KEY_FORMATS)
def test_rsa_verifier_interop(rsa_key, encoding, fmt):
    pubkey = public_bytes(rsa_key, encoding, fmt)
    signature = rsa_key.sign(b"firmware image", asym.PKCS1v15(), hashes.SHA256())
    result = svc.rsa_verifier(pubkey, b"firmware image", signature)
    assert type(result) is int and result == 1


def test_rsa_verifier_rejects(rsa_key):
    pubkey = public_bytes(rsa_key, "DER", "SubjectPublicKeyInfo")
    other = public_bytes(rsa.generate_private_key(public_exponent=65537, key_size=2048), "PEM", "PKCS1")
    message = b"firmware image"
    signature = rsa_key.sign(message, asym.PKCS1v15(), hashes.SHA256())
    for args in [(pubkey, b"firmware imagE", signature), (pubkey, message, signature[:-1] + b"\0"),
                 (other, message, signature), (b"\x30\x82" + bytes(40), message, signature),
                 (pubkey, message, b""), (pubkey, message, signature + b"\0")]:
        result = svc.rsa_verifier(*args)
        assert type(result) is int and result == 0


def test_rsa_verifier_returns_library_result_unchanged(fake):
    sentinel = object()
    fake(results=(sentinel,))
    assert svc.rsa_verifier(b"k", b"m", b"s") is sentinel


# --- Library calls through a fake lib: argument order and the output rule ----

def test_library_arguments_in_order(fake):
    lib = fake(output=b"out")
    svc.aes_cbc_encryptor(KEY, b"plain", IV)
    svc.aes_cbc_decryptor(KEY, b"cipher", IV)
    svc.aes_gcm_encryptor(KEY, b"content!", NONCE)
    svc.aes_gcm_decryptor(KEY, b"sealed text", NONCE)
    svc.rsa_encryptor(b"pubkey", b"secret")
    svc.rsa_verifier(b"pubkey", b"message", b"signature")

    def shown(arg):
        return arg if isinstance(arg, int) else bytes(sysprobe.ffi.buffer(arg))

    key, iv, nonce = KEY + b"\0", IV + b"\0", NONCE + b"\0"
    expected = [
        [key, iv, 16, b"plain\0", 5, None, None],
        [key, iv, 16, None, None, b"cipher\0", 6],
        [key, nonce, 12, b"content!\0", 8, None, None],
        [key, nonce, 12, None, None, b"sealed text\0", 11],
        [b"pubkey\0", 6, b"secret\0", 6, None, None],
        [b"pubkey\0", 6, b"message\0", 7, b"signature\0", 9],
    ]
    assert len(lib.calls) == len(expected)
    for call, want in zip(lib.calls, expected):
        assert [shown(a) if w is not None else None for a, w in zip(call.args, want)] == want


RERUN = [
    # service, args, output size, capacity of the cell before each call, result
    ("aes_cbc_decryptor", (KEY, b"c" * 48, IV), 8, [1000], slice(None)),
    ("aes_cbc_decryptor", (KEY, b"c" * 48, IV), 16, [1000], slice(12)),
    ("aes_cbc_decryptor", (KEY, b"c" * 48, IV), 17, [1000, 17], slice(12)),
    ("aes_cbc_decryptor", (KEY, b"c" * 48, IV), 40, [1000, 40], slice(12)),
    ("aes_cbc_encryptor", (KEY, b"p", IV), 1000, [1000], slice(None)),
    ("aes_cbc_encryptor", (KEY, b"p", IV), 1001, [1000, 1001], slice(None)),
    ("aes_gcm_encryptor", (KEY, b"p", NONCE), 100000, [100000], slice(None)),
    ("aes_gcm_encryptor", (KEY, b"p", NONCE), 100001, [100000, 100001], slice(None)),
    ("aes_gcm_decryptor", (KEY, b"c", NONCE), 100000, [100000], slice(None)),
    ("aes_gcm_decryptor", (KEY, b"c", NONCE), 100001, [100000, 100001], slice(None)),
    ("rsa_encryptor", (b"k", b"p"), 1000, [1000], slice(None)),
    ("rsa_encryptor", (b"k", b"p"), 1001, [1000, 1001], slice(None)),
]


# The line of the repeat call in each service.
RERUN_CALL_LINE = {"aes_cbc_decryptor": 180, "aes_cbc_encryptor": 207, "aes_gcm_encryptor": 226,
                   "aes_gcm_decryptor": 244, "rsa_encryptor": 261}


@pytest.mark.parametrize("name, args, size, capacities, kept", RERUN)
def test_output_rule(fake, name, args, size, capacities, kept):
    output = bytes(i % 255 + 1 for i in range(size))
    lib = fake(output=output)
    assert getattr(svc, name)(*args) == output[kept]
    assert [c.capacity for c in lib.calls] == capacities
    assert [c.size for c in lib.calls] == capacities


@pytest.mark.parametrize("name, args, size, capacities, kept", [r for r in RERUN if len(r[3]) == 2])
def test_a_failed_re_run_is_reported(fake, name, args, size, capacities, kept):
    # A repeat call that fails has written nothing usable into its buffer.
    lib = fake(output=bytes(size), results=(1, 0))
    with pytest.raises(ValueError, match="failed!$") as excinfo:
        getattr(svc, name)(*args)
    assert len(lib.calls) == 2
    assert last_entry(excinfo).tb_lineno == RERUN_CALL_LINE[name]


@pytest.mark.parametrize("name, args, message", [
    ("aes_cbc_decryptor", (KEY, b"c", IV), "AES-CBC decryption failed!"),
    ("aes_cbc_encryptor", (KEY, b"p", IV), "AES-CBC encryption failed!"),
    ("aes_gcm_encryptor", (KEY, b"p", NONCE), "AES-GCM encryption failed!"),
    ("aes_gcm_decryptor", (KEY, b"c", NONCE), "AES-GCM decryption failed!"),
    ("rsa_encryptor", (b"k", b"p"), "RSA encryption failed!"),
])
@pytest.mark.parametrize("result", [0, 2, None])
def test_library_failure_makes_no_rerun(fake, name, args, message, result):
    lib = fake(output=bytes(200000), results=(result,))
    with pytest.raises(ValueError) as excinfo:
        getattr(svc, name)(*args)
    assert str(excinfo.value) == message and len(lib.calls) == 1


# --- Calling forms and argument errors ----------------------------------------

def test_keyword_forms_match_positional():
    sealed = svc.aes_gcm_encryptor(KEY, b"payload", NONCE)
    given = {"aeskey": KEY, "cipher_txt": sealed, "nonce": NONCE}
    for order in itertools.permutations(given):
        assert svc.aes_gcm_decryptor(**{k: given[k] for k in order}) == b"payload"
    assert svc.aes_gcm_decryptor(KEY, nonce=NONCE, cipher_txt=sealed) == b"payload"
    assert svc.aes_cbc_decryptor(KEY, cbc_iv=IV, nonce_cipher=cbc(b"p")) == b"p"


ARGUMENT_ERRORS = [
    ("aes_gcm_decryptor", (KEY, SEALED, NONCE, b""), {},
     "aes_gcm_decryptor() takes exactly 3 positional arguments (4 given)"),
    ("aes_gcm_decryptor", (), {"aeskey": KEY}, "aes_gcm_decryptor() takes exactly 3 positional arguments (1 given)"),
    ("aes_cbc_encryptor", (KEY,), {"cbc_iv": IV}, "aes_cbc_encryptor() takes exactly 3 positional arguments (1 given)"),
    ("rsa_encryptor", (), {}, "rsa_encryptor() takes exactly 2 positional arguments (0 given)"),
    ("rsa_verifier", (b"k", b"m", b"s"), {"pubkey": b"k"},
     "rsa_verifier() got multiple values for keyword argument 'pubkey'"),
    ("aes_cbc_decryptor", (KEY, b"c", IV), {"mode": 1}, "aes_cbc_decryptor() got an unexpected keyword argument 'mode'"),
    ("aes_gcm_encryptor", (KEY, b"x", "nonce"), {},
     "Argument 'nonce' has incorrect type (expected bytes, got str)"),
    ("aes_gcm_decryptor", (KEY, "text", "nonce"), {},
     "Argument 'cipher_txt' has incorrect type (expected bytes, got str)"),
    ("rsa_encryptor", (type("B", (bytes,), {})(b"k"), b"p"), {},
     "Argument 'pubkey' has incorrect type (expected bytes, got B)"),
]


@pytest.mark.parametrize("name, args, kwargs, message", ARGUMENT_ERRORS)
def test_argument_errors(fake, name, args, kwargs, message):
    lib = fake()
    with pytest.raises(TypeError) as excinfo:
        getattr(svc, name)(*args, **kwargs)
    assert str(excinfo.value) == message and lib.calls == []


# None passes the type check and fails when its input buffer is made; the
# traceback line tells which buffer (and so which argument) failed first.
NONE_ARGUMENTS = [
    ("aes_cbc_decryptor", (None, None, None), 167),
    ("aes_cbc_decryptor", (KEY, None, None), 168),
    ("aes_cbc_decryptor", (b"short key", None, IV), 169),
    ("aes_cbc_encryptor", (KEY, None, None), 195),
    ("aes_cbc_encryptor", (KEY, b"p", None), 196),
    ("aes_gcm_encryptor", (KEY, None, None), 216),
    ("aes_gcm_decryptor", (KEY, None, None), 234),
    ("aes_gcm_decryptor", (KEY, None, NONCE), 235),
    ("rsa_encryptor", (b"k", None), 253),
    ("rsa_verifier", (b"k", b"m", None), 272),
]


@pytest.mark.parametrize("name, args, line", NONE_ARGUMENTS)
def test_none_fails_at_its_buffer(fake, name, args, line):
    lib = fake()
    with pytest.raises(TypeError, match=NONE_BUFFER) as excinfo:
        getattr(svc, name)(*args)
    assert last_entry(excinfo).tb_lineno == line and lib.calls == []


# --- Traceback entries ----------------------------------------------------------

@pytest.mark.parametrize("name, args, kwargs, error, line", [
    ("urandom", (-1,), {}, OverflowError, 160),
    ("aes_gcm_decryptor", (KEY, SEALED, NONCE, b""), {}, TypeError, 232),
    ("rsa_verifier", (b"k",), {"signature": b"s"}, TypeError, 269),
    ("aes_cbc_decryptor", (KEY, cbc(b"p")[:16] + bytes(16), IV), {}, ValueError, 177),
    ("aes_cbc_encryptor", (KEY, b"p", IV[:8]), {}, ValueError, 199),
    ("aes_gcm_encryptor", (KEY[:8], b"p", NONCE), {}, ValueError, 218),
    ("aes_gcm_decryptor", (KEY, SEALED[:-1], NONCE), {}, ValueError, 241),
    ("rsa_encryptor", (b"not a key", b"p"), {}, ValueError, 258),
])
def test_traceback_entry(name, args, kwargs, error, line):
    with pytest.raises(error) as excinfo:
        getattr(svc, name)(*args, **kwargs)
    tb = last_entry(excinfo)
    code = tb.tb_frame.f_code
    assert (code.co_name, code.co_filename, tb.tb_lineno) == (
        f"brantel.brantel_sysprobe.{name}", "brantel\\brantel_sysprobe", line)
    assert tb.tb_frame.f_globals is sysprobe.__dict__


@pytest.mark.parametrize("call", [
    lambda: svc.urandom(num_bytes=1),
    lambda: svc.aes_gcm_encryptor(KEY, "x", NONCE),
])
def test_errors_before_the_body_add_no_entry(call):
    with pytest.raises(TypeError) as excinfo:
        call()
    assert last_entry(excinfo).tb_frame.f_code.co_name == "<lambda>"


# --- A substituted buffer layer --------------------------------------------------

class FiveFFI:
    """A buffer layer with only what the module uses: new, unpack, string, sizeof, NULL."""

    def __init__(self, accept_none=False):
        self.NULL, self.accept_none = REAL_FFI.NULL, accept_none

    def new(self, ctype, init=None):
        if init is None and self.accept_none and ctype == "unsigned char []":
            init = 0  # an empty buffer, where the real one refuses None
        return REAL_FFI.new(ctype) if init is None else REAL_FFI.new(ctype, init)

    def unpack(self, cdata, length):
        return REAL_FFI.unpack(cdata, length)

    def string(self, cdata):
        return REAL_FFI.string(cdata)

    def sizeof(self, cdata):
        return REAL_FFI.sizeof(cdata)


@pytest.fixture
def five_ffi(monkeypatch):
    def install(**kwargs):
        ffi = FiveFFI(**kwargs)
        monkeypatch.setattr(sysprobe, "ffi", ffi)
        return ffi
    return install


def test_every_helper_and_service_works_with_a_five_member_buffer_layer(five_ffi, rsa_key, tmp_path, monkeypatch):
    pubkey = public_bytes(rsa_key, "PEM", "PKCS1")
    sealed = AESGCM(KEY).encrypt(NONCE, bytes(150000), None)
    five_ffi()
    monkeypatch.chdir(tmp_path)
    assert sysprobe.sha1(b"abc") == "a9993e364706816aba3e25717850c26c9cd0d89d"
    assert sysprobe.base64_decode(b"QUJD" * 40000) == b"ABC" * 40000  # re-run
    assert sysprobe.chdir(str(tmp_path)) is True and sysprobe.getcwd() == str(tmp_path)
    assert len(svc.urandom(33)) == 33
    assert svc.aes_cbc_decryptor(KEY, svc.aes_cbc_encryptor(KEY, b"p" * 40, IV), IV) == b"p" * 12
    assert svc.aes_cbc_encryptor(KEY, b"q" * 1200, IV) == cbc(b"q" * 1200)  # re-run
    assert svc.aes_gcm_encryptor(KEY, b"content", NONCE) == AESGCM(KEY).encrypt(NONCE, b"content", None)
    assert svc.aes_gcm_decryptor(KEY, sealed, NONCE) == bytes(150000)  # re-run
    assert rsa_key.decrypt(svc.rsa_encryptor(pubkey, b"secret"), OAEP) == b"secret"
    assert svc.rsa_verifier(pubkey, b"m", rsa_key.sign(b"m", asym.PKCS1v15(), hashes.SHA256())) == 1


def test_getcwd_without_errno_in_the_buffer_layer_is_a_plain_os_error(five_ffi, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    gone = tmp_path / "gone"
    gone.mkdir()
    monkeypatch.chdir(gone)
    gone.rmdir()
    five_ffi()
    with pytest.raises(OSError, match="^getcwd failed$"):
        sysprobe.getcwd()


@pytest.mark.parametrize("name, args, line", [
    ("aes_gcm_encryptor", (KEY, b"data", None), 222),
    ("aes_gcm_decryptor", (KEY, SEALED, None), 240),
    ("aes_gcm_decryptor", (KEY, None, NONCE), 240),
    ("rsa_encryptor", (b"k", None), 257),
    ("rsa_verifier", (b"k", b"m", None), 273),
])
def test_a_length_of_none_is_a_type_error(five_ffi, name, args, line):
    # A buffer layer that takes None: the lengths come from the arguments themselves.
    five_ffi(accept_none=True)
    with pytest.raises(TypeError, match=r"^object of type 'NoneType' has no len\(\)$") as excinfo:
        getattr(svc, name)(*args)
    assert last_entry(excinfo).tb_lineno == line


@pytest.mark.parametrize("name, args, failing, line", [
    ("aes_gcm_encryptor", (KEY, b"p", NONCE), "int *", 220),
    ("aes_gcm_encryptor", (KEY, b"p", NONCE), "unsigned char [100000]", 221),
    ("rsa_encryptor", (b"k", b"p"), "size_t *", 255),
    ("aes_cbc_encryptor", (KEY, b"p" * 2000, IV), "unsigned char []", 206),  # the re-run buffer
])
def test_cell_output_and_re_run_buffers_report_their_own_lines(fake, monkeypatch, name, args, failing, line):
    made = []

    class Failing(FiveFFI):
        def new(self, ctype, init=None):
            made.append(ctype)
            if ctype == failing and (init is None or isinstance(init, int)):
                raise MemoryError(ctype)
            return super().new(ctype, init)
    monkeypatch.setattr(sysprobe, "ffi", Failing())
    fake(output=bytes(len(args[1]) + 16))
    with pytest.raises(MemoryError) as excinfo:
        getattr(svc, name)(*args)
    assert own_entry(excinfo).tb_lineno == line


def test_the_cell_is_made_before_the_output_buffer(fake, monkeypatch):
    made = []

    class Recording(FiveFFI):
        def new(self, ctype, init=None):
            made.append(ctype)
            return super().new(ctype, init)
    monkeypatch.setattr(sysprobe, "ffi", Recording())
    fake(output=b"x")
    svc.aes_gcm_decryptor(KEY, b"c", NONCE)
    assert made == ["unsigned char []"] * 3 + ["int *", "unsigned char [100000]"]
