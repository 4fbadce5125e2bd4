"""Where SMBIOS blobs come from.

The inventory takes an SMBIOS *blob*: byte 0 the SMBIOS major version, byte 1
the minor version, then the structure table exactly as the firmware reports it.
This module delivers blobs from:

* the running machine (:func:`read_machine`): on Linux the sysfs files
  ``firmware/dmi/tables/smbios_entry_point`` and ``DMI`` under ``/sys`` (or
  another root, :func:`read_sysfs`); on Windows ``GetSystemFirmwareTable``
  with the ``'RSMB'`` provider (:func:`read_windows`);
* a dump file as ``dmidecode --dump-bin`` writes it (:func:`read_dump`): an
  entry point at offset 0 and the table at the offset it gives;
* a blob file in the inventory's own format (:func:`read_blob`);
* the sample table shipped with the package (:func:`sample_blob`).

:func:`load` picks one of them and says which (the ``source`` of a decoded
inventory); :func:`dump_file_bytes` writes a blob back as a dump file.

Reads are bounded: a dump is read as its entry point and then exactly the table
it announces, and no input over 64 MiB is accepted (no SMBIOS table comes near
that size; a device file such as /dev/zero would otherwise be read until memory
runs out).

The versions come from the entry point: the 31-byte ``_SM_`` form of SMBIOS
2.1 (with its ``_DMI_`` part at offset 0x10) or the 24-byte ``_SM3_`` form of
SMBIOS 3.0; both checksums of the first and the checksum of the second are
verified.  On Windows they come from the RawSMBIOSData header.

Every failure is a :class:`SourceError` whose text is one sentence meant for
the person at the command line.
"""
from __future__ import annotations

import os
import struct
import sys

__all__ = [
    "SourceError",
    "EntryPoint",
    "RawSMBIOSHeader",
    "SYSFS_ROOT",
    "SYSFS_TABLES",
    "SAMPLE_NAME",
    "MAX_INPUT",
    "parse_entry_point",
    "table_from_dump",
    "parse_raw_smbios_header",
    "blob_from_raw_smbios",
    "read_sysfs",
    "read_windows",
    "read_machine",
    "read_dump",
    "read_blob",
    "sample_blob",
    "load",
    "dump_file_bytes",
]

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from typing import Any, BinaryIO, Callable, Union

    StrPath = Union[str, "os.PathLike[str]"]
    FirmwareTableFunction = Callable[[int, int, Any, int], int]

# Standard modules that a plain inventory run needs are kept few: this module
# is imported on every run of the command line.

#: Where sysfs is normally mounted, and where its SMBIOS files live under it.
SYSFS_ROOT = "/sys"
SYSFS_TABLES = os.path.join("firmware", "dmi", "tables")

#: File name of the bundled sample blob in the package's data folder.
SAMPLE_NAME = "sample_desktop.bin"

#: The largest input accepted from any file.
MAX_INPUT = 64 * 1024 * 1024

PRIVILEGE_HINT = "run with administrator privileges (for example with sudo) or read a dump file with --dump"

# 'RSMB' as the DWORD that GetSystemFirmwareTable expects.
RSMB = int.from_bytes(b"RSMB", "big")
RAW_SMBIOS_HEADER_SIZE = 8

SM21_ANCHOR, SM30_ANCHOR, DMI_ANCHOR = b"_SM_", b"_SM3_", b"_DMI_"
SM21_SIZE, SM30_SIZE = 0x1F, 0x18
#: Where a dump file keeps its table.
DUMP_TABLE_OFFSET = 0x20


class SourceError(Exception):
    """A source could not deliver a blob; ``str(error)`` is one sentence for the user."""


