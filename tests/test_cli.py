"""The command line: report, formats, sources, fallback, exit codes and error lines."""
import importlib.util
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import brantel
from brantel import cli, sources, view
from brantel._sysprobe_internal import parse_windows_hardware_info
from conftest import MAKE_DUMP, real_tables

EXPECTED = pathlib.Path(__file__).resolve().parent / "expected"
CORPUS_BLOBS = real_tables()


@pytest.fixture(scope="module")
def make_dump():
    if not MAKE_DUMP.exists():
        pytest.skip("make_dump.py of the SMBIOS corpus not present")
    module_spec = importlib.util.spec_from_file_location("make_dump", MAKE_DUMP)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module.make_dump


@pytest.fixture
def run(capsysbinary):
    """Runs the command line in-process: (exit status, stdout bytes, stderr text)."""
    def run(*argv):
        status = cli.main([str(a) for a in argv])
        out, err = capsysbinary.readouterr()
        return status, out, err.decode()
    return run


def test_sample_report_matches_expected(run):
    status, out, err = run("inventory", "--sample")
    assert (status, err) == (0, "")
    assert out.decode() == (EXPECTED / "sample_inventory.txt").read_text()


@pytest.mark.parametrize("path", CORPUS_BLOBS, ids=lambda p: p.stem)
def test_corpus_blob_and_dump_agree(run, make_dump, tmp_path, path):
    dump = tmp_path / "table.dump"
    dump.write_bytes(make_dump(path.read_bytes()))
    outputs = {}
    for source in (["--blob", path], ["--dump", dump]):
        for fmt in ("raw", "json"):
            status, out, err = run("inventory", *source, "--format", fmt, "--guid", "g-1")
            assert (status, err) == (0, "")
            outputs.setdefault(fmt, set()).add(out)
    assert len(outputs["raw"]) == len(outputs["json"]) == 1
    raw, document = outputs["raw"].pop(), json.loads(outputs["json"].pop())
    assert raw == parse_windows_hardware_info(path.read_bytes(), b"g-1")
    assert view.render_view(document["inventory"]) == raw


def test_sysfs_root_reads_like_the_blob(run, make_dump, tmp_path):
    blob = sources.sample_blob()
    dump = make_dump(blob)
    tables = tmp_path / "firmware" / "dmi" / "tables"
    tables.mkdir(parents=True)
    (tables / "smbios_entry_point").write_bytes(dump[:0x18])
    (tables / "DMI").write_bytes(dump[0x20:])
    assert run("inventory", "--sysfs-root", tmp_path, "--format", "raw") == run("inventory", "--sample", "--format", "raw")


def test_machine_table_unreadable_falls_back_to_the_sample(run, monkeypatch):
    def unreadable(*args, **kwargs):
        raise sources.SourceError("permission denied reading /sys/firmware/dmi/tables/DMI: run as root")
    monkeypatch.setattr(sources, "read_machine", unreadable)
    status, out, err = run("inventory")
    assert status == 0
    assert out == run("inventory", "--sample")[1]
    assert err == ("brantel: note: permission denied reading /sys/firmware/dmi/tables/DMI: run as root; "
                   "showing the sample table that ships with brantel instead\n")


def test_machine_table_is_used_when_readable(run, monkeypatch):
    monkeypatch.setattr(sources, "read_machine", lambda *a, **k: bytes((2, 8)))
    status, out, err = run("inventory", "--format", "raw", "--guid", "abc")
    assert (status, err) == (0, "")
    assert out.startswith(b"{'smbios_type_id':'1','system_manufacturer':'None'") and out.endswith(b"'abc',}")


