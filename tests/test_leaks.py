"""Reference and memory leaks: every function, on its success path and on each
exception it documents, called many times; nothing may accumulate.

Four signs of a leak are watched:
- sys.gettotalrefcount() (debug builds of the interpreter only);
- the reference counts of the arguments, the function and the objects a body
  touches most (None, True, False, small ints, the exception types, ffi, lib),
  which a missing decref leaves raised on any build;
- memory held by the interpreter's allocators (tracemalloc), which shows any
  Python object that is created and never freed;
- resident memory, for native buffers, with inputs of megabytes.
"""
import ctypes
import gc
import os
import sys
import tracemalloc

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import brantel._inventory_decoder as decoder
import brantel.brantel_sysprobe as sysprobe
import smbios_builder as sb
from brantel import _sysprobe_internal as svc

# Under ASan (tools/sanitize.sh) or valgrind, Python's allocations go straight to
# malloc (PYTHONMALLOC=malloc), freed memory sits in quarantine and allocators
# keep caches of their own: only the reference counts are checked there.
SANITIZED = os.environ.get("BRANTEL_SANITIZE") == "1" or os.environ.get("PYTHONMALLOC", "").startswith("malloc")

ROUNDS = 300
WARMUP = 20

KEY, IV, NONCE = bytes(range(32)), bytes(range(16)), bytes(range(12))
RSA_KEY = rsa.generate_private_key(public_exponent=65537, key_size=2048)
PUBKEY = RSA_KEY.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
SIGNATURE = RSA_KEY.sign(b"message", asym.PKCS1v15(), hashes.SHA256())
SEALED = AESGCM(KEY).encrypt(NONCE, b"plain text", None)
CBC = svc.aes_cbc_encryptor(KEY, b"plain text", IV)

BLOB = sb.blob(sb.desktop_table())
RENDERED = sb.parse_inventory(svc.parse_windows_hardware_info(BLOB, b"guid"))
CPUS = sb.elements(RENDERED["cpu_list"])
DEVICE_SETS = sb.elements(RENDERED["memory_device_set_list"])
MODULE = "\x02".join(["6", "64", "DIMM 0", "18", "4", "7", "11", "0"])
HUGE = "\x02".join(["0"] * 19 + ["32767", "9" * 40])  # extended size beyond 64 bits


class Text(str):
    """Takes the queries' generic path (split by method call)."""


class Sink:
    """An append target that keeps nothing."""

    def append(self, item):
        pass


def items(values):
    return "\x02".join(values)


def structure(*args, **kwargs):
    return sb.blob(sb.structure(*args, **kwargs))


