"""The decoded view of types 11-15, 21-32, 34-36, 38-40, 42, 43, 45 and 46 on
built structures: the irregular rules (IPMI base address, battery capacity,
BCD power-on time, signed probe readings, TPM firmware version, variable
entries and records), the counted string lists, and hostile values."""
import random

import pytest

import brantel
from smbios_builder import blob, structure
from test_decoded_inventory import SCHEMA, schema_errors, valid


def decode(*structures, version=(3, 4)):
    return valid(brantel.decode(blob(*structures, version=version)))


def record(type_, fields, key, length=None, strings=(), version=(3, 4)):
    document = decode(structure(type_, fields, length=length, handle=0x0042, strings=strings), version=version)
    (found,) = document[key]
    assert found["handle"] == 0x0042
    return found, document["warnings"]


# --- 38: IPMI base address, space and interrupt ---


@pytest.mark.parametrize("stored, modifier, interface, length, expected", [
    # I/O: bit 0 marks the space, the modifier's bit 4 is the address's bit 0.
    (0x0CA3, 0x00, 1, 0x12, (0x0CA2, "I/O", "Successive byte boundaries", None, None)),
    (0x0CA3, 0x10, 1, 0x12, (0x0CA3, "I/O", "Successive byte boundaries", None, None)),
    (0xFED40000, 0x5A, 3, 0x12, (0xFED40000 | 1, "Memory", "32-bit boundaries", "Active high", "Edge")),
    (0xFED40000, 0x8B, 3, 0x12, (0xFED40000, "Memory", "16-byte boundaries", "Active high", "Level")),
    (0x00E5, 0x08, 2, 0x12, (0x00E4, "I/O", "Successive byte boundaries", "Active low", "Edge")),
    (2 ** 64 - 1, 0xD0, 1, 0x12, (2 ** 64 - 1, "I/O", None, None, None)),  # spacing 11b is reserved
    # Without the modifier (a 16-byte structure) the stored bit 0 is still the space, never the address.
    (0x0CA3, None, 1, 0x10, (0x0CA2, "I/O", None, None, None)),
    # SSIF: the field is the target's SMBus address, as stored.
    (0x0021, 0x10, 4, 0x12, (0x0021, None, "Successive byte boundaries", None, None)),
])
def test_ipmi_base_address(stored, modifier, interface, length, expected):
    fields = {0x04: interface, 0x05: 0x20, 0x06: 0x20, 0x07: 0xFF, 0x08: (stored, 8)}
    if modifier is not None:
        fields.update({0x10: modifier, 0x11: 0})
    found, _ = record(38, fields, "ipmi_devices", length=length)
    assert (found["base_address"], found["base_address_space"], found["register_spacing"],
            found["interrupt_polarity"], found["interrupt_trigger_mode"]) == expected
    assert found["specification_version"] == "2.0" and found["nv_storage_device_address"] is None


# --- 22: portable battery ---


@pytest.mark.parametrize("fields, length, key, expected", [
    ({0x0A: (4800, 2), 0x15: 10}, 0x1A, "design_capacity_mwh", 48000),
    ({0x0A: (4800, 2), 0x15: 0}, 0x1A, "design_capacity_mwh", 4800),     # a multiplier of 0 is no multiplier
    ({0x0A: (4800, 2)}, 0x10, "design_capacity_mwh", 4800),              # before the multiplier existed
    ({0x0A: (0, 2), 0x15: 10}, 0x1A, "design_capacity_mwh", None),       # 0: unknown
    ({0x0A: (0xFFFF, 2), 0x15: 255}, 0x1A, "design_capacity_mwh", 0xFFFF * 255),
    ({0x0C: (0, 2)}, 0x1A, "design_voltage_mv", None),
    ({0x0F: 0xFF}, 0x1A, "maximum_error_in_battery_data_percent", None),
    ({0x12: ((39 << 9) | (3 << 5) | 6, 2)}, 0x1A, "sbds_manufacture_date", "2019-03-06"),
    ({0x12: ((127 << 9) | (12 << 5) | 31, 2)}, 0x1A, "sbds_manufacture_date", "2107-12-31"),
    ({0x12: (0, 2)}, 0x1A, "sbds_manufacture_date", None),                # month 0
    ({0x12: ((1 << 9) | (13 << 5) | 1, 2)}, 0x1A, "sbds_manufacture_date", None),
    ({0x12: ((1 << 9) | (1 << 5), 2)}, 0x1A, "sbds_manufacture_date", None),  # day 0
    ({0x09: 0x06}, 0x1A, "device_chemistry", "Lithium-ion"),
    ({0x09: 0x02}, 0x1A, "device_chemistry", None),                      # Unknown
])
def test_portable_battery(fields, length, key, expected):
    found, _ = record(22, fields, "portable_batteries", length=length)
    assert found[key] == expected


