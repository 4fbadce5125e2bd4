"""brantel table: what the writers promise whatever the inputs, names, strings and outputs."""
import contextlib
import csv
import hashlib
import io
import json
import os
import pathlib
import re
import signal
import sqlite3
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from brantel import escaping, fleet, fleet_cli
import smbios_builder as sb
from test_fleet import SAMPLE, dump, run_cli, server_blob

DATA = pathlib.Path(__file__).resolve().parent / "data"


def table(serial="SRV-0001", locator="DIMM 0", processors=(0x41,), uuid=bytes(range(16))):
    """A small table: the serial, one memory device's locator and processors with these status bytes."""
    parts = [
        sb.structure(0, {4: 1, 5: 2, 8: 3}, length=0x12, strings=["Tallis Firmware", "2.1", "05/06/2021"]),
        sb.structure(1, {4: 1, 5: 2, 6: 0, 7: 3, 8: uuid}, length=0x1B, handle=1,
                     strings=["Tallis Systems", "TS-9000", serial]),
    ]
    for n, status in enumerate(processors):
        cpu = bytearray(sb._processor(0x10 + 4 * n, f"CPU{n}"))
        cpu[0x18] = status
        parts.append(bytes(cpu))
    parts.append(sb._memory_device(0x40, locator, "BANK 0", 8192))
    return sb.blob(*parts, sb.end_of_table(), version=(2, 8))


def machines_of(database, columns="path, system_serial_number"):
    with contextlib.closing(sqlite3.connect(str(database))) as db:
        return db.execute(f"SELECT {columns} FROM machines ORDER BY path").fetchall()


def counts(database):
    with contextlib.closing(sqlite3.connect(str(database))) as db:
        return tuple(db.execute(f"SELECT count(*) FROM {name}").fetchone()[0]
                     for name in ("machines", "memory_devices", "errors"))


# --- workers end with the process that started them --------------------------------------

WORKERS = """
import os, sys, time
from brantel import fleet_cli
from brantel.fleet import parallel

parallel.PARALLEL_FROM = 2
inspect = parallel._inspect

def slow(item):
    open(os.path.join(sys.argv[2], str(os.getpid())), "w").close()
    time.sleep(0.1)
    return inspect(item)

parallel._inspect = slow
fleet_cli.main([sys.argv[1], "--output", sys.argv[3], "--jobs", "2"])
"""


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as file:
            return file.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.parametrize("how", [signal.SIGKILL, signal.SIGTERM], ids=["SIGKILL", "SIGTERM"])
def test_workers_end_when_the_main_process_dies(tmp_path, how):
    folder, marks = tmp_path / "fleet", tmp_path / "marks"
    folder.mkdir()
    marks.mkdir()
    for n in range(80):
        (folder / f"host{n:02}.bin").write_bytes(table(f"SRV-{n}"))
    output = tmp_path / "out" / "fleet.jsonl"
    output.parent.mkdir()
    output.write_text("last night's rows\n")
    main = subprocess.Popen([sys.executable, "-c", WORKERS, str(folder), str(marks), str(output)])
    workers = set()
    try:
        deadline = time.monotonic() + 30
        while len(workers) < 2 and time.monotonic() < deadline and main.poll() is None:
            time.sleep(0.05)
            workers = {int(name) for name in os.listdir(marks)} - {main.pid}
        assert len(workers) >= 2, "the workers did not start"
        main.send_signal(how)
        main.wait()
        deadline = time.monotonic() + 5
        while any(alive(pid) for pid in workers) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert not [pid for pid in workers if alive(pid)]
        assert output.read_text() == "last night's rows\n"
        if how == signal.SIGTERM:  # (SIGKILL leaves the hidden temporary file behind)
            assert os.listdir(output.parent) == ["fleet.jsonl"]
    finally:
        for pid in workers:
            if alive(pid):
                os.kill(pid, signal.SIGKILL)


# --- SQLite: our own databases only --------------------------------------------------------


