"""The Windows source: GetSystemFirmwareTable('RSMB') and its RawSMBIOSData header.

ctypes is imported only when a table is read this way.
"""
from __future__ import annotations

import struct
import sys

from brantel.sources.base import SourceError
from brantel.sources.files import MAX_INPUT

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from typing import Any, Callable

    FirmwareTableFunction = Callable[[int, int, Any, int], int]


# 'RSMB' as the DWORD that GetSystemFirmwareTable expects.
RSMB = int.from_bytes(b"RSMB", "big")
RAW_SMBIOS_HEADER_SIZE = 8


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
