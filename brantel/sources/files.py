"""Opening and reading input files, bounded and without blocking.

Every input file is read here, under one set of rules: nothing larger than
MAX_INPUT is accepted, nothing may block (a FIFO, a terminal), and a name is
shown as path_text shows it.  A FIFO, a socket or a link to nothing is never
read; a device only when it is named on purpose.
"""
from __future__ import annotations

import errno
import os
import stat

from brantel.sources.base import SourceError
from brantel.sources.entry_point import DUMP_TABLE_OFFSET

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from brantel.sources.base import StrPath


#: The largest input accepted from any file.
MAX_INPUT = 64 * 1024 * 1024


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
