"""The decoded view of the BIOS, system, baseboard and chassis structures: the
fields whose reading is not a plain table row (sizes, revisions, handle lists,
contained elements), their length rules and hostile values."""
import pytest

import brantel
from smbios_builder import blob, structure
from test_decoded_inventory import valid

KIB, MIB, GIB = 1024, 1024 ** 2, 1024 ** 3


def bios(fields, length):
    base = {0x04: 1, 0x05: 2, 0x06: (0xF000, 2), 0x08: 3}
    return valid(brantel.decode(blob(structure(0, {**base, **fields}, length=length, strings=["V", "1", "D"]))))["bios"]


@pytest.mark.parametrize("fields, length, expected", [
    ({0x09: 0x00}, 0x12, 64 * KIB),
    ({0x09: 0x3F}, 0x12, 4 * MIB),
    ({0x09: 0xFF}, 0x18, 16 * MIB),  # no extended field: the older reading of 0xFF
    ({0x09: 0xFF, 0x18: (0x0020, 2)}, 0x1A, 32 * MIB),
    ({0x09: 0xFF, 0x18: (0x4002, 2)}, 0x1A, 2 * GIB),
    ({0x09: 0xFF, 0x18: (0x8001, 2)}, 0x1A, None),  # reserved unit
    ({0x09: 0xFF, 0x18: (0xFFFF, 2)}, 0x1A, None),
    ({0x09: 0x3F, 0x18: (0x4002, 2)}, 0x1A, 4 * MIB),  # the byte rules unless it is 0xFF
    ({}, 0x09, None),  # cut before the size byte
])
def test_bios_rom_size(fields, length, expected):
    assert bios(fields, length)["rom_size_bytes"] == expected


@pytest.mark.parametrize("segment, address, runtime", [
    (0xF000, 0xF000, 64 * KIB), (0xE000, 0xE000, 128 * KIB), (0xEA52, 0xEA52, 88800),
    (0x0000, None, None), (0xFFFF, 0xFFFF, 16),
])
def test_bios_starting_segment_and_runtime_size(segment, address, runtime):
    found = bios({0x06: (segment, 2)}, 0x12)
    assert (found["starting_address_segment"], found["runtime_size_bytes"]) == (address, runtime)


@pytest.mark.parametrize("fields, length, bios_release, firmware_release", [
    ({0x14: 5, 0x15: 17, 0x16: 1, 0x17: 2}, 0x18, "5.17", "1.2"),
    ({0x14: 0xFF, 0x15: 0xFF, 0x16: 0xFF, 0x17: 0xFF}, 0x18, None, None),  # not supported
    ({0x14: 2, 0x15: 0xFF}, 0x18, "2.255", "0.0"),  # only both 0xFF means unsupported
    ({0x14: 5, 0x15: 17}, 0x15, None, None),  # cut inside the pair
])
def test_bios_and_firmware_releases(fields, length, bios_release, firmware_release):
    found = bios(fields, length)
    assert (found["system_bios_release"], found["embedded_controller_firmware_release"]) == (
        bios_release, firmware_release)


def test_bios_characteristics_name_the_set_bits_and_skip_the_vendor_bits():
    bits = (1 << 3) | (1 << 7) | (1 << 31) | (1 << 32) | (1 << 63)
    found = bios({0x0A: (bits, 8), 0x12: 0x81, 0x13: 0x90}, 0x14)
    assert found["characteristics"] == ["BIOS Characteristics are not supported", "PCI is supported", "NEC PC-98"]
    assert found["characteristics_extension_byte_1"] == ["ACPI is supported", "Smart battery is supported"]
    assert found["characteristics_extension_byte_2"] == ["SMBIOS table describes a virtual machine"]  # bit 7 reserved
    assert bios({}, 0x12)["characteristics_extension_byte_1"] is None


@pytest.mark.parametrize("code, expected", [(0x06, "Power Switch"), (0x07, "PCI PME#"), (0x02, None),
                                            (0x00, None), (0x09, None), (0xFF, None)])
def test_wake_up_type(code, expected):
    system = structure(1, {0x04: 1, 0x18: code}, length=0x19, handle=1, strings=["M"])
    assert valid(brantel.decode(blob(system)))["system"]["wake_up_type"] == expected


def baseboard(fields, length):
    board = structure(2, {0x04: 1, **fields}, length=length, handle=2, strings=["Maker", "Slot 7"])
    return valid(brantel.decode(blob(board)))["baseboards"][0]


