"""The decoded view of processors, caches and processor additional
information: the family 2 word, the two forms of the voltage byte, the cache
size granularity and its 3.1 double words, and the processor-specific block;
with the values where we and the peer decoder part, pinned."""
import pytest

import brantel
from smbios_builder import blob, structure
from test_decoded_inventory import valid

KIB, MIB = 1024, 1024 ** 2


def processor(fields, length=0x30, strings=("CPU1", "Maker", "Model")):
    base = {0x04: 1, 0x05: 3, 0x07: 2, 0x10: 3, 0x18: 0x41}
    decoded = valid(brantel.decode(blob(structure(4, {**base, **fields}, length=length, handle=4,
                                                  strings=list(strings)))))
    return decoded["processors"][0]


@pytest.mark.parametrize("fields, length, expected", [
    ({0x06: 0xB3}, 0x30, "Intel Xeon processor"),
    ({0x06: 0x6B}, 0x30, "AMD Zen Processor Family"),
    ({0x06: 0xFE, 0x28: (0x0101, 2)}, 0x30, "ARMv8"),
    ({0x06: 0xFE, 0x28: (0x0200, 2)}, 0x30, "RISC-V RV32"),
    ({0x06: 0xFE, 0x28: (0x00C6, 2)}, 0x30, "Intel Core i7 processor"),  # a byte code in the word
    ({0x06: 0xFE, 0x28: (0x0101, 2)}, 0x28, None),  # 0xFE, and no family 2 word to read
    ({0x06: 0xFE, 0x28: (0xFFFF, 2)}, 0x30, None),
    ({0x06: 0xB3, 0x28: (0x0101, 2)}, 0x30, "Intel Xeon processor"),  # the byte rules unless it is 0xFE
    ({0x06: 0xBE}, 0x30, None),  # reserved (the peer guesses "Core 2" or "K7")
    ({0x06: 0x02}, 0x30, None),  # Unknown
])
def test_processor_family(fields, length, expected):
    assert processor(fields, length)["family"] == expected


@pytest.mark.parametrize("code, expected", [
    (0x8B, 1100), (0x80, 0), (0xFF, 12700),  # bit 7: the current voltage in tenths of a volt
    (0x01, [5000]), (0x03, [5000, 3300]), (0x07, [5000, 3300, 2900]), (0x02, [3300]),
    (0x00, None), (0x08, None), (0x70, None),  # legacy form, no supported voltage flagged
])
def test_processor_voltage(code, expected):
    assert processor({0x11: code})["voltage_mv"] == expected


def test_processor_fields_of_the_reference():
    found = processor({0x06: 0xB3, 0x08: bytes.fromhex("F2060300FFFBEBBF"), 0x12: (100, 2), 0x19: 0x24,
                       0x1A: (0x0010, 2), 0x1C: (0xFFFF, 2), 0x1E: (0xFFFE, 2), 0x21: 2,
                       0x26: (0x00FC, 2), 0x30: (16, 2), 0x32: 3}, length=0x33)
    assert found["id"] == "f2060300fffbebbf"
    assert (found["type"], found["external_clock_mhz"], found["upgrade"]) == ("Central Processor", 100,
                                                                              "Socket LGA1155")
    assert (found["l1_cache_handle"], found["l2_cache_handle"], found["l3_cache_handle"]) == (0x10, None, None)
    assert found["characteristics"] == ["64-bit Capable", "Multi-Core", "Hardware Thread", "Execute Protection",
                                        "Enhanced Virtualization", "Power/Performance Control"]
    assert (found["asset_tag"], found["thread_enabled"], found["socket_type"]) == ("Maker", 16, "Model")


@pytest.mark.parametrize("fields, key, expected", [
    ({0x26: (0x0002, 2)}, "characteristics", ["Unknown"]),  # the peer prints "None"
    ({0x26: (0xFC01, 2)}, "characteristics", []),  # reserved bits only
    ({0x30: (0xFFFF, 2)}, "thread_enabled", None),
    ({0x30: (0, 2)}, "thread_enabled", None),
    ({0x12: (0, 2)}, "external_clock_mhz", None),
    ({0x19: 0x06}, "upgrade", "None"),  # a name of the reference, not a null
    ({0x19: 0x02}, "upgrade", None),
    ({0x19: 0x57}, "upgrade", "Socket BGA2833"),
    ({0x32: 9}, "socket_type", None),  # past the string set (with a warning)
])
def test_processor_special_values(fields, key, expected):
    assert processor(fields, length=0x33)[key] == expected


def test_processor_fields_of_later_versions_are_null_in_an_old_structure():
    found = processor({0x06: 0xB3, 0x11: 0x8B, 0x26: (0x00FC, 2), 0x30: (16, 2)}, length=0x1A)
    assert (found["family"], found["voltage_mv"]) == ("Intel Xeon processor", 1100)
    assert [found[key] for key in ("l1_cache_handle", "asset_tag", "characteristics", "thread_enabled",
                                   "socket_type")] == [None] * 5


