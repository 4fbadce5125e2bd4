"""brantel.escaping: the one place where outside text is made safe for where it goes."""
import json
import os

import pytest

from brantel import escaping


@pytest.mark.parametrize("name, text, raw", [
    (b"plain.bin", "plain.bin", None),
    ("caf\u00e9.bin".encode(), "caf\u00e9.bin", None),
    (b"caf\xe9.bin", "caf\\xe9.bin", b"caf\xe9.bin"),          # Latin-1, not UTF-8
    (b"\xff\xfe", "\\xff\\xfe", b"\xff\xfe"),
    (b"a\\xe9", "a\\xe9", None),                               # a backslash stays as it is
    (b"\xed\xa0\x80", "\\xed\\xa0\\x80", b"\xed\xa0\x80"),     # an encoded surrogate is not UTF-8
], ids=["ascii", "utf-8", "latin-1", "bom-bytes", "backslash", "cesu"])
def test_path_text_and_bytes(name, text, raw):
    for given in (name, os.fsdecode(name)):
        assert escaping.path_text(given) == text
        assert escaping.path_bytes(given) == raw
    assert escaping.path_text(text).encode("utf-8")  # always storable as UTF-8


def test_path_text_takes_path_like_objects(tmp_path):
    assert escaping.path_text(tmp_path / "x") == str(tmp_path / "x")
    assert escaping.path_bytes(tmp_path / "x") is None
