"""Large and hostile inputs: tables of 16 MiB, structures at the limits of their
header fields, tiny blobs, huge GUIDs, base64 and GCM of megabytes, RSA keys of
every usual size and of garbage. Each gives the right result or the exception
documented for it, and memory goes back to its level afterwards."""
import base64
import ctypes
import gc
import os

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import brantel.brantel_sysprobe as sysprobe
import smbios_builder as sb
from brantel import _sysprobe_internal as svc

MIB = 1 << 20
KEY, NONCE = bytes(range(32)), bytes(range(12))
NO_END = "Couldn't find end of text strings!"


def resident():
    """Resident memory, after handing the C library's free heap back to the system
    (glibc keeps freed blocks of megabytes otherwise, which would look like a leak)."""
    gc.collect()
    try:
        ctypes.CDLL(None).malloc_trim(0)
    except AttributeError:
        pass
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def memory_returns():
    """Resident memory after the test is within 16 MiB of what it was before
    (inputs here run to 16 MiB, their results to several times that)."""
    if not os.path.exists("/proc/self/statm") or os.environ.get("BRANTEL_SANITIZE") == "1" \
            or os.environ.get("PYTHONMALLOC", "").startswith("malloc"):
        # Under ASan or valgrind freed memory sits in quarantine: the results are still checked.
        yield
        return
    before = resident()
    yield
    growth = resident() - before
    assert growth < 16 * MIB, f"resident memory grew by {growth / MIB:.1f} MiB"


def parse(blob, guid=b""):
    return svc.parse_windows_hardware_info(blob, guid)


def walk(table):
    """(type, length) of every structure of a table, as the walker steps through
    it: the string set ends at the first pair of zero bytes from the end of the
    formatted area, a header byte past the table's end reads 0. ValueError when a
    string set has no end."""
    found, i = [], 0
    while i < len(table):
        length = table[i + 1] if i + 1 < len(table) else 0
        end = table.find(b"\0\0", i + length)
        if end < 0:
            raise ValueError(NO_END)
        found.append((table[i], length))
        i = end + 2
    return found


RECORD_LISTS = {0: "bios_list", 2: "baseboard_list", 3: "chassis_list", 4: "cpu_list", 6: "memory_module_list"}


def record_counts(structures):
    counts = dict.fromkeys(RECORD_LISTS.values(), 0)
    for kind, length in structures:
        if kind in RECORD_LISTS and (kind != 0 or length >= 5):
            counts[RECORD_LISTS[kind]] += 1
    return counts


def rendered_counts(rendered):
    values = sb.parse_inventory(rendered)
    return {key: len(sb.elements(values[key])) for key in RECORD_LISTS.values()}


# --- Blob and header limits -------------------------------------------------------

@pytest.mark.parametrize("blob", [b"", b"\x03"], ids=["empty", "one-byte"])
def test_blob_shorter_than_two_bytes(blob):
    with pytest.raises(IndexError):
        parse(blob)


def test_blob_of_exactly_two_bytes():
    values = sb.parse_inventory(parse(b"\xff\x00"))
    assert (values["smbios_major_version"], values["smbios_minor_version"]) == ("255", "0")
    assert all(values[key] == "\x03" for key in sb.KEYS if key.endswith("_list"))


@pytest.mark.parametrize("kind", [0, 1, 2, 3, 4, 6, 17, 127])
@pytest.mark.parametrize("length", [0, 1, 2, 3])
@pytest.mark.parametrize("handle", [b"\0\0", b"\x34\x12"], ids=["handle-0", "handle-1234"])
def test_length_below_the_header(kind, length, handle):
    # The string set's search starts inside the header; the walk must follow the
    # same steps as the rule says, and whatever follows is still read.
    table = bytes([kind, length]) + handle + b"A\0\0" + sb.structure(0, {4: 1}, strings=["after"])
    try:
        expected = record_counts(walk(table))
    except ValueError:
        with pytest.raises(ValueError, match=NO_END):
            parse(b"\3\4" + table)
        return
    assert rendered_counts(parse(b"\3\4" + table)) == expected


@pytest.mark.parametrize("table", [
    pytest.param(b"\x00", id="length-byte-missing"),
    pytest.param(b"\x04", id="type-4-alone"),
    pytest.param(b"\x00\x00\x00", id="second-structure-one-byte"),
    pytest.param(sb.structure(0, {4: 1}, length=200, strings=["v"])[:60], id="length-past-end"),
    pytest.param(bytes([4, 255, 0, 0]) + bytes(40), id="length-255-past-end"),
    pytest.param(sb.structure(4, {}, length=0x30) + bytes([17, 0x28]) + bytes(26), id="second-past-end"),
])
def test_lengths_past_the_end_of_the_table(table):
    with pytest.raises(ValueError, match=NO_END):
        parse(b"\3\4" + table)


def test_two_zero_bytes_are_a_whole_structure():
    assert rendered_counts(parse(b"\3\4\0\0")) == record_counts(walk(b"\0\0"))