def foreign(path, sql):
    with sqlite3.connect(str(path)) as db:
        db.executescript(sql)


@pytest.mark.parametrize("make, message", [
    (lambda path: foreign(path, "CREATE TABLE users (name TEXT); INSERT INTO users VALUES ('ann');"),
     "not a brantel database"),
    (lambda path: foreign(path, "PRAGMA application_id = 1234;"), "not a brantel database"),
    (lambda path: foreign(path, "CREATE TABLE machines (name TEXT);"), "not a brantel database"),
    (lambda path: path.write_bytes(b"name,serial\nann,1\n"), "not a brantel database"),
    (lambda path: foreign(path, f"PRAGMA application_id = {fleet.write_sqlite.APPLICATION_ID}; "
                                f"PRAGMA user_version = 99; CREATE TABLE machines (x);"), "newer brantel"),
], ids=["other-tables", "other-application", "our-table-names-other-columns", "not-sqlite", "newer-release"])
def test_sqlite_leaves_a_database_that_is_not_ours_unchanged(tmp_path, make, message):
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "a.bin").write_bytes(table())
    database = tmp_path / "app.db"
    make(database)
    before = database.read_bytes()
    status, _, err = run_cli(tmp_path / "fleet", "--output", database)
    assert status == 2 and message in err and err.startswith("brantel: error: ")
    assert database.read_bytes() == before
    assert sorted(path.name for path in tmp_path.iterdir()) == ["app.db", "fleet"]


def test_sqlite_marks_its_databases_and_takes_on_the_previous_release(tmp_path):
    # A database as the release before this one wrote it: our tables, no mark, relative paths.
    database = tmp_path / "previous.sqlite"
    foreign(database, (DATA / "fleet-previous-release.sql").read_text())
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "new.bin").write_bytes(table("SRV-NEW"))
    for _ in range(2):
        assert run_cli(tmp_path / "fleet", "--output", database)[0] == 0
        with sqlite3.connect(str(database)) as db:
            assert db.execute("PRAGMA application_id").fetchone()[0] == fleet.write_sqlite.APPLICATION_ID
            assert db.execute("PRAGMA user_version").fetchone()[0] == fleet.write_sqlite.SCHEMA_VERSION
            devices = db.execute("SELECT path, count(*) FROM memory_devices GROUP BY path ORDER BY path").fetchall()
        assert machines_of(database) == [(str(tmp_path / "fleet" / "new.bin"), "SRV-NEW"),
                                         ("fleet/host-a.dump", "SRV-A"), ("fleet/host-b.dump", "SRV-B")]
        assert devices == [(str(tmp_path / "fleet" / "new.bin"), 1), ("fleet/host-a.dump", 2),
                           ("fleet/host-b.dump", 1)]
        assert counts(database)[2] == 1


def test_a_later_layout_adds_its_columns_in_place(tmp_path, monkeypatch):
    # How the next layout will extend the file: a step from 2 that adds columns, rows kept.
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "a.bin").write_bytes(table("SRV-A"))
    database = tmp_path / "fleet.sqlite"
    assert run_cli(tmp_path / "fleet", "--output", database)[0] == 0
    write_sqlite = fleet.write_sqlite
    monkeypatch.setattr(write_sqlite, "SCHEMA_VERSION", 3)
    monkeypatch.setitem(write_sqlite.MIGRATIONS, 2,
                        lambda db: write_sqlite._add_columns(db, "machines", ("memory_slots",)))
    (tmp_path / "fleet" / "b.bin").write_bytes(table("SRV-B"))
    assert run_cli(tmp_path / "fleet", "--output", database)[0] == 0
    with contextlib.closing(sqlite3.connect(str(database))) as db:
        assert db.execute("PRAGMA user_version").fetchone()[0] == 3
        assert db.execute("SELECT system_serial_number, memory_slots FROM machines ORDER BY path").fetchall() == [
            ("SRV-A", None), ("SRV-B", None)]
    monkeypatch.setattr(write_sqlite, "SCHEMA_VERSION", 2)
    status, _, err = run_cli(tmp_path / "fleet", "--output", database)
    assert status == 2 and "written by a newer brantel" in err


