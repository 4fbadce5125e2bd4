"""brantel table / brantel.fleet: many tables into machine, memory-device and error rows."""
import csv
import hashlib
import io
import json
import os
import pathlib
import re
import sqlite3
import struct
import subprocess
import sys
import textwrap

import pytest

import brantel
from brantel import fleet, fleet_cli, sources
import smbios_builder as sb
from conftest import CORPUS

SAMPLE = sources.sample_blob()


# --- inputs in every form the fleet meets ---------------------------------------------


def dump(blob):
    """A dmidecode --dump-bin style file: entry point at 0, table at 0x20."""
    return sources.dump_file_bytes(blob)


def rsmb(blob):
    """A Windows RSMB export: RawSMBIOSData header, then the table."""
    return struct.pack("<BBBBI", 0, blob[0], blob[1], 0, len(blob) - 2) + blob[2:]


def write_sysfs(root, blob, tables_only=False):
    folder = root if tables_only else root / "firmware" / "dmi" / "tables"
    folder.mkdir(parents=True)
    # The kernel's entry point file holds the entry point alone; where it says the table is does not matter.
    (folder / "smbios_entry_point").write_bytes(dump(blob)[:0x1F if blob[0] < 3 else 0x18])
    (folder / "DMI").write_bytes(blob[2:])
    return root


def server_blob(serial="SRV-0001", version=(2, 8), sizes_mib=(8192, 0, 8192)):
    """A small server table with the serial and memory of our choosing (a size 0 is an empty slot)."""
    parts = [
        sb.structure(0, {4: 1, 5: 2, 8: 3}, length=0x12, strings=["Tallis Firmware", "2.1", "05/06/2021"]),
        sb.structure(1, {4: 1, 5: 2, 6: 0, 7: 3, 8: bytes(range(16))}, length=0x1B, handle=1,
                     strings=["Tallis Systems", "TS-9000", serial]),
        sb._processor(0x10, "CPU0"),
    ]
    parts += [sb._memory_device(0x20 + n, f"DIMM {n}", f"BANK {n}", size) for n, size in enumerate(sizes_mib)]
    return sb.blob(*parts, sb.end_of_table(), version=version)


def by_kind(found):
    kinds = {}
    for row in found:
        kinds.setdefault(row["row"], []).append(row)
    return kinds


def run_cli(*argv):
    stdout, stderr = io.BytesIO(), io.StringIO()
    args = fleet_cli.build_parser().parse_args([str(arg) for arg in argv])
    wrapper = io.TextIOWrapper(stdout, write_through=True)
    status = fleet_cli.run(args, wrapper, stderr)
    wrapper.detach()
    return status, stdout.getvalue().decode("utf-8"), stderr.getvalue()


# --- recognition by content ------------------------------------------------------------


@pytest.mark.parametrize("kind, make", [
    ("dump", lambda tmp, blob: tmp.joinpath("a").write_bytes(dump(blob))),
    ("rsmb", lambda tmp, blob: tmp.joinpath("a").write_bytes(rsmb(blob))),
    ("blob", lambda tmp, blob: tmp.joinpath("a").write_bytes(blob)),
    ("sysfs", lambda tmp, blob: write_sysfs(tmp / "a", blob)),
    ("sysfs", lambda tmp, blob: write_sysfs(tmp / "a", blob, tables_only=True)),
], ids=["dump", "rsmb", "blob", "sysfs-root", "sysfs-tables-copy"])
@pytest.mark.parametrize("blob", [SAMPLE, server_blob()], ids=["sample-3.x", "server-2.x"])
def test_every_form_gives_the_decoded_machine(tmp_path, kind, make, blob):
    make(tmp_path, blob)
    found = list(fleet.rows([tmp_path]))
    decoded = brantel.decode(blob)
    machine = found[0]
    assert machine["row"] == "machine" and machine["source_kind"] == kind
    assert machine["path"] == str(tmp_path / "a")
    assert machine["system_uuid"] == decoded["system"]["uuid"]
    assert machine["system_serial_number"] == decoded["system"]["serial_number"]
    assert machine["memory_bytes"] == decoded["totals"]["memory_bytes"]
    assert machine["smbios_version"] == f"{blob[0]}.{blob[1]}"
    assert [row["locator"] for row in found[1:]] == [d["locator"] for d in decoded["memory_devices"]]
    assert all(row["row"] == "memory_device" and row["sha256"] == machine["sha256"] for row in found[1:])
    if kind != "sysfs":
        assert machine["sha256"] == hashlib.sha256((tmp_path / "a").read_bytes()).hexdigest()


