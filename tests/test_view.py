"""The structured view: round trip, separator characters, malformed input, queries, typing."""
import copy
import importlib.util
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

from brantel import sources, view
from brantel._sysprobe_internal import parse_windows_hardware_info
from conftest import real_tables

REPO = pathlib.Path(__file__).resolve().parents[1]
CORPUS_BLOBS = real_tables()

_module_spec = importlib.util.spec_from_file_location("make_sample_table", REPO / "tools" / "make_sample_table.py")
tables = importlib.util.module_from_spec(_module_spec)
_module_spec.loader.exec_module(tables)

SAMPLE = parse_windows_hardware_info(sources.sample_blob(), b"")


def inventory(*structures, version=(3, 3), guid=b""):
    return parse_windows_hardware_info(bytes(version) + b"".join(structures), guid)


def strings(*texts):
    s = tables.Strings()
    for t in texts:
        s.add(t)
    return s


def bios(vendor):
    return tables.structure(0, 0, b"\x01", strings(vendor))


def system(manufacturer):
    return tables.structure(1, 1, b"\x01\x00\x00\x00", strings(manufacturer))


def baseboard(manufacturer):
    return tables.structure(2, 2, bytes((1, 2, 3, 4, 0, 0, 0, 3, 0, 10, 0)), strings(manufacturer, "P", "V", "S"))


def processor(socket):
    return tables.structure(4, 4, b"\x01" + bytes(43), strings(socket))


def memory_device(locator):
    formatted = bytearray(92 - 4)
    formatted[16 - 4] = 1  # device locator: string 1
    formatted[12 - 4:14 - 4] = (1024).to_bytes(2, "little")
    return tables.structure(17, 17, bytes(formatted), strings(locator))


def unparsed_anywhere(value):
    if isinstance(value, dict):
        return view.UNPARSED in value or any(unparsed_anywhere(v) for v in value.values())
    if isinstance(value, list):
        return any(unparsed_anywhere(v) for v in value)
    return False


@pytest.mark.parametrize("path", CORPUS_BLOBS, ids=lambda p: p.stem)
def test_corpus_round_trip(path):
    rendered = parse_windows_hardware_info(path.read_bytes(), b"{'guid':'x',}")
    parsed = view.parse_rendered(rendered)
    assert list(parsed) == list(view.KEYS)
    # Real tables hold no separator characters: every record reads as its layout.
    assert not unparsed_anywhere(parsed)
    assert view.render_view(parsed) == rendered
    assert view.render_view(json.loads(json.dumps(parsed))) == rendered


def test_sample_view_shape():
    parsed = view.parse_rendered(SAMPLE)
    cpu = parsed["cpu_list"][0]
    assert list(cpu) == list(view.RECORD_FIELDS["cpu_list"])
    # Keys follow the item numbers that the queries use.
    assert list(cpu.values())[8] == cpu["cpu_status"] == 0x41
    device_set = parsed["memory_device_set_list"][0]
    assert device_set["memory_device_set_id"] == 0 and parsed["memory_device_set_id_list"] == [0]
    devices = device_set["mds_memory_device_list"]
    assert [d["md_device_locator"] for d in devices] == ["DIMM_A1", "DIMM_A2", "DIMM_B1", "DIMM_B2"]
    assert list(devices[1].values())[19] == devices[1]["md_size"] == 16384
    assert parsed["baseboard_list"][0]["baseboard_contained_object_handles"] == []
    assert parsed["cpu_list"][0]["cpu_serial_number"] is None
    assert (parsed["smbios_major_version"], parsed["system_guid"]) == (3, "")


@pytest.mark.parametrize("structures, check", [
    # An item separator inside a string: the record is kept whole as unparsed text.
    ([bios("A\x02B")], lambda v: v["bios_list"] == [{"unparsed": "0\x02A\x02B"}]),
    # A list separator splits its record into two unparsed pieces.
    ([baseboard("M\x03N")], lambda v: [list(e) for e in v["baseboard_list"]] == [["unparsed"], ["unparsed"]]),
    # An inner separator splits a device into two pieces of its set.
    ([memory_device("D\x04E")],
     lambda v: [list(d) for d in v["memory_device_set_list"][0]["mds_memory_device_list"]] == [["unparsed"]] * 2),
    # Apostrophes, commas and the key marker of the next entry.
    ([bios("it's, a ':' test")], lambda v: v["bios_list"][0]["bios_vendor"] == "it's, a ':' test"),
    ([system("x','system_product_name':'y")], lambda v: v["system_manufacturer"] == "x"),
    ([processor("s','cpu_cache_list':'\x03X")],
     lambda v: list(v["cpu_list"][0]) == ["unparsed"] and v["cpu_cache_list"][0]["unparsed"].startswith("X")),
    # The text None cannot be told from a missing string.
    ([bios("None")], lambda v: v["bios_list"][0]["bios_vendor"] is None),
])
def test_separators_inside_values(structures, check):
    rendered = inventory(*structures)
    parsed = view.parse_rendered(rendered)
    assert check(parsed)
    assert view.render_view(parsed) == rendered


@pytest.mark.parametrize("data, message", [
    (b"", "does not start with"),
    (b"{'smbios_type_id':'1',}", "'system_manufacturer' is missing"),
    (SAMPLE[:-1], "does not end with"),
    (SAMPLE.replace(b"'cpu_list':'\x03", b"'cpu_list':'"), "'cpu_list' is missing or not a list"),
    (SAMPLE.replace(b"Fenwick", b"\xffenwick"), "not valid UTF-8"),
])
def test_not_a_rendered_inventory(data, message):
    with pytest.raises(ValueError, match=message):
        view.parse_rendered(data)


