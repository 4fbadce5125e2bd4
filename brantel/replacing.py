"""Writing a file whole or not at all: a temporary file beside the target, renamed over it once
complete, so that a failed write (a full disk, a kill, Ctrl-C) leaves what was there before."""
from __future__ import annotations

import binascii
import os
import stat
from typing import IO, Any, Optional, Tuple

# The temporary's name keeps only the start of the target's, so that a target whose name is
# near the file system's limit can still be written.
_NAME_KEPT = 40
_ATTEMPTS = 100


def _create_beside(folder: str, name: str, mode: int) -> Tuple[int, str]:
    """A new file in ``folder`` under a hidden name no one else holds, opened for writing.

    ``mode`` goes through the umask (and a folder's default ACL) as for any new file: the
    kernel, not a umask read back in this process, says what a new file's mode is.
    """
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)
    for _ in range(_ATTEMPTS):
        token = binascii.hexlify(os.urandom(6)).decode("ascii")
        temporary = os.path.join(folder, f".{name[:_NAME_KEPT]}.{token}.part")
        try:
            return os.open(temporary, flags, mode), temporary
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name beside {name}")


class Replacement:
    """An output opened as ``open(path, mode, **options)`` would, written under a hidden name
    beside its target and put in place by ``commit()``; ``discard()`` removes it.

    A link is followed: the file it names is replaced and the link stays. An existing file's
    mode is kept; a new file gets the mode any new file would. A target that exists and is not
    a regular file (a device, a FIFO, a terminal) is written in place: there is nothing to keep,
    and it must not become a file. Every failure is an ``OSError``, after which no temporary
    file is left; callers turn it into their own message.
    """

    def __init__(self, path: str, mode: str = "wb", **options: Any) -> None:
        self.path = path
        self._temporary: Optional[str] = None
        try:
            status: Optional[os.stat_result] = os.stat(path)
        except FileNotFoundError:
            status = None
        if status is not None and not stat.S_ISREG(status.st_mode):
            self.file: IO[Any] = open(path, mode, **options)
            return
        self._target = os.path.realpath(path) if os.path.islink(path) else path
        folder, name = os.path.split(os.path.abspath(self._target))
        descriptor, self._temporary = _create_beside(folder, name, 0o666 if status is None else 0o600)
        try:
            if status is not None:
                os.chmod(self._temporary, stat.S_IMODE(status.st_mode))
        except BaseException:
            os.close(descriptor)
            self.discard()
            raise
        try:
            self.file = os.fdopen(descriptor, mode, **options)
        except BaseException:
            self.discard()  # a failed fdopen has closed the descriptor
            raise

    def __enter__(self) -> "Replacement":
        return self

    def __exit__(self, kind: Any, value: Any, traceback: Any) -> None:
        if kind is None:
            self.commit()
        else:
            self.discard()

    def close(self) -> None:
        """Finish writing: flushed and, for a replacement, on the disk before any rename."""
        try:
            if self._temporary is not None and not self.file.closed:
                self.file.flush()
                os.fsync(self.file.fileno())
            self.file.close()
        except BaseException:
            self.discard()
            raise

    def commit(self) -> None:
        """Close the file and put it in place of the target."""
        self.close()
        if self._temporary is not None:
            try:
                os.replace(self._temporary, self._target)
            except BaseException:
                self.discard()
                raise
            self._temporary = None

    def discard(self) -> None:
        """Close and remove the temporary file: the target stays as it was."""
        try:
            self.file.close()
        except (OSError, AttributeError, ValueError):
            pass
        if self._temporary is not None:
            try:
                os.unlink(self._temporary)
            except OSError:
                pass
            self._temporary = None


def replace_file(path: str, data: bytes) -> None:
    """Writes ``data`` as the whole of ``path``, or leaves ``path`` as it was."""
    with Replacement(path, "wb") as out:
        out.file.write(data)