@pytest.mark.parametrize("strings, expected", [
    (300, "s254"), (255, "s254"), (254, ""), (253, ""), (252, IndexError), (0, IndexError),
])
def test_string_number_255(strings, expected):
    # Number n + 1 and n + 2 select the two empty entries after n strings.
    blob = sb.blob(sb.structure(0, {4: 255}, strings=["s%d" % k for k in range(strings)]))
    if expected is IndexError:
        with pytest.raises(IndexError):
            parse(blob)
    else:
        assert sb.elements(sb.parse_inventory(parse(blob))["bios_list"]) == ["0\x02" + expected]


def test_full_formatted_area_with_thousands_of_strings():
    strings = ["string %d \u00e9" % k for k in range(5000)]
    fields = {offset: 255 for offset in range(4, 255)}  # every byte a string number
    fields.update({4: 250, 7: 251, 32: 252, 33: 253, 34: 254})
    table = sb.structure(0, fields, length=255, strings=strings) + sb.structure(4, fields, length=255,
                                                                                  strings=strings, handle=7)
    values = sb.parse_inventory(parse(b"\3\4" + table))
    assert sb.elements(values["bios_list"]) == ["0\x02string 249 \u00e9"]
    (cpu,) = sb.elements(values["cpu_list"])
    cpu_items = sb.items(cpu)
    assert cpu_items[:3] == ["4", "7", "string 249 \u00e9"] and cpu_items[4] == "string 250 \u00e9"


# --- 16 MiB tables ------------------------------------------------------------------

