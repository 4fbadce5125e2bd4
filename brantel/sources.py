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

The versions come from the entry point: the 31-byte ``_SM_`` form of SMBIOS
2.1 (with its ``_DMI_`` part at offset 0x10) or the 24-byte ``_SM3_`` form of
SMBIOS 3.0; both checksums of the first and the checksum of the second are
verified.  On Windows they come from the RawSMBIOSData header.

Every failure is a :class:`SourceError` whose text is one sentence meant for
the person at the command line.
"""
from __future__ import annotations

import os
import pkgutil
import struct
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Optional, Union

__all__ = [
    "SourceError",
    "EntryPoint",
    "RawSMBIOSHeader",
    "SYSFS_ROOT",
    "SYSFS_TABLES",
    "SAMPLE_NAME",
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
]

StrPath = Union[str, "os.PathLike[str]"]

#: Where sysfs is normally mounted, and where its SMBIOS files live under it.
SYSFS_ROOT = Path("/sys")
SYSFS_TABLES = Path("firmware", "dmi", "tables")

#: File name of the bundled sample blob in the package's data folder.
SAMPLE_NAME = "sample_desktop.bin"

PRIVILEGE_HINT = "run with administrator privileges (for example with sudo) or read a dump file with --dump"

# 'RSMB' as the DWORD that GetSystemFirmwareTable expects.
RSMB = int.from_bytes(b"RSMB", "big")
RAW_SMBIOS_HEADER_SIZE = 8

SM21_ANCHOR, SM30_ANCHOR, DMI_ANCHOR = b"_SM_", b"_SM3_", b"_DMI_"
SM21_SIZE, SM30_SIZE = 0x1F, 0x18


class SourceError(Exception):
    """A source could not deliver a blob; ``str(error)`` is one sentence for the user."""


@dataclass(frozen=True)
class EntryPoint:
    """What an SMBIOS entry point says about its table."""

    kind: str  #: "2.1" for the _SM_ form, "3.0" for the _SM3_ form
    major: int
    minor: int
    docrev: int  #: the 3.0 form's document revision; 0 for the 2.1 form
    table_address: int
    #: The table's length (2.1 form) or its maximum size (3.0 form).
    table_length: int

    @property
    def length_is_exact(self) -> bool:
        """True when ``table_length`` is the exact length, not an upper bound."""
        return self.kind == "2.1"


@dataclass(frozen=True)
class RawSMBIOSHeader:
    """The 8-byte header of the Windows RawSMBIOSData that precedes the table."""

    used20_calling_method: int
    major: int
    minor: int
    dmi_revision: int
    length: int  #: length of the table that follows the header


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


def _read_file(path: Path, what: str) -> bytes:
    try:
        return path.read_bytes()
    except FileNotFoundError:
        raise SourceError(f"{what} {path} does not exist") from None
    except PermissionError:
        raise SourceError(f"permission denied reading {path}: {PRIVILEGE_HINT}") from None
    except IsADirectoryError:
        raise SourceError(f"{what} {path} is a directory, not a file") from None
    except OSError as exc:
        raise SourceError(f"cannot read {what} {path}: {exc.strerror or exc}") from None


def read_sysfs(root: Optional[StrPath] = None) -> bytes:
    """The blob of the machine's firmware table as Linux exports it under sysfs.

    ``root`` stands for ``/sys`` (for tests, or a copy of another machine's
    files): the files read are ``root/firmware/dmi/tables/smbios_entry_point``
    and ``root/firmware/dmi/tables/DMI``.
    """
    tables = Path(root if root is not None else SYSFS_ROOT) / SYSFS_TABLES
    entry_path, table_path = tables / "smbios_entry_point", tables / "DMI"
    try:
        exported = tables.is_dir()
    except OSError:
        exported = True  # let reading the files tell what is wrong
    if not exported:
        raise SourceError(f"no SMBIOS table is exported at {tables}")
    entry = parse_entry_point(_read_file(entry_path, "the SMBIOS entry point"), str(entry_path))
    table = _read_file(table_path, "the SMBIOS table")
    return _blob(entry, _table(entry, table, str(table_path)))


FirmwareTableFunction = Callable[[int, int, Any, int], int]


def _windows_firmware_table_function() -> FirmwareTableFunction:
    if sys.platform != "win32":
        raise SourceError(f"the Windows firmware-table API is not available on this platform ({sys.platform})")
    import ctypes
    from ctypes import wintypes

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    function = kernel32.GetSystemFirmwareTable
    function.argtypes = [wintypes.DWORD, wintypes.DWORD, ctypes.c_void_p, wintypes.DWORD]
    function.restype = wintypes.UINT
    result: FirmwareTableFunction = function
    return result


def _last_error() -> int:
    import ctypes

    get_last_error: Optional[Callable[[], int]] = getattr(ctypes, "get_last_error", None)
    return get_last_error() if get_last_error is not None else 0


def read_windows(get_firmware_table: Optional[FirmwareTableFunction] = None) -> bytes:
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
    buffer = ctypes.create_string_buffer(size)
    written = function(RSMB, 0, buffer, size)
    if written <= 0 or written > size:
        raise SourceError(
            f"GetSystemFirmwareTable could not copy the SMBIOS table (it returned {written} "
            f"for a {size}-byte buffer, Windows error {_last_error()})"
        )
    return blob_from_raw_smbios(buffer.raw[:written])


def read_machine(sysfs_root: Optional[StrPath] = None, platform: Optional[str] = None) -> bytes:
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
    """The blob held by a dump file made with ``dmidecode --dump-bin FILE``."""
    path = Path(path)
    return table_from_dump(_read_file(path, "the dump file"), str(path))


def read_blob(path: StrPath) -> bytes:
    """A blob file in the inventory's own format, checked for its two version bytes."""
    path = Path(path)
    data = _read_file(path, "the blob file")
    if data.startswith(SM21_ANCHOR) or data.startswith(SM30_ANCHOR):
        raise SourceError(f"{path} starts with an SMBIOS entry point, so it is a dump file: read it with --dump")
    if len(data) < 2:
        raise SourceError(f"{path} is too short to be a blob: it needs at least the two version bytes")
    return data


def sample_blob() -> bytes:
    """The sample desktop table shipped with the package (tools/make_sample_table.py makes it)."""
    data = pkgutil.get_data("brantel", "data/" + SAMPLE_NAME)  # importlib.resources.files needs 3.9
    assert data is not None  # brantel's loader reads files
    return data
