"""The decoded memory structures on built tables: the irregular rules (module
sizes, controller handles, array capacity, mapped address ranges), the length
and version guards, and the memory totals."""
import pytest

import brantel
from smbios_builder import blob, structure
from test_decoded_inventory import valid

KIB, MIB, GIB = 1024, 1024 ** 2, 1024 ** 3


def decode(*structures):
    return valid(brantel.decode(blob(*structures)))


def one(key, *structures):
    (record,) = decode(*structures)[key]
    return record


CONTROLLER = {0x04: 0x06, 0x05: 0x08, 0x06: 0x03, 0x07: 0x04, 0x08: 0x0B, 0x09: (0x0014, 2),
              0x0B: (0x0500, 2), 0x0D: 0x03, 0x0E: 2, 0x0F: (0x0009, 2), 0x11: (0x000A, 2), 0x13: 0x08}


@pytest.mark.parametrize("length, handles, enabled", [
    (0x14, [9, 10], ["Single-Bit Error Correcting"]),   # 2.1 on: the enabled capabilities follow the handles
    (0x13, [9, 10], None),                              # 2.0: no enabled capabilities
    (0x12, [9], None),                                  # cut inside the handles: as many as it holds
    (0x0F, [], None),
])
def test_memory_controller_handles_and_what_follows_them(length, handles, enabled):
    controller = one("memory_controllers", structure(5, CONTROLLER, length=length))
    assert controller["memory_module_configuration_handles"] == handles
    assert controller["enabled_error_correcting_capabilities"] == enabled
    assert controller["maximum_memory_module_size_bytes"] == 2 ** 11 * MIB
    assert controller["memory_module_voltage_mv"] == [5000, 3300]
    assert controller["supported_speeds"] == ["70ns", "50ns"]
    assert controller["supported_memory_types"] == ["DIMM", "SDRAM"]


def test_a_controller_with_more_handles_than_slots_counted_reads_the_count():
    controller = one("memory_controllers", structure(5, {**CONTROLLER, 0x0E: 1}, length=0x14))
    assert controller["memory_module_configuration_handles"] == [9]
    # The enabled capabilities sit after the one handle counted: here, the second handle's low byte.
    assert controller["enabled_error_correcting_capabilities"] == ["Unknown", "Single-Bit Error Correcting"]


@pytest.mark.parametrize("code, installed, enabled, double_bank", [
    (0x0A, GIB, GIB, False),
    (0x8A, GIB, GIB, True),
    (0x7D, None, None, False),      # not determinable
    (0x7E, None, 0, False),         # installed, none enabled: the installed size is unknown
    (0x7F, 0, 0, None),             # not installed
    (0x6C, 2 ** (0x6C + 20), 2 ** (0x6C + 20), False),  # past 64 bits, exact
])
def test_memory_module_sizes(code, installed, enabled, double_bank):
    module = one("memory_modules", structure(6, {0x04: 1, 0x09: code, 0x0A: code}, length=0x0C, strings=["A0"]))
    assert (module["installed_size_bytes"], module["enabled_size_bytes"], module["double_bank"]) == \
        (installed, enabled, double_bank)


@pytest.mark.parametrize("banks, expected", [(0x01, [0, 1]), (0xF2, [2]), (0x3F, [3]), (0xFF, [])])
def test_memory_module_bank_connections(banks, expected):
    module = one("memory_modules", structure(6, {0x05: banks, 0x06: 60, 0x07: (0x0500, 2), 0x0B: 0x04}, length=0x0C))
    assert module["bank_connections"] == expected
    assert (module["current_speed_ns"], module["current_memory_type"], module["error_status"]) == \
        (60, ["DIMM", "SDRAM"], ["See event log"])


@pytest.mark.parametrize("fields, length, expected", [
    ({0x07: (0x00400000, 4)}, 0x17, 4 * GIB),
    ({0x07: (0x80000000, 4), 0x0F: (3 * 2 ** 40, 8)}, 0x17, 3 * 2 ** 40),    # the extended capacity, in bytes
    ({0x07: (0x80000000, 4)}, 0x0F, None),                                 # 2.1: no extended field to read
    ({0x07: (0x7FFFFFFF, 4)}, 0x0F, 0x7FFFFFFF * KIB),
])
def test_physical_memory_array_capacity(fields, length, expected):
    array = one("physical_memory_arrays", structure(16, {0x04: 3, 0x05: 3, 0x06: 6, **fields}, length=length))
    assert array["maximum_capacity_bytes"] == expected
    assert (array["location"], array["use"], array["error_correction_type"]) == \
        ("System board or motherboard", "System memory", "Multi-bit ECC")


EXTENDED = 0xFFFFFFFF