class EntryPoint:
    """What an SMBIOS entry point says about its table."""

    __slots__ = ("kind", "major", "minor", "docrev", "table_address", "table_length")

    def __init__(self, kind: str, major: int, minor: int, docrev: int, table_address: int, table_length: int):
        self.kind = kind  #: "2.1" for the _SM_ form, "3.0" for the _SM3_ form
        self.major = major
        self.minor = minor
        self.docrev = docrev  #: the 3.0 form's document revision; 0 for the 2.1 form
        self.table_address = table_address
        #: The table's length (2.1 form) or its maximum size (3.0 form).
        self.table_length = table_length

    def _fields(self) -> "tuple[int | str, ...]":
        return tuple(getattr(self, name) for name in self.__slots__)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, EntryPoint) and self._fields() == other._fields()

    def __hash__(self) -> int:
        return hash(self._fields())

    def __repr__(self) -> str:
        return "EntryPoint(%s)" % ", ".join(f"{name}={getattr(self, name)!r}" for name in self.__slots__)

    @property
    def length_is_exact(self) -> bool:
        """True when ``table_length`` is the exact length, not an upper bound."""
        return self.kind == "2.1"


class RawSMBIOSHeader:
    """The 8-byte header of the Windows RawSMBIOSData that precedes the table."""

    __slots__ = ("used20_calling_method", "major", "minor", "dmi_revision", "length")

    def __init__(self, used20_calling_method: int, major: int, minor: int, dmi_revision: int, length: int):
        self.used20_calling_method = used20_calling_method
        self.major = major
        self.minor = minor
        self.dmi_revision = dmi_revision
        self.length = length  #: length of the table that follows the header

    def _fields(self) -> "tuple[int | str, ...]":
        return tuple(getattr(self, name) for name in self.__slots__)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, RawSMBIOSHeader) and self._fields() == other._fields()

    def __hash__(self) -> int:
        return hash(self._fields())

    def __repr__(self) -> str:
        return "RawSMBIOSHeader(%s)" % ", ".join(f"{name}={getattr(self, name)!r}" for name in self.__slots__)


def _checksum_ok(data: bytes) -> bool:
    return sum(data) & 0xFF == 0


def parse_entry_point(data: bytes, origin: str = "the entry point") -> EntryPoint:
    """Read and verify an SMBIOS entry point at the start of ``data``.

    ``origin`` names the file in error messages.  Raises SourceError when the
    anchor is not there, the entry point is cut short, or a checksum is wrong.
    """
    if data.startswith(SM30_ANCHOR):
        if len(data) < SM30_SIZE:
            raise SourceError(f"{origin}: the SMBIOS 3.0 entry point is cut short ({len(data)} of {SM30_SIZE} bytes)")
        length = data[6]
        if length < SM30_SIZE or length > len(data):
            raise SourceError(f"{origin}: the SMBIOS 3.0 entry point gives an impossible length ({length} bytes)")
        if not _checksum_ok(data[:length]):
            raise SourceError(f"{origin}: the SMBIOS 3.0 entry point checksum is wrong")
        (max_size,) = struct.unpack_from("<I", data, 0x0C)
        (address,) = struct.unpack_from("<Q", data, 0x10)
        return EntryPoint("3.0", data[7], data[8], data[9], address, max_size)

    if data.startswith(SM21_ANCHOR):
        if len(data) < SM21_SIZE:
            raise SourceError(f"{origin}: the SMBIOS 2.1 entry point is cut short ({len(data)} of {SM21_SIZE} bytes)")
        length = data[5]
        if length == 0x1E:
            length = SM21_SIZE  # some firmware announces 0x1E for the 0x1F-byte structure
        if length < SM21_SIZE or length > len(data):
            raise SourceError(f"{origin}: the SMBIOS 2.1 entry point gives an impossible length ({length} bytes)")
        if not _checksum_ok(data[:length]):
            raise SourceError(f"{origin}: the SMBIOS 2.1 entry point checksum is wrong")
        if data[0x10:0x15] != DMI_ANCHOR:
            raise SourceError(f"{origin}: the SMBIOS 2.1 entry point lacks its _DMI_ anchor at offset 0x10")
        if not _checksum_ok(data[0x10:0x1F]):
            raise SourceError(f"{origin}: the checksum of the entry point's _DMI_ part is wrong")
        table_length, address = struct.unpack_from("<HI", data, 0x16)
        return EntryPoint("2.1", data[6], data[7], 0, address, table_length)

    raise SourceError(f"{origin} does not start with an SMBIOS entry point (_SM_ or _SM3_)")