@pytest.mark.parametrize("fields, length, count, handles", [
    ({0x0E: 2, 0x0F: (0x0010, 2), 0x11: (0x0011, 2)}, 0x13, 2, [0x10, 0x11]),
    ({0x0E: 3, 0x0F: (0x0010, 2), 0x11: (0x0011, 2)}, 0x13, 3, [0x10, 0x11]),  # more counted than held
    ({0x0E: 1, 0x0F: (0x0010, 2), 0x11: (0x0011, 2)}, 0x13, 1, [0x10]),  # a longer area than counted
    ({0x0E: 0xFF}, 0x10, 0xFF, []),  # one byte of a handle
    ({0x0E: 0}, 0x0F, 0, []),
    ({}, 0x0E, None, None),
])
def test_contained_object_handles(fields, length, count, handles):
    found = baseboard(fields, length)
    assert (found["number_of_contained_object_handles"], found["contained_object_handles"]) == (count, handles)


def test_baseboard_features_location_and_chassis_handle():
    found = baseboard({0x09: 0xFF, 0x0A: 2, 0x0B: (0xFFFF, 2), 0x0D: 0x0A}, 0x0F)
    assert found["feature_flags"] == ["Hosting board", "Requires at least one daughter board or auxiliary card",
                                      "Removable", "Replaceable", "Hot swappable"]  # bits 5-7 reserved
    assert (found["location_in_chassis"], found["chassis_handle"], found["type"]) == ("Slot 7", None, "Motherboard")
    assert baseboard({0x0B: (0x0003, 2)}, 0x0F)["chassis_handle"] == 3


def chassis(fields, length, strings=("Maker", "SKU-1")):
    case = structure(3, {0x04: 1, **fields}, length=length, handle=3, strings=list(strings))
    return valid(brantel.decode(blob(case)))["chassis"][0]


@pytest.mark.parametrize("elements, count, size, expected", [
    (b"\x0A\x01\x02", 1, 3, [{"type": "Motherboard", "minimum": 1, "maximum": 2}]),
    # Bit 7 selects a structure type: 0x80 | 39 is a power supply; extra element bytes are skipped.
    (b"\xA7\x01\x04\xEE\x83\x00\x00\xEE", 2, 4,
     [{"type": "System Power Supply", "minimum": 1, "maximum": 4},
      {"type": "System Enclosure or Chassis", "minimum": 0, "maximum": 0}]),
    (b"\x00\x00\x00", 1, 3, [{"type": None, "minimum": 0, "maximum": 0}]),  # board type 0: no name
    (b"\xD5\xFF\xFF", 1, 3, [{"type": None, "minimum": 255, "maximum": 255}]),  # structure type 85: undefined
    (b"\x0A\x01", 1, 2, [{"type": "Motherboard", "minimum": 1, "maximum": None}]),  # a record cut short
])
def test_contained_elements_and_the_sku_after_them(elements, count, size, expected):
    fields = {0x13: count, 0x14: size, 0x15: elements, 0x15 + len(elements): 2}
    found = chassis(fields, 0x16 + len(elements))
    assert (found["contained_element_count"], found["contained_elements"], found["sku"]) == (count, expected, "SKU-1")


def test_contained_elements_counted_past_the_structure_stop_at_its_end():
    found = chassis({0x13: 200, 0x14: 255, 0x15: b"\x0A\x01\x01"}, 0x18)
    assert found["contained_elements"] == [] and found["sku"] is None
    found = chassis({0x13: 3, 0x14: 3, 0x15: b"\x0A\x01\x01\x09\x00\x02"}, 0x1B)
    assert [element["type"] for element in found["contained_elements"]] == ["Motherboard", "Daughter Board"]


@pytest.mark.parametrize("fields, length, expected", [
    ({0x05: 0x83, 0x09: 3, 0x0A: 4, 0x0B: 5, 0x0C: 3, 0x0D: (0xDEADBEEF, 4), 0x11: 2, 0x12: 1}, 0x15,
     {"type": "Desktop", "lock_present": True, "boot_up_state": "Safe", "power_supply_state": "Warning",
      "thermal_state": "Critical", "security_status": "None", "oem_defined": 0xDEADBEEF, "height_u": 2,
      "number_of_power_cords": 1}),
    ({0x05: 0x02, 0x09: 2, 0x0A: 0, 0x0B: 7, 0x0C: 2, 0x11: 0, 0x12: 0}, 0x15,
     {"type": None, "lock_present": False, "boot_up_state": None, "power_supply_state": None,
      "thermal_state": None, "security_status": None, "oem_defined": 0, "height_u": None,
      "number_of_power_cords": None}),
    ({0x05: 0x17, 0x09: 3}, 0x09,  # a 2.0 chassis: no states
     {"type": "Rack Mount Chassis", "lock_present": False, "boot_up_state": None, "oem_defined": None}),
])
def test_chassis_states_and_sizes(fields, length, expected):
    found = chassis(fields, length)
    assert {key: found[key] for key in expected} == expected