@pytest.mark.parametrize("fields, length, expected", [
    ({0x04: (0x400, 4), 0x08: (0x3FFFFF, 4)}, 0x0F, (MIB, 4 * GIB - 1, 4 * GIB - MIB)),
    ({0x04: (EXTENDED, 4), 0x08: (EXTENDED, 4), 0x0F: (2 ** 40, 8), 0x17: (2 ** 41 - 1, 8)}, 0x1F,
     (2 ** 40, 2 ** 41 - 1, 2 ** 40)),
    ({0x04: (EXTENDED, 4), 0x08: (EXTENDED, 4)}, 0x0F, (None, None, None)),   # extended fields cut off
    ({0x04: (0x400, 4), 0x08: (0x200, 4)}, 0x0F, (MIB, 0x200 * KIB + KIB - 1, None)),  # ends below its start
    ({0x04: (EXTENDED, 4), 0x0F: (0, 8), 0x17: (2 ** 64 - 1, 8)}, 0x1F, (0, 2 ** 64 - 1, 2 ** 64)),
    ({0x04: (0, 4), 0x08: (EXTENDED, 4)}, 0x0F, (0, 2 ** 42 - 1, 2 ** 42)),
])
def test_mapped_address_ranges(fields, length, expected):
    array_range = one("memory_array_mapped_addresses", structure(19, {**fields, 0x0C: (0x10, 2), 0x0E: 2},
                                                                 length=length))
    assert (array_range["starting_address"], array_range["ending_address"], array_range["range_size_bytes"]) == \
        expected
    # The device mapping has the same rule with its extended fields 4 bytes further on.
    moved = {offset + 4 if offset >= 0x0F else offset: value for offset, value in fields.items()}
    device_range = one("memory_device_mapped_addresses", structure(20, moved, length=length + 4 if length > 0x13
                                                                   else 0x13))
    assert (device_range["starting_address"], device_range["ending_address"], device_range["range_size_bytes"]) == \
        expected


@pytest.mark.parametrize("row, interleave, depth, expected", [
    (1, 2, 1, (1, 2, 1)),
    (0, 0, 0, (None, 0, 0)),           # row 0 is reserved; position 0: not interleaved
    (0xFF, 0xFF, 0xFF, (None, None, None)),
])
def test_device_mapped_address_positions(row, interleave, depth, expected):
    mapping = one("memory_device_mapped_addresses",
                  structure(20, {0x0C: (0x20, 2), 0x0E: (0xFFFF, 2), 0x10: row, 0x11: interleave, 0x12: depth}))
    found = (mapping["partition_row_position"], mapping["interleave_position"], mapping["interleaved_data_depth"])
    assert found == expected and mapping["device_handle"] == 0x20 and mapping["array_mapped_address_handle"] is None


@pytest.mark.parametrize("type_, fields, expected", [
    (18, {0x04: 0x0E, 0x05: 0x03, 0x06: 0x05, 0x07: (0, 4), 0x0B: (0x80000000, 4), 0x0F: (0x1000, 4),
          0x13: (0x80000000, 4)}, ("Uncorrectable error", "Device level", "Partial write", None, None, 0x1000, None)),
    (33, {0x04: 0x03, 0x05: 0x02, 0x06: 0x02, 0x07: (0xABCD, 4), 0x0B: (2 ** 63, 8), 0x13: (2 ** 40, 8),
          0x1B: (64, 4)}, ("OK", None, None, 0xABCD, None, 2 ** 40, 64)),
])
def test_memory_errors(type_, fields, expected):
    key = "memory_errors_32_bit" if type_ == 18 else "memory_errors_64_bit"
    error = one(key, structure(type_, fields))
    assert tuple(error[k] for k in ("error_type", "error_granularity", "error_operation", "vendor_syndrome",
                                    "memory_array_error_address", "device_error_address",
                                    "error_resolution_bytes")) == expected


@pytest.mark.parametrize("count, length, loads", [(2, 0x0D, [4, 1]), (3, 0x0D, [4, 1]), (0, 0x0D, [])])
def test_memory_channel_devices(count, length, loads):
    channel = one("memory_channels", structure(37, {0x04: 0x03, 0x05: 8, 0x06: count, 0x07: 4, 0x08: (0x30, 2),
                                                   0x0A: 1, 0x0B: (0xFFFF, 2)}, length=length))
    assert channel["channel_type"] == "RamBus" and channel["memory_device_count"] == count
    assert [device["load"] for device in channel["devices"]] == loads
    assert [device["memory_device_handle"] for device in channel["devices"]] == [0x30, None][:len(loads)]


def device(handle, array, size_mib, **fields):
    return structure(17, {0x04: (array, 2), 0x0C: (size_mib, 2), **fields}, length=0x28, handle=handle)


def array(handle, use, capacity_kib, length=0x17):
    return structure(16, {0x05: use, 0x07: (capacity_kib, 4), 0x0B: (0xFFFE, 2), 0x0D: (2, 2)}, length=length,
                     handle=handle)


