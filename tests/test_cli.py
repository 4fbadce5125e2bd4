"""The command line: report, formats, sources, the no-table rule, dumps, exit codes and error lines."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import brantel
from brantel import cli, sources, view
from brantel._sysprobe_internal import parse_windows_hardware_info
from conftest import real_tables

EXPECTED = pathlib.Path(__file__).resolve().parent / "expected"
CORPUS_BLOBS = real_tables()
SAMPLE_SOURCE = "Source: the sample table that ships with brantel (not this machine)\n"


@pytest.fixture
def run(capsysbinary):
    """Runs the command line in-process: (exit status, stdout bytes, stderr text)."""
    def run(*argv):
        status = cli.main([str(a) for a in argv])
        out, err = capsysbinary.readouterr()
        return status, out, err.decode()
    return run


@pytest.fixture
def no_machine_table(monkeypatch):
    def unreadable(*args, **kwargs):
        raise sources.SourceError("permission denied reading /sys/firmware/dmi/tables/DMI")
    monkeypatch.setattr(sources, "read_machine", unreadable)
    monkeypatch.setattr(sources, "read_windows", unreadable)


def dump_of(tmp_path, blob, name="table.dump"):
    path = tmp_path / name
    path.write_bytes(sources.dump_file_bytes(blob))
    return path


def test_sample_report_matches_expected(run):
    status, out, err = run("inventory", "--sample")
    assert (status, err) == (0, "")
    assert out.decode() == (EXPECTED / "sample_inventory.txt").read_text()
    assert out.decode().startswith(SAMPLE_SOURCE)


@pytest.mark.parametrize("path", CORPUS_BLOBS, ids=lambda p: p.stem)
def test_corpus_blob_and_our_dump_agree(run, tmp_path, path):
    blob = path.read_bytes()
    status, out, err = run("dump", tmp_path / "table.dump", "--blob", path)
    assert (status, err) == (0, "") and out.decode().startswith(f"Wrote {tmp_path / 'table.dump'}: ")
    outputs = {}
    for source in (["--blob", path], ["--dump", tmp_path / "table.dump"]):
        for fmt in ("raw", "json", "view"):
            status, out, err = run("inventory", *source, "--format", fmt, "--guid", "g-1")
            assert (status, err) == (0, "")
            outputs.setdefault(fmt, []).append(out)
    raw = outputs["raw"][0]
    assert outputs["raw"][1] == raw == parse_windows_hardware_info(blob, b"g-1")
    from_blob, from_dump = (json.loads(out) for out in outputs["json"])
    assert from_blob["source"] == {"kind": "blob", "path": str(path), "path_bytes": None}
    assert from_dump["source"] == {"kind": "dump", "path": str(tmp_path / "table.dump"), "path_bytes": None}
    assert {**from_blob, "source": None} == {**from_dump, "source": None} == {**brantel.decode(blob), "source": None}
    for out in outputs["view"]:
        assert view.render_view(json.loads(out)["inventory"]) == raw


def peer_text(text):
    """The peer decoder's output without the line that names its input file."""
    return re.sub(r"Reading SMBIOS/DMI data from file .*\n", "", text)


@pytest.mark.skipif(shutil.which("dmidecode") is None, reason="dmidecode is not installed")
@pytest.mark.parametrize("path", CORPUS_BLOBS, ids=lambda p: p.stem)
def test_dmidecode_reads_our_dumps_as_it_read_the_corpus(tmp_path, path):
    dump = dump_of(tmp_path, path.read_bytes())
    result = subprocess.run(["dmidecode", "--from-dump", str(dump)], capture_output=True, text=True,
                            errors="replace")
    assert result.returncode == 0, result.stderr
    assert peer_text(result.stdout) == peer_text(path.with_suffix(".dmidecode.txt").read_text(errors="replace"))


def test_sysfs_root_reads_like_the_blob(run, tmp_path):
    dump = sources.dump_file_bytes(sources.sample_blob())
    tables = tmp_path / "firmware" / "dmi" / "tables"
    tables.mkdir(parents=True)
    (tables / "smbios_entry_point").write_bytes(dump[:0x18])
    (tables / "DMI").write_bytes(dump[0x20:])
    assert run("inventory", "--sysfs-root", tmp_path, "--format", "raw") == run("inventory", "--sample", "--format", "raw")
    status, out, err = run("inventory", "--sysfs-root", tmp_path, "--format", "json")
    assert json.loads(out)["source"] == {"kind": "sysfs", "path": str(tables), "path_bytes": None}


