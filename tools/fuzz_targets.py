"""Fuzz targets for brantel.brantel_sysprobe and its internal functions.

Each target is a function of one bytes value. It returns normally when the
module gave the right result or raised an exception that it documents for that
input, and raises Fault (or lets an undocumented exception escape) otherwise.
A crash of the interpreter is a failure too, caught by whoever runs the target.

Targets:
  inventory  parse_windows_hardware_info on raw or structure-built blobs and GUIDs
  queries    get_populated_cpus / get_memory_devices / get_memory_modules on texts
             built from the input, checked against a plain Python model
  base64     base64_decode on raw input and on encoded input with white space,
             plus sha1 against hashlib
  ciphers    the cipher services with fuzzed key, IV, nonce, data, key and
             signature lengths and contents
  decoded    brantel.decode (and its probe of every value kind) on raw or built
             blobs: no exception but for a blob under two bytes, a document that
             JSON encodes, every structure a plain walk reaches placed once

tools/run_fuzz.py runs them under atheris or, without it, a random-input loop.
"""
import base64
import hashlib
import pathlib
import random
import re
import struct

from brantel import _sysprobe_internal as svc
from brantel import brantel_sysprobe as sysprobe

ROOT = pathlib.Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "smbios-corpus" / "blobs"
BUNDLED = ROOT / "tests" / "data"  # the real tables that ship with the tests


class Fault(AssertionError):
    """A result or exception the module does not document for that input."""


def expect(condition, message, *context):
    if not condition:
        raise Fault(message + "".join(f"\n  {c!r}"[:2000] for c in context))


def raises_only(call, allowed, context=()):
    """Runs call(); returns (result, None) or (None, exception) for an allowed exception type."""
    try:
        return call(), None
    except allowed as error:
        return None, error
    except Exception as error:
        raise Fault(f"undocumented {type(error).__name__}: {error}", *context) from error


