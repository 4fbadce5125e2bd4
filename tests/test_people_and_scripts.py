"""brantel get, inventory --type, the report's short sections and the JSON layout rules."""
import json
import re
import pathlib

import pytest

from brantel import cli, selection, sources
from brantel._inventory_decoder import layouts
from smbios_builder import blob, end_of_table, structure

DATA = pathlib.Path(__file__).resolve().parent / "data"
X9DBL = DATA / "uroot-supermicro-x9dbl.bin"

SAMPLE_VALUES = {
    "bios-vendor": "Quillon Firmware Ltd.", "bios-version": "Q1.07", "bios-release-date": "05/21/2024",
    "bios-revision": "1.7", "firmware-revision": "",
    "system-manufacturer": "Fenwick Computers", "system-product-name": "Atlas D5", "system-version": "Rev A",
    "system-serial-number": "FAD5-2405-00173", "system-uuid": "a8213c6f-e04b-ef11-9a2d-5c60ba7712e4",
    "system-sku-number": "AD5-32G-1TB", "system-family": "Atlas Desktop",
    "baseboard-manufacturer": "Fenwick Computers", "baseboard-product-name": "AB-650D",
    "baseboard-version": "1.02", "baseboard-serial-number": "AB650D-2405-0042", "baseboard-asset-tag": "Not Specified",
    "chassis-manufacturer": "Fenwick Computers", "chassis-type": "Desktop", "chassis-version": "Atlas D5",
    "chassis-serial-number": "FAD5-CH-00173", "chassis-asset-tag": "ASSET-00173",
    "processor-family": "Other", "processor-manufacturer": "Orinda Microdevices",
    "processor-version": "Orinda Vireo 8600 @ 3.60GHz", "processor-frequency": "3600 MHz",
}
HOSTILE = "Evil\x1b[31m\u202eCorp\nnext\x9b"
HOSTILE_SHOWN = "Evil\\x1b[31m\\x202eCorp\\x0anext\\x9b"


@pytest.fixture
def run(capsysbinary):
    def run(*argv):
        status = cli.main([str(a) for a in argv])
        out, err = capsysbinary.readouterr()
        return status, out.decode(), err.decode()
    return run


def table_file(tmp_path, *structures):
    path = tmp_path / "table.bin"
    path.write_bytes(blob(*structures, end_of_table()))
    return path


def baseboards(*names):
    return [structure(2, {0x04: 1, 0x05: 2}, length=0x08, handle=0x20 + n, strings=(name, "B-%d" % n))
            for n, name in enumerate(names)]


def test_every_keyword_is_tested():
    assert set(SAMPLE_VALUES) == set(selection.KEYWORDS)


@pytest.mark.parametrize("keyword", sorted(SAMPLE_VALUES))
def test_get_on_the_sample(run, keyword):
    assert run("get", keyword, "--sample") == (0, SAMPLE_VALUES[keyword] + "\n", "")


@pytest.mark.parametrize("keyword", sorted(SAMPLE_VALUES))
def test_get_on_a_table_without_the_structure_prints_nothing(run, tmp_path, keyword):
    # A table of one OEM structure: no BIOS, system, board, chassis or processor.
    path = table_file(tmp_path, structure(0xC0, {0x04: 1}, length=0x06, handle=0x10))
    assert run("get", keyword, path) == (0, "", "")


def test_get_gives_one_line_per_structure_and_escapes_what_a_terminal_must_not_meet(run, tmp_path):
    path = table_file(tmp_path, *baseboards("Plain", HOSTILE, ""))
    status, out, err = run("get", "baseboard-manufacturer", path)
    # The third board's string number 1 names an empty string: null, an empty line.
    assert (status, err) == (0, "")
    assert out.split("\n") == ["Plain", HOSTILE_SHOWN, "", ""]


def test_get_from_a_dump_reads_every_source(run, tmp_path):
    dump = tmp_path / "table.dump"
    dump.write_bytes(sources.dump_file_bytes(sources.sample_blob()))
    for source in ([dump], ["--dump", dump]):
        assert run("get", "system-serial-number", *source) == (0, "FAD5-2405-00173\n", "")


def test_get_an_unknown_keyword_is_a_usage_error_listing_the_valid_ones(run):
    status, out, err = run("get", "system-colour", "--sample")
    assert (status, out) == (2, "")
    assert "unknown keyword 'system-colour'" in err and all(keyword in err for keyword in selection.KEYWORDS)


def test_get_without_a_table_is_status_3_even_at_a_terminal(run, monkeypatch):
    def unreadable(*args, **kwargs):
        raise sources.SourceError("permission denied")
    monkeypatch.setattr(sources, "read_machine", unreadable)
    monkeypatch.setattr(sources, "read_windows", unreadable)
    monkeypatch.setattr(cli, "_is_terminal", lambda stream: True)  # never the sample in its place
    status, out, err = run("get", "system-uuid")
    assert (status, out) == (3, "") and err.startswith("brantel: error: no SMBIOS table")


# --- --type ------------------------------------------------------------------------------------