# --- 25: next scheduled power-on, BCD ---


@pytest.mark.parametrize("raw, expected", [
    ((0x12, 0x31, 0x23, 0x59, 0x59), (12, 31, 23, 59, 59)),
    ((0x01, 0x01, 0x00, 0x00, 0x00), (1, 1, 0, 0, 0)),
    ((0x00, 0x00, 0x00, 0x00, 0x00), (None, None, 0, 0, 0)),        # no month 0, no day 0
    ((0x13, 0x32, 0x24, 0x60, 0x60), (None, None, None, None, None)),  # out of range
    ((0x0A, 0x1F, 0xFF, 0xA0, 0x9A), (None, None, None, None, None)),  # not BCD
])
def test_next_scheduled_power_on_is_bcd(raw, expected):
    found, _ = record(25, dict(zip(range(4, 9), raw)), "system_power_controls")
    parts = ("month", "day_of_month", "hour", "minute", "second")
    assert tuple(found["next_scheduled_power_on_" + part] for part in parts) == expected


# --- 26-29, 36: probe readings are signed, 8000h unknown ---


@pytest.mark.parametrize("type_, key, suffix", [
    (26, "voltage_probes", "_mv"), (28, "temperature_probes", "_tenths_c"), (29, "electrical_current_probes", "_ma"),
])
@pytest.mark.parametrize("raw, expected", [(1270, 1270), (0xFB02, -1278), (0x8000, None), (0x7FFF, 32767),
                                           (0xFFFF, -1)])
def test_probe_readings_are_signed(type_, key, suffix, raw, expected):
    fields = {0x04: 1, 0x05: 0x67, 0x06: (raw, 2), 0x08: (raw, 2), 0x0A: (0x8000, 2), 0x14: (raw, 2)}
    found, _ = record(type_, fields, key, length=0x16, strings=["probe"])
    assert found["maximum_value" + suffix] == found["minimum_value" + suffix] == expected
    assert found["nominal_value" + suffix] == expected
    assert (found["location"], found["status"]) == ("Motherboard", "OK")    # 0x67: bits 4:0 and 7:5
    assert [value for name, value in found.items() if name.startswith("resolution")] == [None]


@pytest.mark.parametrize("byte, location, status", [
    (0x00, None, None), (0x47, "Motherboard", None), (0xDF, None, "Non-recoverable"), (0x6F, "Drive Back Plane", "OK"),
])
def test_temperature_probe_location_and_status_share_a_byte(byte, location, status):
    found, _ = record(28, {0x04: 0, 0x05: byte}, "temperature_probes", length=0x14)
    assert (found["location"], found["status"]) == (location, status)


def test_thresholds_are_readings():
    values = [1, 0xFFF6, 0x8000, 3, 4, 0x7FFF]
    found, _ = record(36, {0x04 + 2 * k: (v, 2) for k, v in enumerate(values)}, "management_device_threshold_data")
    assert [found[k] for k in ("lower_threshold_non_critical", "upper_threshold_non_critical",
                               "lower_threshold_critical", "upper_threshold_critical",
                               "lower_threshold_non_recoverable", "upper_threshold_non_recoverable")] == \
        [1, -10, None, 3, 4, 32767]


# --- 43: TPM ---