def _edit(path, value):
    def apply(v):
        *parents, last = path
        for p in parents:
            v = v[p]
        if value is KeyError:
            del v[last]
        else:
            v[last] = value
    return apply


@pytest.mark.parametrize("edit, error", [
    (_edit(["system_guid"], KeyError), ValueError),
    (_edit(["bios_list", 0, "bios_vendor"], KeyError), ValueError),
    (_edit(["bios_list", 0, "extra"], 1), ValueError),
    (_edit(["cpu_list", 0, "cpu_status"], True), TypeError),
    (_edit(["cpu_list", 0, "cpu_status"], 65.0), TypeError),
    (_edit(["memory_module_list", 0], {"unparsed": "x", "y": 1}), ValueError),
    (_edit(["memory_device_set_list", 0, "mds_memory_device_list"], None), TypeError),
    (_edit(["chassis_list"], "not a list"), TypeError),
])
def test_render_rejects_malformed_views(edit, error):
    parsed = view.parse_rendered(SAMPLE)
    edit(parsed)
    with pytest.raises(error):
        view.render_view(parsed)


def test_render_writes_edits_in_field_order():
    parsed = view.parse_rendered(SAMPLE)
    record = parsed["memory_module_list"][0]
    parsed["memory_module_list"][0] = dict(reversed(list(record.items())))
    assert view.render_view(parsed) == SAMPLE
    edited = copy.deepcopy(parsed)
    edited["bios_list"][0]["bios_vendor"] = None
    edited["baseboard_list"][0]["baseboard_contained_object_handles"] = [5, 6]
    edited["memory_device_set_id_list"].append({"unparsed": "raw"})
    out = view.render_view(edited)
    assert b"'bios_list':'\x030\x02None'," in out
    assert b"\x020\x02\x045\x046'," in out
    assert b"'memory_device_set_id_list':'\x030\x03raw'," in out


def test_queries_of_the_sample():
    results = view.query_results(SAMPLE)
    assert [items[2] for items in results["populated_cpus"]["populated_cpu_list"]] == ["CPU0"]
    assert results["memory_devices"]["memory_size"] == 32 * 1024 * 1024
    assert results["memory_devices"]["memory_device_structure_set"] == [
        ["DIMM_A1", "BANK 0", "65535", "65535", "9"],
        ["DIMM_A2", "BANK 1", "64", "64", "9"],
        ["DIMM_B1", "BANK 2", "65535", "65535", "9"],
        ["DIMM_B2", "BANK 3", "64", "64", "9"],
    ]
    assert results["memory_modules"] == {"memory_size": 32 * 1024 * 1024, "memory_module_set": ["DIMM_A2", "DIMM_B2"]}
    assert view.describe(SAMPLE) == {"inventory": view.parse_rendered(SAMPLE), "queries": results}


def test_a_failing_query_is_reported_not_raised():
    short_cpu = tables.structure(4, 4, bytes(16), strings())  # status byte (offset 24) not read
    results = view.query_results(inventory(short_cpu))
    assert results["populated_cpus"] == {"error": "ValueError: invalid literal for int() with base 10: 'None'"}
    assert results["memory_devices"] == {"memory_size": 0, "memory_device_structure_set": []}


# --- typing -----------------------------------------------------------------------

USAGE = """
    from __future__ import annotations
    import json
    from brantel import brantel_sysprobe, sources, view
    from brantel._sysprobe_internal import get_memory_devices, get_memory_modules, get_populated_cpus
    from brantel._sysprobe_internal import parse_windows_hardware_info

    rendered: bytes = parse_windows_hardware_info(sources.sample_blob(), b"")
    inventory = view.parse_rendered(rendered)
    assert view.render_view(json.loads(json.dumps(inventory))) == rendered
    populated: list[list[str]] = []
    get_populated_cpus([], populated)
    size, devices = get_memory_devices([])
    for locator, bank, total_width, data_width, form_factor in devices:
        print(locator.upper(), size + 1)
    module_size, sockets = get_memory_modules([])
    digest: str = brantel_sysprobe.sha1(b"x") + brantel_sysprobe.getcwd()
    moved: bool = brantel_sysprobe.chdir("/")
"""


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    return tmp_path_factory.mktemp("mypy-cache")


@pytest.mark.parametrize("extra, expected_error", [
    ("", None),
    ("brantel_sysprobe.sha1('text')", 'incompatible type "str"; expected "bytes"'),
    ("n: int = parse_windows_hardware_info(b'', b'')", "Incompatible types in assignment"),
    ("get_memory_devices(memory_device_set_list=[])", "Unexpected keyword argument"),
    ("view.parse_rendered('text')", 'incompatible type "str"; expected "bytes"'),
])
def test_stubs_pass_mypy_strict(tmp_path, mypy_cache, extra, expected_error):
    example = tmp_path / "example.py"
    example.write_text(textwrap.dedent(USAGE) + extra + "\n")
    package_root = pathlib.Path(view.__file__).resolve().parents[1]
    env = dict(os.environ)
    if package_root.name not in ("site-packages", "dist-packages"):
        # An editable install is found through an import hook mypy does not follow;
        # an installed package is found in site-packages, which must not be on MYPYPATH.
        env["MYPYPATH"] = str(package_root)
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(mypy_cache), str(example)],
        capture_output=True, text=True, cwd=tmp_path, env=env,
    )
    if expected_error is None:
        assert result.returncode == 0, result.stdout + result.stderr
    else:
        assert result.returncode == 1 and expected_error in result.stdout, result.stdout + result.stderr
