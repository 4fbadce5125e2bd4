"""SMBIOS sources: entry points, dumps, sysfs, the Windows header, blob files, the sample."""
import ctypes
import importlib.util
import os
import pathlib
import struct

import pytest

from brantel import sources
from brantel.sources import SourceError

REPO = pathlib.Path(__file__).resolve().parents[1]


def load(path, name):
    module_spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def make_dump():
    return sources.dump_file_bytes


TABLE = sources.sample_blob()[2:]


def blob_of(major, minor, table=TABLE):
    return bytes((major, minor)) + table


def fix_checksum(buf, start, length, at):
    buf[at] = 0
    buf[at] = -sum(buf[start:start + length]) & 0xFF


@pytest.mark.parametrize("major, minor, kind", [(2, 3, "2.1"), (2, 8, "2.1"), (3, 0, "3.0"), (3, 5, "3.0")])
def test_entry_point_forms_give_version_and_table(make_dump, major, minor, kind):
    dump = make_dump(blob_of(major, minor))
    entry = sources.parse_entry_point(dump)
    assert (entry.kind, entry.major, entry.minor) == (kind, major, minor)
    assert (entry.table_address, entry.table_length) == (0x20, len(TABLE))
    assert sources.table_from_dump(dump) == blob_of(major, minor)


def _outer_sum_fixed(buf):
    fix_checksum(buf, 0, 0x1F, 4)


@pytest.mark.parametrize("version, damage, message", [
    ((2, 8), lambda b: b.__setitem__(6, 9), "2.1 entry point checksum is wrong"),
    ((2, 8), lambda b: (b.__setitem__(0x16, b[0x16] ^ 1), _outer_sum_fixed(b)), "_DMI_ part is wrong"),
    ((2, 8), lambda b: (b.__setitem__(slice(0x10, 0x15), b"_XMI_"), _outer_sum_fixed(b)), "lacks its _DMI_ anchor"),
    ((2, 8), lambda b: b.__delitem__(slice(20, None)), "cut short"),
    ((3, 3), lambda b: b.__setitem__(7, 4), "3.0 entry point checksum is wrong"),
    ((3, 3), lambda b: (b.__setitem__(6, 0x10), fix_checksum(b, 0, 0x18, 5)), "impossible length"),
    ((3, 3), lambda b: b.__setitem__(slice(0, 5), b"_SMX_"), "does not start with an SMBIOS entry point"),
])
def test_bad_entry_points_are_refused(make_dump, version, damage, message):
    dump = bytearray(make_dump(blob_of(*version)))
    damage(dump)
    with pytest.raises(SourceError, match=message):
        sources.table_from_dump(bytes(dump), "t.dump")


def test_entry_point_length_0x1e_is_read_as_0x1f(make_dump):
    dump = bytearray(make_dump(blob_of(2, 4)))
    dump[5] = 0x1E
    fix_checksum(dump, 0, 0x1F, 4)
    assert sources.table_from_dump(bytes(dump)) == blob_of(2, 4)


END_OF_TABLE = 6  # the sample's type 127 structure: 4 bytes and an empty string set


@pytest.mark.parametrize("version, cut, expected", [
    ((2, 8), 10, "truncated: the entry point announces"),
    ((3, 3), 10, "truncated: the table ends in the middle of a structure"),
    # A 3.0 length is a maximum: a table that stops between structures is whole.
    ((3, 3), END_OF_TABLE, None),
])
def test_short_dump_tables(make_dump, version, cut, expected):
    dump = make_dump(blob_of(*version))[:-cut]
    if expected is None:
        assert sources.table_from_dump(dump) == blob_of(*version)[:-cut]
    else:
        with pytest.raises(SourceError, match=expected):
            sources.table_from_dump(dump)


def test_table_offset_beyond_the_file(make_dump):
    dump = bytearray(make_dump(blob_of(3, 3)))
    struct.pack_into("<Q", dump, 0x10, 0xE0020)
    fix_checksum(dump, 0, 0x18, 5)
    with pytest.raises(SourceError, match="offset 0xe0020 .* lies beyond the end of the file"):
        sources.table_from_dump(bytes(dump))