@pytest.mark.parametrize("vendor, text", [
    (b"INTC", "INTC"), (b"IFX\0", "IFX"), (b"\0\0\0\0", ""),
    (b"\x1b[2J", "\\x1b[2J"),          # an escape sequence stays inert text
    (b"A\\B\0", "A\\x5cB"),            # the backslash itself is escaped, so the text is unambiguous
    (b"\xe2\x80\xae1", "\\xe2\\x80\\xae1"),  # a right-to-left override's bytes
    (b"A\0B\0", "A\\x00B"),
])
def test_tpm_vendor_id(vendor, text):
    found, _ = record(43, {0x04: vendor, 0x08: 2, 0x09: 0, 0x1B: (0, 4)}, "tpm_devices")
    assert found["vendor_id"] == text


@pytest.mark.parametrize("major, minor, firmware, expected", [
    (1, 2, bytes([1, 2, 3, 0x11]), "3.17"),                 # TPM_VERSION: revMajor.revMinor
    (2, 0, (600 << 16 | 18).to_bytes(4, "little"), "600.18"),
    (2, 0, bytes([0xFF] * 4), "65535.65535"),
    (3, 0, bytes(4), None),                                 # a layout we cannot know
])
def test_tpm_firmware_version_follows_the_specification_version(major, minor, firmware, expected):
    fields = {0x04: b"NTC\0", 0x08: major, 0x09: minor, 0x0A: firmware, 0x12: 1,
              0x13: ((1 << 3) | (1 << 4) | (1 << 1), 8), 0x1B: (7, 4)}
    found, _ = record(43, fields, "tpm_devices", strings=["TPM"])
    assert found["specification_version"] == "%d.%d" % (major, minor)
    assert found["firmware_version"] == expected
    assert found["characteristics"] == ["Family configurable via firmware update",
                                        "Family configurable via platform software support"]


# --- 15: system event log descriptors ---


@pytest.mark.parametrize("count, size, length, expected", [
    (3, 2, 0x17 + 6, [("Single-bit ECC memory error", "Handle"), ("End of log", "None"),
                      ("Available for system- and OEM-specific assignments", "OEM assigned")]),
    (3, 2, 0x17 + 4, [("Single-bit ECC memory error", "Handle"), ("End of log", "None")]),  # cut short
    (2, 3, 0x17 + 6, [("Single-bit ECC memory error", "Handle"), ("End of log", "None")]),  # wider items
    (0, 2, 0x17 + 6, []),
])
def test_event_log_descriptors(count, size, length, expected):
    items = bytes([0x01, 0x01, 0xFF, 0x00, 0x90, 0xC0]) if size == 2 else bytes([0x01, 0x01, 0, 0xFF, 0x00, 0])
    fields = {0x04: (4096, 2), 0x08: (16, 2), 0x0A: 0x01, 0x0B: 0x03, 0x10: (0x0CD7_0CD6, 4), 0x14: 0x81,
              0x15: count, 0x16: size, 0x17: items}
    found, _ = record(15, fields, "system_event_logs", length=length)
    assert [(d["log_type"], d["variable_data_format_type"]) for d in found["supported_log_type_descriptors"]] \
        == expected
    assert found["access_method"] == "Indexed I/O: 2 8-bit index ports, 1 8-bit data port"
    assert found["log_status"] == ["Log area valid", "Log area full"]
    assert found["log_header_format"] == "Available for OEM assignment"
    assert found["access_method_address"] == 0x0CD70CD6


# --- 40: additional information entries ---


def entry(handle, offset, string, value):
    return bytes([5 + len(value)]) + handle.to_bytes(2, "little") + bytes([offset, string]) + value


