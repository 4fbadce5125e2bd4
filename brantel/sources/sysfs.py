"""The sysfs tree's SMBIOS files: where they lie, and reading a folder that holds them."""
from __future__ import annotations

import os

from brantel.escaping import path_text
from brantel.sources.entry_point import _blob, _table, parse_entry_point
from brantel.sources.files import _read_file

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from brantel.sources.base import StrPath


#: Where sysfs is normally mounted, and where its SMBIOS files live under it.
SYSFS_ROOT = "/sys"
SYSFS_TABLES = os.path.join("firmware", "dmi", "tables")

PRIVILEGE_HINT = "run with administrator privileges (for example with sudo) or read a dump file with --dump"

ENTRY_POINT_NAME, TABLE_NAME = "smbios_entry_point", "DMI"


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
