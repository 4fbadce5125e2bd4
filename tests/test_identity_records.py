"""BIOS, system values, baseboard and chassis: the length guard of every field,
the text forms, strings with number 0 rendering "None", short type 2 and 3
structures that do not end the walk, and the SKU placed after contained elements
whatever the SMBIOS version."""
import pytest

from smbios_builder import blob, elements, items, parse_inventory, structure
from brantel._sysprobe_internal import parse_windows_hardware_info


def inventory(*structures, version=(3, 4)):
    return parse_inventory(parse_windows_hardware_info(blob(*structures, version=version), b""))


def only_record(values, key):
    (record,) = elements(values[key])
    return items(record)


@pytest.mark.parametrize("length, number, expected", [(4, 1, None), (5, 0, ["0", "None"]), (5, 1, ["0", "AMI"])])
def test_bios_record_needs_five_bytes(length, number, expected):
    values = inventory(structure(0, {4: number}, length=length, strings=["AMI"]))
    assert (elements(values["bios_list"]) or [None])[0] == (expected and "\x02".join(expected))


SYSTEM_FIELDS = {4: 1, 5: 2, 6: 3, 7: 4, 8: bytes([0xAB] + list(range(1, 15)) + [0xCD]), 0x18: 6, 0x19: 5, 0x1A: 6}
SYSTEM_STRINGS = ["Maker", "Product", "Version", "Serial", "Sku", "Family"]
SYSTEM_EXPECTED = [  # key, read when length >=, value
    ("system_manufacturer", 5, "Maker"), ("system_product_name", 6, "Product"),
    ("system_serial_number", 8, "Serial"), ("system_uuid", 24, "ab0102030405060708090a0b0c0d0ecd"),
    ("system_sku_number", 26, "Sku"), ("system_family", 27, "Family"),
]


@pytest.mark.parametrize("length", [4, 5, 6, 7, 8, 23, 24, 25, 26, 27])
def test_system_values_follow_the_length_guards(length):
    values = inventory(structure(1, SYSTEM_FIELDS, length, 1, SYSTEM_STRINGS))
    for key, guard, value in SYSTEM_EXPECTED:
        assert values[key] == (value if length >= guard else "None"), key


def test_a_later_system_structure_overwrites_what_it_is_long_enough_for():
    first = structure(1, SYSTEM_FIELDS, 27, 1, SYSTEM_STRINGS)
    second = structure(1, {4: 0, 5: 1, 7: 1}, length=8, strings=["Second"])
    values = inventory(first, second)
    assert [values[key] for key, _, _ in SYSTEM_EXPECTED] == [
        "None", "Second", "Second", "ab0102030405060708090a0b0c0d0ecd", "Sku", "Family"]


BASEBOARD_FIELDS = {4: 1, 5: 2, 6: 3, 7: 4, 8: 5, 0x0B: (768, 2), 0x0D: 10, 0x0E: 7,
                    0x0F: (5, 2), 0x11: (6, 2), 0x13: (0x1234, 2)}
BASEBOARD_EXPECTED = [(5, "Maker"), (6, "Board"), (7, "v1"), (8, "SN"), (13, "768"), (14, "10"), (15, "7")]


@pytest.mark.parametrize("length", [4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21])
def test_baseboard_fields_follow_the_length_guards(length):
    record = structure(2, BASEBOARD_FIELDS, length, 512, ["Maker", "Board", "v1", "SN", "Tag"])
    handles = ["5", "6", "4660"][:max(0, (length - 15) // 2)]  # the count byte (7) plays no part
    assert only_record(inventory(record), "baseboard_list") == (
        ["2", "512"] + [value if length >= guard else "None" for guard, value in BASEBOARD_EXPECTED]
        + ["\x04" + "\x04".join(handles)])


def test_baseboard_strings_with_number_zero_render_none():
    record = structure(2, {4: 0, 5: 1, 6: 0, 7: 0, 0x0E: 0}, handle=2, strings=["Board"])
    assert only_record(inventory(record), "baseboard_list") == [
        "2", "2", "None", "Board", "None", "None", "0", "0", "0", "\x04"]


CHASSIS_FIELDS = {4: 1, 5: 0x83, 6: 2, 7: 3, 8: 4, 0x0D: (0x01020304, 4), 0x11: 2, 0x13: 0, 0x14: 0, 0x15: 5}
CHASSIS_EXPECTED = [(5, "Maker"), (6, "131"), (7, "v2"), (8, "SN"), (9, "Tag"), (17, "16909060"), (18, "2"),
                    (22, "SKU")]


@pytest.mark.parametrize("length", [4, 5, 6, 9, 10, 16, 17, 18, 19, 20, 21, 22])
def test_chassis_fields_follow_the_length_guards(length):
    record = structure(3, CHASSIS_FIELDS, length, 768, ["Maker", "v2", "SN", "Tag", "SKU"])
    assert only_record(inventory(record), "chassis_list") == (
        ["3", "768"] + [value if length >= guard else "None" for guard, value in CHASSIS_EXPECTED])


def test_chassis_strings_with_number_zero_render_none():
    record = structure(3, {4: 0, 5: 3, 6: 0, 7: 0, 8: 0}, length=0x15, handle=3)
    assert only_record(inventory(record), "chassis_list") == [
        "3", "3", "None", "3", "None", "None", "None", "0", "0", "None"]


@pytest.mark.parametrize("version", [(2, 3), (2, 4), (3, 0)])
@pytest.mark.parametrize("count, record_length, length, sku", [
    (2, 3, 26, "None"), (2, 3, 27, "None"), (2, 3, 28, "SKU"),  # SKU number at 21 + 6
    (2, 0, 22, "SKU"), (0, 3, 22, "SKU"), (0, 0, 21, "None"), (255, 255, 255, "None"),
])
def test_chassis_sku_follows_the_contained_elements(version, count, record_length, length, sku):
    fields = {5: 3, 0x13: count, 0x14: record_length, 0x15: b"\x0a\xff\x01" * 2}
    fields[min(0x15 + count * record_length, length - 1)] = 1
    record = structure(3, fields, length=length, handle=3, strings=["SKU"])
    assert only_record(inventory(record, version=version), "chassis_list")[-1] == sku


def test_short_baseboard_and_chassis_do_not_end_the_walk():
    values = inventory(structure(2, {4: 1}, length=13, strings=["M"]), structure(3, {}, length=4),
                       structure(0, {4: 1}, strings=["after"]))
    assert only_record(values, "baseboard_list")[-4:] == ["0", "None", "None", "\x04"]
    assert only_record(values, "chassis_list") == ["3", "0"] + ["None"] * 8
    assert elements(values["bios_list"]) == ["0\x02after"]
