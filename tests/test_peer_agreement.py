"""Every real table against the peer decoder's text beside it: every structure
the peer prints appears exactly once in our document, and every value both
print agrees, or its disagreement is one of the explained classes below.

Run with -s for the counts (types compared, structures covered, facts compared)."""
import pytest

import brantel
import peer_text
from brantel._inventory_decoder import layouts
from conftest import CORPUS, real_tables

LAYOUTS = layouts()
TABLES = real_tables()

# (type, key) -> (why we disagree, who is right by the reference). A class
# listed here is tolerated; anything else fails the test. One line per class:
#   (17, "size_bytes"): ("the peer prints 2^31 MiB as ...", "ours, by 7.18.5"),
EXPLAINED = {
    (5, "error_correcting_capabilities"): ("the peer prints a byte with no bit set as \"None\", as it prints bit 2",
                                           "ours: no capability bit of 7.6.2 is set"),
    (5, "enabled_error_correcting_capabilities"): ("as error_correcting_capabilities", "ours, by 7.6.2"),
    (9, "bus_address"): ("no address written as 0xFF in each field with a byte-wide segment (00ff:ff:1f.7): "
                         "the peer prints it", "ours (null): 0FFh in each of the three fields means none, by 7.10"),
    (20, "range_size_bytes"): ("an ending address below the starting one: the peer subtracts modulo 2^32 KiB",
                               "ours (null): the structure describes no range, by 7.21"),
    (34, "description"): ("a management device whose length byte says 16 for an 11-byte structure: the peer "
                          "takes its length as 11 and reads the description from the bytes at 0x0B; we read the "
                          "string set after the 16 bytes the structure announces", "ours, by the structure's length"),
}


def comparisons():
    for path in TABLES:
        peer = peer_text.structures(path.with_suffix(".dmidecode.txt"))
        yield path, peer_text.compare(brantel.decode(path.read_bytes()), peer, LAYOUTS)


@pytest.mark.parametrize("path", TABLES, ids=lambda path: path.stem)
def test_every_peer_structure_is_in_the_document_once_and_agrees(path):
    peer = peer_text.structures(path.with_suffix(".dmidecode.txt"))
    result = peer_text.compare(brantel.decode(path.read_bytes()), peer, LAYOUTS)
    assert result.missing == [] and result.extra == []
    assert result.structures == len(peer)
    unexplained = {key: found[:3] for key, found in result.disagreements.items() if key not in EXPLAINED}
    assert unexplained == {}


def test_counts_of_the_comparison(capsys):
    structures = facts = 0
    types = set()
    classes = {}
    for _, result in comparisons():
        structures += result.structures
        facts += result.facts
        types |= result.types
        for key, found in result.disagreements.items():
            classes[key] = classes.get(key, 0) + len(found)
    decoded = sum(layout["decoded"] for layout in LAYOUTS)
    with capsys.disabled():
        print("\npeer comparison: %d tables, %d types decoded (%d compared), %d structures covered, "
              "%d facts compared, disagreement classes %s" % (len(TABLES), decoded, len(types), structures,
                                                               facts, classes or "none"))
    assert facts > 0 and structures > 0
    if CORPUS.is_dir():  # an explanation whose disagreement has gone is stale
        assert set(EXPLAINED) <= set(classes)


@pytest.mark.parametrize("line, label, text, lines", [
    ("\tSize: 8 GB", "Size", "8 GB", []),
    ("\tCharacteristics:\n\t\tPCI is supported\n\t\tBIOS is upgradeable", "Characteristics", "",
     ["PCI is supported", "BIOS is upgradeable"]),
    ("\tPart Number: M471A2K43CB1-CRC    ", "Part Number", "M471A2K43CB1-CRC    ", []),
    ("\tDescription: a: b", "Description", "a: b", []),
])
def test_peer_lines_are_read(tmp_path, line, label, text, lines):
    path = tmp_path / "x.dmidecode.txt"
    path.write_text("# header\n\nHandle 0x0004, DMI type 17, 40 bytes\nMemory Device\n%s\n\n" % line)
    (found,) = peer_text.structures(path)
    assert (found.handle, found.type, found.length, found.title) == (4, 17, 40, "Memory Device")
    assert (found.fields[label].text, found.fields[label].lines) == (text, lines)


