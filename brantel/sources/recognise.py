"""Reading one input and telling what it is: a dump, an RSMB export, a blob,
a sysfs tree or a copy of its tables folder."""
from __future__ import annotations

import os
import struct

from brantel.escaping import path_bytes, path_text
from brantel.sources.base import SourceError
from brantel.sources.entry_point import SM21_ANCHOR, SM30_ANCHOR, parse_entry_point, table_from_dump
from brantel.sources.files import _read_file, _TooLarge
from brantel.sources.plausible import _implausible
from brantel.sources.sysfs import ENTRY_POINT_NAME, SYSFS_TABLES, TABLE_NAME, _sysfs_input, _sysfs_tables, tables_folder
from brantel.sources.windows import RAW_SMBIOS_HEADER_SIZE, blob_from_raw_smbios

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from brantel.sources.base import StrPath


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


def read_dump(path: StrPath) -> bytes:
    """The blob held by a dump file made with ``dmidecode --dump-bin FILE``:
    the table its entry point (at offset 0) announces."""
    return read_input(path, "dump").blob


def read_blob(path: StrPath) -> bytes:
    """A blob file in the inventory's own format, checked for its two version bytes."""
    return read_input(path, "blob").blob