class Input:
    """Reads typed values from fuzz bytes; runs out into zeros, never fails."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def remaining(self):
        return len(self.data) - self.pos

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def int_in(self, low, high):
        span = high - low
        if span <= 0:
            return low
        width = (span.bit_length() + 7) // 8
        value = int.from_bytes(bytes(self.byte() for _ in range(width)), "little")
        return low + value % (span + 1)

    def chance(self, one_in):
        return self.byte() % one_in == 0

    def pick(self, seq):
        return seq[self.int_in(0, len(seq) - 1)]

    def take(self, n):
        piece = self.data[self.pos:self.pos + n]
        self.pos += len(piece)
        return piece

    def rest(self):
        return self.take(self.remaining())


# --- SMBIOS structures --------------------------------------------------------

def structure(kind, formatted, strings=(), handle=0, terminated=True):
    """One SMBIOS structure: header (type, length, handle), formatted bytes, string set."""
    head = struct.pack("<BBH", kind, 4 + len(formatted), handle) + bytes(formatted)
    if not terminated:
        return head + b"\0".join(strings)
    if not strings:
        return head + b"\0\0"
    return head + b"\0".join(strings) + b"\0\0"


# Formatted-area sizes (header excluded) of the types the walker handles, at
# their usual SMBIOS lengths, plus one or two shorter ones.
TYPICAL_SIZES = {0: (1, 14, 20, 22), 1: (4, 21, 23), 2: (4, 11, 13), 3: (5, 14, 17, 18),
                 4: (22, 36, 38, 44), 6: (8,), 17: (17, 23, 30, 36, 80), 127: (0,)}


def seed_tables():
    """A few hand-made tables covering every handled type, strings of every kind."""
    bios = structure(0, [1, 2, 0, 0xE8, 3, 0xFF] + [0] * 14 + [4, 5], [b"Vendor", b"1.0", b"01/02/2020"])
    system = structure(1, [1, 2, 3, 4] + list(range(16)) + [6, 5, 6], [b"Maker", b"Box", b"1.0", b"SN",
                                                                         b"SKU", b"Family"])
    board = structure(2, [1, 2, 3, 4, 5, 9, 6, 3, 0, 10, 0], [b"Maker", b"Board", b"1.0", b"SN", b"tag",
                                                             b"slot"], handle=2)
    chassis = structure(3, [1, 3, 2, 3, 4, 3, 3, 3, 3, 0, 0, 0, 0, 0, 2, 3, 0x82, 1, 2, 0x10, 0, 4],
                        [b"Maker", b"1.0", b"SN", b"tag"], handle=3)
    cpu = structure(4, [1, 3, 0xB3, 2] + list(range(8)) + [3, 0x8A, 100, 0, 0xC4, 9, 0xB0, 8, 0x41, 0x32,
                                                          0x10, 0, 0x11, 0, 0x12, 0, 4, 5, 6, 8, 8, 16, 0xFC,
                                                          0, 0xB3, 0],
                    [b"CPU0", b"Intel\xc2\xae", b"Model", b"SN", b"tag", b"PN"], handle=4)
    module = structure(6, [1, 0x12, 1, 4, 0, 0x0B, 0x8B, 0], [b"DIMM 0"], handle=6)
    devices = [structure(17, [0x10, 0, 0xFE, 0xFF, 72, 0, 64, 0, 0xFF, 0x7F, 9, set_id, 1, 2, 0x1A, 0x80, 0,
                              0x60, 0x09, 3, 4, 5, 6, 2, 0, 0x80, 0, 0, 0, 0x60, 0x09] + [0] * 49,
                         [b"DIMM A", b"BANK 0", b"Maker", b"SN", b"tag", b"PN"], handle=0x11 + n)
               for n, set_id in enumerate((0, 0, 1))]
    end = structure(127, [])
    bare = structure(7, [1, 2, 3, 4], [b"cache"])
    tables = [
        bios + system + board + chassis + cpu + module + b"".join(devices) + bare + end,
        system + cpu + cpu + end,
        b"".join(devices) + module + end + bios,
        structure(2, [1, 2, 3, 4, 0, 0, 0, 0, 0], [b"a", b"b", b"c", b"d"]),  # too short for its integers
        structure(0, [1], [b"\xff\xfe"]),  # not UTF-8
        bios[:-1],  # no end of string set
        b"",
    ]
    return [bytes([3, 4]) + table for table in tables]


def builder_seeds():
    """Realistic tables from the tests' SMBIOS builder, when it is there."""
    import sys
    sys.path.insert(0, str(ROOT / "tests"))
    try:
        import smbios_builder
    except ImportError:
        return []
    finally:
        sys.path.pop(0)
    found = []
    for name in ("desktop_table", "server_table"):
        maker = getattr(smbios_builder, name, None)
        if callable(maker):
            found.append(bytes([3, 4]) + maker())
    return found


def corpus_blobs():
    tables = {path.name: path for path in BUNDLED.glob("*.bin")}
    if CORPUS.is_dir():
        tables.update({path.name: path for path in CORPUS.glob("*.bin")})
    return [tables[name].read_bytes() for name in sorted(tables)]


def built_blob(inp):
    """A blob of structures whose shape comes from the input: handled types at their
    usual lengths, string numbers that mostly select a string, sometimes bad UTF-8
    and sometimes a missing end of the string set."""
    parts = [bytes([inp.byte(), inp.byte()])]
    for _ in range(inp.int_in(0, 10)):
        kind = inp.pick([0, 1, 2, 3, 4, 6, 17, 17, 127, inp.byte()])
        if kind in TYPICAL_SIZES and not inp.chance(5):
            size = inp.pick(TYPICAL_SIZES[kind])
        else:
            size = inp.int_in(0, 251)
        strings = []
        for _ in range(inp.int_in(0, 6)):
            text = inp.take(inp.int_in(0, 12)).replace(b"\0", b"")
            if inp.chance(2):
                text = text.decode("latin-1").encode()  # valid UTF-8, often non-ASCII
            strings.append(text)
        formatted = bytearray(inp.take(size).ljust(size, b"\0"))
        if inp.chance(2):
            # Keep string numbers mostly in range so records get built.
            formatted = bytearray(b % (len(strings) + 3) for b in formatted)
        terminated = not inp.chance(16)
        parts.append(structure(kind, formatted, strings, handle=inp.int_in(0, 0xFFFF), terminated=terminated))
        if inp.chance(16):
            break
    return b"".join(parts)