def cache(fields, length=0x1B, version=(3, 4)):
    base = {0x04: 1, 0x05: (0x0180, 2)}
    decoded = valid(brantel.decode(blob(structure(7, {**base, **fields}, length=length, handle=7,
                                                  strings=["L2 Cache"]), version=version)))
    return decoded["caches"][0]


@pytest.mark.parametrize("fields, length, maximum, installed", [
    ({0x07: (0x0200, 2), 0x09: (0x0180, 2)}, 0x13, 512 * KIB, 384 * KIB),
    ({0x07: (0x8010, 2), 0x09: (0x8001, 2)}, 0x13, MIB, 64 * KIB),  # bit 15: 64 KiB units
    ({0x07: (0x0200, 2), 0x09: (0x0000, 2)}, 0x13, 512 * KIB, 0),  # not installed: 0, not null
    # 0xFFFF: the 3.1 double word, whose bit 31 is its own granularity.
    ({0x07: (0xFFFF, 2), 0x09: (0xFFFF, 2), 0x13: (0x80000800, 4), 0x17: (0x00100000, 4)}, 0x1B,
     128 * MIB, 1024 * MIB),
    ({0x07: (0xFFFF, 2), 0x09: (0xFFFF, 2)}, 0x13, 0x7FFF * 64 * KIB, 0x7FFF * 64 * KIB),  # no double word
    ({0x07: (0x0200, 2), 0x09: (0x0180, 2), 0x13: (0x80000800, 4), 0x17: (0x80000800, 4)}, 0x1B,
     512 * KIB, 384 * KIB),  # the word rules unless it is 0xFFFF
    ({0x07: (0x0200, 2)}, 0x09, 512 * KIB, None),  # cut before the installed size
])
def test_cache_sizes(fields, length, maximum, installed):
    found = cache(fields, length)
    assert (found["maximum_size_bytes"], found["installed_size_bytes"]) == (maximum, installed)


@pytest.mark.parametrize("configuration, expected", [
    (0x0181, (2, False, "Internal", True, "Write Back")),
    (0x0000, (1, False, "Internal", False, "Write Through")),
    (0x036F, (8, True, None, False, None)),  # location 3 and mode 3: Unknown
    (0x0248, (1, True, None, False, "Varies with Memory Address")),  # location 2: reserved
    (0x00A0, (1, False, "External", True, "Write Through")),
])
def test_cache_configuration(configuration, expected):
    found = cache({0x05: (configuration, 2)})
    assert (found["level"], found["socketed"], found["location"], found["enabled"],
            found["operational_mode"]) == expected


def test_cache_types_speed_and_associativity():
    found = cache({0x0B: (0x007F, 2), 0x0D: (0x0030, 2), 0x0F: 0, 0x10: 3, 0x11: 5, 0x12: 0x0E})
    assert found["supported_sram_types"] == ["Other", "Unknown", "Non-Burst", "Burst", "Pipeline Burst",
                                             "Synchronous", "Asynchronous"]
    assert found["current_sram_type"] == ["Pipeline Burst", "Synchronous"]
    assert (found["speed_ns"], found["error_correction_type"], found["system_cache_type"],
            found["associativity"]) == (None, "None", "Unified", "20-way Set-Associative")
    found = cache({0x0F: 7, 0x10: 2, 0x11: 2, 0x12: 0x0F})
    assert (found["speed_ns"], found["error_correction_type"], found["system_cache_type"],
            found["associativity"]) == (7, None, None, None)


def additional(fields, length, handle=0x44):
    decoded = valid(brantel.decode(blob(structure(44, fields, length=length, handle=handle))))
    return decoded["processor_additional_information"][0]


@pytest.mark.parametrize("fields, length, expected", [
    ({0x04: (0x0004, 2), 0x06: 4, 0x07: 0x07, 0x08: b"\x01\x02\x03\x04"}, 0x0C,
     (4, 4, "64-bit RISC-V (RV64)", "01020304")),
    ({0x04: (0xFFFF, 2), 0x06: 1, 0x07: 0x01, 0x08: b"\x00"}, 0x09, (None, 1, "IA32 (x86)", "00")),
    # A block longer than the structure is cut at its end; a shorter one leaves the rest out.
    ({0x04: (0x0004, 2), 0x06: 200, 0x07: 0x05, 0x08: b"\xAA\xBB"}, 0x0A, (4, 200, "64-bit ARM (Aarch64)", "aabb")),
    ({0x04: (0x0004, 2), 0x06: 1, 0x07: 0x0B, 0x08: b"\xAA\xBB"}, 0x0A, (4, 1, None, "aa")),
    ({0x04: (0x0004, 2), 0x06: 0, 0x07: 0x00}, 0x08, (4, 0, None, "")),
    ({0x04: (0x0004, 2), 0x06: 3}, 0x07, (4, 3, None, "")),  # cut before the processor type
    ({0x04: (0x0004, 2)}, 0x06, (4, None, None, None)),
])
def test_processor_additional_information(fields, length, expected):
    found = additional(fields, length)
    assert (found["referenced_handle"], found["block_length"], found["processor_type"],
            found["processor_specific_data"]) == expected
