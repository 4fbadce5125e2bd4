"""What the writers share: opening and replacing an output, stdout as bytes, rows as tuples."""
from __future__ import annotations

import os
from operator import itemgetter
from typing import IO, Any, List, Optional, Union

from brantel.escaping import bytes_hex
from brantel.fleet.columns import ERROR_COLUMNS, MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, FleetError, Row
from brantel.fleet.parallel import Encoded


def memory_csv_path(path: str) -> str:
    """Where the memory-device CSV goes beside the machine CSV ``path``: ``-memory`` before the suffix."""
    folder, name = os.path.split(path)
    stem, suffix = os.path.splitext(name)
    return os.path.join(folder, f"{stem}-memory{suffix}")


def _open(path: str, mode: str, **options: Any) -> IO[Any]:
    try:
        return open(path, mode, **options)
    except OSError as exc:
        raise FleetError(f"cannot write {path}: {exc.strerror or exc}") from None


def _cannot_write(path: str, exc: OSError) -> FleetError:
    return FleetError(f"cannot write {path}: {exc.strerror or exc}")


_umask: Optional[int] = None


def _new_file_mode() -> int:
    global _umask
    if _umask is None:
        _umask = os.umask(0o022)
        os.umask(_umask)
    return 0o666 & ~_umask


class _Replacement:
    """An output file written beside the target under a hidden name and renamed over it once
    complete, so that a run that fails (a full disk, a kill) leaves what was there before.

    A target that exists and is not a regular file (a device, a FIFO, a terminal) is written
    as it is: there is nothing to keep, and it must not be replaced by a file.
    """

    def __init__(self, path: str, mode: str, **options: Any) -> None:
        import stat
        import tempfile

        self.path = path
        self._temporary: Optional[str] = None
        try:
            status: Optional[os.stat_result] = os.stat(path)
        except FileNotFoundError:
            status = None
        except OSError as exc:
            raise _cannot_write(path, exc) from None
        if status is not None and not stat.S_ISREG(status.st_mode):
            self.file = _open(path, mode, **options)
            return
        # A link is followed: the file it names is replaced, the link stays.
        target = os.path.realpath(path) if os.path.islink(path) else path
        folder, name = os.path.split(os.path.abspath(target))
        try:
            handle, self._temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
            os.chmod(self._temporary, stat.S_IMODE(status.st_mode) if status is not None else _new_file_mode())
        except OSError as exc:
            if self._temporary is not None:
                os.close(handle)
                self.discard()
            raise _cannot_write(path, exc) from None
        self._target = target
        self.file = os.fdopen(handle, mode, **options)

    def commit(self) -> None:
        """Close the file and put it in place; raises FleetError when that fails."""
        try:
            self.file.close()
            if self._temporary is not None:
                os.replace(self._temporary, self._target)
                self._temporary = None
        except OSError as exc:
            self.discard()
            raise _cannot_write(self.path, exc) from None

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


class _TextSink:
    """Bytes into a text-only stream (an embedding application's, say)."""

    def __init__(self, stream: IO[str]) -> None:
        self._stream = stream

    def write(self, data: bytes) -> int:
        return self._stream.write(data.decode("utf-8"))

    def flush(self) -> None:
        self._stream.flush()


def _binary(stream: IO[Any]) -> Union[IO[bytes], _TextSink]:
    buffer: Optional[IO[bytes]] = getattr(stream, "buffer", None)
    if buffer is None:
        return _TextSink(stream)
    stream.flush()
    return buffer


_machine_values = itemgetter(*MACHINE_COLUMNS)
_device_values = itemgetter(*MEMORY_DEVICE_COLUMNS)


_error_values = itemgetter(*ERROR_COLUMNS)


def _tuples_encode(result: List[Row]) -> Encoded:
    """An error row as its values (path first); a machine as (its values, its devices' values)."""
    first = result[0]
    if first["row"] == "error":
        return True, 0, _error_values(first)
    return False, len(result) - 1, (_machine_values(first), [_device_values(device) for device in result[1:]])


def _hex_paths(result: List[Row]) -> List[Row]:
    """The rows with ``path_bytes`` as lower-case hex, for the text formats."""
    raw = result[0]["path_bytes"]
    if raw is None:
        return result
    return [dict(row, path_bytes=bytes_hex(raw)) for row in result]