@pytest.mark.parametrize("count, entries, expected, warned", [
    (2, entry(0x1E, 5, 1, b"\xaa") + entry(0xFFFF, 5, 2, b"\xdc\x05"),
     [(0x1E, 5, "PCIExpressx16", 0xAA), (None, 5, "Compiler\x1b]0;x\x07", 0x05DC)], False),
    (1, entry(1, 0, 0, bytes(range(1, 13))), [(1, 0, None, int.from_bytes(bytes(range(1, 13)), "little"))], False),
    (1, entry(1, 0, 9, b""), [(1, 0, None, None)], False),             # a string past the set; no value
    (3, entry(1, 0, 1, b"\x01"), [(1, 0, "PCIExpressx16", 1)], True),  # more announced than held
    (1, bytes([4, 1, 0, 0]), [], True),                                # shorter than its fixed fields
    (1, bytes([0, 1, 0, 0, 0]), [], True),                             # no length: no endless loop
])
def test_additional_information_entries(count, entries, expected, warned):
    strings = ["PCIExpressx16", "Compiler\x1b]0;x\x07"]
    found, warnings = record(40, {0x04: count, 0x05: entries}, "additional_information", strings=strings)
    assert [(e["referenced_handle"], e["referenced_offset"], e["string"], e["value"])
            for e in found["entries"]] == expected
    assert any("additional information entry" in w for w in warnings) == warned


# --- 42: management controller host interface (no corpus table has one) ---


@pytest.mark.parametrize("body, data, records, warned", [
    (bytes([0x40, 4, 1, 2, 3, 4, 2, 0x04, 3, 0xAA, 0xBB, 0xCC, 0xF0, 0]), "01020304",
     [("Redfish over IP", "aabbcc"), ("OEM-defined", "")], False),
    (bytes([0x02, 0, 1, 0x02, 1, 0x20]), "", [("IPMI", "20")], False),
    (bytes([0x02, 0, 2, 0x02, 1, 0x20, 0x03, 9, 1]), "", [("IPMI", "20")], True),   # the second record is cut
    (bytes([0x02, 0, 1, 0x07, 0]), "", [(None, "")], False),                      # a reserved protocol type
    (bytes([0xF0, 200, 1, 2]), "0102", [], False),                                # data longer than the structure
    (bytes([0x40, 1]), "", [], False),                                            # the data byte is missing
])
def test_host_interface(body, data, records, warned):
    found, warnings = record(42, {0x04: body}, "management_controller_host_interfaces")
    assert found["interface_type_specific_data"] == data
    assert [(r["protocol_type"], r["protocol_type_specific_data"]) for r in found["protocol_records"]] == records
    assert any("protocol record" in w for w in warnings) == warned


# --- 46: string property (no corpus table has one) ---


@pytest.mark.parametrize("property_id, name", [
    (0x0001, "UEFI device path"), (0x0000, None), (0x7FFF, None), (0x8000, "BIOS vendor defined"),
    (0xBFFF, "BIOS vendor defined"), (0xC000, "OEM defined"), (0xFFFF, "OEM defined"),
])
def test_string_property(property_id, name):
    found, _ = record(46, {0x04: (property_id, 2), 0x06: 1, 0x07: (0x0010, 2)}, "string_properties",
                      strings=["PciRoot(0x0)/Pci(0x1F,0x0)"])
    assert (found["string_property_id"], found["string_property_value"], found["parent_handle"]) == \
        (name, "PciRoot(0x0)/Pci(0x1F,0x0)", 0x0010)


# --- 32, 39, 23, 24, 31: status codes and bits ---


@pytest.mark.parametrize("code, name", [(0, "No errors detected"), (8, "System watchdog timer expired"), (9, None),
                                        (127, None), (128, "Vendor/OEM-specific implementations"),
                                        (255, "Product-specific implementations")])
def test_system_boot_status(code, name):
    found, _ = record(32, {0x0A: code, 0x0B: bytes(range(9))}, "system_boot")
    assert (found["status"], found["status_data"]) == (name, "000102030405060708")


def characteristics(type_, status, switching, unplugged, present, hot):
    return type_ << 10 | status << 7 | switching << 3 | unplugged << 2 | present << 1 | hot