def test_machine_row_sums_and_names(tmp_path):
    (tmp_path / "sample.bin").write_bytes(SAMPLE)
    machine, *devices = fleet.rows([tmp_path / "sample.bin"])
    decoded = brantel.decode(SAMPLE)
    assert tuple(machine) == ("row",) + fleet.MACHINE_COLUMNS
    assert tuple(devices[0]) == ("row",) + fleet.MEMORY_DEVICE_COLUMNS
    populated = [cpu for cpu in decoded["processors"] if cpu["populated"]]
    assert machine["core_count"] == sum(cpu["core_count"] for cpu in populated)
    assert machine["memory_device_count"] == len(decoded["memory_devices"]) == len(devices)
    # Empty slots name a type too; only modules that are there count.
    assert machine["memory_types"] == "DDR5"
    assert sum(row["size_bytes"] for row in devices) == machine["memory_bytes"]


GARBAGE = {
    "empty": (b"", "the file is empty"),
    "text": (b"# dmidecode 3.4\nGetting SMBIOS data from sysfs.\n", "not an SMBIOS table"),
    "random": (bytes(range(7, 256)) * 3, "not an SMBIOS table"),
    "truncated-dump": (dump(server_blob())[:0x40], "truncated"),
    "bad-checksum": (dump(SAMPLE)[:5] + bytes([dump(SAMPLE)[5] ^ 1]) + dump(SAMPLE)[6:], "checksum"),
    "short-rsmb": (rsmb(SAMPLE)[:-100], "truncated"),
}


@pytest.mark.parametrize("name", GARBAGE)
def test_unreadable_inputs_give_error_rows_and_the_run_goes_on(tmp_path, name):
    data, reason = GARBAGE[name]
    (tmp_path / "a-garbage").write_bytes(data)
    (tmp_path / "b-good.dump").write_bytes(dump(SAMPLE))
    error, machine, *_ = fleet.rows([tmp_path])
    assert error == {"row": "error", "path": str(tmp_path / "a-garbage"), "path_bytes": None,
                     "sha256": hashlib.sha256(data).hexdigest(), "reason": error["reason"]}
    assert reason in error["reason"] and "\n" not in error["reason"]
    assert machine["row"] == "machine"


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="needs /dev/zero")
def test_missing_paths_folders_and_endless_files(tmp_path):
    found = list(fleet.rows([tmp_path / "nowhere", "/dev/zero"]))
    assert [(row["row"], row["path"]) for row in found] == [("error", "/dev/zero"), ("error", str(tmp_path / "nowhere"))]
    assert "larger than 64 MiB" in found[0]["reason"]
    assert found[1]["reason"] == "the file does not exist" and found[1]["sha256"] is None


def test_a_decoder_fault_is_an_error_row_not_the_end_of_the_run(tmp_path, monkeypatch):
    def failing(blob):
        raise RuntimeError("boom")
    monkeypatch.setattr(fleet.machine_rows, "_decode", failing)
    (tmp_path / "x").write_bytes(server_blob())
    (error,) = fleet.rows([tmp_path])
    assert error["reason"] == "unexpected error: RuntimeError: boom"


# --- folders and order -----------------------------------------------------------------


@pytest.fixture
def fleet_folder(tmp_path):
    """A folder as collected: dumps in subfolders, a sysfs copy, a hidden file, garbage."""
    root = tmp_path / "fleet"
    (root / "rack2").mkdir(parents=True)
    (root / "rack1").mkdir()
    for n in range(6):
        (root / f"rack{n % 2 + 1}" / f"host{n:02}.dump").write_bytes(dump(server_blob(f"SRV-{n:04}")))
    (root / "rack1" / "notes.txt").write_text("not a table\n")
    (root / ".hidden.dump").write_bytes(dump(SAMPLE))
    write_sysfs(root / "desk" / "sys", SAMPLE)
    return root


def test_folders_are_searched_in_sorted_order(fleet_folder):
    found = list(fleet.rows([fleet_folder]))
    paths = [row["path"] for row in found if row["row"] != "memory_device"]
    assert paths == sorted(paths) and len(paths) == 8
    assert str(fleet_folder / "desk" / "sys") in paths  # the sysfs root is one input
    assert not any(".hidden" in path for path in paths)
    assert [row["row"] for row in found if row["path"].endswith("notes.txt")] == ["error"]