@pytest.mark.parametrize("argv", [
    ["inventory"], ["inventory", "--format", "json"], ["inventory", "--format", "raw"],
    ["inventory", "--format", "view"], ["dump", "out.dump"],
])
def test_no_table_and_no_terminal_exits_3_with_nothing_on_stdout(run, no_machine_table, tmp_path, monkeypatch, argv):
    monkeypatch.chdir(tmp_path)
    status, out, err = run(*argv)
    assert (status, out) == (3, b"")
    assert err.count("\n") == 1 and err.startswith("brantel: error: no SMBIOS table could be read on this machine: "
                                                  "permission denied reading /sys/firmware/dmi/tables/DMI; ")
    assert "--sample" in err and not (tmp_path / "out.dump").exists()


def test_no_table_at_a_terminal_shows_the_sample_and_says_so(run, no_machine_table, monkeypatch):
    monkeypatch.setattr(cli, "_is_terminal", lambda stream: True)
    status, out, err = run("inventory")
    assert (status, err) == (0, "")
    first, rest = out.decode().split("\n", 1)
    assert first == ("This is the sample machine that ships with brantel, not this machine: "
                     "permission denied reading /sys/firmware/dmi/tables/DMI.")
    assert rest == run("inventory", "--sample")[1].decode()
    # JSON is for programs: never the sample in place of this machine.
    assert run("inventory", "--format", "json")[0] == 3


def test_machine_table_is_used_when_readable(run, monkeypatch):
    monkeypatch.setattr(sources, "read_machine", lambda *a, **k: bytes((2, 8)))
    status, out, err = run("inventory", "--format", "raw", "--guid", "abc")
    assert (status, err) == (0, "")
    assert out.startswith(b"{'smbios_type_id':'1','system_manufacturer':'None'") and out.endswith(b"'abc',}")
    if sys.platform.startswith("linux"):
        status, out, err = run("inventory")
        assert out.decode().startswith("Source: this machine's table (/sys/firmware/dmi/tables)\n")


def test_odd_values_and_warnings_in_the_text_report(run, tmp_path):
    # A BIOS vendor with an item separator, a manufacturer with a control
    # character, a processor too short to report its status, then a broken header.
    table = (
        b"\x00\x05\x00\x00\x01A\x02B\x00\x00"
        + b"\x01\x08\x01\x00\x01\x00\x00\x00Bell\x07Co\x00\x00"
        + b"\x04\x14\x04\x00" + bytes(16) + b"\x00\x00"
        + b"\x07\x00\x00\x00\x00\x00"
    )
    blob = tmp_path / "odd.bin"
    blob.write_bytes(b"\x03\x00" + table)
    status, out, err = run("inventory", "--blob", blob)
    text = out.decode()
    assert (status, err) == (0, "")
    assert text.startswith(f"Source: blob file {blob}\n")
    assert re.search(r"\n  Vendor +A\\x02B\n", text)
    assert re.search(r"\n  Manufacturer +Bell\\x07Co\n", text)
    assert re.search(r"\n    Status +not reported\n", text)
    assert re.search(r"\nWarnings \(1\)\n  structure at offset 49 \(type 7\) has a header length of 0", text)
    assert re.search(r"\n  Populated processors +0\n", text)
    # No memory device structures: the total is unknown, not 0 bytes.
    assert "Memory modules" not in text and re.search(r"\n  Memory \(devices\) +unknown: the table lists no ", text)


def _file(directory, name, content):
    path = directory / name
    path.write_bytes(content)
    return path


def _bad_checksum(directory):
    dump = bytearray(sources.dump_file_bytes(sources.sample_blob()))
    dump[7] ^= 1  # the minor version, under the 3.0 checksum
    return ["--dump", _file(directory, "bad.dump", bytes(dump))]


def _denied_dump(directory, monkeypatch):
    path = _file(directory, "locked.dump", b"")

    def fake_open(name, *args, **kwargs):
        raise PermissionError(13, "Permission denied", str(name))
    monkeypatch.setattr(sources.files, "open", fake_open, raising=False)
    return ["--dump", path]