def test_a_new_database_is_marked(tmp_path):
    database = tmp_path / "fleet.sqlite"
    assert run_cli(tmp_path / "nothing", "--output", database)[0] == 1
    with sqlite3.connect(str(database)) as db:
        assert db.execute("PRAGMA application_id").fetchone()[0] == fleet.write_sqlite.APPLICATION_ID


# --- CSV cells a spreadsheet would run ------------------------------------------------------

FORMULAS = ['=HYPERLINK("http://evil.example/","x")', "+cmd|' /C calc'!A0", "-2+3+cmd|' /C calc'!A0",
            "@SUM(1+1)*cmd|' /C calc'!A0", "\t=1+1", "\r=1+1"]


@pytest.mark.parametrize("value, cell", [(value, "'" + value) for value in FORMULAS] + [
    ("SRV-=1", "SRV-=1"), ("", ""), (None, None), (12, 12), ("'=1", "'=1"),
])
def test_csv_cell_disarms_what_a_spreadsheet_would_run(value, cell):
    assert escaping.csv_cell(value) == cell


@pytest.mark.parametrize("formula", FORMULAS[:4])
def test_csv_quotes_formulas_and_the_other_formats_keep_them(tmp_path, formula):
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "a.bin").write_bytes(table(serial=formula, locator=formula))
    assert run_cli(tmp_path / "fleet", "--output", tmp_path / "out.csv")[0] == 0
    machine, = csv.DictReader(io.StringIO((tmp_path / "out.csv").read_text(), newline=""))
    device, = csv.DictReader(io.StringIO((tmp_path / "out-memory.csv").read_text(), newline=""))
    assert machine["system_serial_number"] == device["locator"] == "'" + formula
    assert f'"\'{formula[:3]}' in (tmp_path / "out.csv").read_text()  # quoted as well
    assert run_cli(tmp_path / "fleet", "--output", tmp_path / "raw.csv", "--csv-raw")[0] == 0
    machine, = csv.DictReader(io.StringIO((tmp_path / "raw.csv").read_text(), newline=""))
    assert machine["system_serial_number"] == formula

    status, out, _ = run_cli(tmp_path / "fleet")
    assert json.loads(out.splitlines()[0])["system_serial_number"] == formula
    assert run_cli(tmp_path / "fleet", "--output", tmp_path / "out.sqlite")[0] == 0
    assert machines_of(tmp_path / "out.sqlite", "system_serial_number") == [(formula,)]


# --- the output is never one of the inputs ---------------------------------------------------


@pytest.mark.parametrize("inputs, output", [
    (["host.bin"], "host.bin"),
    (["host.bin"], "./sub/../host.bin"),
    (["link.bin"], "host.bin"),
    (["hard.bin", "other.bin"], "host.bin"),
    (["."], "host.bin"),
    (["."], "host.csv"),  # the machine CSV's memory file would be host-memory.csv, an input
], ids=["same-name", "other-spelling", "symbolic-link", "hard-link", "in-a-folder-read", "memory-csv"])
def test_an_output_that_is_an_input_is_refused_untouched(tmp_path, monkeypatch, inputs, output):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "sub").mkdir()
    for name in ("host.bin", "other.bin", "host-memory.csv"):
        (tmp_path / name).write_bytes(table(name))
    os.symlink("host.bin", "link.bin")
    os.link("host.bin", "hard.bin")
    before = {path.name: path.read_bytes() for path in tmp_path.iterdir() if path.is_file()}
    status, out, err = run_cli(*inputs, "--output", output, "--format", "csv" if output.endswith("csv") else "jsonl")
    assert status == 2 and "is also an input" in err, err
    assert {path.name: path.read_bytes() for path in tmp_path.iterdir() if path.is_file()} == before


# --- one file, one row, whichever way it was named ------------------------------------------