# What a blob and a GUID given as bytes may raise: no end of a string set,
# a string number past the string set or a blob under two bytes, and text
# that is not UTF-8. (TypeError and AttributeError are for None arguments.)
INVENTORY_ERRORS = (ValueError, IndexError, UnicodeDecodeError)
INVENTORY_KEYS = ("smbios_type_id", "system_manufacturer", "system_product_name", "system_serial_number",
                  "system_uuid", "system_sku_number", "system_family", "smbios_major_version",
                  "smbios_minor_version", "smbios_docrev_version", "baseboard_list", "bios_list",
                  "chassis_list", "cpu_list", "cpu_cache_list", "memory_controller_list",
                  "memory_module_list", "system_slot_list", "on_board_device_list",
                  "on_board_device_extended_list", "physical_memory_array_list",
                  "memory_device_set_list", "memory_device_set_id_list", "system_guid")


def check_rendered(blob, guid, out):
    expect(type(out) is bytes, "result is not bytes", type(out))
    text = out.decode("utf-8")  # must be valid UTF-8
    head = "{'smbios_type_id':'1',"
    expect(text.startswith(head) and text.endswith("',}"), "rendered frame", text[:200], text[-200:])
    at = 0
    for key in INVENTORY_KEYS:
        found = text.find(f"'{key}':'", at)
        expect(found >= at, f"key {key} missing or out of order", text[:400])
        at = found
    versions = f"'smbios_major_version':'{blob[0]}','smbios_minor_version':'{blob[1]}','smbios_docrev_version':'0',"
    expect(versions in text, "version bytes", blob[:2], text[:600])
    expect(text.endswith(f"'system_guid':'{guid.decode()}',}}"), "system_guid", guid, text[-200:])


def steer(out, error):
    """Gives the fuzzer something to steer by, since the native code is not
    instrumented: comparisons (seen with -use_value_profile=1) on which line
    failed, and on how many records of each kind came out."""
    if error is not None:
        tb = error.__traceback__
        while tb.tb_next:
            tb = tb.tb_next
        if tb.tb_lineno == 0 or isinstance(error, UnicodeDecodeError) or isinstance(error, IndexError):
            return
        return
    for value in out.split(b"':'")[1:]:
        count = value.count(3)
        if count == 0:
            continue
        if count == 1 or count == 2 or count > 4:
            continue


def inventory(data):
    inp = Input(data)
    mode = inp.byte()
    if mode % 4 == 0:
        guid = b"0123-4567"
        blob = inp.rest()
    else:
        if mode % 4 == 1:
            guid = inp.take(inp.int_in(0, 48))
        else:
            guid = "GUID-\u00e9\u20ac".encode()
        blob = built_blob(inp)
    parse = svc.parse_windows_hardware_info
    out, error = raises_only(lambda: parse(blob, guid), INVENTORY_ERRORS, (blob, guid))
    steer(out, error)
    if error is not None:
        if len(blob) < 2:
            expect(isinstance(error, IndexError), "short blob", blob, error)
        if isinstance(error, ValueError) and not isinstance(error, UnicodeDecodeError):
            expect(str(error) == "Couldn't find end of text strings!", "ValueError message", error)
        return
    check_rendered(blob, guid, out)
    expect(parse(blob, guid) == out, "two calls differ", blob, guid)


# --- Queries: texts built from the input, checked against a plain model ---------

ITEM_POOL = ["0", "1", "65", "67", "64", "193", "1.5", "32767", "65535", "16384", "33792", "1024", "126", "127",
             "11", "139", "125", "255", "None", "", " 7 ", "1_0", "\u0663", "-1", "+3", "0x10", "\u00e9",
             "99999999999999999999999", "18446744073709551616", "9223372036854775807",
             "9223372036854775808", "DIMM 0", "BANK 1", "\x04", "\x03"]