# (id, function, args, kwargs, expected exception or None)
CASES = [
    # Helpers
    ("sha1", sysprobe.sha1, (b"abc",), {}, None),
    ("sha1-none", sysprobe.sha1, (None,), {}, TypeError),
    ("sha1-type", sysprobe.sha1, ("abc",), {}, TypeError),
    ("sha1-count", sysprobe.sha1, (), {}, TypeError),
    ("base64", sysprobe.base64_decode, (b"YWJj",), {}, None),
    ("base64-rerun", sysprobe.base64_decode, (b"QUJD" * 40000,), {}, None),
    ("base64-bad", sysprobe.base64_decode, (b"!!!!",), {}, ValueError),
    ("base64-none", sysprobe.base64_decode, (None,), {}, TypeError),
    ("chdir", sysprobe.chdir, (os.getcwd(),), {}, None),
    ("chdir-missing", sysprobe.chdir, ("/no/such/directory",), {}, None),
    ("chdir-none", sysprobe.chdir, (None,), {}, AttributeError),
    ("chdir-surrogate", sysprobe.chdir, ("\udcff",), {}, UnicodeEncodeError),
    ("chdir-keyword", sysprobe.chdir, (), {"path": "."}, TypeError),
    ("chdir-nul", sysprobe.chdir, ("/tmp\0x",), {}, None),
    ("getcwd", sysprobe.getcwd, (), {}, None),
    ("getcwd-args", sysprobe.getcwd, (1,), {}, TypeError),
    # Inventory entry
    ("inventory", svc.parse_windows_hardware_info, (BLOB, b"guid"), {}, None),
    ("inventory-keywords", svc.parse_windows_hardware_info, (), {"guid": b"g", "win_smbios": BLOB}, None),
    ("inventory-empty", svc.parse_windows_hardware_info, (b"", b""), {}, IndexError),
    ("inventory-one-byte", svc.parse_windows_hardware_info, (b"\x03", b""), {}, IndexError),
    ("inventory-none", svc.parse_windows_hardware_info, (None, b""), {}, TypeError),
    ("inventory-guid-none", svc.parse_windows_hardware_info, (BLOB, None), {}, AttributeError),
    ("inventory-guid-utf8", svc.parse_windows_hardware_info, (BLOB, b"\xff"), {}, UnicodeDecodeError),
    ("inventory-no-end", svc.parse_windows_hardware_info, (BLOB[:-1], b""), {}, ValueError),
    ("inventory-string-number", svc.parse_windows_hardware_info,
     (structure(0, {4: 5}, strings=["a"]), b""), {}, IndexError),
    ("inventory-string-utf8", svc.parse_windows_hardware_info,
     (structure(0, {4: 1}, strings=[b"\xc3("]), b""), {}, UnicodeDecodeError),
    ("inventory-short-records", svc.parse_windows_hardware_info,
     (sb.blob(sb.structure(2, {4: 1}, length=13, strings=["a"]), sb.structure(3, {}, length=4)), b""), {}, None),
    ("inventory-type", svc.parse_windows_hardware_info, (bytearray(BLOB), b""), {}, TypeError),
    ("inventory-count", svc.parse_windows_hardware_info, (BLOB,), {}, TypeError),
    # Decoded inventory
    ("decode", decoder.decode, (sb.blob(sb.server_table()),), {}, None),
    ("decode-anomalies", decoder.decode, (b"\x02\x03" + b"\x00\x05\x00\x00\x09\xff" * 3 + b"\x00\x05\x00\x00\x01\xfe\x00\x00"
                                          + b"\x06\x0c" + bytes(10) + b"\x00\x00\x07\x02", ), {}, None),
    ("decode-huge-module", decoder.decode, (sb.blob(sb.structure(6, {9: 0x7C, 10: 0x7C}, length=12)),), {}, None),
    ("decode-short", decoder.decode, (b"\x03",), {}, ValueError),
    ("decode-type", decoder.decode, ("text",), {}, TypeError),
    ("decode-generic", decoder.decode, (sb.blob(sb.structure(0x80, {4: 1}, strings=["a", b"\xff"]),
                                                sb.structure(126, {}), sb.structure(0, {4: 9}), sb.structure(0, {}),
                                                sb.end_of_table()),), {}, None),
    ("decode-probe", decoder._probe, (sb.blob(sb.structure(200, {0x12: (0xFFFF, 8), 0x44: 9, 0x45: 3},
                                                           length=0x60, strings=["a"])),), {}, None),
    ("decode-version-mistake", decoder.decode, (sb.blob(sb.structure(1, {}, length=0x19), version=(2, 31)),), {}, None),
    ("layouts", decoder.layouts, (), {}, None),
    # Queries
    ("cpus", lambda cpus: svc.get_populated_cpus(cpus, []), (CPUS,), {}, None),
    ("cpus-generic", svc.get_populated_cpus, ([Text(c) for c in CPUS], Sink()), {}, None),
    ("cpus-short", svc.get_populated_cpus, ([""], []), {}, IndexError),
    ("cpus-not-int", svc.get_populated_cpus, ([items(["None"] * 9)], []), {}, ValueError),
    ("cpus-none", svc.get_populated_cpus, ([None], []), {}, AttributeError),
    ("cpus-bytes", svc.get_populated_cpus, ([b"\x02" * 9], []), {}, TypeError),
    ("cpus-count", svc.get_populated_cpus, (CPUS,), {}, TypeError),
    ("devices", svc.get_memory_devices, (DEVICE_SETS,), {}, None),
    ("devices-big", svc.get_memory_devices, (["0\x04" + HUGE] * 3,), {}, None),
    ("devices-short", svc.get_memory_devices, (["0\x04a\x02b"],), {}, IndexError),
    ("devices-not-int", svc.get_memory_devices, (["0\x04" + items(["x"] * 21)],), {}, ValueError),
    ("devices-none", svc.get_memory_devices, ([None],), {}, AttributeError),
    ("devices-keyword", svc.get_memory_devices, (), {"memory_device_set_list": []}, TypeError),
    ("modules", svc.get_memory_modules, ([MODULE, "x\x04" + MODULE],), {}, None),
    ("modules-big", svc.get_memory_modules, ([items(["0", "0", "s", "0", "0", "0", "100"])],), {}, None),
    ("modules-short", svc.get_memory_modules, (["a\x02b"],), {}, IndexError),
    ("modules-not-int", svc.get_memory_modules, ([items(["x"] * 8)],), {}, ValueError),
    ("modules-none", svc.get_memory_modules, ([None],), {}, AttributeError),
    ("modules-int", svc.get_memory_modules, (5,), {}, TypeError),
    # Cipher services
    ("urandom", svc.urandom, (64,), {}, None),
    ("urandom-negative", svc.urandom, (-1,), {}, OverflowError),
    ("urandom-type", svc.urandom, ("8",), {}, TypeError),
    ("cbc-encrypt", svc.aes_cbc_encryptor, (KEY, b"plain" * 300, IV), {}, None),
    ("cbc-decrypt", svc.aes_cbc_decryptor, (KEY, CBC, IV), {}, None),
    ("cbc-decrypt-bad", svc.aes_cbc_decryptor, (KEY, CBC[:-1], IV), {}, ValueError),
    ("cbc-key-size", svc.aes_cbc_encryptor, (KEY[:16], b"p", IV), {}, ValueError),
    ("cbc-none", svc.aes_cbc_encryptor, (KEY, None, IV), {}, TypeError),
    ("cbc-keyword", svc.aes_cbc_decryptor, (KEY,), {"cbc_iv": IV, "nonce_cipher": CBC}, None),
    ("cbc-duplicate", svc.aes_cbc_decryptor, (KEY, CBC, IV), {"aeskey": KEY}, TypeError),
    ("gcm-encrypt", svc.aes_gcm_encryptor, (KEY, b"plain", NONCE), {}, None),
    ("gcm-decrypt", svc.aes_gcm_decryptor, (KEY, SEALED, NONCE), {}, None),
    ("gcm-tampered", svc.aes_gcm_decryptor, (KEY, SEALED[:-1], NONCE), {}, ValueError),
    ("gcm-empty-nonce", svc.aes_gcm_encryptor, (KEY, b"p", b""), {}, ValueError),
    ("gcm-type", svc.aes_gcm_decryptor, (KEY, "text", NONCE), {}, TypeError),
    ("rsa-encrypt", svc.rsa_encryptor, (PUBKEY, b"secret"), {}, None),
    ("rsa-encrypt-garbage", svc.rsa_encryptor, (b"not a key", b"secret"), {}, ValueError),
    ("rsa-encrypt-none", svc.rsa_encryptor, (PUBKEY, None), {}, TypeError),
    ("rsa-verify", svc.rsa_verifier, (PUBKEY, b"message", SIGNATURE), {}, None),
    ("rsa-verify-wrong", svc.rsa_verifier, (PUBKEY, b"messagE", SIGNATURE), {}, None),
    ("rsa-verify-garbage", svc.rsa_verifier, (b"\x30\x82" + bytes(40), b"m", b"s"), {}, None),
]

