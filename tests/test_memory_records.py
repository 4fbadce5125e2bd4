"""Memory modules, memory devices and device sets: length guards, the asset tag
kept as a number, and the filing of devices into sets."""
import pytest

from smbios_builder import blob, elements, items, parse_inventory, structure
from brantel._sysprobe_internal import parse_windows_hardware_info


def inventory(*structures):
    return parse_inventory(parse_windows_hardware_info(blob(*structures), b""))


def test_memory_module_text_form():
    module = structure(6, {4: 1, 5: 0x12, 6: 0xEE, 7: (4, 2), 9: 7, 10: 7, 11: 0}, handle=0x40, strings=["DIMM 0"])
    assert elements(inventory(module)["memory_module_list"]) == ["\x02".join(
        ["6", "64", "DIMM 0", "18", "4", "7", "7", "0"])]


@pytest.mark.parametrize("length", range(4, 14))
def test_memory_module_fields_follow_the_length_guards(length):
    module = structure(6, {4: 0, 5: 1, 6: 0xEE, 7: (0x1234, 2), 9: 2, 10: 3, 11: 4}, length=length, handle=6)
    expected = [("None", 5), ("1", 6), ("4660", 9), ("2", 10), ("3", 11), ("4", 12)]
    (record,) = elements(inventory(module)["memory_module_list"])
    assert items(record) == ["6", "6"] + [text if length >= guard else "None" for text, guard in expected]


DEVICE_STRINGS = ["Locator", "Bank", "Maker", "Serial", "Part"]
# item text when read, offset, width (None: string number), read when length >=
DEVICE_FIELDS = [
    ("4097", 0x04, 2, 6), ("4098", 0x06, 2, 8), ("72", 0x08, 2, 10), ("64", 0x0A, 2, 12),
    ("9", 0x0E, 1, 15), ("2", 0x0F, 1, 16), ("Locator", 0x10, None, 17), ("Bank", 0x11, None, 18),
    ("26", 0x12, 1, 19), ("4099", 0x13, 2, 21), ("4100", 0x15, 2, 23), ("305419896", 0x54, 4, 88),
    ("Maker", 0x17, None, 24), ("Serial", 0x18, None, 25),
    ("9", 0x19, 1, 26),  # the asset tag's string number itself, past the string set
    ("Part", 0x1A, None, 27), ("5", 0x1B, 1, 28), ("32767", 0x0C, 2, 14), ("65536", 0x1C, 4, 32),
    ("3", 0x28, 1, 41), ("4101", 0x29, 2, 43),
]


def memory_device(length, handle=0x11):
    fields = {}
    for text, offset, width, _ in DEVICE_FIELDS:
        fields[offset] = DEVICE_STRINGS.index(text) + 1 if width is None else (int(text), width)
    return structure(17, fields, length=length, handle=handle, strings=DEVICE_STRINGS, filler=0xEE)


@pytest.mark.parametrize("length", [4, 6, 8, 10, 12, 14, 15, 16, 17, 18, 19, 21, 23, 24, 25, 26, 27, 28,
                                    32, 40, 41, 42, 43, 84, 87, 88, 92])
def test_memory_device_fields_follow_the_length_guards(length):
    (device_set,) = elements(inventory(memory_device(length))["memory_device_set_list"])
    set_id, device = device_set.split("\x04")
    assert set_id == ("2" if length >= 16 else "None")
    assert items(device) == ["17", "17"] + [text if length >= guard else "None"
                                            for text, _, _, guard in DEVICE_FIELDS]


def with_set(set_id, handle, length=0x28):
    device = bytearray(memory_device(length, handle))
    device[0x0F] = set_id
    return bytes(device)


def test_devices_are_filed_in_sets_by_identifier():
    values = inventory(with_set(0, 1), with_set(1, 2), with_set(0, 3), memory_device(15, 4),
                       with_set(255, 5), memory_device(14, 6))
    assert elements(values["memory_device_set_id_list"]) == ["0", "1", "None", "255"]
    sets = [device_set.split("\x04") for device_set in elements(values["memory_device_set_list"])]
    assert [[device_set[0]] + [items(device)[1] for device in device_set[1:]] for device_set in sets] == [
        ["0", "1", "3"], ["1", "2"], ["None", "4", "6"], ["255", "5"]]


def test_no_memory_device_leaves_both_set_lists_empty():
    values = inventory(structure(16, {4: 3}))
    assert values["memory_device_set_list"] == values["memory_device_set_id_list"] == "\x03"