@pytest.mark.parametrize("types, keys", [
    (["memory"], {"memory_controllers", "memory_modules", "physical_memory_arrays", "memory_devices"}),
    (["cache", "4"], {"caches", "processors"}),
    (["BIOS"], {"bios", "bios_languages"}),
    (["0x7f"], {"end_of_table"}),
    (["slot", "slot"], {"system_slots"}),
    (["tpm"], {"tpm_devices"}),
])
def test_type_limits_the_json_to_those_structures(run, types, keys):
    status, out, err = run("inventory", "--sample", "--format", "json", *[a for t in types for a in ("--type", t)])
    assert (status, err) == (0, "")
    document = json.loads(out)
    assert set(document) == {"source", "smbios_version", "warnings"} | keys
    full = json.loads(run("inventory", "--sample", "--format", "json")[1])
    assert all(document[key] == full[key] for key in keys)


def test_type_number_of_a_vendor_structure_keeps_only_its_records(run, tmp_path):
    path = table_file(tmp_path, structure(0xC0, {0x04: 1}, length=0x06, handle=0x10),
                      structure(0xC1, {0x04: 2}, length=0x06, handle=0x11, strings=(HOSTILE,)))
    document = json.loads(run("inventory", path, "--format", "json", "--type", "193")[1])
    assert [record["handle"] for record in document["other_structures"]] == [0x11]
    status, out, err = run("inventory", path, "--type", "193")
    assert (status, err) == (0, "")
    assert "Structure, not decoded (type 193, handle 0x0011)" in out and HOSTILE_SHOWN in out
    assert "handle 0x0010" not in out


@pytest.mark.parametrize("name", ["memroy", "256", "-1", ""])
def test_an_unknown_type_is_a_usage_error(run, name):
    status, out, err = run("inventory", "--sample", "--type", name)
    assert (status, out) == (2, "")
    assert "brantel inventory: error: argument --type/-t:" in err


@pytest.mark.parametrize("format_", ["raw", "view"])
def test_type_with_a_format_that_cannot_hold_it_is_a_usage_error(run, format_):
    assert run("inventory", "--sample", "--type", "bios", "--format", format_) == (
        2, "", f"brantel: error: --type applies to the text and json formats, not {format_}\n")


@pytest.mark.parametrize("type_", [0, 1, 2, 3, 4, 7, 9, 16, 17, 41])
def test_type_sections_show_every_decoded_key_under_a_label(run, type_):
    status, out, err = run("inventory", "--sample", "--type", type_)
    assert (status, err) == (0, "")
    (layout,) = [layout for layout in layouts() if layout["type"] == type_]
    sections = out.split("\n\n")[1:]
    assert sections and all(section.startswith(layout["title"] + " (type %d, handle 0x" % type_)
                            for section in sections)
    for section in sections:
        lines = section.splitlines()[1:]
        # One line for each key (lists: the label alone, their items indented below it).
        labelled = [line for line in lines if line.startswith("  ") and not line.startswith("   ")]
        assert len(labelled) == len(layout["rows"]) + (1 if layout["items"] else 0)


def test_type_sections_escape_strings(run, tmp_path):
    path = table_file(tmp_path, *baseboards(HOSTILE))
    status, out, err = run("inventory", path, "--type", "baseboard")
    assert (status, err) == (0, "")
    assert any(line.startswith("  Manufacturer ") and line.endswith(" " + HOSTILE_SHOWN) for line in out.splitlines())
    assert "\x1b" not in out and "\u202e" not in out and "\x9b" not in out


# --- the report's short sections ----------------------------------------------------------------


def section(report, title):
    found = [part for part in report.split("\n\n") if part.startswith(title)]
    assert len(found) == 1, title
    return found[0].splitlines()


def test_the_sample_report_has_memory_slots_caches_and_system_slots(run):
    out = run("inventory", "--sample")[1]
    assert section(out, "Memory slots") == [
        "Memory slots", "  Maximum capacity      128 GiB", "  Slots                 2 of 4 populated",
        "  Error correction      None"]
    assert "    Caches              L1 640 KiB, L2 16 MiB, L3 36 MiB" in section(out, "Processors (1)")
    assert section(out, "System slots") == ["System slots (1, 0 in use)",
                                            "  PCIEX16_1: PCI Express Gen 3 x16, available, 0000:01:00.0"]
    for absent in ("Power supplies", "BMC", "TPM", "OEM strings"):
        assert f"\n{absent}" not in out


def test_a_server_report_has_power_supplies_bmc_and_oem_strings(run):
    out = run("inventory", X9DBL)[1]
    assert section(out, "Memory slots")[1:] == [
        "  Maximum capacity      96 GiB", "  Slots                 6 of 6 populated",
        "  Error correction      Multi-bit ECC"]
    assert section(out, "System slots")[0] == "System slots (3, 2 in use)"
    assert section(out, "Power supplies") == [
        "Power supplies (1)",
        "  To Be Filled By O.E.M.: To Be Filled By O.E.M. To Be Filled By O.E.M., switching, ok, plugged in"]
    assert section(out, "BMC (IPMI)")[1].startswith("  KCS: Keyboard Controller Style, IPMI 2.0, I/O 0xca2")
    assert section(out, "OEM strings") == ["OEM strings (2)", "  Intel SandyBridge/Patsburg/Romley",
                                           "  Supermicro motherboard-X9 Series"]