def _ends_cleanly(table: bytes) -> bool:
    """Whether a table ends on a structure boundary or with an end-of-table
    structure, rather than in the middle of a structure."""
    i = 0
    while i < len(table):
        if i + 4 > len(table):
            return False
        kind, length = table[i], table[i + 1]
        end = table.find(b"\0\0", i + length)
        if length < 4 or end < 0:
            return False
        i = end + 2
        if kind == 127:
            return True
    return True


def _table(entry: EntryPoint, available: bytes, origin: str) -> bytes:
    """The table that ``entry`` announces, out of the bytes that hold it."""
    if entry.length_is_exact:
        if len(available) < entry.table_length:
            raise SourceError(
                f"{origin} is truncated: the entry point announces a {entry.table_length}-byte table "
                f"but only {len(available)} bytes are there"
            )
        return available[: entry.table_length]
    # 3.0: the length is a maximum; the table may well be shorter.
    table = available[: entry.table_length]
    if len(table) < entry.table_length and not _ends_cleanly(table):
        raise SourceError(f"{origin} is truncated: the table ends in the middle of a structure")
    return table


def _blob(entry: EntryPoint, table: bytes) -> bytes:
    return bytes((entry.major, entry.minor)) + table


def table_from_dump(data: bytes, origin: str = "the dump") -> bytes:
    """The blob held by a ``--dump-bin`` style dump (entry point at offset 0)."""
    entry = parse_entry_point(data, origin)
    if entry.table_address >= len(data) and entry.table_length:
        raise SourceError(
            f"{origin}: the table offset 0x{entry.table_address:x} given by the entry point lies beyond "
            f"the end of the file ({len(data)} bytes); is it a dump made with dmidecode --dump-bin?"
        )
    return _blob(entry, _table(entry, data[entry.table_address:], origin))


def parse_raw_smbios_header(data: bytes) -> RawSMBIOSHeader:
    """Read the RawSMBIOSData header that GetSystemFirmwareTable('RSMB') returns:
    Used20CallingMethod, SMBIOSMajorVersion, SMBIOSMinorVersion, DmiRevision
    (one byte each) and Length (32-bit little-endian)."""
    if len(data) < RAW_SMBIOS_HEADER_SIZE:
        raise SourceError(
            f"the firmware table is cut short: {len(data)} bytes, fewer than its {RAW_SMBIOS_HEADER_SIZE}-byte header"
        )
    used20, major, minor, dmi_revision, length = struct.unpack_from("<BBBBI", data, 0)
    return RawSMBIOSHeader(used20, major, minor, dmi_revision, length)


def blob_from_raw_smbios(data: bytes) -> bytes:
    """The blob held by a RawSMBIOSData buffer (header, then the table)."""
    header = parse_raw_smbios_header(data)
    table = data[RAW_SMBIOS_HEADER_SIZE:]
    if len(table) < header.length:
        raise SourceError(
            f"the firmware table is truncated: its header announces {header.length} bytes "
            f"but only {len(table)} follow it"
        )
    return bytes((header.major, header.minor)) + table[: header.length]


def _refuse_large(path: str) -> SourceError:
    return SourceError(f"{path} is larger than 64 MiB, far more than any SMBIOS table needs; it was not read")


def _open(path: str, what: str, hint: str | None) -> "BinaryIO":
    """The file opened for reading, or a SourceError that says why not."""
    try:
        return open(path, "rb")
    except FileNotFoundError:
        raise SourceError(f"{what} {path} does not exist") from None
    except PermissionError:
        raise SourceError(f"permission denied reading {path}" + (f": {hint}" if hint else "")) from None
    except IsADirectoryError:
        raise SourceError(f"{what} {path} is a directory, not a file") from None
    except OSError as exc:
        raise SourceError(f"cannot read {what} {path}: {exc.strerror or exc}") from None