@pytest.mark.parametrize("characteristics, expected", [
    (characteristics(4, 3, 4, 0, 1, 0), ("Switching", "OK", "Auto-switch", True, True, False)),
    (characteristics(8, 5, 5, 1, 0, 1), ("Regulator", "Critical", "Wide range", False, False, True)),
    (characteristics(2, 2, 2, 0, 1, 0), (None, None, None, True, True, False)),   # Unknown
    (characteristics(15, 7, 15, 1, 1, 1), (None, None, None, False, True, True)),  # reserved codes
    (0, (None, None, None, True, False, False)),
])
def test_power_supply_characteristics(characteristics, expected):
    fields = {0x04: 1, 0x0C: (0x8000, 2), 0x0E: (characteristics, 2), 0x10: (0xFFFF, 2), 0x12: (0x0014, 2),
              0x14: (0xFFFE, 2)}
    found, _ = record(39, fields, "power_supplies", length=0x16)
    assert (found["type"], found["status"], found["input_voltage_range_switching"], found["plugged"],
            found["present"], found["hot_replaceable"]) == expected
    assert (found["max_power_capacity_w"], found["input_voltage_probe_handle"], found["cooling_device_handle"],
            found["input_current_probe_handle"]) == (None, None, 0x0014, None)


@pytest.mark.parametrize("capabilities, expected", [
    (0x3F, (True, "Do not reboot", "Do not reboot", True)),
    (0x22, (False, "Operating system", None, True)),
    (0x0C, (False, "System utilities", "Operating system", False)),
])
def test_system_reset(capabilities, expected):
    found, _ = record(23, {0x04: capabilities, 0x05: (0xFFFF, 2), 0x07: (3, 2), 0x09: (0xFFFF, 2),
                           0x0B: (10, 2)}, "system_resets")
    assert (found["enabled"], found["boot_option"], found["boot_option_on_limit"],
            found["watchdog_timer_present"]) == expected
    assert (found["reset_count"], found["reset_limit"], found["timer_interval_minutes"],
            found["timeout_minutes"]) == (None, 3, None, 10)


def test_hardware_security_reads_four_two_bit_fields():
    found, _ = record(24, {0x04: 0b01_10_00_11}, "hardware_security")
    assert (found["power_on_password_status"], found["keyboard_password_status"],
            found["administrator_password_status"], found["front_panel_reset_status"]) == \
        ("Enabled", "Not Implemented", "Disabled", None)


@pytest.mark.parametrize("checksum, valid_", [(0x100 - (31 + 28 + 0x42 + 0x12 + 0x34) & 0xFF, True), (0, False)])
def test_boot_integrity_services_checksum(checksum, valid_):
    found, _ = record(31, {0x04: checksum, 0x08: (0x1234, 4), 0x1B: 0}, "boot_integrity_services")
    assert (found["checksum_valid"], found["bis_entry_16"]) == (valid_, 0x1234)


# --- 11, 12, 13: counted string lists, hostile strings ---

HOSTILE = ["plain", "\x1b[31mred\x1b[0m", "\u202egnp.exe", "=cmd|' /C calc'!A0", "tab\there", "\x7f"]


@pytest.mark.parametrize("type_, key, list_key", [
    (11, "oem_strings", "strings"), (12, "system_configuration_options", "strings"),
    (13, "bios_languages", "installable_languages"),
])
@pytest.mark.parametrize("count, expected, warned", [
    (6, HOSTILE, False), (2, HOSTILE[:2], False), (0, [], False), (9, HOSTILE, True),
])
def test_counted_string_lists(type_, key, list_key, count, expected, warned):
    found, warnings = record(type_, {0x04: count, 0x15: 1}, key, length=0x16 if type_ == 13 else 5,
                             strings=HOSTILE)
    assert found[list_key] == expected
    assert any("announces %d strings" % count in w for w in warnings) == warned


def test_bios_language_format_flag_and_current_language():
    found, _ = record(13, {0x04: 2, 0x05: 1, 0x15: 2}, "bios_languages", length=0x16, strings=["enUS", "frFR"])
    assert (found["abbreviated_format"], found["current_language"]) == (True, "frFR")