def test_jobs_do_not_change_the_rows(fleet_folder, monkeypatch):
    monkeypatch.setattr(fleet.parallel, "PARALLEL_FROM", 2)
    assert list(fleet.rows([fleet_folder], jobs=3)) == list(fleet.rows([fleet_folder]))


# --- the command and its formats --------------------------------------------------------


def test_jsonl_on_stdout_says_which_table_each_line_belongs_to(fleet_folder, monkeypatch):
    monkeypatch.setattr(fleet.parallel, "PARALLEL_FROM", 2)
    status, out, err = run_cli(fleet_folder, "--jobs", "2")
    lines = [json.loads(line) for line in out.splitlines()]
    assert lines == list(fleet.rows([fleet_folder]))
    assert status == 1 and "1 of 8 inputs could not be read" in err


def test_csv_writes_machines_and_memory_devices_apart(fleet_folder, tmp_path):
    status, out, _ = run_cli(fleet_folder, "--output", tmp_path / "fleet.csv")
    assert status == 1 and out == ""
    with open(tmp_path / "fleet.csv", newline="") as file:
        machines = list(csv.DictReader(file))
    with open(tmp_path / "fleet-memory.csv", newline="") as file:
        devices = list(csv.DictReader(file))
    assert list(machines[0]) == list(fleet.MACHINE_COLUMNS) + ["error"]
    errors = [row for row in machines if row["error"]]
    assert [row["path"] for row in errors] == [str(fleet_folder / "rack1" / "notes.txt")]
    expected = by_kind(fleet.rows([fleet_folder]))["memory_device"]
    assert len(devices) == len(expected) and devices[0]["size_bytes"] == str(expected[0]["size_bytes"])


def test_csv_on_stdout_carries_the_machines(fleet_folder):
    _, out, _ = run_cli(fleet_folder / "rack2", "--format", "csv")
    assert [row["system_serial_number"] for row in csv.DictReader(io.StringIO(out))] == ["SRV-0001", "SRV-0003",
                                                                                          "SRV-0005"]


def counts(database):
    with sqlite3.connect(database) as db:
        return {table: db.execute(f"SELECT count(*) FROM {table}").fetchone()[0]
                for table in ("machines", "memory_devices", "errors")}


def test_sqlite_reruns_replace_instead_of_duplicating(fleet_folder, tmp_path):
    database = tmp_path / "fleet.sqlite"
    # The same table at two paths is two machines (twins whose maker set no serial number look so).
    (fleet_folder / "rack1" / "host00-again.dump").write_bytes((fleet_folder / "rack1" / "host00.dump").read_bytes())
    assert run_cli(fleet_folder, "--output", database)[0] == 1
    first = counts(database)
    assert first == {"machines": 8, "memory_devices": 7 * 3 + 4, "errors": 1}
    assert run_cli(fleet_folder, "--output", database, "--jobs", "1")[0] == 1
    assert counts(database) == first

    # A machine dumped again after an upgrade: its path now holds another table.
    (fleet_folder / "rack1" / "host00.dump").write_bytes(dump(SAMPLE))
    # A table that turned bad, and a bad file mended.
    (fleet_folder / "rack2" / "host01.dump").write_bytes(b"oops")
    (fleet_folder / "rack1" / "notes.txt").write_bytes(dump(server_blob("SRV-NEW")))
    assert run_cli(fleet_folder, "--output", database)[0] == 1
    with sqlite3.connect(database) as db:
        assert db.execute("SELECT path FROM errors").fetchall() == [(str(fleet_folder / "rack2" / "host01.dump"),)]
        serials = [s for (s,) in db.execute("SELECT system_serial_number FROM machines ORDER BY path")]
        devices = db.execute("SELECT count(*) FROM memory_devices WHERE path NOT IN "
                             "(SELECT path FROM machines)").fetchone()[0]
    assert serials.count("SRV-0000") == 1 and "SRV-0001" not in serials and "SRV-NEW" in serials
    assert devices == 0


def test_brantel_table_is_a_command_of_brantel(fleet_folder, tmp_path, capsys):
    from brantel import cli

    assert cli.main(["table", str(fleet_folder), "--output", str(tmp_path / "fleet.jsonl"), "--jobs", "1"]) == 1
    assert capsys.readouterr().err == "brantel: 1 of 8 inputs could not be read; see the error rows\n"
    assert (tmp_path / "fleet.jsonl").read_text().count('"row": "machine"') == 7