def tpm(description):
    # Vendor "ACME", spec 2.0, firmware 0x00070002.0x00000000, description, characteristics, OEM.
    return structure(43, {0x04: b"ACME", 0x08: 2, 0x09: 0, 0x0A: (0x00070002, 4), 0x0E: (0, 4), 0x12: 1,
                          0x13: (0x10, 8), 0x1B: (0, 4)}, length=0x1F, handle=0x30, strings=(description,))


def test_the_report_shows_a_tpm_and_mixed_error_correction(run, tmp_path):
    arrays = [structure(16, {0x04: 3, 0x05: 3, 0x06: ecc, 0x07: (0x100000, 4), 0x0B: (0xFFFE, 2), 0x0D: (2, 2)},
                        length=0x17, handle=0x40 + n) for n, ecc in enumerate((6, 3))]  # multi-bit ECC, none
    oem = structure(11, {0x04: 2}, length=0x05, handle=0x50, strings=("plain", HOSTILE))
    path = table_file(tmp_path, tpm(HOSTILE), oem, *arrays)
    out = run("inventory", path)[1]
    assert section(out, "OEM strings") == ["OEM strings (2)", "  plain", "  " + HOSTILE_SHOWN]
    (line,) = section(out, "TPM")[1:]
    assert line.startswith("  TPM 2.0, vendor ACME, ") and line.endswith(HOSTILE_SHOWN)
    assert "  Error correction      unknown or not the same in every array" in section(out, "Memory slots")


@pytest.mark.parametrize("path", sorted(DATA.glob("*.bin")), ids=lambda p: p.stem)
def test_corpus_reports_count_what_their_tables_hold(run, path):
    full = json.loads(run("inventory", path, "--format", "json")[1])
    out = run("inventory", path)[1]
    if full["system_slots"]:
        used = sum(slot["current_usage"] == "In use" for slot in full["system_slots"])
        assert f"System slots ({len(full['system_slots'])}, {used} in use)" in out
    if full["totals"]["memory_slots"] == 0:  # the devices name an array handle the table does not hold
        assert "  Slots                 unknown: no memory device names these arrays\n" in out
    elif full["totals"]["memory_slots"] is not None:
        totals = full["totals"]
        assert f"{totals['memory_slots_populated']} of {totals['memory_slots']} populated" in out
    assert ("\nPower supplies (%d)" % len(full["power_supplies"]) in out) == bool(full["power_supplies"])


# --- JSON for programs and for people --------------------------------------------------------------


@pytest.mark.parametrize("format_", ["json", "view"])
def test_json_is_one_line_for_a_program_and_indented_for_a_person(run, monkeypatch, format_):
    status, compact, err = run("inventory", "--sample", "--format", format_)
    assert (status, err) == (0, "") and compact.count("\n") == 1 and compact.endswith("\n")
    indented = run("inventory", "--sample", "--format", format_, "--indent")[1]
    assert indented.count("\n") > 50 and indented.startswith('{\n  "')
    monkeypatch.setattr(cli, "_is_terminal", lambda stream: True)
    assert run("inventory", "--sample", "--format", format_)[1] == indented
    assert json.loads(compact) == json.loads(indented)


def test_compact_json_escapes_what_a_terminal_must_not_meet(run, tmp_path):
    path = table_file(tmp_path, *baseboards(HOSTILE))
    out = run("inventory", path, "--format", "json")[1]
    assert "\x1b" not in out and "\u202e" not in out and "\x9b" not in out and out.count("\n") == 1
    assert json.loads(out)["baseboards"][0]["manufacturer"] == HOSTILE


@pytest.mark.parametrize("columns", ["123", "40"])
def test_help_takes_the_terminal_width_from_columns(monkeypatch, columns):
    monkeypatch.setenv("COLUMNS", columns)
    assert cli._terminal_columns() == int(columns)
    usage = cli.build_parser().format_usage() + cli.build_parser().format_help()
    assert max(len(line) for line in usage.splitlines() if not line.startswith(" " * 40)) <= max(int(columns), 60)


@pytest.mark.parametrize("path", sorted(DATA.glob("*.bin")), ids=lambda p: p.stem)
def test_every_structure_of_a_corpus_table_has_its_full_section(run, path):
    every = [a for type_ in range(256) for a in ("--type", str(type_))]
    status, out, err = run("inventory", path, *every)
    assert (status, err) == (0, "")
    document = json.loads(run("inventory", path, "--format", "json")[1])
    records = sum(len(value) if isinstance(value, list) else value["handle"] is not None
                  for key, value in document.items() if key not in ("source", "smbios_version", "warnings", "totals"))
    assert len(re.findall(r"^\S.* \(type \d+, handle 0x[0-9A-F]{4}\)$", out, flags=re.M)) == records