@pytest.mark.parametrize("structures, expected", [
    # Two system arrays and a video array: the video array and its device are no system memory slots.
    # Devices pointing at no array at all (a hypervisor's table) are the system's slots.
    ([array(418, 3, 3 * MIB), device(10, 37, 1024), device(11, 37, 0), device(12, 37, 0)], (3 * GIB, 3, 1)),
    ([array(1, 3, 8 * MIB), array(2, 3, 8 * MIB), array(3, 4, MIB), device(10, 1, 8192), device(11, 1, 0),
      device(12, 2, 0xFFFF), device(13, 3, 512), device(14, 0xFFFE, 4096)], (16 * GIB, 3, 1)),
    # A processor first: its tally reads keys of other records (a key read for the wrong one lost every slot).
    ([structure(4, {0x18: 0x41}, length=0x1A), array(1, 3, 4 * MIB), device(10, 1, 4096)], (4 * GIB, 1, 1)),
    # Devices before their array count as well; a capacity in an extended field the array lacks is unknown.
    ([device(10, 1, 4096), array(1, 3, 0x80000000, length=0x0F)], (None, 1, 1)),
    ([device(10, 1, 4096)], (None, None, None)),                  # no array: nothing known of slots
    ([array(3, 4, MIB), device(13, 3, 512)], (None, None, None)),
])
def test_memory_totals(structures, expected):
    totals = decode(*structures)["totals"]
    assert (totals["memory_capacity_bytes"], totals["memory_slots"], totals["memory_slots_populated"]) == expected


@pytest.mark.parametrize("length, present", [(0x22, set()), (0x28, {"minimum_voltage_mv", "configured_voltage_mv"}),
                                             (0x54, {"memory_technology", "volatile_size_bytes",
                                                     "module_manufacturer_id"}),
                                             (0x64, {"pmic0_manufacturer_id", "rcd_revision_number"})])
def test_memory_device_fields_by_length(length, present):
    fields = {0x04: (0x1000, 2), 0x06: (0xFFFE, 2), 0x08: (72, 2), 0x0A: (64, 2), 0x0C: (0x4000, 2),
              0x13: (0x2080, 2), 0x22: (1200, 2), 0x26: (1100, 2), 0x28: 0x03, 0x29: (0x0008, 2),
              0x2C: (0x9801, 2), 0x34: (0, 8), 0x3C: (16 * GIB, 8), 0x44: (2 ** 64 - 1, 8), 0x4C: (0, 8),
              0x5C: (0x2C80, 2), 0x5E: (0xFF00, 2), 0x60: (0x3280, 2), 0x62: (0x0012, 2)}
    record = one("memory_devices", structure(17, fields, length=length))
    expected = {"array_handle": 0x1000, "error_information_handle": None, "total_width_bits": 72,
                "data_width_bits": 64, "type_detail": ["Synchronous", "Registered (Buffered)"],
                "minimum_voltage_mv": 1200, "maximum_voltage_mv": None, "configured_voltage_mv": 1100,
                "memory_technology": "DRAM", "memory_operating_mode_capability": ["Volatile memory"],
                "module_manufacturer_id": 0x9801, "non_volatile_size_bytes": 0, "volatile_size_bytes": 16 * GIB,
                "cache_size_bytes": None, "logical_size_bytes": 0, "pmic0_manufacturer_id": 0x2C80,
                "pmic0_revision_number": None, "rcd_manufacturer_id": 0x3280, "rcd_revision_number": 0x12}
    guarded = {"minimum_voltage_mv": 0x24, "maximum_voltage_mv": 0x26, "configured_voltage_mv": 0x28}
    for key, value in expected.items():
        needs = guarded.get(key, 0x2B if key in ("memory_technology", "memory_operating_mode_capability") else
                            0x64 if key.startswith(("pmic", "rcd")) else 0x54 if key.endswith(("_id", "size_bytes"))
                            else 0x0C)
        assert record[key] == (value if length >= needs else None), key
    assert present <= {key for key, value in record.items() if value is not None}


def test_totals_read_each_key_of_equal_length_apart():
    # "status" (processors) and "handle" (arrays) have the same length: a lookup
    # cached per key length read one for the other, whichever came first.
    processor = structure(4, {0x05: 0x03, 0x18: 0x41}, length=0x1A, handle=5)
    totals = decode(processor, array(1, 3, 8 * MIB), device(10, 1, 8192), device(11, 1, 0))["totals"]
    assert totals["processors_enabled"] == 1
    assert (totals["memory_slots"], totals["memory_slots_populated"]) == (2, 1)


MY_TYPES = (5, 6, 8, 9, 10, 16, 17, 18, 19, 20, 33, 37, 41)


@pytest.mark.parametrize("type_", MY_TYPES)
def test_cut_and_hostile_structures_decode_within_the_schema(type_):
    # Every length from the bare header to past the longest layout, over bytes of all ones
    # (counts of 255, extended markers everywhere) and over a repeating pattern; string
    # numbers past the set; a string with control and bidi characters.
    strings = ["\x1b[31mred\x1b[0m \u202egnp.exe", "x" * 300]
    for filler in (0xFF, 0x5A, 0x00):
        structures = [structure(type_, {}, length=length, handle=length, strings=strings, filler=filler)
                      for length in range(4, 0x70)]
        document = decode(*structures)
        placed = sum(len(value) for key, value in document.items()
                     if isinstance(value, list) and key != "warnings")
        assert placed == len(structures)  # each structure once, under its list or as a generic record
