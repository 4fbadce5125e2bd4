"""Reading one input and recognising it by its content."""
from __future__ import annotations

import os
import struct
from typing import IO, Tuple

from brantel import sources
from brantel.fleet.columns import MAX_INPUT_BYTES
from brantel.fleet.inputs import ENTRY_POINT_NAME, TABLE_NAME

RAW_SMBIOS_HEADER = 8


class _Unreadable(Exception):
    """One input failed; the text is the error row's reason."""


def _read(path: str, what: str = "the file") -> bytes:
    """The bytes of a file, refusing anything larger than MAX_INPUT_BYTES (or endless, like /dev/zero)."""
    try:
        with open(path, "rb", buffering=0) as file:
            # Ask for the size the file has: a read of MAX_INPUT_BYTES would allocate that much each time.
            size = os.fstat(file.fileno()).st_size
            if size > MAX_INPUT_BYTES:
                data = b""
            else:
                data = file.read(size + 1) if size else b""
                if len(data) > size or not size:  # a growing file, or a device that reports no size
                    data += _read_on(file, MAX_INPUT_BYTES + 1 - len(data))
    except FileNotFoundError:
        raise _Unreadable(f"{what} does not exist") from None
    except PermissionError:
        raise _Unreadable(f"permission denied reading {what}") from None
    except IsADirectoryError:
        raise _Unreadable(f"{what} is a folder holding no SMBIOS table") from None
    except OSError as exc:
        raise _Unreadable(f"{what} cannot be read: {exc.strerror or exc}") from None
    if size > MAX_INPUT_BYTES or len(data) > MAX_INPUT_BYTES:
        raise _Unreadable(f"{what} is larger than {MAX_INPUT_BYTES // (1024 * 1024)} MiB, far more than any SMBIOS table")
    return data


def _read_on(file: IO[bytes], limit: int) -> bytes:
    """Up to ``limit`` more bytes, in pieces, so that an endless file costs no more than the limit."""
    pieces = []
    while limit > 0:
        piece = file.read(min(limit, 1 << 20))
        if not piece:
            break
        pieces.append(piece)
        limit -= len(piece)
    return b"".join(pieces)


def _structure_starts(data: bytes, at: int) -> bool:
    """Whether a plausible SMBIOS structure (header length at least 4, a string
    set with its end) starts at ``at``: enough to tell a table from other bytes."""
    if len(data) < at + 6:
        return False
    length = data[at + 1]
    return length >= 4 and data.find(b"\0\0", at + length) >= 0


def _is_raw_smbios(data: bytes) -> bool:
    # RawSMBIOSData: Used20CallingMethod (0 or 1), major, minor, DMI revision, 32-bit length.
    if len(data) < RAW_SMBIOS_HEADER or data[0] > 1 or data[1] not in (2, 3):
        return False
    (length,) = struct.unpack_from("<I", data, 4)
    # A length beyond the data is a cut-short export, which reading it will report.
    return length >= 4 and _structure_starts(data, RAW_SMBIOS_HEADER)


def _is_blob(data: bytes) -> bool:
    return data[:1] in (b"\x02", b"\x03") and _structure_starts(data, 2)


def _recognise(data: bytes) -> Tuple[str, bytes]:
    """(source kind, blob) of a file's bytes."""
    try:
        if data.startswith(sources.SM21_ANCHOR) or data.startswith(sources.SM30_ANCHOR):
            return "dump", sources.table_from_dump(data, "the dump")
        if _is_raw_smbios(data):
            return "rsmb", sources.blob_from_raw_smbios(data)
    except sources.SourceError as exc:
        raise _Unreadable(str(exc)) from None
    if _is_blob(data):
        return "blob", data
    if not data:
        raise _Unreadable("the file is empty")
    raise _Unreadable(
        "the file is not an SMBIOS table: neither a dump (an _SM_ or _SM3_ entry point at its start), "
        "a Windows RSMB export nor a blob (major version, minor version, table)"
    )


def _sysfs_blob(folder: str) -> Tuple[bytes, bytes]:
    """(the input's bytes for its sha256, blob) of a sysfs tables folder."""
    entry_bytes = _read(os.path.join(folder, ENTRY_POINT_NAME), "the entry point file")
    table = _read(os.path.join(folder, TABLE_NAME), "the DMI file")
    try:
        entry = sources.parse_entry_point(entry_bytes, "the entry point file")
    except sources.SourceError as exc:
        raise _Unreadable(str(exc)) from None
    if entry.length_is_exact and len(table) < entry.table_length:
        raise _Unreadable(
            f"the DMI file is truncated: the entry point announces a {entry.table_length}-byte table "
            f"but the file holds {len(table)} bytes"
        )
    return entry_bytes + table, bytes((entry.major, entry.minor)) + table[: entry.table_length]