def test_paths_are_absolute_so_sites_and_spellings_meet(tmp_path, monkeypatch):
    central = tmp_path / "central.sqlite"
    for site in ("site1", "site2"):
        (tmp_path / site / "fleet").mkdir(parents=True)
        (tmp_path / site / "fleet" / "host.bin").write_bytes(table(site))
        monkeypatch.chdir(tmp_path / site)
        assert run_cli("fleet", "--output", central)[0] == 0
    assert machines_of(central) == [(str(tmp_path / "site1" / "fleet" / "host.bin"), "site1"),
                                    (str(tmp_path / "site2" / "fleet" / "host.bin"), "site2")]
    # The same folder by another name after the file changed: still one row for the file.
    (tmp_path / "site2" / "fleet" / "host.bin").write_bytes(table("site2-again"))
    assert run_cli("./fleet/", "--output", central)[0] == 0
    assert run_cli("fleet/../fleet", "--output", central)[0] == 0
    assert machines_of(central)[1:] == [(str(tmp_path / "site2" / "fleet" / "host.bin"), "site2-again")]
    assert counts(central) == (2, 2, 0)
    status, out, _ = run_cli("./fleet")
    assert json.loads(out.splitlines()[0])["path"] == str(tmp_path / "site2" / "fleet" / "host.bin")


@pytest.mark.parametrize("given", ["a.bin", pathlib.Path("a.bin")], ids=["str", "path"])
def test_rows_takes_one_path_as_one_path(tmp_path, monkeypatch, given):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "a.bin").write_bytes(table())
    found = list(fleet.rows(given))
    assert [row["row"] for row in found] == ["machine", "memory_device"]


# --- twins: one input, one machine ------------------------------------------------------------


def test_identical_tables_are_two_machines_in_every_format(tmp_path):
    # Two boards whose maker left serial and UUID unset, with the same memory: byte for byte the same table.
    (tmp_path / "fleet").mkdir()
    for name in ("twin-a.bin", "twin-b.bin"):
        (tmp_path / "fleet" / name).write_bytes(table("Default string", uuid=b"\0" * 16))
    database = tmp_path / "fleet.sqlite"
    for _ in range(2):
        assert run_cli(tmp_path / "fleet", "--output", database)[0] == 0
        assert counts(database) == (2, 2, 0)
    readme = (pathlib.Path(__file__).resolve().parents[1] / "README.md").read_text()
    query = re.search(r'sqlite3 -header -list fleet\.sqlite "\n(.*?)"\n', readme, re.S).group(1)
    with contextlib.closing(sqlite3.connect(str(database))) as db:
        same = db.execute(query).fetchall()
        indexes = {name for (name,) in db.execute("SELECT name FROM sqlite_master WHERE type = 'index'")}
    paths = " ".join(str(tmp_path / "fleet" / name) for name in ("twin-a.bin", "twin-b.bin"))
    assert same == [(hashlib.sha256(table("Default string", uuid=b"\0" * 16)).hexdigest(), 2, paths)]
    assert {"machines_sha256", "machines_path", "memory_devices_path"} <= indexes
    _, out, _ = run_cli(tmp_path / "fleet")
    assert [json.loads(line)["row"] for line in out.splitlines()] == ["machine", "memory_device"] * 2
    assert run_cli(tmp_path / "fleet", "--output", tmp_path / "fleet.csv")[0] == 0
    assert len((tmp_path / "fleet.csv").read_text().splitlines()) == 3
    assert len((tmp_path / "fleet-memory.csv").read_text().splitlines()) == 3


