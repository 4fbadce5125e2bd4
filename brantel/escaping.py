"""How text from outside (SMBIOS strings, file names) is made safe for where it goes.

Every output of brantel takes its rules from here, so that each rule has one
definition:

* :func:`terminal_text`: a string as a terminal may show it, and
  :func:`terminal_bytes`: text in the terminal's encoding;
* :func:`json_document` and :func:`json_lines`: JSON as the command line and
  the fleet's jsonl write it;
* :func:`path_text` and :func:`path_bytes`: a file name as text, and its raw
  bytes when that text cannot hold them (:func:`bytes_hex` writes those in
  text formats);
* :func:`csv_cell`: a CSV cell that a spreadsheet shows instead of running.
"""
from __future__ import annotations

import os

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from typing import Any, Iterable, Optional, Union

    StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

__all__ = ["terminal_text", "terminal_bytes", "json_safe", "json_document", "json_lines", "path_text", "path_bytes",
           "bytes_hex", "csv_cell"]


# --- terminals ----------------------------------------------------------------------


def terminal_text(text: str) -> str:
    """``text`` with every character that is not printable written as ``\\xNN``
    (its code point in hex), so that no control or formatting character reaches
    the terminal."""
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in text)


def terminal_bytes(text: str, encoding: Optional[str] = None) -> bytes:
    """Text in a terminal's encoding (UTF-8 when it does not say); a character
    the encoding cannot hold is written as its backslash escape, not an error."""
    return text.encode(encoding or "utf-8", "backslashreplace")


# --- JSON ---------------------------------------------------------------------------


# What JSON may carry raw but a terminal (or a line-oriented reader) must not meet:
# DEL and the C1 controls (U+009B is a CSI), the line and paragraph separators,
# the bidirectional embeddings, overrides and isolates, and stray surrogates
# (which UTF-8 cannot hold).  The encoder escapes the C0 controls itself.
_JSON_UNSAFE = "[\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069\ud800-\udfff]"
_json_unsafe = None
_line_encode = None


def _u_escape(match: Any) -> str:
    return "\\u%04x" % ord(match.group())


def json_safe(text: str) -> str:
    """JSON text with the characters a terminal must not meet written as ``\\uXXXX``.

    Only string contents can hold them, and the escape reads back as the same
    character, so the parsed values do not change.  Working on the C encoder's
    output costs one scan, far less than encoding in Python.
    """
    global _json_unsafe
    if text.isascii() and "\x7f" not in text:  # nearly all text: two C scans instead of the pattern's
        return text
    if _json_unsafe is None:
        import re

        _json_unsafe = re.compile(_JSON_UNSAFE)
    return _json_unsafe.sub(_u_escape, text)


def json_document(document: Any, indent: Optional[int] = 2) -> bytes:
    """``document`` as UTF-8 JSON text ending with a newline."""
    import json

    return json_safe(json.dumps(document, indent=indent, ensure_ascii=False) + "\n").encode("utf-8")


def json_lines(documents: Iterable[Any]) -> bytes:
    """Each document as one line of UTF-8 JSON; no line ends inside a line
    (U+2028, U+2029 and U+0085 are escaped with the rest)."""
    global _line_encode
    if _line_encode is None:
        _line_encode = _line_encoder()
    encode = _line_encode
    return json_safe("".join([encode(document) + "\n" for document in documents])).encode("utf-8")


def _line_encoder() -> Any:
    """json.dumps(document, ensure_ascii=False) as one function.  JSONEncoder.encode
    builds the C encoder anew on every call, which costs more than encoding a
    fleet row; this one is built once (the encoder's own arguments for one line)."""
    import json
    from json import encoder

    make_encoder = getattr(encoder, "c_make_encoder", None)
    if make_encoder is None:  # an interpreter without the C module
        return json.JSONEncoder(ensure_ascii=False).encode
    # No circular check (markers None): the documents are plain data.
    make = make_encoder(None, None, encoder.encode_basestring, None, ": ", ", ", False, False, True)

    def encode(document: Any) -> str:
        return "".join(make(document, 0))
    return encode


# --- file names ---------------------------------------------------------------------


def _surrogate_text(char: str) -> str:
    code = ord(char)
    # The bytes that are not UTF-8, as os.fsdecode keeps them (U+DC80-U+DCFF).
    return f"\\x{code - 0xDC00:02x}" if 0xDC80 <= code <= 0xDCFF else f"\\u{code:04x}"


def path_text(path: StrPath) -> str:
    """The text of a file name for showing and storing: its decoded name, with
    each byte that is not UTF-8 written as ``\\xNN``.  Backslashes are left as
    they are, so the text alone cannot always tell such a byte from those four
    characters; :func:`path_bytes` gives the name exactly."""
    text = os.fsdecode(path)
    if text.isascii():
        return text
    return "".join(_surrogate_text(c) if "\ud800" <= c <= "\udfff" else c for c in text)


def path_bytes(path: StrPath) -> Optional[bytes]:
    """The raw bytes of a file name that is not valid UTF-8; None for one that is."""
    try:
        raw = os.fsencode(path)
    except UnicodeEncodeError:  # a surrogate no byte stands for
        return os.fsdecode(path).encode("utf-8", "surrogatepass")
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw
    return None


def bytes_hex(raw: Optional[bytes]) -> Optional[str]:
    """Raw name bytes (as path_bytes gives them) for a text format: lowercase hex; None stays None."""
    return raw.hex() if raw is not None else None


# --- spreadsheets -------------------------------------------------------------------

#: What makes a spreadsheet take a cell for a formula (the OWASP CSV-injection list).
CSV_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def csv_cell(value: Any) -> Any:
    """A CSV cell that a spreadsheet shows as text: a string that starts with
    ``= + - @``, TAB or CR gets a single quote in front (and the writer must
    quote the cell).  Other values are returned as they are."""
    if isinstance(value, str) and value.startswith(CSV_FORMULA_STARTS):
        return "'" + value
    return value