def test_the_output_in_the_folder_read_is_not_an_input(fleet_folder):
    for _ in range(2):
        status, _, err = run_cli(fleet_folder, "--output", fleet_folder / "fleet.csv")
        assert status == 1 and "1 of 8 inputs" in err


def test_sqlite_answers_the_fleet_questions(fleet_folder, tmp_path):
    database = tmp_path / "fleet.sqlite"
    (fleet_folder / "rack2" / "copy.dump").write_bytes(dump(server_blob("SRV-0001", sizes_mib=(32768, 8192))))
    run_cli(fleet_folder, "--output", database)
    with sqlite3.connect(database) as db:
        indexes = {name for (name,) in db.execute("SELECT name FROM sqlite_master WHERE type = 'index'")}
        assert {"machines_serial_number", "machines_uuid"} <= indexes
        repeated = db.execute("SELECT system_serial_number, count(*) FROM machines GROUP BY 1 HAVING count(*) > 1")
        assert repeated.fetchall() == [("SRV-0001", 2)]
        small = db.execute("SELECT count(*) FROM machines WHERE memory_bytes < 32 * 1024 * 1024 * 1024")
        assert small.fetchone()[0] == 6  # the 16 GiB servers; not the 32 GiB sample nor the 40 GiB copy
        kinds = dict(db.execute("SELECT source_kind, count(*) FROM machines GROUP BY 1"))
        assert kinds == {"dump": 7, "sysfs": 1}


@pytest.mark.parametrize("argv, message", [
    (["--format", "sqlite"], "--format sqlite needs --output FILE"),
    (["--output", "/nonexistent-folder/x.jsonl"], "cannot write /nonexistent-folder/x.jsonl"),
])
def test_output_problems_are_usage_errors(tmp_path, argv, message):
    status, out, err = run_cli(tmp_path, *argv)
    assert status == 2 and out == "" and err.startswith(f"brantel: error: {message}") and err.count("\n") == 1


@pytest.mark.parametrize("argv", [["--jobs", "0", "x"], ["--output", "", "x"], [""], []])
def test_bad_options_are_refused(tmp_path, argv, capsys):
    assert fleet_cli.main(argv or []) == 2
    assert "error:" in capsys.readouterr().err


def test_sqlite_refuses_a_foreign_database(tmp_path):
    database = tmp_path / "other.sqlite"
    with sqlite3.connect(database) as db:
        db.execute("CREATE TABLE machines (name TEXT)")
    status, _, err = run_cli(tmp_path / "nothing", "--output", database)
    assert status == 2 and "is not a brantel database (it holds the tables machines)" in err


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("stream, delay, shown", [
    (Terminal, 0.0, True), (Terminal, 60.0, False), (io.StringIO, 0.0, False)],
    ids=["terminal", "short-run", "not-a-terminal"])
def test_progress_only_on_a_terminal_and_for_long_runs(fleet_folder, monkeypatch, stream, delay, shown):
    monkeypatch.setattr(fleet._Progress, "DELAY", delay)
    progress = stream()
    fleet.write([fleet_folder], stdout=io.StringIO(), progress=progress)
    assert ("8 of 8 inputs, 1 failed" in progress.getvalue()) is shown
    assert progress.getvalue() == "" or progress.getvalue().endswith("\n")


USAGE = """
    from brantel import fleet

    total: int = 0
    for row in fleet.rows(["fleet"], jobs=2):
        if row["row"] == "machine":
            total += row["memory_bytes"] or 0
"""


@pytest.mark.parametrize("extra, error", [
    ("", None),
    ("fleet.rows('fleet', jobs='2')", 'incompatible type "str"; expected "int"'),
    ("n: int = fleet.rows(['fleet'])", "Incompatible types in assignment"),
])
def test_rows_are_typed_for_mypy(tmp_path, extra, error):
    pytest.importorskip("mypy")
    example = tmp_path / "example.py"
    example.write_text(textwrap.dedent(USAGE) + extra + "\n")
    env = dict(os.environ)
    package_root = pathlib.Path(brantel.__file__).resolve().parents[1]
    if package_root.name not in ("site-packages", "dist-packages"):
        # An editable install only; mypy refuses site-packages on MYPYPATH and finds an installed package itself.
        env["MYPYPATH"] = str(package_root)
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(example)],
                            capture_output=True, text=True, cwd=tmp_path, env=env)
    if error is None:
        assert result.returncode == 0, result.stdout + result.stderr
    else:
        assert result.returncode == 1 and error in result.stdout, result.stdout