WATCHED = [None, True, False, *range(-1, 257), 1000, 100000, TypeError, ValueError, IndexError, AttributeError,
           OverflowError, UnicodeDecodeError, UnicodeEncodeError, sysprobe.ffi, sysprobe.lib, sysprobe.__dict__]


def call_once(function, args, kwargs, error):
    try:
        function(*args, **kwargs)
    except Exception as raised:
        if error is None or not isinstance(raised, error):
            raise
    else:
        assert error is None, f"{error.__name__} not raised"


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


@pytest.fixture(scope="module")
def traced():
    if SANITIZED:
        yield
        return
    tracemalloc.start()
    yield
    tracemalloc.stop()


def window(function, args, kwargs, error, watched):
    """Growth of the three counts over ROUNDS calls."""
    gc.collect()
    total = getattr(sys, "gettotalrefcount", lambda: 0)()
    counts = refcounts(watched)
    memory = tracemalloc.get_traced_memory()[0]
    for _ in range(ROUNDS):
        call_once(function, args, kwargs, error)
    gc.collect()
    memory = tracemalloc.get_traced_memory()[0] - memory  # first: what follows allocates
    total = getattr(sys, "gettotalrefcount", lambda: 0)() - total
    return total, [after - before for before, after in zip(counts, refcounts(watched))], memory