@pytest.mark.parametrize("make_args, message", [
    (lambda t, mp: ["--blob", t / "missing.bin"], r"the blob file .*missing.bin does not exist$"),
    (lambda t, mp: ["--blob", _file(t, "short.bin", b"\x03")], "too short to be a blob"),
    (lambda t, mp: ["--dump", _file(t, "blob.bin", sources.sample_blob())],
     "does not start with an SMBIOS entry point"),
    (lambda t, mp: _bad_checksum(t), "the SMBIOS 3.0 entry point checksum is wrong"),
    (lambda t, mp: ["--sysfs-root", t / "nowhere"], "no SMBIOS table is exported at"),
    (lambda t, mp: ["--dump", "/dev/zero"], "/dev/zero does not start with an SMBIOS entry point"),
    (lambda t, mp: ["--blob", "/dev/zero"], "/dev/zero is larger than 64 MiB"),
    # The hint about privileges and --dump is for this machine's table, not for a named file.
    (_denied_dump, r"permission denied reading .*locked.dump$"),
    # A string set without its end: the rendered inventory refuses the table.
    (lambda t, mp: ["--blob", _file(t, "cut.bin", b"\x03\x03\x00\x05\x00\x00\x01"), "--format", "raw"],
     r"cut.bin: the inventory cannot be built: Couldn't find end of text strings!$"),
    (lambda t, mp: ["--blob", _file(t, "bad.bin", b"\x03\x03\x00\x05\x00\x00\x01\xff\x00\x00"), "--format", "view"],
     r"bad.bin: the inventory cannot be built: an SMBIOS string is not valid UTF-8 \(invalid start byte at byte 0"),
    (lambda t, mp: ["--blob", _file(t, "index.bin", b"\x03\x03\x00\x05\x00\x00\x07\x00\x00"), "--format", "raw"],
     r"index.bin: the inventory cannot be built: a string number points past"),
    (lambda t, mp: ["--sample", "--guid", "\udcff"], "--guid must be text that can be written as UTF-8"),
])
def test_bad_input_is_one_line_and_exit_2(run, tmp_path, monkeypatch, make_args, message):
    status, out, err = run("inventory", *make_args(tmp_path, monkeypatch))
    assert (status, out) == (2, b"")
    assert err.count("\n") == 1 and err.startswith("brantel: error: ")
    assert re.search(message, err.rstrip("\n")), err


@pytest.mark.parametrize("argv", [
    [],
    ["inventory", "--format", "yaml"],
    ["inventory", "--blob", "a", "--dump", "b"],
    ["inventory", "--dump", ""],
    ["inventory", "--blob="],
    ["inventory", "--sysfs-root", ""],
    ["dump", ""],
    ["dump"],
    ["frobnicate"],
])
def test_usage_errors_exit_2(run, argv):
    status, out, err = run(*argv)
    assert (status, out) == (2, b"")
    assert "usage:" in err and "Traceback" not in err
    if "" in argv or "--blob=" in argv:
        assert "must not be empty" in err


def test_dump_refuses_what_the_2_1_entry_point_cannot_hold(run, tmp_path):
    big = _file(tmp_path, "big.bin", bytes((2, 8)) + b"\x7f\x04\x00\x00" + bytes(70000))
    status, out, err = run("dump", tmp_path / "out.dump", "--blob", big)
    assert (status, out) == (2, b"") and "too long for the 2.1 entry point" in err


def test_dump_of_an_unwritable_file(run, tmp_path):
    status, out, err = run("dump", tmp_path / "no" / "such" / "dir.dump", "--sample")
    assert (status, out) == (2, b"") and re.fullmatch(r"brantel: error: cannot write .*dir.dump: .*\n", err)


@pytest.mark.parametrize("version", [(2, 3), (2, 8), (3, 0), (3, 5)])
def test_dump_entry_points_are_sound(version):
    blob = bytes(version) + sources.sample_blob()[2:]
    dump = sources.dump_file_bytes(blob)
    entry = sources.parse_entry_point(dump)
    assert (entry.major, entry.minor, entry.table_address) == (*version, 0x20)
    assert entry.kind == ("3.0" if version[0] >= 3 else "2.1")
    assert dump[0x20:] == blob[2:] and sources.table_from_dump(dump) == blob


def test_unexpected_failure_is_one_line_and_exit_1(run, monkeypatch):
    def broken(data):
        raise RuntimeError("disk on fire")
    monkeypatch.setattr(view, "describe", broken)
    status, out, err = run("inventory", "--sample", "--format", "view")
    assert (status, out, err) == (1, b"", "brantel: unexpected error: RuntimeError: disk on fire\n")


