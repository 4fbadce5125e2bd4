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
    for the inputs found in it, however deep.  ``reason`` is set for what
    cannot be read and becomes an error row: a folder that cannot be listed,
    and anything met in a folder that is neither a file nor a folder (a FIFO,
    a socket, a device, a link to nothing), which is never opened.
    """
    found: Dict[str, Optional[str]] = {}
    # A list of folders still to visit, not recursion: a tree may be deeper than the stack.
    pending: List[str] = []

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
                        pending.append(entry.path)
                elif entry.is_file():
                    found[entry.path] = None
                else:
                    what = sources.kind_of_file(entry.path)
                    if what is not None:
                        found[entry.path] = sources.not_a_file("the file", what)
                    elif not entry.is_dir():  # a link to a folder is not followed
                        found[entry.path] = None
            except OSError as exc:
                found[entry.path] = f"cannot tell what it is: {exc.strerror or exc}"

    for given in paths:
        path = os.fspath(given)
        if os.path.isdir(path) and sources.tables_folder(path) is None:
            pending.append(path)
            while pending:
                visit(pending.pop())
        else:
            found[path] = None
    return sorted(found.items())