# --- a failed write ----------------------------------------------------------------------------


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("suffix", [".csv", ".jsonl"])
@pytest.mark.parametrize("inputs", [1, 40], ids=["failing-at-close", "failing-while-writing"])
def test_a_full_disk_is_a_usage_error_in_every_format(tmp_path, suffix, inputs):
    (tmp_path / "fleet").mkdir()
    for n in range(inputs):
        (tmp_path / "fleet" / f"host{n}.bin").write_bytes(table(f"SRV-{n}"))
    output = tmp_path / ("out" + suffix)
    output.symlink_to("/dev/full")
    status, _, err = run_cli(tmp_path / "fleet", "--output", output)
    assert (status, err) == (2, f"brantel: error: cannot write {output}: No space left on device\n")
    assert output.is_symlink() and os.readlink(output) == "/dev/full"


@pytest.fixture
def small_disk(tmp_path):
    mount = tmp_path / "disk"
    mount.mkdir()
    try:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(mount)], check=True,
                       capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("cannot mount a small tmpfs here")
    yield mount
    subprocess.run(["umount", str(mount)], check=True)


@pytest.mark.parametrize("suffix", [".csv", ".jsonl", ".sqlite"])
def test_a_failed_write_keeps_what_was_there(tmp_path, small_disk, suffix):
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "host.bin").write_bytes(table("SRV-OLD"))
    output = small_disk / ("out" + suffix)
    assert run_cli(tmp_path / "fleet", "--output", output)[0] == 0
    before = {path.name: path.read_bytes() for path in small_disk.iterdir()}
    for n in range(600):
        (tmp_path / "fleet" / f"more{n:03}.bin").write_bytes(table(f"SRV-{n:03}" + "x" * 60))
    status, _, err = run_cli(tmp_path / "fleet", "--output", output)
    assert (status, err) == (2, f"brantel: error: cannot write {output}: No space left on device\n")
    after = {path.name: path.read_bytes() for path in small_disk.iterdir()}
    if suffix == ".sqlite":
        # SQLite rolls back what it could not commit; the machine written before is still there.
        assert machines_of(output, "system_serial_number")[:1] == [("SRV-OLD",)]
    else:
        assert after == before


# --- smaller ones ------------------------------------------------------------------------------


def test_cores_and_threads_count_the_processors_that_run(tmp_path):
    # Enabled, disabled by BIOS (as VMware's 126 spare sockets), idle (a second CPU waiting to be started).
    (tmp_path / "a.bin").write_bytes(table(processors=(0x41, 0x43, 0x43, 0x44, 0x42)))
    machine = next(fleet.rows([tmp_path]))
    assert machine["processors_populated"] == 5 and machine["processors_enabled"] == 1
    assert (machine["core_count"], machine["thread_count"]) == (24, 48)


def test_a_second_run_waits_for_the_first_to_finish_writing(tmp_path):
    (tmp_path / "fleet").mkdir()
    (tmp_path / "fleet" / "a.bin").write_bytes(table())
    database = tmp_path / "fleet.sqlite"
    assert run_cli(tmp_path / "fleet", "--output", database)[0] == 0
    holder = sqlite3.connect(str(database), isolation_level=None)
    holder.execute("BEGIN IMMEDIATE")
    stderr = io.StringIO()
    result = []
    args = fleet_cli.build_parser().parse_args([str(tmp_path / "fleet"), "--output", str(database)])
    worker = threading.Thread(target=lambda: result.append(fleet_cli.run(args, io.StringIO(), stderr)))
    worker.start()
    deadline = time.monotonic() + 20
    while "waiting" not in stderr.getvalue() and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(6)  # past the old five seconds
    assert not result
    holder.execute("COMMIT")
    holder.close()
    worker.join(30)
    assert result == [0], stderr.getvalue()
    assert stderr.getvalue().startswith(f"brantel: note: {database} is being written by another run; waiting")


def test_too_many_jobs_are_lowered_with_a_note(tmp_path):
    (tmp_path / "a.bin").write_bytes(table())
    status, _, err = run_cli(tmp_path, "--jobs", "1000")
    limit = 2 * fleet.default_jobs()
    assert status == 0 and err == f"brantel: note: --jobs 1000 lowered to {limit}, twice the cores\n"