# --- the corpus --------------------------------------------------------------------------


def test_corpus_with_garbage(corpus_blobs, tmp_path, monkeypatch):
    """The real tables (as dumps and blobs) and three garbage files: rows as the decoder says."""
    monkeypatch.setattr(fleet.parallel, "PARALLEL_FROM", 2)
    folder = tmp_path / "corpus"
    folder.mkdir()
    decoded = {}
    for n, path in enumerate(corpus_blobs):
        blob = path.read_bytes()
        target = folder / (path.stem + (".dump" if n % 2 else ".bin"))
        target.write_bytes(dump(blob) if n % 2 and len(blob) < 0x10000 else blob)
        decoded[str(target)] = brantel.decode(blob)
    for name, (data, _) in list(GARBAGE.items())[:3]:
        (folder / f"garbage-{name}").write_bytes(data)
    database = tmp_path / "fleet.sqlite"
    assert run_cli(folder, "--output", database)[0] == 1
    status, out, _ = run_cli(folder, "--jobs", "2")
    assert status == 1
    found = by_kind(json.loads(line) for line in out.splitlines())
    assert len(found["machine"]) == len(corpus_blobs) and len(found["error"]) == 3
    for machine in found["machine"]:
        expected = decoded[machine["path"]]
        assert machine["memory_bytes"] == expected["totals"]["memory_bytes"]
        assert machine["system_uuid"] == expected["system"]["uuid"]
        assert machine["system_uuid_stored"] == expected["system"]["uuid_stored"]
    assert len(found["memory_device"]) == sum(len(d["memory_devices"]) for d in decoded.values())

    first = counts(database)
    distinct = len({machine["sha256"] for machine in found["machine"]})
    assert first == {"machines": distinct, "memory_devices": first["memory_devices"], "errors": 3}
    assert run_cli(folder, "--output", database, "--jobs", "2")[0] == 1
    assert counts(database) == first


def readme_queries():
    """(SQL, the output shown) of each query in the README's Fleet section."""
    text = (pathlib.Path(__file__).resolve().parents[1] / "README.md").read_text()
    section = text[text.index("## Fleet"):]
    section = section[:section.index("\n## ")]
    return re.findall(r'sqlite3 -header -column fleet\.sqlite "\n(.*?)"\n```\n\n```text\n(.*?)```', section, re.S)


def test_the_readme_queries_answer_on_the_corpus(corpus_blobs, tmp_path, monkeypatch):
    # The README shows the output for the whole corpus, which only lies beside
    # a checkout (the repository carries a part of it).
    if not CORPUS.is_dir():
        pytest.skip("the whole SMBIOS corpus is not present")
    monkeypatch.chdir(tmp_path)
    (tmp_path / "fleet").mkdir()
    for path in corpus_blobs:
        (tmp_path / "fleet" / (path.stem + ".dump")).write_bytes(dump(path.read_bytes()))
    assert run_cli("fleet", "--format", "sqlite", "--output", "fleet.sqlite")[0] == 0
    queries = readme_queries()
    assert len(queries) == 3
    with sqlite3.connect("fleet.sqlite") as db:
        for sql, shown in queries:
            found = db.execute(sql).fetchall()
            lines = shown.splitlines()[2:]  # below the header and its rule
            if lines[-1].startswith("..."):
                assert len(found) == int(re.search(r"\((\d+) rows\)", lines.pop()).group(1))
            else:
                assert len(found) == len(lines)
            # The README's fleet lies in /srv/fleet; paths are stored absolute.
            shown_first = [str(row[0]).replace(str(tmp_path), "/srv").split()[0] for row in found[:len(lines)]]
            assert [line.split()[0] for line in lines] == shown_first


# --- what is not a file, and deep trees --------------------------------------------------


def _fifo(path):
    os.mkfifo(path)


def _socket(path):
    import socket
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(str(path))
    return sock


def _dangling(path):
    os.symlink(path.parent / "nowhere", path)


