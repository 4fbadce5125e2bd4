"""Processor records: every field's length guard and the 25-item text form."""
import pytest

from smbios_builder import blob, elements, items, parse_inventory, structure
from brantel._sysprobe_internal import parse_windows_hardware_info

STRINGS = ["Socket", "Maker", "Serial", "Asset", "Part"]
# item text when read, offset, width (None: string number), read when length >=
FIELDS = [
    ("Socket", 0x04, None, 5), ("101", 0x19, 1, 26), ("Maker", 0x07, None, 8),
    ("67305985", 0x08, 4, 16), ("102", 0x11, 1, 18), ("1003", 0x14, 2, 22), ("65", 0x18, 1, 25),
    ("Serial", 0x20, None, 33), ("Asset", 0x21, None, 34), ("Part", 0x22, None, 35),
    ("104", 0x23, 1, 36), ("1005", 0x2A, 2, 44), ("106", 0x24, 1, 37), ("1007", 0x2C, 2, 46),
    ("108", 0x25, 1, 38), ("1009", 0x2E, 2, 48), ("1010", 0x30, 2, 50),
    ("1011", 0x1A, 2, 28), ("1012", 0x1C, 2, 30), ("1013", 0x1E, 2, 32),
]


def processor(length):
    # 0xEE everywhere the record reads nothing: the rest of the processor ID,
    # clocks, characteristics, family 2.
    fields = {}
    for text, offset, width, _ in FIELDS:
        if width is None:
            fields[offset] = STRINGS.index(text) + 1
        elif text == "67305985":
            fields[offset] = bytes([1, 2, 3, 4])
        else:
            fields[offset] = (int(text), width)
    return structure(4, fields, length=length, handle=0x0400, strings=STRINGS, filler=0xEE)


def cpu_items(*structures):
    values = parse_inventory(parse_windows_hardware_info(blob(*structures), b""))
    return [items(record) for record in elements(values["cpu_list"])]


@pytest.mark.parametrize("length", [4, 5, 8, 12, 15, 16, 18, 22, 25, 26, 28, 30, 32, 33, 34, 35, 36, 37,
                                    38, 42, 44, 46, 48, 49, 50, 51])
def test_fields_follow_the_length_guards(length):
    (record,) = cpu_items(processor(length))
    assert record == (["4", "1024"] + [text if length >= guard else "None" for text, _, _, guard in FIELDS]
                      + ["None", "None", "None"])


def test_cache_items_stay_none_when_cache_structures_are_present():
    cache = structure(7, {4: 1, 5: (0x180, 2)}, handle=0x0401, strings=["L1"])
    (record,) = cpu_items(cache, processor(0x30), cache)
    assert len(record) == 25 and record[-3:] == ["None", "None", "None"]


def test_string_errors_in_processor_fields_end_the_walk():
    with pytest.raises(IndexError):
        cpu_items(structure(4, {0x20: 9}, length=0x21, strings=["one"]))
