"""Finding the inputs: files, folders searched recursively, sysfs roots."""
from __future__ import annotations

import os
from typing import Dict, Iterable, List, Optional, Tuple

from brantel import sources
from brantel.fleet.columns import StrPath

def find_inputs(paths: Iterable[StrPath]) -> List[Tuple[str, Optional[str]]]:
    """The inputs named by ``paths``, in sorted path order, as (path, reason) pairs.

    A file (or anything that is not a folder, including a path that does not
    exist) is one input; a sysfs root is one input; any other folder stands
    for the inputs found in it.  ``reason`` is set when a folder could not be
    listed: that folder then becomes an error row.
    """
    found: Dict[str, Optional[str]] = {}

    def visit(folder: str) -> None:
        try:
            with os.scandir(folder) as listing:
                entries = sorted(listing, key=lambda entry: entry.name)
        except OSError as exc:
            found[folder] = f"the folder cannot be listed: {exc.strerror or exc}"
            return
        for entry in entries:
            if entry.name.startswith("."):
                continue
            try:
                if entry.is_dir(follow_symlinks=False):
                    if sources.tables_folder(entry.path) is not None:
                        found[entry.path] = None
                    else:
                        visit(entry.path)
                elif entry.is_file():
                    found[entry.path] = None
            except OSError as exc:
                found[entry.path] = f"cannot tell what it is: {exc.strerror or exc}"

    for given in paths:
        path = os.fspath(given)
        if os.path.isdir(path) and sources.tables_folder(path) is None:
            visit(path)
        else:
            found[path] = None
    return sorted(found.items())