def test_read_dump_reads_only_the_announced_table(make_dump, tmp_path):
    path = tmp_path / "t.dump"
    path.write_bytes(make_dump(blob_of(2, 8)) + b"trailing bytes that are not read")
    assert sources.read_dump(path) == blob_of(2, 8)


def test_read_dump_refuses_a_table_over_64_mib(make_dump, tmp_path):
    # A 3.0 entry point may announce up to 4 GiB; a sparse file holds that many zeros.
    dump = bytearray(make_dump(blob_of(3, 3)))
    struct.pack_into("<I", dump, 0x0C, 0xFFFFFFFF)
    fix_checksum(dump, 0, 0x18, 5)
    path = tmp_path / "huge.dump"
    path.write_bytes(bytes(dump))
    os.truncate(path, 100 * 1024 * 1024)
    with pytest.raises(SourceError, match="huge.dump is larger than 64 MiB"):
        sources.read_dump(path)


def test_read_dump_with_the_table_beyond_the_file(make_dump, tmp_path):
    dump = bytearray(make_dump(blob_of(3, 3)))
    struct.pack_into("<Q", dump, 0x10, 0xE0020)
    fix_checksum(dump, 0, 0x18, 5)
    path = tmp_path / "phys.dump"
    path.write_bytes(bytes(dump))
    with pytest.raises(SourceError, match="offset 0xe0020 .* lies beyond the end of the file"):
        sources.read_dump(path)


def test_load_names_each_source(make_dump, tmp_path):
    (tmp_path / "t.dump").write_bytes(make_dump(blob_of(3, 3)))
    (tmp_path / "t.bin").write_bytes(blob_of(3, 3))
    assert sources.load(dump=tmp_path / "t.dump") == (
        blob_of(3, 3), {"kind": "dump", "path": str(tmp_path / "t.dump"), "path_bytes": None})
    assert sources.load(blob=str(tmp_path / "t.bin")) == (
        blob_of(3, 3), {"kind": "blob", "path": str(tmp_path / "t.bin"), "path_bytes": None})
    assert sources.load(sample=True) == (sources.sample_blob(), {"kind": "sample", "path": None, "path_bytes": None})


# --- sysfs --------------------------------------------------------------------------


def fake_sysfs(root, dump, entry=True, table=True):
    tables = root / "firmware" / "dmi" / "tables"
    tables.mkdir(parents=True)
    size = dump[6] if dump.startswith(b"_SM3_") else dump[5]
    if entry:
        (tables / "smbios_entry_point").write_bytes(dump[:size])
    if table:
        (tables / "DMI").write_bytes(dump[0x20:])
    return tables


@pytest.mark.parametrize("version", [(2, 7), (3, 3)])
def test_sysfs_root_readable(make_dump, tmp_path, version):
    fake_sysfs(tmp_path, make_dump(blob_of(*version)))
    assert sources.read_sysfs(tmp_path) == blob_of(*version)
    assert sources.read_machine(sysfs_root=tmp_path, platform="linux") == blob_of(*version)


def _deny_dmi(monkeypatch):
    # Root reads any file, so the refusal is staged at the open() of the module that reads files.
    def fake_open(path, *args, **kwargs):
        if str(path).endswith("DMI"):
            raise PermissionError(13, "Permission denied", str(path))
        return open(path, *args, **kwargs)

    monkeypatch.setattr(sources.files, "open", fake_open, raising=False)


@pytest.mark.parametrize("setup, message", [
    (lambda root, dump, mp: None, "no SMBIOS table is exported at .*firmware/dmi/tables$"),
    (lambda root, dump, mp: fake_sysfs(root, dump, table=False), "the SMBIOS table .*DMI does not exist"),
    (lambda root, dump, mp: (fake_sysfs(root, dump), _deny_dmi(mp)),
     "permission denied reading .*DMI: run with administrator privileges .* or read a dump file with --dump"),
    (lambda root, dump, mp: (fake_sysfs(root, dump[:-40])), "DMI is truncated"),
])
def test_sysfs_root_failures(make_dump, tmp_path, monkeypatch, setup, message):
    setup(tmp_path, make_dump(blob_of(2, 7)), monkeypatch)
    with pytest.raises(SourceError, match=message):
        sources.read_sysfs(tmp_path)