def test_group_association_items_fill_the_length():
    items = bytes([9, 0x05, 0x09, 9, 0x07, 0x09, 0x80, 0xFF, 0xFF, 0x11])  # a trailing partial item
    found, _ = record(14, {0x04: 1, 0x05: items}, "group_associations", strings=["PCI5/ISA"])
    assert found["group_name"] == "PCI5/ISA"
    assert found["items"] == [{"type": 9, "handle": 0x0905}, {"type": 9, "handle": 0x0907},
                              {"type": 0x80, "handle": None}]


def test_firmware_inventory_associated_components_stop_at_the_length():
    fields = {0x04: 1, 0x05: 2, 0x06: 0x01, 0x07: 3, 0x08: 0x80, 0x0C: (2 ** 64 - 1, 8), 0x14: (0b11, 2), 0x16: 4,
              0x17: 3, 0x18: bytes([1, 0, 2, 0])}
    found, _ = record(45, fields, "firmware_inventory", strings=["BMC Firmware", "3.2", "35EQP72B"])
    assert (found["firmware_component_name"], found["version_format"], found["firmware_id_format"]) == \
        ("BMC Firmware", "MAJOR.MINOR", "BIOS Vendor/OEM-specific")
    assert (found["image_size_bytes"], found["characteristics"], found["state"]) == \
        (None, ["Updatable", "Write-Protect"], "Enabled")
    assert found["associated_component_handles"] == [1, 2]


# --- random structures of every type here: valid documents, each structure once ---

TYPES = {11: "oem_strings", 12: "system_configuration_options", 13: "bios_languages", 14: "group_associations",
         15: "system_event_logs", 21: "pointing_devices", 22: "portable_batteries", 23: "system_resets",
         24: "hardware_security", 25: "system_power_controls", 26: "voltage_probes", 27: "cooling_devices",
         28: "temperature_probes", 29: "electrical_current_probes", 30: "out_of_band_remote_access",
         31: "boot_integrity_services", 32: "system_boot", 34: "management_devices",
         35: "management_device_components", 36: "management_device_threshold_data", 38: "ipmi_devices",
         39: "power_supplies", 40: "additional_information", 42: "management_controller_host_interfaces",
         43: "tpm_devices", 45: "firmware_inventory", 46: "string_properties"}


@pytest.mark.parametrize("type_", sorted(TYPES))
def test_random_structures_give_valid_documents(type_):
    rng = random.Random(type_)
    parts = []
    for handle in range(300):
        length = rng.randrange(4, 0x60)
        body = bytes(rng.choice((0, 1, 2, 0xFF, rng.randrange(256))) for _ in range(length))
        strings = [bytes(rng.randrange(1, 256) for _ in range(rng.randrange(0, 8))) or b"x"
                   for _ in range(rng.randrange(0, 4))]
        parts.append(structure(type_, {4: body[4:]} if length > 4 else {}, length=length, handle=handle,
                               strings=strings))
    document = decode(*parts)
    assert [found["handle"] for found in document[TYPES[type_]]] == list(range(300))


@pytest.mark.parametrize("key, list_key, broken", [
    ("additional_information", "entries", {"value": "0xaa"}),
    ("additional_information", "entries", {"extra": 1}),
    ("management_controller_host_interfaces", "protocol_records", {"protocol_type_specific_data": "AB"}),
    ("voltage_probes", None, {"maximum_value_mv": 1.5}),
])
def test_the_schema_holds_the_records_of_custom_rows_to_their_keys(key, list_key, broken):
    document = decode(
        structure(40, {0x04: 1, 0x05: entry(1, 5, 0, b"\xaa")}),
        structure(42, {0x04: bytes([0x40, 0, 1, 0x04, 1, 0xAB])}, handle=1),
        structure(26, {0x04: 0, 0x05: 0x67, 0x06: (0xFF00, 2)}, length=0x16, handle=2))
    assert schema_errors(document, SCHEMA) == []
    record_ = document[key][0]
    if list_key is None:
        record_.update(broken)
    else:
        record_[list_key][0].update(broken)
    assert schema_errors(document, SCHEMA)
