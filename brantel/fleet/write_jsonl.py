"""Rows as JSON lines."""
from __future__ import annotations

from typing import IO, Any, List, Optional, Union

from brantel.escaping import json_lines
from brantel.fleet.columns import Row
from brantel.fleet.outputs import _binary, _cannot_write, _hex_paths, _Replacement, _TextSink
from brantel.fleet.parallel import Encoded



def _jsonl_encode(result: List[Row]) -> Encoded:
    # One escaping rule for every JSON brantel writes: U+2028, U+2029 and U+0085 among what
    # it escapes, so that tools splitting lines the Unicode way still see one row a line.
    return result[0]["row"] == "error", len(result) - 1, json_lines(_hex_paths(result))


class _JsonlWriter:
    encode = staticmethod(_jsonl_encode)
    join = staticmethod(b"".join)

    def __init__(self, output: Optional[str], stdout: IO[Any]) -> None:
        self._output = output
        self._file: Optional[_Replacement] = None
        if output:
            self._file = _Replacement(output, "wb")
            self._stream: Union[IO[bytes], _TextSink] = self._file.file
        else:
            self._stream = _binary(stdout)

    def write(self, text: bytes) -> None:
        self._stream.write(text)

    def close(self) -> None:
        if self._file is not None:
            self._file.commit()
            return
        try:
            self._stream.flush()
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise _cannot_write("the output", exc) from None

    def abort(self) -> None:
        if self._file is not None:
            self._file.discard()