@pytest.mark.parametrize("function, args, kwargs, error", [pytest.param(*c[1:], id=c[0]) for c in CASES])
def test_no_reference_or_object_leak(traced, function, args, kwargs, error):
    cwd = os.getcwd()
    watched = [function, *args, *kwargs.values(), *WATCHED]
    for _ in range(WARMUP):
        call_once(function, args, kwargs, error)
    # Three windows: caches filled on first use grow some of them (on 3.13 small
    # allocations go on growing in bursts over the first thousand calls), a leak grows all.
    windows = [window(function, args, kwargs, error, watched) for _ in range(3)]
    os.chdir(cwd)
    leaked = [(o, min(grown)) for o, *grown in zip(watched, *(w[1] for w in windows)) if min(grown) >= ROUNDS // 2]
    assert leaked == []
    assert min(w[0] for w in windows) < ROUNDS // 2
    memory = min(w[2] for w in windows)
    assert SANITIZED or memory < 8 * ROUNDS, f"{memory} bytes held after {ROUNDS} calls"


def resident():
    gc.collect()
    try:
        ctypes.CDLL(None).malloc_trim(0)  # glibc keeps freed blocks of megabytes otherwise
    except AttributeError:
        pass
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


MIB = 1 << 20
BIG = bytes(i % 251 for i in range(4 * MIB))
BIG_SEALED = AESGCM(KEY).encrypt(NONCE, BIG, None)

BIG_CASES = [
    ("sha1", lambda: sysprobe.sha1(BIG)),
    ("base64", lambda: sysprobe.base64_decode(b"QUJD" * MIB)),
    ("base64-bad-end", lambda: sysprobe.base64_decode(b"QUJD" * MIB + b"!")),
    ("gcm-encrypt", lambda: svc.aes_gcm_encryptor(KEY, BIG, NONCE)),
    ("gcm-decrypt", lambda: svc.aes_gcm_decryptor(KEY, BIG_SEALED, NONCE)),
    ("gcm-tampered", lambda: svc.aes_gcm_decryptor(KEY, BIG_SEALED[:-1], NONCE)),
    ("cbc-encrypt", lambda: svc.aes_cbc_encryptor(KEY, BIG, IV)),
    ("cbc-decrypt-bad", lambda: svc.aes_cbc_decryptor(KEY, BIG[:-16] + bytes(16), IV)),
    ("urandom", lambda: svc.urandom(4 * MIB)),
    ("inventory", lambda: svc.parse_windows_hardware_info(sb.blob(sb.server_table()) , b"g" * MIB)),
    ("inventory-no-end", lambda: svc.parse_windows_hardware_info(b"\0\0" + b"\x7f\x04" * 2 * MIB, b"")),
    ("decode", lambda: decoder.decode(sb.blob(*[sb.server_table()] * 40))),
    ("rsa-verify-long-message", lambda: svc.rsa_verifier(PUBKEY, BIG, SIGNATURE)),
]


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
@pytest.mark.skipif(SANITIZED, reason="resident memory means little under ASan")
@pytest.mark.parametrize("call", [pytest.param(c, id=n) for n, c in BIG_CASES])
def test_resident_memory_returns(call):
    def run(times):
        for _ in range(times):
            try:
                call()
            except (ValueError, TypeError, IndexError):
                pass
    run(3)
    before = resident()
    run(15)
    growth = resident() - before
    assert growth < 8 * MIB, f"resident memory grew by {growth / MIB:.1f} MiB over 15 calls"