def _read_at_most(stream: "BinaryIO", path: str, what: str, size: int) -> bytes:
    try:
        return stream.read(size)
    except IsADirectoryError:
        raise SourceError(f"{what} {path} is a directory, not a file") from None
    except OSError as exc:
        raise SourceError(f"cannot read {what} {path}: {exc.strerror or exc}") from None


def _read_file(path: str, what: str, hint: str | None = None) -> bytes:
    """A whole file of at most MAX_INPUT bytes."""
    with _open(path, what, hint) as stream:
        # Ask for the size the file reports (plus one byte, to see whether it
        # goes on): a read of MAX_INPUT + 1 makes the interpreter allocate the
        # whole bound first, which costs more than the read of a small table.
        # Files whose size is unknown or wrong (devices, some sysfs and proc
        # files) are then read on up to the bound.
        try:
            reported = os.fstat(stream.fileno()).st_size
        except (OSError, AttributeError, ValueError):
            reported = 0
        first = min(max(reported, 0), MAX_INPUT) + 1
        data = _read_at_most(stream, path, what, first)
        if len(data) == first and first <= MAX_INPUT:
            data += _read_at_most(stream, path, what, MAX_INPUT + 1 - len(data))
    if len(data) > MAX_INPUT:
        raise _refuse_large(path)
    return data


def _sysfs_tables(root: StrPath | None) -> str:
    return os.path.join(os.fspath(root) if root is not None else SYSFS_ROOT, SYSFS_TABLES)


def read_sysfs(root: StrPath | None = None) -> bytes:
    """The blob of the machine's firmware table as Linux exports it under sysfs.

    ``root`` stands for ``/sys`` (for tests, or a copy of another machine's
    files): the files read are ``root/firmware/dmi/tables/smbios_entry_point``
    and ``root/firmware/dmi/tables/DMI``.
    """
    tables = _sysfs_tables(root)
    entry_path, table_path = os.path.join(tables, "smbios_entry_point"), os.path.join(tables, "DMI")
    try:
        exported = os.path.isdir(tables)
    except OSError:
        exported = True  # let reading the files tell what is wrong
    if not exported:
        raise SourceError(f"no SMBIOS table is exported at {tables}")
    entry = parse_entry_point(_read_file(entry_path, "the SMBIOS entry point", PRIVILEGE_HINT), entry_path)
    table = _read_file(table_path, "the SMBIOS table", PRIVILEGE_HINT)
    return _blob(entry, _table(entry, table, table_path))




def _windows_firmware_table_function() -> "FirmwareTableFunction":
    if sys.platform != "win32":
        raise SourceError(f"the Windows firmware-table API is not available on this platform ({sys.platform})")
    import ctypes
    from ctypes import wintypes

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    function = kernel32.GetSystemFirmwareTable
    function.argtypes = [wintypes.DWORD, wintypes.DWORD, ctypes.c_void_p, wintypes.DWORD]
    function.restype = wintypes.UINT
    result: "FirmwareTableFunction" = function
    return result


def _last_error() -> int:
    import ctypes

    get_last_error: Callable[[], int] | None = getattr(ctypes, "get_last_error", None)
    return get_last_error() if get_last_error is not None else 0