def test_guid_and_odd_values_in_the_text_report(run, tmp_path):
    # A BIOS vendor with an item separator, a manufacturer with a control
    # character, and a processor too short to report its status.
    table = (
        b"\x00\x05\x00\x00\x01A\x02B\x00\x00"
        + b"\x01\x08\x01\x00\x01\x00\x00\x00Bell\x07Co\x00\x00"
        + b"\x04\x14\x04\x00" + bytes(16) + b"\x00\x00"
    )
    blob = tmp_path / "odd.bin"
    blob.write_bytes(b"\x03\x00" + table)
    status, out, err = run("inventory", "--blob", blob, "--guid", "0f8fad5b")
    text = out.decode()
    assert (status, err) == (0, "")
    assert "(an entry that cannot be read as a record: its values hold separator characters)" in text
    assert re.search(r"\n  Manufacturer +Bell\\x07Co\n", text)
    assert re.search(r"\n  GUID +0f8fad5b\n", text)
    assert re.search(r"\n    Status +status not reported\n", text)
    assert re.search(r"\n  Populated processors +unavailable \(ValueError: invalid literal for int\(\) with base 10: 'None'\)\n",
                     text)


def _file(directory, name, content):
    path = directory / name
    path.write_bytes(content)
    return path


def _bad_checksum(directory, make_dump):
    dump = bytearray(make_dump(sources.sample_blob()))
    dump[7] ^= 1  # the minor version, under the 3.0 checksum
    return ["--dump", _file(directory, "bad.dump", bytes(dump))]


@pytest.mark.parametrize("make_args, message", [
    (lambda t, md: ["--blob", t / "missing.bin"], "the blob file .*missing.bin does not exist"),
    (lambda t, md: ["--blob", _file(t, "short.bin", b"\x03")], "too short to be a blob"),
    (lambda t, md: ["--dump", _file(t, "blob.bin", sources.sample_blob())],
     "does not start with an SMBIOS entry point"),
    (_bad_checksum, "the SMBIOS 3.0 entry point checksum is wrong"),
    (lambda t, md: ["--sysfs-root", t / "nowhere"], "no SMBIOS table is exported at"),
    # A string set without its end: the walk refuses the table.
    (lambda t, md: ["--blob", _file(t, "cut.bin", b"\x03\x03\x00\x05\x00\x00\x01")],
     r"cannot be built from .*cut.bin: Couldn't find end of text strings! \(ValueError\)"),
    (lambda t, md: ["--sample", "--guid", "\udcff"], "--guid must be text that can be written as UTF-8"),
])
def test_bad_input_is_one_line_and_exit_2(run, tmp_path, make_dump, make_args, message):
    status, out, err = run("inventory", *make_args(tmp_path, make_dump))
    assert (status, out) == (2, b"")
    assert err.count("\n") == 1 and err.startswith("brantel: error: ")
    assert re.search(message, err), err


@pytest.mark.parametrize("argv", [
    [],
    ["inventory", "--format", "yaml"],
    ["inventory", "--blob", "a", "--dump", "b"],
    ["frobnicate"],
])
def test_usage_errors_exit_2(run, argv):
    status, out, err = run(*argv)
    assert (status, out) == (2, b"")
    assert "usage:" in err and "Traceback" not in err


def test_unexpected_failure_is_one_line_and_exit_1(run, monkeypatch):
    def broken(data):
        raise RuntimeError("disk on fire")
    monkeypatch.setattr(view, "describe", broken)
    status, out, err = run("inventory", "--sample", "--format", "json")
    assert (status, out, err) == (1, b"", "brantel: unexpected error: RuntimeError: disk on fire\n")


@pytest.mark.parametrize("kib, text", [
    (0, "0 KiB"), (1023, "1023 KiB"), (1024, "1 MiB"), (1536, "1.5 MiB"),
    (32 * 1024 ** 2, "32 GiB"), (2 ** 125 * 1024, f"{2 ** 65} YiB"),
])
def test_human_size(kib, text):
    assert cli.human_size(kib) == text


def run_module(*args):
    env = dict(os.environ)
    package_root = str(pathlib.Path(brantel.__file__).resolve().parents[1])
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-m", "brantel", *args], capture_output=True, env=env)


def test_python_dash_m_brantel():
    raw = run_module("inventory", "--sample", "--format", "raw")
    assert raw.returncode == 0 and raw.stdout == parse_windows_hardware_info(sources.sample_blob(), b"")
    bare = run_module()
    assert bare.returncode == 2 and b"usage: python -m brantel" in bare.stderr and b"examples:" in bare.stderr
    helped = run_module("inventory", "--help")
    assert helped.returncode == 0 and b"sudo dmidecode --dump-bin" in helped.stdout
