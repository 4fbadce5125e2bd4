"""brantel.escaping: the one place where outside text is made safe for where it goes."""
import io
import json
import os
import re

import pytest

import brantel
from brantel import cli, escaping, fleet, sources
import smbios_builder as sb


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


# --- what reaches a terminal or a JSON reader -----------------------------------------


# Characters that change what a terminal does or where a line ends, as they may stand
# in an SMBIOS string: CSI (C1), DEL, a bidirectional override and isolate, the line
# and paragraph separators, NEL.
HOSTILE = "\x9b2J\x7f\u202e\u2067\u2028\u2029\x85"
UNSAFE_RAW = re.compile("[\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069]")


def hostile_blob():
    return sb.blob(
        sb.structure(0, {4: 1, 5: 2, 8: 3}, length=0x12, strings=["Vendor" + HOSTILE, "1.0", "01/01/2020"]),
        sb.structure(1, {4: 1, 5: 2, 6: 0, 7: 3, 8: bytes(range(16))}, length=0x1B, handle=1,
                     strings=["Maker\u202eevil", "Product\u2028two", "SN\x9b1"]),
        sb.end_of_table(), version=(3, 4))


def run_cli(capsysbinary, *argv):
    status = cli.main([os.fsdecode(a) if isinstance(a, bytes) else str(a) for a in argv])
    out, err = capsysbinary.readouterr()
    return status, out, err


@pytest.mark.parametrize("fmt", ["json", "view"])
def test_json_output_escapes_what_a_terminal_must_not_meet(capsysbinary, tmp_path, fmt):
    path = tmp_path / "hostile.bin"
    path.write_bytes(hostile_blob())
    status, out, err = run_cli(capsysbinary, "inventory", path, "--format", fmt)
    assert (status, err) == (0, b"")
    text = out.decode("utf-8")
    assert not UNSAFE_RAW.search(text) and "\\u202e" in text and "\\u009b" in text
    if fmt == "json":
        assert json.loads(text)["system"] == brantel.decode(hostile_blob())["system"]  # the values do not change


def test_jsonl_rows_are_one_line_each_and_escaped(tmp_path):
    (tmp_path / "hostile.bin").write_bytes(hostile_blob())
    out = io.BytesIO()
    wrapper = io.TextIOWrapper(out, write_through=True)
    fleet.write([tmp_path], "jsonl", stdout=wrapper)
    wrapper.detach()
    text = out.getvalue().decode("utf-8")
    assert not UNSAFE_RAW.search(text)
    assert [json.loads(line) for line in text.split("\n") if line] == list(fleet.rows([tmp_path]))


def hostile_name(tmp_path, name):
    """A table file under a hostile name, as bytes (the name may not be UTF-8)."""
    path = os.fsencode(tmp_path) + b"/" + name
    with open(path, "wb") as file:
        file.write(sources.sample_blob())
    return path


NAMES = {
    "latin-1": (b"caf\xe9.bin", "caf\\xe9.bin", "636166e92e62696e"),
    "escape": (b"e\x1b[2Jx.bin", "e\x1b[2Jx.bin", None),
    "carriage-return": (b"a\rb.bin", "a\rb.bin", None),
    "bidi": ("x\u202e.bin".encode(), "x\u202e.bin", None),
}


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("fmt", ["json", "view"])
def test_json_source_names_any_file(capsysbinary, tmp_path, name, fmt):
    raw, text, hex_bytes = NAMES[name]
    path = hostile_name(tmp_path, raw)
    for option in (["--blob"], []):
        status, out, err = run_cli(capsysbinary, "inventory", *option, path, "--format", fmt)
        assert (status, err) == (0, b"")
        assert not re.search(b"[\x1b\r]", out) and not UNSAFE_RAW.search(out.decode("utf-8"))
        source = json.loads(out)["source"]
        assert source == {"kind": "blob", "path": os.fsdecode(tmp_path) + "/" + text, "path_bytes":
                          None if hex_bytes is None else (os.fsencode(tmp_path) + b"/" + raw).hex()}


@pytest.mark.parametrize("name", NAMES)
def test_file_names_reach_the_terminal_escaped(capsysbinary, tmp_path, name):
    raw = NAMES[name][0]
    path = hostile_name(tmp_path, raw)
    status, out, err = run_cli(capsysbinary, "inventory", "--blob", path)
    assert status == 0 and out.startswith(b"Source: blob file ")
    source_line = out.split(b"\n")[0]
    status, _, missing = run_cli(capsysbinary, "inventory", "--dump", path + b".missing")
    assert status == 2 and missing.count(b"\n") == 1
    status, wrote, _ = run_cli(capsysbinary, "dump", path + b".dump", "--blob", path)
    assert status == 0
    for shown in (source_line, missing, wrote):
        assert not re.search(b"[\x00-\x1f\x7f]", shown.rstrip(b"\n"))
        assert "\u202e" not in shown.decode("utf-8")