def fuzz_text(inp):
    kind = inp.int_in(0, 3)
    if kind == 0:
        return inp.pick(ITEM_POOL)
    if kind == 1:
        return str(inp.int_in(0, 70000))
    raw = inp.take(inp.int_in(0, 8))
    return raw.decode("utf-8", "replace") if kind == 2 else raw.decode("latin-1")


def fuzz_record(inp, items):
    """A record text form of about `items` items, with interesting values at the query items."""
    n = inp.pick([items, items, items, items - 1, inp.int_in(0, items + 3)])
    return "\x02".join(fuzz_text(inp) for _ in range(max(n, 0)))


class Text(str):
    """A str subclass: takes the queries' generic path (split by method call)."""


def fuzz_element(inp, make):
    kind = inp.int_in(0, 31)
    if kind == 0:
        return inp.pick([None, b"\x02" * 21, 17, ["a"], Text("x")])
    text = make()
    return Text(text) if kind == 1 else text


def model_cpus(cpu_list):
    out = []
    for element in cpu_list:
        items = element.split("\x02")
        status = bin(int(items[8]))[2:].zfill(8)[::-1]
        if status[6] == "1" and int(status[2] + status[1] + status[0], 2) == 1:
            out.append(items)
    return out


def model_devices(sets):
    size, found = 0, set()
    for text in sets:
        for device in text.split("\x04")[1:]:
            items = device.split("\x02")
            found.add((items[8], items[9], items[4], items[5], items[6]))
            value = int(items[19])
            if value == 0x7FFF:
                size += int(items[20]) * 1024
            elif value not in (0xFFFF, 0):
                # Bit 15 set: the other bits count KiB; clear: MiB. Values outside
                # 16 bits follow the same int arithmetic.
                size += value * 1024 if (value >> 15) & 1 == 0 else value & ~0x8000
    return size, found


def model_modules(modules):
    # An element holding U+0004 is a group whose pieces after the first are module
    # text forms; any other non-empty element is one module text form.
    size, found = 0, set()
    for element in modules:
        pieces = element.split("\x04")
        forms = pieces[1:] if len(pieces) > 1 else [element] if element else []
        for form in forms:
            items = form.split("\x02")
            found.add(items[2])
            enabled = int(items[6])
            # Bits 0-6 give 2 ** n MiB; 125, 126 and 127 are codes (not determinable,
            # not installed, not enabled) and add nothing; bit 7 is ignored.
            if enabled & 0x7F < 125:
                size += 2 ** (enabled & 0x7F) * 1024
    return size, found


QUERY_ERRORS = (ValueError, IndexError, AttributeError, TypeError)


def compare(name, actual_call, model_call, context):
    actual, error = raises_only(actual_call, QUERY_ERRORS, context)
    try:
        expected, expected_error = model_call(), None
    except QUERY_ERRORS as model_error:
        expected, expected_error = None, model_error
    if expected_error is not None:
        expect(type(error) is type(expected_error), f"{name}: expected {type(expected_error).__name__}",
               error, expected_error, *context)
        return
    expect(error is None, f"{name}: unexpected {type(error).__name__}: {error}", *context)
    expect(actual == expected, f"{name}: wrong result", actual, expected, *context)


def queries(data):
    inp = Input(data)
    which = inp.int_in(0, 2)
    count = inp.int_in(0, 4)
    if which == 0:
        cpu_list = [fuzz_element(inp, lambda: fuzz_record(inp, 9)) for _ in range(count)]
        context = (cpu_list,)

        def actual():
            got = []
            svc.get_populated_cpus(iter(cpu_list) if inp.chance(2) else cpu_list, got)
            return got
        compare("get_populated_cpus", actual, lambda: model_cpus(cpu_list), context)
    elif which == 1:
        def device_set():
            return "\x04".join([fuzz_text(inp)] + [fuzz_record(inp, 21) for _ in range(inp.int_in(0, 3))])
        sets = [fuzz_element(inp, device_set) for _ in range(count)]
        compare("get_memory_devices", lambda: svc.get_memory_devices(sets), lambda: model_devices(sets), (sets,))
    else:
        def module_text():
            text = fuzz_record(inp, 8)
            return text + "\x04" * inp.int_in(0, 2) + (fuzz_text(inp) if inp.chance(2) else "")
        modules = [fuzz_element(inp, module_text) for _ in range(count)]
        compare("get_memory_modules", lambda: svc.get_memory_modules(tuple(modules)),
                lambda: model_modules(modules), (modules,))


