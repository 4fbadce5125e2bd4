"""The schema of the decoded inventory against the rows it is generated from:
neither may hold a key, a kind or a name that the other lacks."""
import json
import pathlib
import subprocess
import sys

import pytest

import brantel
from brantel._inventory_decoder import layouts

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import make_schema  # noqa: E402

COMMITTED = json.loads((pathlib.Path(brantel.__file__).parent / "data" / "inventory.schema.json").read_text())


def test_committed_schema_is_the_one_the_tables_make():
    # If this fails after a table change: python tools/make_schema.py
    assert COMMITTED == json.loads(make_schema.schema_text())


@pytest.mark.parametrize("layout", [layout for layout in layouts() if layout["decoded"]],
                         ids=lambda layout: layout["key"])
def test_every_row_has_its_schema_entry_and_no_other(layout):
    entry = COMMITTED["properties"][layout["key"]]
    record = entry if layout["place"] == "singleton" else entry["items"]
    keys = ["handle"] + [row["key"] for row in layout["rows"]]
    if layout["items"]:
        keys.append(layout["items"]["key"])
    assert list(record["properties"]) == keys
    for row in layout["rows"]:
        if row["shape"] == "enum":
            assert set(record["properties"][row["key"]]["enum"]) == set(row["names"]) | {None}


def test_registry_lists_every_type_once_in_order():
    found = layouts()
    assert [layout["type"] for layout in found] == list(range(47))
    keys = [layout["key"] for layout in found]
    assert len(set(keys)) == len(keys)
    assert {"other_structures", "inactive", "end_of_table"}.isdisjoint(keys)


def test_check_mode_reports_drift(tmp_path, monkeypatch):
    stale = tmp_path / "inventory.schema.json"
    stale.write_text(json.dumps({**COMMITTED, "required": COMMITTED["required"][:-1]}, indent=2) + "\n")
    monkeypatch.setattr(make_schema, "SCHEMA_PATH", stale)
    assert make_schema.main(["--check"]) == 1
    assert make_schema.main([]) == 0 and make_schema.main(["--check"]) == 0