def read_windows(get_firmware_table: "FirmwareTableFunction | None" = None) -> bytes:
    """The blob of the machine's firmware table through GetSystemFirmwareTable('RSMB', 0, ...).

    The first call, with no buffer, asks for the size; the second fills a buffer
    of that size.  ``get_firmware_table`` replaces the Windows function (same
    arguments: provider, table id, buffer or None, buffer size; returns a byte
    count), which lets the two-call protocol be exercised anywhere.
    """
    import ctypes

    function = get_firmware_table or _windows_firmware_table_function()
    size = function(RSMB, 0, None, 0)
    if size <= 0:
        raise SourceError(f"GetSystemFirmwareTable found no SMBIOS table (Windows error {_last_error()})")
    if size > MAX_INPUT + RAW_SMBIOS_HEADER_SIZE:
        raise SourceError(f"GetSystemFirmwareTable announces a {size}-byte SMBIOS table, larger than 64 MiB; "
                          "it was not read")
    buffer = ctypes.create_string_buffer(size)
    written = function(RSMB, 0, buffer, size)
    if written <= 0 or written > size:
        raise SourceError(
            f"GetSystemFirmwareTable could not copy the SMBIOS table (it returned {written} "
            f"for a {size}-byte buffer, Windows error {_last_error()})"
        )
    return blob_from_raw_smbios(buffer.raw[:written])


def read_machine(sysfs_root: StrPath | None = None, platform: str | None = None) -> bytes:
    """The blob of the running machine's firmware table.

    Linux reads sysfs (``sysfs_root`` replaces ``/sys``), Windows asks the
    firmware-table API; any other platform raises SourceError.
    """
    platform = platform or sys.platform
    if platform.startswith("linux"):
        return read_sysfs(sysfs_root)
    if platform == "win32":
        return read_windows()
    raise SourceError(
        f"reading this machine's SMBIOS table is not supported on this platform ({platform}); "
        "read a dump file with --dump or a blob with --blob"
    )


def read_dump(path: StrPath) -> bytes:
    """The blob held by a dump file made with ``dmidecode --dump-bin FILE``.

    Reads the entry point at offset 0 and then exactly the table it announces
    (up to its maximum size for the 3.0 form), never the rest of the file.
    """
    path = os.fspath(path)
    what = "the dump file"
    with _open(path, what, None) as stream:
        head = _read_at_most(stream, path, what, DUMP_TABLE_OFFSET)
        entry = parse_entry_point(head, path)
        if entry.table_length > MAX_INPUT and entry.length_is_exact:
            raise _refuse_large(path)
        wanted = min(entry.table_length, MAX_INPUT + 1)
        try:
            stream.seek(entry.table_address)
            available = stream.read(wanted)
        except (OSError, OverflowError, ValueError):
            available = b""
        if len(available) > MAX_INPUT:
            raise _refuse_large(path)
        if not available and entry.table_length:
            raise SourceError(
                f"{path}: the table offset 0x{entry.table_address:x} given by the entry point lies beyond "
                "the end of the file; is it a dump made with dmidecode --dump-bin?"
            )
    return _blob(entry, _table(entry, available, path))


def read_blob(path: StrPath) -> bytes:
    """A blob file in the inventory's own format, checked for its two version bytes."""
    path = os.fspath(path)
    data = _read_file(path, "the blob file")
    if data.startswith(SM21_ANCHOR) or data.startswith(SM30_ANCHOR):
        raise SourceError(f"{path} starts with an SMBIOS entry point, so it is a dump file: read it with --dump")
    if len(data) < 2:
        raise SourceError(f"{path} is too short to be a blob: it needs at least the two version bytes")
    return data