# --- base64_decode and sha1 -------------------------------------------------------

WHITE = b" \t\r\n"
BASE64_BYTES = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/" * 3 + b"==== \t\n\r\v\f-_"


STRICT_BASE64 = re.compile(rb"(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?")


def reference_base64(text):
    """What the companion library accepts: the standard alphabet in whole groups of
    four, '=' padding only at the very end and only as needed, ASCII white space
    anywhere (leftover bits of the last group may be non-zero); None where it must
    refuse. (Python's own decoder lets more through, e.g. a whole group of '='.)"""
    compact = bytes(b for b in text if b not in b" \t\n\v\f\r")
    if not STRICT_BASE64.fullmatch(compact):
        return None
    return base64.b64decode(compact)


def base64_target(data):
    inp = Input(data)
    mode = inp.byte() % 3
    payload = inp.rest()
    if mode == 0:
        # Encoded data with white space put in: must decode back.
        encoded = bytearray(base64.b64encode(payload))
        for k in range(len(payload) % 5):
            encoded.insert((payload[k] * 7919) % (len(encoded) + 1), WHITE[payload[k] % 4])
        text = bytes(encoded)
        out, error = raises_only(lambda: sysprobe.base64_decode(text), (ValueError,), (text,))
        expect(error is None, "valid base64 refused", text, error)
        expect(out == payload, "wrong decoding", text, out, payload)
    else:
        if mode == 2:
            # Mostly alphabet, some padding and white space, the odd stray byte.
            payload = bytes(BASE64_BYTES[b % len(BASE64_BYTES)] if b < 250 else b for b in payload)
        out, error = raises_only(lambda: sysprobe.base64_decode(payload), (ValueError,), (payload,))
        if error is not None:
            expect(str(error) == "Checksum failed!", "ValueError message", error)
        expected = reference_base64(payload)
        expect((out is None) == (expected is None), "accepted or refused wrongly", payload, out, expected)
        expect(out == expected, "wrong decoding", payload, out, expected)
    digest, error = raises_only(lambda: sysprobe.sha1(payload), (), (payload,))
    expect(digest == hashlib.sha1(payload).hexdigest(), "sha1 differs", payload, digest)


# --- Cipher services --------------------------------------------------------------

_rsa = {}


def rsa_material():
    """One 2048-bit key made on first use: its public forms, a signed message, the signature."""
    if not _rsa:
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import padding, rsa
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        public = key.public_key()
        forms = [public.public_bytes(getattr(serialization.Encoding, enc), getattr(serialization.PublicFormat, fmt))
                 for enc in ("DER", "PEM") for fmt in ("SubjectPublicKeyInfo", "PKCS1")]
        _rsa.update(key=key, forms=forms, message=b"firmware image",
                    signature=key.sign(b"firmware image", padding.PKCS1v15(), hashes.SHA256()))
    return _rsa


def mutate(inp, value):
    """The value with a few bytes changed, cut or added, as the input says."""
    value = bytearray(value)
    for _ in range(inp.int_in(0, 3)):
        op = inp.int_in(0, 3)
        at = inp.int_in(0, len(value))
        if op == 0 and at < len(value):
            value[at] ^= inp.byte() or 1
        elif op == 1:
            del value[at:at + inp.int_in(1, 16)]
        elif op == 2:
            value[at:at] = inp.take(inp.int_in(1, 8))
        else:
            del value[at:]
    return bytes(value)


def sized(inp, usual, widest):
    """Mostly the usual length, sometimes any length up to widest."""
    return usual if inp.int_in(0, 3) else inp.int_in(0, widest)