@pytest.mark.parametrize("size, text", [
    (0, "0 bytes"), (1023, "1023 bytes"), (1024, "1 KiB"), (1536, "1.5 KiB"),
    (32 * 1024 ** 3, "32 GiB"), (2 ** 135, f"{2 ** 55} YiB"),
])
def test_human_bytes(size, text):
    assert cli.human_bytes(size) == text


def run_module(*args, **kwargs):
    env = dict(os.environ)
    package_root = str(pathlib.Path(brantel.__file__).resolve().parents[1])
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, *args], capture_output=True, env=env, **kwargs)


def test_python_dash_m_brantel():
    raw = run_module("-m", "brantel", "inventory", "--sample", "--format", "raw")
    assert raw.returncode == 0 and raw.stdout == parse_windows_hardware_info(sources.sample_blob(), b"")
    bare = run_module("-m", "brantel")
    assert bare.returncode == 2 and b"usage: python -m brantel" in bare.stderr and b"examples:" in bare.stderr
    helped = run_module("-m", "brantel", "inventory", "--help")
    assert helped.returncode == 0 and b"brantel dump table.dump" in helped.stdout
    version = run_module("-m", "brantel", "--version")
    assert version.returncode == 0 and version.stdout.startswith(b"brantel ")


def test_closed_stdout_exits_quietly():
    script = "import os, sys; os.close(1); sys.stdout = None; from brantel import cli; sys.exit(cli.main(%r))"
    for argv in (["inventory", "--sample"], ["inventory", "--sample", "--format", "json"]):
        result = run_module("-c", script % (argv,))
        assert (result.returncode, result.stderr) == (0, b"")


def test_json_and_text_runs_load_neither_the_module_frame_nor_metadata(tmp_path):
    blob = _file(tmp_path, "sample.bin", sources.sample_blob())
    script = ("import sys; from brantel import cli; status = cli.main(%r); "
              "loaded = [m for m in ('brantel.brantel_sysprobe', 'brantel._sysprobe_internal', 'importlib.metadata', "
              "'logging', 'brantel.view') if m in sys.modules]; print(loaded, status, file=sys.stderr)")
    for fmt in ("json", "text"):
        result = run_module("-c", script % (["inventory", "--blob", str(blob), "--format", fmt],))
        assert result.stderr.strip() == b"[] 0", result.stderr


# --- a file named without saying what it is -------------------------------------------


def _rsmb(blob):
    import struct
    return struct.pack("<BBBBI", 0, blob[0], blob[1], 0, len(blob) - 2) + blob[2:]


def _sysfs(root, blob, tables_only=False):
    folder = root if tables_only else root / "firmware" / "dmi" / "tables"
    folder.mkdir(parents=True)
    folder.joinpath("smbios_entry_point").write_bytes(sources.dump_file_bytes(blob)[:0x18])
    folder.joinpath("DMI").write_bytes(blob[2:])
    return root


@pytest.mark.parametrize("make, kind", [
    (lambda t, blob: _file(t, "a.dump", sources.dump_file_bytes(blob)), "dump"),
    (lambda t, blob: _file(t, "a.rsmb", _rsmb(blob)), "rsmb"),
    (lambda t, blob: _file(t, "a.bin", blob), "blob"),
    (lambda t, blob: _sysfs(t / "root", blob), "sysfs"),
    (lambda t, blob: _sysfs(t / "tables", blob, tables_only=True), "sysfs"),
], ids=["dump", "rsmb", "blob", "sysfs-root", "tables-folder"])
def test_a_named_file_is_recognised_by_its_content(run, tmp_path, make, kind):
    blob = sources.sample_blob()
    path = make(tmp_path, blob)
    status, out, err = run("inventory", path, "--format", "json")
    assert (status, err) == (0, "")
    decoded = json.loads(out)
    assert decoded["source"]["kind"] == kind
    assert {**decoded, "source": None} == {**brantel.decode(blob), "source": None}
    status, out, err = run("inventory", path)
    assert status == 0 and out.decode().splitlines()[1] == f"Hardware inventory (SMBIOS {blob[0]}.{blob[1]})", err
    assert brantel.read(path)["system"] == decoded["system"]