def sample_path() -> str:
    """Where the sample blob lies in the installed package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", SAMPLE_NAME)


def sample_blob() -> bytes:
    """The sample desktop table shipped with the package (tools/make_sample_table.py makes it)."""
    with open(sample_path(), "rb") as stream:
        return stream.read()


def load(
    *, dump: StrPath | None = None, blob: StrPath | None = None, sysfs_root: StrPath | None = None, sample: bool = False
) -> "tuple[bytes, dict[str, str | None]]":
    """The blob of one source and the ``source`` entry that names it.

    At most one of ``dump``, ``blob``, ``sysfs_root`` and ``sample`` may be
    given; with none, this machine's table (sysfs on Linux, the firmware-table
    API on Windows).  Raises SourceError when the source cannot deliver, and
    ValueError for more than one source or an empty path.
    """
    chosen = [name for name, value in (("dump", dump), ("blob", blob), ("sysfs_root", sysfs_root)) if value is not None]
    if sample:
        chosen.append("sample")
    if len(chosen) > 1:
        raise ValueError(f"give at most one source, not {' and '.join(chosen)}")
    for name, value in (("dump", dump), ("blob", blob), ("sysfs_root", sysfs_root)):
        if value is not None and not os.fspath(value):
            raise ValueError(f"{name} is an empty path")
    if dump is not None:
        return read_dump(dump), {"kind": "dump", "path": os.fspath(dump)}
    if blob is not None:
        return read_blob(blob), {"kind": "blob", "path": os.fspath(blob)}
    if sysfs_root is not None:
        return read_sysfs(sysfs_root), {"kind": "sysfs", "path": _sysfs_tables(sysfs_root)}
    if sample:
        return sample_blob(), {"kind": "sample", "path": None}
    if sys.platform == "win32":
        return read_windows(), {"kind": "rsmb", "path": None}
    return read_machine(), {"kind": "sysfs", "path": _sysfs_tables(None)}


def _dmi_walk(table: bytes) -> "tuple[int, int]":
    """Structure count and largest structure size, counted as a peer decoder
    walks: up to a header shorter than 4, a string set with no end, or the
    end-of-table structure."""
    i = count = largest = 0
    while i + 4 <= len(table):
        kind, length = table[i], table[i + 1]
        if length < 4:
            break
        end = table.find(b"\0\0", i + length)
        if end < 0:
            break
        size = end + 2 - i
        count += 1
        largest = max(largest, size)
        i += size
        if kind == 127:
            break
    return count, largest


def _fix_checksum(buffer: bytearray, start: int, length: int, at: int) -> None:
    buffer[at] = 0
    buffer[at] = -sum(buffer[start:start + length]) & 0xFF


def dump_file_bytes(blob: bytes) -> bytes:
    """A blob as a ``--dump-bin`` dump file: an entry point at offset 0 (the
    3.0 ``_SM3_`` form for SMBIOS 3 and later, else the 2.1 ``_SM_``/``_DMI_``
    form) announcing the table at offset 0x20, and the table there.

    Raises ValueError for a blob shorter than its two version bytes, or a
    table too long for the 2.1 form's 16-bit length.
    """
    if len(blob) < 2:
        raise ValueError("a blob needs at least its two version bytes")
    major, minor, table = blob[0], blob[1], bytes(blob[2:])
    if major >= 3:
        entry = bytearray(SM30_SIZE)
        entry[0:5] = SM30_ANCHOR
        entry[6] = SM30_SIZE
        entry[7], entry[8], entry[9] = major, minor, 0  # the document revision is not in a blob
        entry[0x0A] = 0x01  # entry point revision: the 3.0 form
        struct.pack_into("<IQ", entry, 0x0C, len(table), DUMP_TABLE_OFFSET)
        _fix_checksum(entry, 0, SM30_SIZE, 5)
    else:
        if len(table) > 0xFFFF:
            raise ValueError(f"an SMBIOS {major}.{minor} table of {len(table)} bytes is too long for the 2.1 "
                             "entry point, which holds at most 65535")
        count, largest = _dmi_walk(table)
        entry = bytearray(SM21_SIZE)
        entry[0:4] = SM21_ANCHOR
        entry[5] = SM21_SIZE
        entry[6], entry[7] = major, minor
        struct.pack_into("<H", entry, 0x08, largest)
        entry[0x10:0x15] = DMI_ANCHOR
        struct.pack_into("<HIH", entry, 0x16, len(table), DUMP_TABLE_OFFSET, count)
        entry[0x1E] = (major & 0x0F) << 4 | (minor & 0x0F) if minor < 16 else 0  # BCD revision
        _fix_checksum(entry, 0x10, 0x0F, 0x15)
        _fix_checksum(entry, 0, SM21_SIZE, 4)
    return bytes(entry) + bytes(DUMP_TABLE_OFFSET - len(entry)) + table