@pytest.mark.parametrize("separator", ["\u2028", "\u2029", "\u0085"])
def test_jsonl_lines_split_anywhere_as_rows(tmp_path, separator):
    (tmp_path / "a.bin").write_bytes(table(f"SRV{separator}1", locator=f"DIMM{separator}0"))
    status, out, _ = run_cli(tmp_path)
    assert separator not in out
    lines = out.splitlines()  # str.splitlines breaks at all three
    assert [json.loads(line)["row"] for line in lines] == ["machine", "memory_device"]
    assert json.loads(lines[0])["system_serial_number"] == f"SRV{separator}1"


# --- names that are not UTF-8 --------------------------------------------------------------------


@pytest.mark.skipif(sys.platform == "darwin", reason="the file system takes UTF-8 names only")
def test_names_that_are_not_utf8_reach_every_format(tmp_path):
    folder = tmp_path / "fleet"
    folder.mkdir()
    raw = os.fsencode(str(folder)) + b"/host-\xff\xfe.bin"
    with open(raw, "wb") as file:
        file.write(table("SRV-RAW"))
    (folder / "plain.bin").write_bytes(table("SRV-PLAIN"))
    (folder / os.fsdecode(b"bad-\xff.txt")).write_bytes(b"x")
    text = escaping.path_text(raw)
    assert "\\xff\\xfe" in text

    database = tmp_path / "fleet.sqlite"
    assert run_cli(folder, "--output", database)[0] == 1
    with sqlite3.connect(str(database)) as db:
        found = db.execute("SELECT path, path_bytes, system_serial_number FROM machines ORDER BY path").fetchall()
        errors = db.execute("SELECT path, path_bytes FROM errors").fetchall()
        devices = db.execute("SELECT path, path_bytes FROM memory_devices ORDER BY path").fetchall()
    assert found == [(text, raw, "SRV-RAW"), (str(folder / "plain.bin"), None, "SRV-PLAIN")]
    assert devices == [(text, raw), (str(folder / "plain.bin"), None)]
    assert errors[0][1] == os.fsencode(str(folder)) + b"/bad-\xff.txt"

    _, out, _ = run_cli(folder)
    lines = [json.loads(line) for line in out.splitlines()]
    assert [(row["row"], row["path_bytes"]) for row in lines if row["row"] != "memory_device"] == [
        ("error", errors[0][1].hex()), ("machine", raw.hex()), ("machine", None)]
    assert run_cli(folder, "--output", tmp_path / "fleet.csv")[0] == 1
    rows = list(csv.DictReader(io.StringIO((tmp_path / "fleet.csv").read_text(), newline="")))
    assert [(row["path"], row["path_bytes"]) for row in rows][1:] == [(text, raw.hex()),
                                                                      (str(folder / "plain.bin"), "")]
    assert [row["path_bytes"] for row in fleet.rows(folder)][1:3] == [raw, raw]


@pytest.mark.parametrize("suffix", [".csv", ".jsonl", ".sqlite"])
def test_workers_write_what_one_process_writes(tmp_path, monkeypatch, suffix):
    monkeypatch.setattr(fleet.parallel, "PARALLEL_FROM", 2)
    (tmp_path / "fleet").mkdir()
    for n in range(12):
        (tmp_path / "fleet" / f"host{n:02}.bin").write_bytes(table(f"=SRV-{n}" if n % 3 else f"SRV-{n}"))
    (tmp_path / "fleet" / "notes.txt").write_text("+not a table\n")
    outputs = []
    for jobs in ("1", "2"):
        output = tmp_path / f"jobs{jobs}{suffix}"
        assert run_cli(tmp_path / "fleet", "--output", output, "--jobs", jobs)[0] == 1
        if suffix == ".sqlite":
            outputs.append(machines_of(output, "*"))
        else:
            outputs.append(output.read_bytes() + (tmp_path / f"jobs{jobs}-memory{suffix}").read_bytes()
                           if suffix == ".csv" else output.read_bytes())
    assert outputs[0] == outputs[1] and len(outputs[0]) >= 12
