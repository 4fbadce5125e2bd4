"""Rows as JSON lines."""
from __future__ import annotations

from typing import IO, Any, List, Optional, Union

from brantel.escaping import json_lines
from brantel.fleet.columns import Row
from brantel.fleet.outputs import _binary, _open, _TextSink
from brantel.fleet.parallel import Encoded


def _jsonl_encode(result: List[Row]) -> Encoded:
    return result[0]["row"] == "error", len(result) - 1, json_lines(result)


class _JsonlWriter:
    encode = staticmethod(_jsonl_encode)
    join = staticmethod(b"".join)

    def __init__(self, output: Optional[str], stdout: IO[Any]) -> None:
        self._stream: Union[IO[bytes], _TextSink] = _open(output, "wb") if output else _binary(stdout)
        self._own = bool(output)

    def write(self, text: bytes) -> None:
        self._stream.write(text)

    def close(self) -> None:
        if isinstance(self._stream, _TextSink) or not self._own:
            self._stream.flush()
        else:
            self._stream.close()