def sixteen_mib_of(structure):
    return structure * (16 * MIB // len(structure) + 1)


TABLES_OF_16_MIB = {
    "server-tables": lambda: sixteen_mib_of(sb.server_table()),
    "stepped-over": lambda: sixteen_mib_of(sb.structure(7, {4: 1, 0x12: 0}, strings=["L1 cache"])),
    "bios-records": lambda: sixteen_mib_of(sb.structure(0, {4: 2}, strings=["a", "vendor"])),
    "one-structure": lambda: sb.structure(0, {4: 3}, strings=[b"%07d" % k * 147 for k in range(16 * 1024)]),
}


@pytest.mark.parametrize("name", TABLES_OF_16_MIB)
def test_table_of_16_mib(memory_returns, name):
    table = TABLES_OF_16_MIB[name]()
    assert len(table) >= 16 * MIB
    rendered = parse(b"\3\4" + table, b"guid")
    assert rendered_counts(rendered) == record_counts(walk(table))


def test_table_of_16_mib_of_zero_bytes(memory_returns):
    # Eight million two-byte structures of type 0 and length 0, none long enough for a record.
    values = sb.parse_inventory(parse(b"\3\4" + bytes(16 * MIB)))
    assert all(values[key] == "\x03" for key in sb.KEYS if key.endswith("_list"))


def test_16_mib_table_without_an_end(memory_returns):
    with pytest.raises(ValueError, match=NO_END):
        parse(b"\3\4" + b"\x04\x30" + b"\x01" * (16 * MIB))


# --- GUID of 1 MiB -------------------------------------------------------------------

@pytest.mark.parametrize("guid", [b"g" * MIB, "\u20ac".encode() * (MIB // 3)], ids=["ascii", "non-ascii"])
def test_guid_of_1_mib(memory_returns, guid):
    assert parse(b"\3\4", guid).endswith(b"'system_guid':'" + guid + b"',}")


def test_guid_of_1_mib_not_utf8_at_its_end(memory_returns):
    with pytest.raises(UnicodeDecodeError):
        parse(b"\3\4", b"g" * MIB + b"\xc3")


# --- Queries on hostile texts ---------------------------------------------------------

def test_queries_on_a_16_mib_text(memory_returns):
    huge = "\x02".join(["x" * 1000] * 8 + ["65"] + ["y" * MIB] * 16)
    found = []
    svc.get_populated_cpus([huge], found)
    assert len(found) == 1 and found[0][8] == "65" and len(found[0]) == 25
    device = "\x02".join(["0"] * 19 + ["16384", "0"] + ["z" * MIB] * 16)
    assert svc.get_memory_devices(["0\x04" + device]) == (16777216, {("0", "0", "0", "0", "0")})


def test_queries_on_a_million_separators():
    with pytest.raises(IndexError):  # every piece after the first is an empty device text
        svc.get_memory_devices(["0" + "\x04" * MIB])
    with pytest.raises(IndexError):
        svc.get_memory_modules(["0" + "\x04" * MIB])
    found = []
    svc.get_populated_cpus(["\x02" * 8 + "65" + "\x02" * MIB], found)
    assert len(found[0]) == MIB + 9


@pytest.mark.parametrize("digits", [4300, 4301, 100000])
def test_query_item_with_thousands_of_digits(digits):
    # int() refuses more than 4300 digits; below that the value is exact.
    text = "1" + "0" * (digits - 1)
    module = "\x02".join(["6", "64", "DIMM", "0", "0", "0", text, "0"])
    device = "\x02".join(["0"] * 19 + ["32767", text])
    if digits > 4300:
        with pytest.raises(ValueError):
            svc.get_memory_devices(["0\x04" + device])
        with pytest.raises(ValueError):
            svc.get_memory_modules([module])
    else:
        assert svc.get_memory_devices(["0\x04" + device])[0] == 10 ** (digits - 1) * 1024
        assert svc.get_memory_modules([module])[0] == 2 ** (10 ** (digits - 1) & 0x7F) * 1024


# --- Helpers and cipher services --------------------------------------------------------

def test_base64_decoding_to_10_mib(memory_returns):
    data = os.urandom(10 * MIB)
    assert sysprobe.base64_decode(base64.b64encode(data)) == data
    assert sysprobe.base64_decode(base64.encodebytes(data)) == data  # a line break every 76 characters
    with pytest.raises(ValueError, match="^Checksum failed!$"):
        sysprobe.base64_decode(base64.b64encode(data) + b"!")


def test_gcm_of_8_mib(memory_returns):
    plain = os.urandom(8 * MIB)
    sealed = svc.aes_gcm_encryptor(KEY, plain, NONCE)
    assert sealed == AESGCM(KEY).encrypt(NONCE, plain, None)
    assert svc.aes_gcm_decryptor(KEY, sealed, NONCE) == plain
    with pytest.raises(ValueError):
        svc.aes_gcm_decryptor(KEY, sealed[:-1] + bytes([sealed[-1] ^ 1]), NONCE)


def test_sha1_and_chdir_of_large_inputs(memory_returns):
    import hashlib
    data = os.urandom(16 * MIB)
    assert sysprobe.sha1(data) == hashlib.sha1(data).hexdigest()
    assert sysprobe.chdir("x" * MIB) is False  # name too long: the library reports failure


@pytest.mark.parametrize("path", ["inside\0/no/such/directory", "\0", "inside\0"])
def test_chdir_refuses_a_path_with_a_nul(tmp_path, monkeypatch, use_lib, path):
    # The library reads a zero-terminated string, so it would see another path.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "inside").mkdir()
    assert sysprobe.chdir(path) is False
    assert sysprobe.getcwd() == str(tmp_path)

    class Untouchable:
        def __getattr__(self, name):
            raise AssertionError(f"lib.{name} called")
    use_lib(Untouchable())
    assert sysprobe.chdir(path) is False


OAEP = asym.OAEP(mgf=asym.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)


@pytest.fixture(scope="module", params=[1024, 3072, 4096])
def rsa_key(request):
    return rsa.generate_private_key(public_exponent=65537, key_size=request.param)


def test_rsa_keys_of_usual_sizes(rsa_key):
    size = rsa_key.key_size // 8
    pubkey = rsa_key.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)
    longest = bytes(range(256)) * 2
    longest = longest[:size - 66]  # OAEP with SHA-256 leaves k - 66 bytes
    cipher = svc.rsa_encryptor(pubkey, longest)
    assert len(cipher) == size and rsa_key.decrypt(cipher, OAEP) == longest
    with pytest.raises(ValueError):
        svc.rsa_encryptor(pubkey, longest + b"!")
    signature = rsa_key.sign(b"message", asym.PKCS1v15(), hashes.SHA256())
    assert svc.rsa_verifier(pubkey, b"message", signature) == 1
    assert svc.rsa_verifier(pubkey, b"message", signature[:-1]) == 0


def test_rsa_key_past_the_first_output_buffer():
    # An 8192-bit public key (any odd modulus will do for encrypting) gives a
    # 1024-byte ciphertext: one byte past the first buffer, so the call runs twice.
    modulus = int.from_bytes(os.urandom(1024), "big") | (1 << 8191) | 1
    public = rsa.RSAPublicNumbers(65537, modulus).public_key()
    pubkey = public.public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo)
    cipher = svc.rsa_encryptor(pubkey, b"secret")
    assert len(cipher) == 1024 and int.from_bytes(cipher, "big") < modulus


GARBAGE_KEYS = [
    pytest.param(b"", id="empty"),
    pytest.param(bytes(1000), id="zeros"),
    pytest.param(os.urandom(MIB), id="random-1-mib"),
    pytest.param(b"-----BEGIN PUBLIC KEY-----\n" + b"A" * 5000 + b"\n-----END PUBLIC KEY-----\n", id="pem-garbage"),
    pytest.param(b"\x30\x84\x7f\xff\xff\xff" + bytes(64), id="der-huge-length"),
    pytest.param(b"\x30\x82\x01\x0a" + b"\x02\x82\x01\x01" + bytes(257) + b"\x02\x03\x01\x00\x01", id="zero-modulus"),
]


@pytest.mark.parametrize("pubkey", GARBAGE_KEYS)
def test_rsa_garbage_keys(pubkey):
    with pytest.raises(ValueError):
        svc.rsa_encryptor(pubkey, b"secret")
    assert svc.rsa_verifier(pubkey, b"message", bytes(256)) == 0
