"""What the writers share: opening and replacing an output, stdout as bytes, rows as tuples."""
from __future__ import annotations

import os
from operator import itemgetter
from typing import IO, Any, List, Optional, Union

from brantel.escaping import bytes_hex
from brantel.fleet.columns import ERROR_COLUMNS, MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, FleetError, Row
from brantel.fleet.parallel import Encoded
from brantel.replacing import Replacement


def memory_csv_path(path: str) -> str:
    """Where the memory-device CSV goes beside the machine CSV ``path``: ``-memory`` before the suffix."""
    folder, name = os.path.split(path)
    stem, suffix = os.path.splitext(name)
    return os.path.join(folder, f"{stem}-memory{suffix}")


def _cannot_write(path: str, exc: OSError) -> FleetError:
    return FleetError(f"cannot write {path}: {exc.strerror or exc}")


class _Replacement(Replacement):
    """A Replacement whose failures are the fleet's "cannot write FILE" errors."""

    def __init__(self, path: str, mode: str, **options: Any) -> None:
        try:
            super().__init__(path, mode, **options)
        except OSError as exc:
            raise _cannot_write(path, exc) from None

    def close(self) -> None:
        try:
            super().close()
        except OSError as exc:
            raise _cannot_write(self.path, exc) from None

    def commit(self) -> None:
        try:
            super().commit()
        except OSError as exc:
            raise _cannot_write(self.path, exc) from None


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