def test_other_platforms_are_not_supported():
    with pytest.raises(SourceError, match=r"not supported on this platform \(darwin\); read a dump"):
        sources.read_machine(platform="darwin")


# --- Windows ------------------------------------------------------------------------


def raw_smbios(major, minor, table, length=None, used20=0, dmi_revision=0):
    length = len(table) if length is None else length
    return struct.pack("<BBBBI", used20, major, minor, dmi_revision, length) + table


def test_raw_smbios_header_fields():
    header = sources.parse_raw_smbios_header(raw_smbios(3, 4, b"", length=0x1234, used20=1, dmi_revision=7))
    assert header == sources.RawSMBIOSHeader(1, 3, 4, 7, 0x1234)


@pytest.mark.parametrize("data, expected", [
    (raw_smbios(3, 4, TABLE), blob_of(3, 4)),
    (raw_smbios(2, 8, TABLE + b"\0" * 16), blob_of(2, 8, TABLE + b"\0" * 16)),
    (raw_smbios(2, 8, TABLE + b"slack", length=len(TABLE)), blob_of(2, 8)),  # bytes past Length are dropped
    (raw_smbios(3, 0, b""), bytes((3, 0))),
    (raw_smbios(3, 4, TABLE, length=len(TABLE) + 1), "truncated: its header announces"),
    (raw_smbios(3, 4, b"")[:5], "cut short: 5 bytes"),
])
def test_blob_from_raw_smbios(data, expected):
    if isinstance(expected, bytes):
        assert sources.blob_from_raw_smbios(data) == expected
    else:
        with pytest.raises(SourceError, match=expected):
            sources.blob_from_raw_smbios(data)


class FakeFirmwareTable:
    """GetSystemFirmwareTable: the size when called without a buffer, else copies."""

    def __init__(self, data, fail_first=False):
        self.data, self.fail_first, self.calls = data, fail_first, []

    def __call__(self, provider, table_id, buffer, size):
        self.calls.append((provider, table_id, buffer is None, size))
        if buffer is None:
            return 0 if self.fail_first else len(self.data)
        ctypes.memmove(buffer, self.data, min(size, len(self.data)))
        return len(self.data)


def test_windows_two_call_protocol():
    fake = FakeFirmwareTable(raw_smbios(3, 2, TABLE))
    assert sources.read_windows(fake) == blob_of(3, 2)
    rsmb = 0x52534D42
    assert fake.calls == [(rsmb, 0, True, 0), (rsmb, 0, False, len(TABLE) + 8)]


def test_windows_without_table():
    with pytest.raises(SourceError, match="GetSystemFirmwareTable found no SMBIOS table"):
        sources.read_windows(FakeFirmwareTable(b"", fail_first=True))


# --- blob files and the sample ------------------------------------------------------


@pytest.mark.parametrize("content, message", [
    (None, "the blob file .*nothing.bin does not exist"),
    (b"\x03", "too short to be a blob"),
    (b"_SM3_" + bytes(40), "is a dump file: read it with --dump"),
    ("dir", "is a directory, not a file"),
])
def test_bad_blob_files(tmp_path, content, message):
    path = tmp_path / "nothing.bin"
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    with pytest.raises(SourceError, match=message):
        sources.read_blob(path)


def test_bundled_sample_is_what_the_builder_makes():
    builder = load(REPO / "tools" / "make_sample_table.py", "make_sample_table")
    assert builder.build_blob() == sources.sample_blob()
    assert (REPO / "brantel" / "data" / sources.SAMPLE_NAME).read_bytes() == sources.sample_blob()