NOT_FILES = {"fifo": (_fifo, "a FIFO (named pipe)"), "socket": (_socket, "a socket"),
             "dangling-link": (_dangling, "a link to nothing")}


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs FIFOs and Unix sockets")
@pytest.mark.parametrize("kind", NOT_FILES)
def test_what_is_not_a_file_is_an_error_row_without_blocking(tmp_path, kind):
    make, what = NOT_FILES[kind]
    folder = tmp_path / "in"
    folder.mkdir()
    keep = make(folder / "odd")
    (folder / "table.bin").write_bytes(SAMPLE)
    # Met in a folder (once dropped without a word) and named directly (a FIFO once hung the run in open()).
    script = ("import json, sys\nfrom brantel import fleet\n"
              "print(json.dumps([r for r in fleet.rows(sys.argv[1:]) if r['row'] != 'memory_device']))")
    result = subprocess.run([sys.executable, "-c", script, str(folder), str(folder / "odd")],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    found = json.loads(result.stdout)
    assert [row["row"] for row in found] == ["error", "machine"]
    assert found[0]["path"] == str(folder / "odd") and what in found[0]["reason"]
    status = subprocess.run([sys.executable, "-m", "brantel", "inventory", str(folder / "odd")],
                            capture_output=True, text=True, timeout=60)
    assert status.returncode == 2 and what in status.stderr and status.stderr.count("\n") == 1
    if keep is not None:
        keep.close()


def test_a_tree_deeper_than_the_stack(tmp_path):
    # Once a RecursionError that cost the whole run.  Made and removed level by level,
    # as the standard helpers recurse too.
    levels = [str(tmp_path)]
    for _ in range(sys.getrecursionlimit() + 100):
        levels.append(levels[-1] + "/d")
        os.mkdir(levels[-1])
    table = levels[-1] + "/table.bin"
    pathlib.Path(table).write_bytes(SAMPLE)
    try:
        found = [row for row in fleet.rows([tmp_path]) if row["row"] != "memory_device"]
        assert [(row["row"], row["path"]) for row in found] == [("machine", table)]
    finally:
        os.remove(table)
        for level in reversed(levels[1:]):
            os.rmdir(level)


# --- what is taken for a table ------------------------------------------------------------


def test_random_files_are_not_taken_for_machines(tmp_path):
    """Files that start like a blob (byte 2 or 3) but hold random bytes: once one in five became a machine."""
    import random
    rng = random.Random(20261208)
    folder = tmp_path / "random"
    folder.mkdir()
    for n in range(1000):
        size = int(2 ** rng.uniform(2, 17))
        body = rng.getrandbits(8 * size).to_bytes(size, "little")
        (folder / f"{n:04}").write_bytes(bytes([rng.choice((2, 3))]) + body)
    found = list(fleet.rows([folder]))
    assert [row["row"] for row in found] == ["error"] * 1000
    assert all("not an SMBIOS table" in row["reason"] for row in found)
    assert sum("read as a blob, " in row["reason"] and " at byte " in row["reason"] for row in found) > 900


@pytest.mark.parametrize("form", ["blob", "rsmb", "dump"])
def test_every_real_table_is_still_a_machine(corpus_blobs, tmp_path, form):
    """Damaged ones included (a hypervisor's table breaks off after its fifth structure)."""
    make = {"blob": lambda blob: blob, "rsmb": rsmb, "dump": dump}[form]
    for path in corpus_blobs:
        (tmp_path / path.stem).write_bytes(make(path.read_bytes()))
    found = [row for row in fleet.rows([tmp_path]) if row["row"] != "memory_device"]
    assert [(row["row"], row["source_kind"]) for row in found] == [("machine", form)] * len(corpus_blobs), \
        [row for row in found if row["row"] == "error"]


def test_a_damaged_table_is_taken_and_garbage_after_a_few_structures_is_not(tmp_path):
    bios = sb.structure(0, {4: 1, 5: 2, 8: 3}, length=0x12, strings=["Tallis Firmware", "2.1", "05/06/2021"])
    # Three whole structures, then a structure header that says it is 2 bytes long.
    (tmp_path / "damaged.bin").write_bytes(sb.blob(bios, sb._processor(0x10, "CPU0"), sb._processor(0x11, "CPU1"))
                                           + b"\x11\x02")
    (tmp_path / "no-identity.bin").write_bytes(bytes([3, 4]) + sb._processor(0x10, "CPU0") * 3 + b"\x11\x02")
    damaged, *_, other = [row for row in fleet.rows([tmp_path]) if row["row"] != "memory_device"]
    assert damaged["row"] == "machine"
    assert other["row"] == "error" and "after 3 whole structures" in other["reason"]
