"""SMBIOS entry points and dump files.

A dump holds an entry point at offset 0 (the 31-byte ``_SM_`` form of SMBIOS
2.1, with its ``_DMI_`` part at offset 0x10, or the 24-byte ``_SM3_`` form of
SMBIOS 3.0) and the table at the offset it gives.  Reading one verifies both
checksums of the first form and the checksum of the second;
:func:`dump_file_bytes` writes a blob back as such a file.
"""
from __future__ import annotations

import struct

from brantel.sources.base import SourceError


SM21_ANCHOR, SM30_ANCHOR, DMI_ANCHOR = b"_SM_", b"_SM3_", b"_DMI_"
SM21_SIZE, SM30_SIZE = 0x1F, 0x18
#: Where a dump file keeps its table.
DUMP_TABLE_OFFSET = 0x20


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


def _walk(table: bytes) -> "tuple[int, str, int]":
    """Walk a table's structures as far as they hold: (structures walked, how the
    walk ended, the offset where it ended).  It ends "end" after an end-of-table
    structure, "data" on a structure boundary at the end of the bytes, or "cut"
    at a structure that is not whole (a header shorter than 4 bytes or a string
    set with no end)."""
    i = count = 0
    while i < len(table):
        if i + 4 > len(table):
            return count, "cut", i
        kind, length = table[i], table[i + 1]
        end = table.find(b"\0\0", i + length) if length >= 4 else -1
        if end < 0:
            return count, "cut", i
        i = end + 2
        count += 1
        if kind == 127:
            return count, "end", i
    return count, "data", i


def _table(entry: EntryPoint, available: bytes, origin: str, warnings: "list[str] | None" = None) -> bytes:
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
    if len(table) < entry.table_length:
        ended = _walk(table)[1]
        if ended == "cut":
            raise SourceError(f"{origin} is truncated: the table ends in the middle of a structure")
        if ended == "data" and warnings is not None:
            # Whole structures, but no end-of-table structure either: it may have been cut between two.
            warnings.append(f"{origin}: the table is {len(table)} bytes, shorter than the {entry.table_length} "
                            "its entry point allows, and has no end-of-table structure; it may be cut short")
    return table


def _blob(entry: EntryPoint, table: bytes) -> bytes:
    return bytes((entry.major, entry.minor)) + table


def table_from_dump(data: bytes, origin: str = "the dump", warnings: "list[str] | None" = None) -> bytes:
    """The blob held by a ``--dump-bin`` style dump (entry point at offset 0)."""
    entry = parse_entry_point(data, origin)
    if entry.table_address >= len(data) and entry.table_length:
        raise SourceError(
            f"{origin}: the table offset 0x{entry.table_address:x} given by the entry point lies beyond "
            f"the end of the file ({len(data)} bytes); is it a dump made with dmidecode --dump-bin?"
        )
    return _blob(entry, _table(entry, data[entry.table_address:], origin, warnings))


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