def ciphers(data):
    from cryptography.hazmat.primitives import padding
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    inp = Input(data)
    op = inp.int_in(0, 7)
    key = inp.take(sized(inp, 32, 40))
    key_ok = len(key) == 32
    if op == 0:
        n = inp.int_in(0, 5000)
        out, _ = raises_only(lambda: svc.urandom(n), ())
        expect(type(out) is bytes and len(out) == n, "urandom length", n, len(out))
    elif op in (1, 2):
        iv = inp.take(sized(inp, 16, 20))
        plain = inp.take(inp.int_in(0, 3000))
        if op == 1:
            out, error = raises_only(lambda: svc.aes_cbc_encryptor(key, plain, iv), (ValueError,), (key, iv, plain))
            expect((error is None) == (key_ok and len(iv) == 16), "CBC encrypt refused or accepted wrongly",
                   key, iv, error)
            if out is not None:
                worker = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
                padder = padding.PKCS7(128).padder()
                want = worker.update(padder.update(plain) + padder.finalize()) + worker.finalize()
                expect(out == want, "CBC ciphertext differs", key, iv, plain)
                back, _ = raises_only(lambda: svc.aes_cbc_decryptor(key, out, iv), ())
                expect(back == plain[:12], "CBC round trip", plain, back)
        else:
            cipher = plain
            out, error = raises_only(lambda: svc.aes_cbc_decryptor(key, cipher, iv), (ValueError,),
                                     (key, iv, cipher))
            if key_ok and len(iv) == 16 and cipher and len(cipher) % 16 == 0:
                worker = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
                padded = worker.update(cipher) + worker.finalize()
                unpadder = padding.PKCS7(128).unpadder()
                try:
                    want = unpadder.update(padded) + unpadder.finalize()
                except ValueError:
                    want = None
                expect((out is None) == (want is None), "CBC padding check differs", key, iv, cipher, out)
                if want is not None:
                    expect(out == want[:12], "CBC plaintext differs", key, iv, cipher)
            else:
                expect(error is not None, "CBC decrypt accepted a bad key, IV or length", key, iv, cipher)
    elif op in (3, 4):
        nonce = inp.take(sized(inp, 12, 140))
        plain = inp.take(inp.int_in(0, 3000))
        sealed, error = raises_only(lambda: svc.aes_gcm_encryptor(key, plain, nonce), (ValueError,),
                                    (key, nonce, plain))
        expect((error is None) == (key_ok and 1 <= len(nonce) <= 128), "GCM encrypt refused or accepted wrongly",
               key, nonce, error)
        if sealed is None:
            return
        if len(nonce) >= 8:
            expect(sealed == AESGCM(key).encrypt(nonce, plain, None), "GCM output differs", key, nonce, plain)
        tampered = sealed if op == 3 else mutate(inp, sealed)
        out, error = raises_only(lambda: svc.aes_gcm_decryptor(key, tampered, nonce), (ValueError,),
                                 (key, nonce, tampered))
        if tampered == sealed:
            expect(out == plain, "GCM round trip", plain, out)
        else:
            expect(error is not None, "GCM accepted a changed ciphertext", sealed, tampered)
    elif op == 5:
        material = rsa_material()
        pubkey = mutate(inp, inp.pick(material["forms"])) if inp.chance(2) else inp.pick(material["forms"])
        content = inp.take(inp.int_in(0, 260))
        out, error = raises_only(lambda: svc.rsa_encryptor(pubkey, content), (ValueError,), (pubkey, content))
        if pubkey in material["forms"]:
            expect((error is None) == (len(content) <= 190), "RSA-OAEP limit", len(content), error)
            if out is not None:
                from cryptography.hazmat.primitives import hashes
                from cryptography.hazmat.primitives.asymmetric import padding as asym
                oaep = asym.OAEP(mgf=asym.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)
                expect(material["key"].decrypt(out, oaep) == content, "RSA round trip", content)
        elif out is not None:
            expect(type(out) is bytes and 0 < len(out) <= 4096, "RSA ciphertext size", len(out))
    elif op == 6:
        material = rsa_material()
        pubkey, message, signature = inp.pick(material["forms"]), material["message"], material["signature"]
        part = inp.int_in(0, 3)
        if part == 0:
            pubkey = mutate(inp, pubkey)
        elif part == 1:
            message = mutate(inp, message)
        elif part == 2:
            signature = mutate(inp, signature)
        else:
            signature = inp.take(inp.int_in(0, 600))
        out, _ = raises_only(lambda: svc.rsa_verifier(pubkey, message, signature), (), (pubkey, message, signature))
        expect(type(out) is int and out in (0, 1), "rsa_verifier result", out)
        if (message, signature) != (material["message"], material["signature"]):
            expect(out == 0, "rsa_verifier accepted a changed message or signature", pubkey, message, signature)
        elif pubkey in material["forms"]:
            expect(out == 1, "rsa_verifier refused a valid signature", pubkey)
        # A changed key may still parse to the same key (PEM decoding skips some bytes).
    else:
        # Wrong types and None: TypeError before the library is reached.
        name = inp.pick(["aes_cbc_encryptor", "aes_cbc_decryptor", "aes_gcm_encryptor", "aes_gcm_decryptor",
                         "rsa_encryptor", "rsa_verifier"])
        count = 2 if name == "rsa_encryptor" else 3
        args = [inp.take(inp.int_in(0, 40)) for _ in range(count)]
        bad = inp.int_in(0, count - 1)
        args[bad] = inp.pick([None, "text", bytearray(b"k"), memoryview(b"k"), 5, 2.5, [1]])
        _, error = raises_only(lambda: getattr(svc, name)(*args), (TypeError,), (name, args))
        expect(error is not None, "wrong argument type accepted", name, args)