@pytest.mark.parametrize("normaliser, text, expected", [
    (peer_text.as_size, "8 GB", 8 * 1024 ** 3), (peer_text.as_size, "8192 MB", 8 * 1024 ** 3),
    (peer_text.as_size, "256 kB", 256 * 1024), (peer_text.as_size, "No Module Installed", 0),
    (peer_text.as_size, "Unknown", None), (peer_text.as_integer, "2400 MT/s", 2400),
    (peer_text.as_integer, "0x0003", 3), (peer_text.as_integer, "Not Provided", None),
    (peer_text.as_voltage, "1.2 V", 1200), (peer_text.as_voltage, "1.35 V", 1350),
    (peer_text.as_voltage, "Unknown", None), (peer_text.as_enum, "DDR4", "DDR4"),
    (peer_text.as_enum, "<OUT OF SPEC>", None), (peer_text.as_lower, "0000:00:1F.0", "0000:00:1f.0"),
])
def test_normalisers(normaliser, text, expected):
    assert normaliser(peer_text.PeerValue(text, [])) == expected


def test_a_disagreement_and_a_missing_structure_are_found(tmp_path):
    from smbios_builder import blob, structure
    data = blob(structure(17, {0x0C: (8192, 2), 0x10: 1}, length=0x22, handle=4, strings=["DIMM A"]))
    path = tmp_path / "x.dmidecode.txt"
    path.write_text("Handle 0x0004, DMI type 17, 34 bytes\nMemory Device\n\tSize: 4 GB\n\tLocator: DIMM A\n\n"
                    "Handle 0x0009, DMI type 2, 8 bytes\nBase Board Information\n\n")
    result = peer_text.compare(brantel.decode(data), peer_text.structures(path), LAYOUTS)
    assert result.disagreements == {(17, "size_bytes"): [(4, 8 * 1024 ** 3, 4 * 1024 ** 3)]}
    assert result.missing == [((2, 9), 0, 1)] and result.facts == 2


@pytest.mark.parametrize("key, text, lines, ours, agrees", [
    ((4, "family"), "Xeon MP", [], "Intel Xeon processor MP", True),
    ((4, "family"), "Zen", [], "AMD Zen Processor Family", True),
    ((4, "family"), "Pentium III Xeon", [], "Pentium III Xeon processor", True),
    ((4, "family"), "Xeon", [], "Intel Xeon processor MP", False),
    ((4, "family"), "Core 2", [], None, True),
    ((4, "voltage_mv"), "3.3 V 2.9 V", [], [3300, 2900], True),
    ((4, "voltage_mv"), "1.1 V", [], 1100, True),
    ((4, "voltage_mv"), "3.3 V", [], [3300], True),
    ((4, "voltage_mv"), "3.3 V", [], [5000, 3300], False),
    ((4, "upgrade"), "None", [], "None", True),
    ((4, "upgrade"), "370-pin Socket", [], "370-pin socket", True),
    ((4, "upgrade"), "Socket BGA1155", [], "Socket LGA1155", True),
    ((4, "characteristics"), "None", [], ["Unknown"], True),
    ((7, "current_sram_type"), "Pipeline Burst Synchronous", [], ["Pipeline Burst", "Synchronous"], True),
    ((7, "associativity"), "8-way Set-associative", [], "8-way Set-Associative", True),
    ((7, "level"), "Enabled, Not Socketed, Level 3", [], 3, True),
    ((7, "socketed"), "Enabled, Not Socketed, Level 3", [], False, True),
    ((0, "starting_address_segment"), "0xF0000", [], 0xF000, True),
    ((0, "characteristics_extension_byte_2"), "", ["PCI is supported", "ACPI is supported"], None, True),
    ((0, "characteristics_extension_byte_1"), "", ["PCI is supported", "ACPI is supported"],
     ["ACPI is supported"], True),
    ((2, "chassis_handle"), "0xFFFF", [], None, True),
    ((2, "contained_object_handles"), "2", ["0x0010", "0x0011"], [16, 17], True),
])
def test_normalisers_of_names_the_peer_spells_its_own_way(key, text, lines, ours, agrees):
    theirs = peer_text.NORMALISERS[key](peer_text.PeerValue(text, lines))
    assert (ours == theirs) is agrees and (ours != theirs) is not agrees