@pytest.mark.parametrize("content, message", [
    (b"", "is empty"),
    (b"#!/bin/sh\necho hello\n", "is not an SMBIOS table: neither a dump .* nor a copy of its tables folder$"),
    ("folder", "is a folder holding no SMBIOS table"),
], ids=["empty", "script", "folder"])
def test_a_named_file_that_is_no_table_is_exit_2_in_one_sentence(run, tmp_path, content, message):
    path = tmp_path / "input"
    if content == "folder":
        path.mkdir()
    else:
        path.write_bytes(content)
    status, out, err = run("inventory", path)
    assert (status, out) == (2, b"") and err.count("\n") == 1
    assert re.search(message, err.rstrip("\n")), err


def test_a_named_file_and_a_source_option_exclude_each_other(run, tmp_path):
    status, out, err = run("inventory", tmp_path / "a", "--dump", tmp_path / "b")
    assert status == 2 and "not allowed with" in err


# --- brantel dump never leaves a broken file ------------------------------------------------


def test_a_failed_dump_leaves_the_old_file_untouched(tmp_path):
    """A write that fails half way (a full disk, staged as a file size limit) keeps the old dump whole."""
    resource = pytest.importorskip("resource")
    target = tmp_path / "table.dump"
    target.write_bytes(b"the old dump\n")
    blob = tmp_path / "big.bin"
    blob.write_bytes(sources.sample_blob())

    def limit():
        import signal
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit then fails with EFBIG
        resource.setrlimit(resource.RLIMIT_FSIZE, (512, 512))

    result = subprocess.run([sys.executable, "-m", "brantel", "dump", str(target), "--blob", str(blob)],
                            capture_output=True, text=True, preexec_fn=limit, timeout=60)
    assert result.returncode == 2 and "cannot write" in result.stderr, result.stderr
    assert target.read_bytes() == b"the old dump\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["big.bin", "table.dump"]
    # Without the limit the dump replaces the old file, with the mode it had.
    target.chmod(0o640)
    assert subprocess.run([sys.executable, "-m", "brantel", "dump", str(target), "--blob", str(blob)]).returncode == 0
    assert sources.read_dump(target) == sources.sample_blob() and target.stat().st_mode & 0o777 == 0o640


def test_a_short_table_without_its_end_is_read_with_a_warning(run, tmp_path):
    blob = sources.sample_blob()
    assert blob[-6:] == b"\x7f\x04\xff\xfe\x00\x00"  # the end-of-table structure
    path = tmp_path / "short.dump"
    path.write_bytes(sources.dump_file_bytes(blob)[:-6])
    status, out, err = run("inventory", path, "--format", "json")
    assert (status, err) == (0, "")
    (warning,) = json.loads(out)["warnings"]
    assert warning.startswith(str(path)) and "no end-of-table structure; it may be cut short" in warning
    status, out, err = run("inventory", path, "--format", "raw")
    assert status == 0 and err.startswith("brantel: warning: ") and "cut short" in err
    from brantel import fleet
    machine = next(fleet.rows([path]))
    assert "the dump: the table is" in machine["warnings"] and "cut short" in machine["warnings"]


# --- what the totals say -------------------------------------------------------------------


def _memory_totals(run, tmp_path, *structures):
    import smbios_builder as sb
    path = _file(tmp_path, "t.bin", sb.blob(*structures, sb.end_of_table()))
    status, out, err = run("inventory", "--blob", path)
    assert status == 0, err
    return [line for line in out.decode().splitlines() if line.startswith("  Memory (")]


@pytest.mark.parametrize("sizes_mib, expected", [
    ((), ["  Memory (devices)      unknown: the table lists no memory devices"]),
    ((0, 0), ["  Memory (devices)      0 bytes in 0 installed devices"]),
    ((8192, 0, 4096), ["  Memory (devices)      12 GiB in 2 installed devices"]),
    ((8192, None), ["  Memory (devices)      8 GiB in 1 installed device, 1 more of unknown size"]),
], ids=["no-devices", "all-empty", "some-empty", "size-unknown"])
def test_memory_totals_say_what_they_add_up(run, tmp_path, sizes_mib, expected):
    import smbios_builder as sb
    devices = []
    for n, size in enumerate(sizes_mib):
        device = bytearray(sb._memory_device(0x20 + n, f"DIMM {n}", f"BANK {n}", size or 0))
        if size is None:
            device[0x0C:0x0E] = b"\xff\xff"  # the size is unknown
        devices.append(bytes(device))
    assert _memory_totals(run, tmp_path, *devices) == expected