# --- The decoded inventory: any blob gives a document, every structure once ---


def walked(table):
    """(type, handle) of every structure a plain walk of the table reaches, at
    most 65534 (the decoder's limit)."""
    found, offset = [], 0
    while offset + 4 <= len(table) and table[offset + 1] >= 4 and len(found) < 65534:
        end = table.find(b"\0\0", offset + table[offset + 1])
        if end < 0:
            break
        found.append((table[offset], int.from_bytes(table[offset + 2:offset + 4], "little")))
        offset = end + 2
        if found[-1][0] == 127:
            break
    return found


def placed(document, layouts):
    found = []
    for layout in layouts:
        if layout["decoded"]:
            value = document[layout["key"]]
            records = [value] if layout["place"] == "singleton" else value
            found += [(layout["type"], r["handle"]) for r in records if r["handle"] is not None]
    for key in ("other_structures", "inactive", "end_of_table"):
        found += [(r["type"], r["handle"]) for r in document[key]]
    return found + [(200, r["handle"]) for r in document.get("probes", [])]


def decoded(data):
    import json

    from brantel import _inventory_decoder as decoder

    inp = Input(data)
    mode = inp.byte()
    blob = inp.rest() if mode % 2 == 0 else built_blob(inp)
    call = decoder._probe if mode % 3 == 0 else decoder.decode
    out, error = raises_only(lambda: call(blob), (ValueError,), (blob,))
    if error is not None:
        expect(len(blob) < 2, "ValueError for a blob of two bytes or more", blob, error)
        return
    json.dumps(out)  # every value encodes
    expect(isinstance(out["warnings"], list), "warnings", out)
    expect(sorted(placed(out, decoder.layouts())) == sorted(walked(blob[2:])), "structures placed once", blob)


TARGETS = {
    "inventory": inventory,
    "decoded": decoded,
    "queries": queries,
    "base64": base64_target,
    "ciphers": ciphers,
}


def seeds(name):
    """Starting inputs of a target."""
    rng = random.Random(name)
    if name in ("inventory", "decoded"):
        blobs = seed_tables() + builder_seeds() + corpus_blobs()
        raw = [b"\0" + blob for blob in blobs]  # mode 0: the blob as it stands
        built = [bytes([1]) + bytes(rng.randrange(256) for _ in range(400)) for _ in range(8)]
        return raw + built + [b"\0", b"\0\3", b"\0\3\4"]
    if name == "base64":
        return [b"\0" + bytes(range(64)), b"\1QUJD\nREVG", b"\1YQ==", b"\1YWI=", b"\2 Y W I = ", b"\1====", b"\1"]
    return [bytes(rng.randrange(256) for _ in range(size)) for size in (8, 64, 256, 1024) for _ in range(4)]
