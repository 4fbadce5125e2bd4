"""Where SMBIOS blobs come from.

The inventory takes an SMBIOS *blob*: byte 0 the SMBIOS major version, byte 1
the minor version, then the structure table exactly as the firmware reports it.
This package delivers blobs from:

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

One concern a module: ``entry_point`` (entry points, dumps read and written),
``windows`` (RSMB), ``files`` (bounded, non-blocking reads and the rules for
what is not a regular file), ``sysfs`` (the tables folder), ``plausible``
(whether bytes can be a table), ``recognise`` (:func:`read_input`) and
``machine`` (this machine, the sample); :func:`load` is here.  Every name is
reached as ``brantel.sources.NAME``.
"""
from __future__ import annotations

import os
import sys

from brantel.escaping import bytes_hex
from brantel.sources.base import SourceError
from brantel.sources.entry_point import (
    DMI_ANCHOR, DUMP_TABLE_OFFSET, SM21_ANCHOR, SM21_SIZE, SM30_ANCHOR, SM30_SIZE, EntryPoint, dump_file_bytes,
    parse_entry_point, table_from_dump,
)
from brantel.sources.files import MAX_INPUT, kind_of_file, not_a_file
from brantel.sources.machine import SAMPLE_NAME, read_machine, read_sysfs, sample_blob, sample_path
from brantel.sources.plausible import (
    DAMAGED_TABLE_STRUCTURES, IDENTITY_STRINGS, LONG_STRING, MAX_STRINGS, UNDEFINED_TYPES,
)
from brantel.sources.recognise import FORMS, NOT_A_TABLE, Input, read_blob, read_dump, read_input
from brantel.sources.sysfs import (
    ENTRY_POINT_NAME, PRIVILEGE_HINT, SYSFS_ROOT, SYSFS_TABLES, TABLE_NAME, _sysfs_tables, tables_folder,
)
from brantel.sources.windows import (
    RAW_SMBIOS_HEADER_SIZE, RSMB, RawSMBIOSHeader, blob_from_raw_smbios, parse_raw_smbios_header, read_windows,
)

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
    from brantel.sources.base import StrPath

# Standard modules that a plain inventory run needs are kept few: this package
# is imported on every run of the command line.  load looks read_machine and
# read_windows up here, where tests replace them.


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
