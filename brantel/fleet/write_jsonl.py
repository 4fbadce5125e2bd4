"""Rows as JSON lines."""
from __future__ import annotations

from typing import IO, Any, List, Optional, Union

from brantel.fleet.columns import Row
from brantel.fleet.outputs import _binary, _cannot_write, _hex_paths, _Replacement, _TextSink
from brantel.fleet.parallel import Encoded

_json_encode = None

#: Line ends to tools that split lines the Unicode way (and to JavaScript before ES2019):
#: escaped, so that one row stays one line for every reader.
_LINE_BREAKS = (("\u2028", "\\u2028"), ("\u2029", "\\u2029"), ("\u0085", "\\u0085"))


def _jsonl_encode(result: List[Row]) -> Encoded:
    global _json_encode
    if _json_encode is None:
        import json

        _json_encode = json.JSONEncoder(ensure_ascii=False).encode
    encode = _json_encode
    text = "".join([encode(row) + "\n" for row in _hex_paths(result)])
    for character, escape in _LINE_BREAKS:
        if character in text:
            text = text.replace(character, escape)
    # backslashreplace writes a stray surrogate as the \\uXXXX escape that JSON readers take back.
    return result[0]["row"] == "error", len(result) - 1, text.encode("utf-8", "backslashreplace")


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
