"""The machine rows' memory slots, ECC, TPM and BMC columns in every format, and databases of
earlier layouts taking them on."""
import contextlib
import csv
import json
import pathlib
import shutil
import sqlite3

import pytest

from brantel import fleet, sources
from brantel.fleet import write_sqlite
from test_fleet import run_cli
from test_people_and_scripts import table_file, tpm

DATA = pathlib.Path(__file__).resolve().parent / "data"
NEW_COLUMNS = ("memory_capacity_bytes", "memory_slots", "memory_slots_populated", "ecc",
               "tpm_specification_version", "bmc_interface_type")
EXPECTED = {
    "sample.bin": (128 << 30, 4, 2, "None", None, None),
    "uroot-supermicro-x9dbl.bin": (96 << 30, 6, 6, "Multi-bit ECC", None, "KCS: Keyboard Controller Style"),
    "with-tpm.bin": (None, None, None, None, "2.0", None),
}


@pytest.fixture
def folder(tmp_path):
    found = tmp_path / "fleet"
    found.mkdir()
    (found / "sample.bin").write_bytes(sources.sample_blob())
    shutil.copy(DATA / "uroot-supermicro-x9dbl.bin", found)
    table_file(tmp_path, tpm("TPM")).rename(found / "with-tpm.bin")
    return found


def test_the_columns_follow_the_earlier_ones():
    assert fleet.MACHINE_COLUMNS[-len(NEW_COLUMNS):] == NEW_COLUMNS


def test_jsonl_rows(folder):
    status, out, _ = run_cli(folder)
    rows = [json.loads(line) for line in out.splitlines()]
    machines = {pathlib.Path(row["path"]).name: tuple(row[c] for c in NEW_COLUMNS)
                for row in rows if row["row"] == "machine"}
    assert (status, machines) == (0, EXPECTED)


def test_csv_columns(folder, tmp_path):
    output = tmp_path / "fleet.csv"
    assert run_cli(folder, "--output", output)[0] == 0
    with open(output, newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    shown = {k: tuple(None if v is None else str(v) for v in values) for k, values in EXPECTED.items()}
    assert {pathlib.Path(row["path"]).name: tuple(row[c] or None for c in NEW_COLUMNS) for row in rows} == shown


def machines(database):
    with contextlib.closing(sqlite3.connect(str(database))) as db:
        names = tuple(row[1] for row in db.execute("PRAGMA table_info(machines)"))
        found = db.execute(f"SELECT path, {', '.join(NEW_COLUMNS)} FROM machines").fetchall()
    return names, {pathlib.Path(row[0]).name: tuple(row[1:]) for row in found}


def test_sqlite_columns(folder, tmp_path):
    database = tmp_path / "fleet.sqlite"
    assert run_cli(folder, "--output", database)[0] == 0
    assert machines(database) == (fleet.MACHINE_COLUMNS, EXPECTED)


def second_layout(path):
    with contextlib.closing(sqlite3.connect(str(path))) as db:
        for table, columns in write_sqlite.SECOND_LAYOUT.items():
            db.execute(write_sqlite._table_sql(table, columns))
        db.execute("INSERT INTO machines (path, source_kind, sha256) VALUES ('/old/host.dump', 'dump', 'ab')")
        db.execute(f"PRAGMA application_id = {write_sqlite.APPLICATION_ID}")
        db.execute("PRAGMA user_version = 2")
        db.commit()


def first_release(path):
    # Made with the schema of the release before this one (its SQL, as that release wrote it).
    with contextlib.closing(sqlite3.connect(str(path))) as db:
        db.executescript((DATA / "fleet-previous-release.sql").read_text())


@pytest.mark.parametrize("make, old_paths", [(first_release, {"host-a.dump", "host-b.dump"}),
                                              (second_layout, {"host.dump"})], ids=["first-release", "layout-2"])
def test_an_earlier_database_gains_the_columns_in_place(folder, tmp_path, make, old_paths):
    database = tmp_path / "earlier.sqlite"
    make(database)
    for _ in range(2):  # the second run finds the newest layout and changes nothing of it
        assert run_cli(folder, "--output", database)[0] == 0
        names, found = machines(database)
        assert names == fleet.MACHINE_COLUMNS
        assert found == {**EXPECTED, **{name: (None,) * len(NEW_COLUMNS) for name in old_paths}}
        with contextlib.closing(sqlite3.connect(str(database))) as db:
            assert db.execute("PRAGMA user_version").fetchone()[0] == write_sqlite.SCHEMA_VERSION == 3


# --- the partial decode the rows read ----------------------------------------------------------

TABLES = [sources.sample_blob()] + [path.read_bytes() for path in sorted(DATA.glob("*.bin"))]


@pytest.mark.parametrize("data", TABLES + [TABLES[0][:300], TABLES[0][:2] + b"\x04\x01" + TABLES[0][4:]],
                         ids=lambda data: "%d bytes" % len(data))
def test_a_partial_decode_holds_the_asked_types_as_the_whole_one_does(data):
    from brantel._inventory_decoder import decode, decode_types
    from brantel.fleet.machine_rows import ROW_TYPES

    whole, part = decode(data), decode_types(data, ROW_TYPES)
    for key in ("bios", "system", "processors", "physical_memory_arrays", "memory_devices", "ipmi_devices",
                "tpm_devices"):
        assert part[key] == whole[key]
    for key in ("memory_bytes", "memory_capacity_bytes", "memory_slots", "memory_slots_populated",
                "processor_sockets", "processors_populated", "processors_enabled"):
        assert part["totals"][key] == whole["totals"][key]
    assert part["caches"] == part["other_structures"] == part["end_of_table"] == []
    assert set(part["warnings"]) <= set(whole["warnings"])


@pytest.mark.parametrize("types, error", [((256,), ValueError), ((-1,), ValueError), (("4",), TypeError),
                                          (4, TypeError)])
def test_a_partial_decode_refuses_what_is_no_type(types, error):
    from brantel._inventory_decoder import decode_types

    with pytest.raises(error):
        decode_types(TABLES[0], types)
