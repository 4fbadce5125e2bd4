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

import errno
import os
import stat
import struct
import sys

from brantel.escaping import bytes_hex, path_bytes, path_text

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
    "read_input",
    "Input",
    "FORMS",
    "tables_folder",
    "kind_of_file",
    "not_a_file",
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
    """A source could not deliver a blob; ``str(error)`` is one sentence for the user.

    ``data`` holds the bytes of an input that was read but is not a table (None otherwise).
    """

    data: "bytes | None" = None


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


# --- reading inputs -----------------------------------------------------------------
#
# Every input file is read here, under one set of rules: nothing larger than
# MAX_INPUT is accepted, nothing may block (a FIFO, a terminal), and a name is
# shown as path_text shows it.

ENTRY_POINT_NAME, TABLE_NAME = "smbios_entry_point", "DMI"

#: What recognition makes of an input: the source kind and, in words, the form.
FORMS = {
    "dump 2.1": "dump", "dump 3.0": "dump", "RSMB export": "rsmb", "blob": "blob",
    "sysfs tree": "sysfs", "tables folder": "sysfs",
}


class Input:
    """One input as :func:`read_input` found it."""

    __slots__ = ("kind", "form", "blob", "data", "path", "path_bytes", "warnings")

    def __init__(self, form: str, blob: bytes, data: bytes, path: StrPath, warnings: "list[str] | None" = None):
        self.form = form  #: one of FORMS: "dump 2.1", "dump 3.0", "RSMB export", "blob", "sysfs tree", "tables folder"
        self.kind = FORMS[form]  #: the source kind: "dump", "rsmb", "blob" or "sysfs"
        self.blob = blob  #: major version, minor version, table
        self.data = data  #: the bytes read (entry point and table for sysfs), for a digest
        self.path = path_text(path)  #: the path as path_text shows it
        self.path_bytes = path_bytes(path)  #: the path's raw bytes when they are not UTF-8, else None
        self.warnings = warnings or []  #: what reading found doubtful but not fatal, one sentence each

    def __repr__(self) -> str:
        return f"Input(form={self.form!r}, path={self.path!r}, {len(self.blob)}-byte blob)"


