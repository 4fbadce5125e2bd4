"""What the writers share: opening an output, stdout as bytes, rows as tuples."""
from __future__ import annotations

import os
from operator import itemgetter
from typing import IO, Any, List, Optional, Union

from brantel.fleet.columns import MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, FleetError, Row
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


def _tuples_encode(result: List[Row]) -> Encoded:
    """An error row as (path, sha256, reason); a machine as (its values, its devices' values)."""
    first = result[0]
    if first["row"] == "error":
        return True, 0, (first["path"], first["sha256"], first["reason"])
    return False, len(result) - 1, (_machine_values(first), [_device_values(device) for device in result[1:]])