def _nonblocking(path: "str | bytes", flags: int) -> int:
    # A FIFO or a terminal opened for reading must not hold the run up.
    return os.open(path, flags | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_NOCTTY", 0))


def _what_it_is(mode: int) -> "str | None":
    """What a file that is not a regular file is, in words; None for a regular file."""
    if stat.S_ISREG(mode):
        return None
    for test, words in ((stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO (named pipe)"),
                        (stat.S_ISSOCK, "a socket"), (stat.S_ISCHR, "a character device"),
                        (stat.S_ISBLK, "a block device")):
        if test(mode):
            return words
    return "not a regular file"


def kind_of_file(path: StrPath) -> "str | None":
    """What ``path`` is when it is not a regular file or a folder (a link to
    nothing, a FIFO, a device...), in words; None for a file or a folder."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        return "a link to nothing" if os.path.islink(path) else None
    except OSError:
        return None  # let reading it say why
    return None if stat.S_ISREG(mode) or stat.S_ISDIR(mode) else _what_it_is(mode)


def not_a_file(name: str, what: str) -> str:
    """Why ``name`` is not read, being ``what`` (as kind_of_file says)."""
    return f"{name} is {what}, not a regular file; it was not read"


class _TooLarge(SourceError):
    """An input over the bound; ``head`` is its start, which may tell more."""

    def __init__(self, name: str, head: bytes):
        super().__init__(f"{name} is larger than 64 MiB, far more than any SMBIOS table needs; it was not read")
        self.head = head


def _os_error(exc: OSError, name: str, path: StrPath, hint: "str | None") -> SourceError:
    if isinstance(exc, FileNotFoundError):
        if os.path.islink(path):
            return SourceError(not_a_file(name, "a link to nothing"))
        return SourceError(f"{name} does not exist")
    if isinstance(exc, PermissionError):
        return SourceError(f"permission denied reading {name}" + (f": {hint}" if hint else ""))
    if isinstance(exc, IsADirectoryError):
        return SourceError(f"{name} is a directory, not a file")
    if exc.errno == errno.ENXIO:  # what opening a socket gives
        what = kind_of_file(path)
        if what is not None:
            return SourceError(not_a_file(name, what))
    return SourceError(f"cannot read {name}: {exc.strerror or exc}")


def _read_file(path: StrPath, name: str, hint: "str | None" = None, devices: bool = True) -> bytes:
    """A whole file of at most MAX_INPUT bytes, read without blocking.

    A character or block device is read (up to the bound) only when ``devices``
    is set, for a device named on purpose; a FIFO or a socket never is.
    """
    try:
        with open(path, "rb", buffering=0, opener=_nonblocking) as stream:
            info = os.fstat(stream.fileno())
            what = _what_it_is(info.st_mode)
            if what is not None and not (devices and (stat.S_ISCHR(info.st_mode) or stat.S_ISBLK(info.st_mode))):
                raise SourceError(not_a_file(name, what))
            # Ask for the size the file reports, plus one byte to see whether it
            # goes on: asking for the whole bound at once would allocate it first.
            # A file whose size is unknown or wrong (a device, a sysfs or proc file)
            # is then read on, in pieces, up to the bound.
            ask = min(max(info.st_size, 0), MAX_INPUT) + 1
            pieces, total = [], 0
            while total <= MAX_INPUT:
                piece = stream.read(ask)
                if piece is None:
                    raise SourceError(f"{name} has nothing to read without waiting (it is {what or 'a file'})")
                if not piece:
                    break
                pieces.append(piece)
                total += len(piece)
                ask = min(MAX_INPUT + 1 - total, 1 << 20)
    except OSError as exc:
        raise _os_error(exc, name, path, hint) from None
    if total > MAX_INPUT:
        raise _TooLarge(name, pieces[0][:DUMP_TABLE_OFFSET])
    return b"".join(pieces)


def _sysfs_tables(root: StrPath | None) -> str:
    return os.path.join(os.fspath(root) if root is not None else SYSFS_ROOT, SYSFS_TABLES)


def tables_folder(path: StrPath) -> "str | None":
    """The folder holding smbios_entry_point and DMI when ``path`` is a sysfs
    root or a copy of its tables folder; None otherwise."""
    path = os.fspath(path)
    for folder in (os.path.join(path, SYSFS_TABLES), path):
        try:
            if all(os.path.isfile(os.path.join(folder, name)) for name in (ENTRY_POINT_NAME, TABLE_NAME)):
                return folder
        except (OSError, ValueError):
            pass
    return None


def _sysfs_input(folder: str, named: bool, warnings: "list[str]") -> "tuple[bytes, bytes]":
    """(the bytes read, blob) of a tables folder."""
    entry_path, table_path = os.path.join(folder, ENTRY_POINT_NAME), os.path.join(folder, TABLE_NAME)
    hint = None
    if named:
        entry_origin, table_origin = path_text(entry_path), path_text(table_path)
        entry_name, table_name = f"the SMBIOS entry point {entry_origin}", f"the SMBIOS table {table_origin}"
        hint = PRIVILEGE_HINT  # the person who named it may read it with more privileges
    else:
        entry_name = entry_origin = "the entry point file"
        table_name = table_origin = "the DMI file"
    entry_bytes = _read_file(entry_path, entry_name, hint, devices=False)
    entry = parse_entry_point(entry_bytes, entry_origin)
    table = _read_file(table_path, table_name, hint, devices=False)
    return entry_bytes + table, _blob(entry, _table(entry, table, table_origin, warnings))


#: A string number is one byte: a structure cannot use more strings than this.
MAX_STRINGS = 255
#: Longer than any SMBIOS string met in real tables by far; random bytes make longer ones.
LONG_STRING = 1024
#: Of a table that breaks off, this many whole structures that look like a table's
#: make it a damaged table rather than other bytes.
DAMAGED_TABLE_STRUCTURES = 3


#: Structure types that no SMBIOS version defines (the defined ones end in the 40s;
#: 126 is "inactive", 127 the end, 128 and up the vendors').
UNDEFINED_TYPES = range(64, 126)
#: The string-number fields of the BIOS (type 0) and System Information (type 1)
#: structures, and the least length each structure has had.
IDENTITY_STRINGS = {0: ((4, 5, 8), 0x12), 1: ((4, 5, 6, 7), 0x08)}


def _break(table: bytes) -> "tuple[int, str, int, bool, bool]":
    """Walk ``table`` as recognition does: (structures walked, how the walk ended
    ("end", "data" or why it broke), where, whether a BIOS or System Information
    structure was met whose string numbers point at its strings (at least one of
    them), and whether every structure walked was plausible: a type that SMBIOS
    defines, strings of a plausible length)."""
    i = count = 0
    identity, plausible = False, True
    while i < len(table):
        if i + 4 > len(table):
            return count, "a structure header is cut short", i, identity, plausible
        kind, length = table[i], table[i + 1]
        if length < 4:
            return count, f"a structure gives a length of {length}, less than its own header", i, identity, plausible
        end = table.find(b"\0\0", i + length)
        if end < 0:
            return count, "a structure's strings have no end", i, identity, plausible
        strings = table[i + length:end].split(b"\0") if end > i + length else []
        if len(strings) > MAX_STRINGS:
            return count, "a structure has more strings than a string number can reach", i, identity, plausible
        if kind == 127 and length != 4:
            return count, "an end-of-table structure is not 4 bytes long", i, identity, plausible
        plausible = plausible and kind not in UNDEFINED_TYPES and all(len(text) <= LONG_STRING for text in strings)
        if kind in IDENTITY_STRINGS and length >= IDENTITY_STRINGS[kind][1]:
            numbers = [table[i + at] for at in IDENTITY_STRINGS[kind][0]]
            identity = identity or (any(numbers) and max(numbers) <= len(strings))
        count += 1
        i = end + 2
        if kind == 127:
            return count, "end", i, identity, plausible
    return count, "data", i, identity, plausible


def _implausible(table: bytes) -> "str | None":
    """None when ``table`` can be taken for an SMBIOS structure table; else where
    and why it cannot.

    A table is taken when its structures are whole and plausible (see _break)
    up to its end-of-table structure or up to the end of the bytes; or, for a
    damaged table, when at least DAMAGED_TABLE_STRUCTURES of them, among them a
    BIOS or System Information structure, come before the break.
    """
    count, ended, at, identity, plausible = _break(table)
    if not plausible:
        pass
    elif ended == "end" and (count > 1 or at == len(table)):
        return None
    elif ended == "data" and count:
        return None
    elif ended not in ("end", "data") and count >= DAMAGED_TABLE_STRUCTURES and identity:
        return None
    if not plausible:
        return "its structures have types that SMBIOS does not define, or strings longer than any table's"
    if ended == "end":
        return f"it ends with an end-of-table structure at byte {at} that nothing precedes"
    if ended == "data":
        return "it holds no structure"
    return f"{ended} at byte {at} of the table, after {count} whole structure{'s' if count != 1 else ''}"


def _raw_smbios_table(data: bytes) -> "bytes | None":
    # RawSMBIOSData: Used20CallingMethod (0 or 1), major, minor, DMI revision, 32-bit length.
    if len(data) < RAW_SMBIOS_HEADER_SIZE or data[0] > 1 or data[1] not in (2, 3):
        return None
    (length,) = struct.unpack_from("<I", data, 4)
    # A length beyond the data is a cut-short export, which reading it will report.
    return data[RAW_SMBIOS_HEADER_SIZE:RAW_SMBIOS_HEADER_SIZE + length] if length >= 4 else None


NOT_A_TABLE = ("not an SMBIOS table: neither a dump (an _SM_ or _SM3_ entry point at its start), "
               "a Windows RSMB export, a blob (major version, minor version, table), "
               "a sysfs tree nor a copy of its tables folder")


def _recognise(data: bytes, name: str, origin: str, warnings: "list[str]") -> "tuple[str, bytes]":
    """(form, blob) of a file's bytes, recognised by their content.

    A blob or an RSMB export has only a few header bytes to tell it by, which
    other files often share; its table must also be plausible (see _implausible).
    """
    if data.startswith(SM30_ANCHOR) or data.startswith(SM21_ANCHOR):
        blob = table_from_dump(data, origin, warnings)
        return ("dump 3.0" if data.startswith(SM30_ANCHOR) else "dump 2.1"), blob
    raw_table = _raw_smbios_table(data)
    if raw_table is not None and _implausible(raw_table) is None:
        return "RSMB export", blob_from_raw_smbios(data)
    if not data:
        raise SourceError(f"{name} is empty")
    if data[0] in (2, 3) and len(data) > 2:
        why = _implausible(data[2:])
        if why is None:
            return "blob", data
        raise SourceError(f"{name} is {NOT_A_TABLE}; read as a blob, {why}")
    raise SourceError(f"{name} is {NOT_A_TABLE}")


def read_input(path: StrPath, kind: "str | None" = None, *, named: bool = True) -> Input:
    """Read one input and say what it was.

    Without ``kind`` the input is recognised by its content: a dump (2.1 or
    3.0 entry point at offset 0), a Windows RSMB export, a blob, a sysfs tree
    or a copy of its tables folder.  ``kind`` ("dump", "blob" or "sysfs")
    reads it as that and nothing else.  Error messages name the path, or, with
    ``named`` false, say "the file" (for callers that show the path beside).
    Raises SourceError.
    """
    shown = path_text(path)
    notes: "list[str]" = []
    if kind == "sysfs":
        tables = _sysfs_tables(path)
        try:
            exported = os.path.isdir(tables)
        except (OSError, ValueError):
            exported = True  # let reading the files tell what is wrong
        if not exported:
            raise SourceError(f"no SMBIOS table is exported at {path_text(tables)}")
        data, blob = _sysfs_input(tables, named, notes)
        return Input("sysfs tree", blob, data, tables, notes)
    what = {"dump": "the dump file", "blob": "the blob file", None: "the file"}.get(kind)
    if what is None:
        raise ValueError(f"unknown kind {kind!r}; give dump, blob, sysfs or None")
    name, origin = (f"{what} {shown}", shown) if named else (what, "the dump")
    if kind is None:
        folder = tables_folder(path)
        if folder is not None:
            form = "tables folder" if folder == os.fspath(path) else "sysfs tree"
            data, blob = _sysfs_input(folder, named, notes)
            return Input(form, blob, data, path, notes)
        try:
            is_folder = os.path.isdir(path)
        except (OSError, ValueError):
            is_folder = False
        if is_folder:
            raise SourceError(f"{name} is a folder holding no SMBIOS table "
                              f"(no {SYSFS_TABLES}/{ENTRY_POINT_NAME} and {TABLE_NAME}, nor those two files)")
    try:
        data = _read_file(path, name)
    except _TooLarge as exc:
        if kind == "dump":
            parse_entry_point(exc.head, origin)  # a file that is no dump at all is told so first
        raise
    try:
        if kind is None:
            form, blob = _recognise(data, name, origin, notes)
            return Input(form, blob, data, path, notes)
        if kind == "dump":
            blob = table_from_dump(data, origin, notes)
            return Input("dump 3.0" if data.startswith(SM30_ANCHOR) else "dump 2.1", blob, data, path, notes)
    except SourceError as exc:
        exc.data = data  # read but not a table: a caller may still want its digest
        raise
    if data.startswith(SM21_ANCHOR) or data.startswith(SM30_ANCHOR):
        raise SourceError(f"{shown} starts with an SMBIOS entry point, so it is a dump file: read it with --dump")
    if len(data) < 2:
        raise SourceError(f"{shown} is too short to be a blob: it needs at least the two version bytes")
    return Input("blob", data, data, path)


def read_sysfs(root: StrPath | None = None) -> bytes:
    """The blob of the machine's firmware table as Linux exports it under sysfs.

    ``root`` stands for ``/sys`` (for tests, or a copy of another machine's
    files): the files read are ``root/firmware/dmi/tables/smbios_entry_point``
    and ``root/firmware/dmi/tables/DMI``.
    """
    return read_input(root if root is not None else SYSFS_ROOT, "sysfs").blob



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
    """The blob held by a dump file made with ``dmidecode --dump-bin FILE``:
    the table its entry point (at offset 0) announces."""
    return read_input(path, "dump").blob


def read_blob(path: StrPath) -> bytes:
    """A blob file in the inventory's own format, checked for its two version bytes."""
    return read_input(path, "blob").blob


def sample_path() -> str:
    """Where the sample blob lies in the installed package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", SAMPLE_NAME)


def sample_blob() -> bytes:
    """The sample desktop table shipped with the package (tools/make_sample_table.py makes it)."""
    with open(sample_path(), "rb") as stream:
        return stream.read()


def load(
    path: StrPath | None = None, *, dump: StrPath | None = None, blob: StrPath | None = None,
    sysfs_root: StrPath | None = None, sample: bool = False, warnings: "list[str] | None" = None
) -> "tuple[bytes, dict[str, str | None]]":
    """The blob of one source and the ``source`` entry that names it: ``kind``,
    ``path`` (as brantel.escaping.path_text shows it, None for no file) and
    ``path_bytes`` (the name's raw bytes in hex when they are not UTF-8, else None).

    At most one of ``path``, ``dump``, ``blob``, ``sysfs_root`` and ``sample``
    may be given.  ``path`` is recognised by its content (see
    :func:`read_input`); the others say what the source is.  With none, this
    machine's table (sysfs on Linux, the firmware-table API on Windows).
    ``warnings``, a list, receives what reading found doubtful but not fatal.
    Raises SourceError when the source cannot deliver, and ValueError for more
    than one source or an empty path.
    """
    named = (("path", path), ("dump", dump), ("blob", blob), ("sysfs_root", sysfs_root))
    chosen = [name for name, value in named if value is not None]
    if sample:
        chosen.append("sample")
    if len(chosen) > 1:
        raise ValueError(f"give at most one source, not {' and '.join(chosen)}")
    for name, value in named:
        if value is not None and not os.fspath(value):
            raise ValueError(f"{name} is an empty path")
    for value, kind in ((path, None), (dump, "dump"), (blob, "blob"), (sysfs_root, "sysfs")):
        if value is not None:
            found = read_input(value, kind)
            if warnings is not None:
                warnings.extend(found.warnings)
            return found.blob, {"kind": found.kind, "path": found.path, "path_bytes": bytes_hex(found.path_bytes)}
    if sample:
        return sample_blob(), {"kind": "sample", "path": None, "path_bytes": None}
    if sys.platform == "win32":
        return read_windows(), {"kind": "rsmb", "path": None, "path_bytes": None}
    return read_machine(), {"kind": "sysfs", "path": _sysfs_tables(None), "path_bytes": None}


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
