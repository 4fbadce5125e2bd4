"""Peer comparison entries of types 11-15, 21-32, 34-36, 38-40, 42, 43, 45 and 46:
the peer's labels where they differ from the reference's field names, the
readers of values the kind normalisers cannot read, and the values that need
the whole peer structure. Imported by peer_text, whose tables it extends."""
import re

import peer_text
from peer_text import ALIASES, NORMALISERS, NOT_COMPARED, WHOLE, as_enum, as_integer


def renamed(peer_names):
    """An enumeration the peer spells differently: its text -> the reference's name."""
    def normalise(value):
        name = as_enum(value)
        return peer_names.get(name, name)
    return normalise


def scaled(unit, factor):
    """"3.327 V" -> 3327 with factor 1000: a reading in the peer's unit -> ours (an int)."""
    def normalise(value):
        text = value.text.strip()
        if text in peer_text.NULL_WORDS:
            return None
        match = re.match(r"(-?\d+(?:\.\d+)?) ?%s$" % re.escape(unit), text)
        return NOT_COMPARED if match is None else round(float(match.group(1)) * factor)
    return normalise


def hex_number(value):
    text = value.text.strip()
    return None if text in peer_text.NULL_WORDS else int(text, 16)


def numbered(prefix):
    """The texts of "<prefix> 1", "<prefix> 2", ... lines, in order."""
    def theirs(structure):
        return [value.text.rstrip(" ") for label, value in structure.all_fields
                if re.fullmatch(re.escape(prefix) + r" \d+", label)]
    return theirs


def printed_strings(record, key):
    return [peer_text.peer_text(text).rstrip(" ") for text in record[key] or []]


def add(type_, entries):
    for key, entry in entries.items():
        if isinstance(entry, str):
            ALIASES[(type_, key)] = entry
        elif isinstance(entry, tuple) and isinstance(entry[0], str):
            ALIASES[(type_, key)], NORMALISERS[(type_, key)] = entry
        else:
            NORMALISERS[(type_, key)] = entry


# --- 11, 12: string lists ---
WHOLE[(11, "strings")] = (lambda record: printed_strings(record, "strings"), numbered("String"))
WHOLE[(12, "strings")] = (lambda record: printed_strings(record, "strings"), numbered("Option"))

# --- 13: BIOS language ---
add(13, {
    # A language past the string set: the peer prints <BAD INDEX>, we leave it out and warn.
    "installable_languages": ("Installable Languages",
                              lambda value: [line for line in value.lines if line != "<BAD INDEX>"]),
    "abbreviated_format": ("Language Description Format", lambda value: value.text == "Abbreviated"),
    "current_language": "Currently Installed Language",
})

# --- 14: group associations: the peer names each item's type by its title ---
add(14, {"group_name": "Name"})
WHOLE[(14, "items")] = (
    lambda record: [item["handle"] for item in record["items"] or []],
    lambda structure: [int(line.split()[0], 16) for line in structure.fields["Items"].lines]
    if "Items" in structure.fields else NOT_COMPARED)

# --- 15: system event log ---
ACCESS_METHODS = {
    "Indexed I/O, one 8-bit index port, one 8-bit data port": "Indexed I/O: 1 8-bit index port, 1 8-bit data port",
    "Indexed I/O, two 8-bit index ports, one 8-bit data port": "Indexed I/O: 2 8-bit index ports, 1 8-bit data port",
    "Indexed I/O, one 16-bit index port, one 8-bit data port": "Indexed I/O: 1 16-bit index port, 1 8-bit data port",
    "General-purpose non-volatile data functions": "Available through General-Purpose NonVolatile Data functions",
    "OEM-specific": "Available for OEM assignment",
}
LOG_TYPES = {
    "Bus timeout": "Bus time-out", "I/O channel block": "I/O Channel Check", "POST memory resize": "POST Memory Resize",
    "POST error": "POST Error", "PCI parity error": "PCI Parity Error", "PCI system error": "PCI System Error",
    "CPU failure": "CPU Failure", "EISA failsafe timer timeout": "EISA FailSafe Timer time-out",
    "Logging disabled": "Logging disabled for a specific Event Type", "System limit exceeded": "System Limit Exceeded",
    "Asynchronous hardware timer expired": "Asynchronous hardware timer expired and issued a system reset",
    "Hard disk information": "Hard-disk information", "Log area reset/cleared": "Log Area Reset/Cleared",
    "OEM-specific": "Available for system- and OEM-specific assignments",
}
DATA_FORMATS = {
    "Multiple-event": "Multiple-Event", "Multiple-event handle": "Multiple-Event Handle",
    "POST results bitmap": "POST Results Bitmap", "System management": "System Management Type",
    "Multiple-event system management": "Multiple-Event System Management Type", "OEM-specific": "OEM assigned",
}


def _log_status(value):
    valid, _, full = value.text.partition(", ")
    return ((["Log area valid"] if valid == "Valid" else []) + (["Log area full"] if full == "Full" else []))


def _access_address(value):
    match = re.fullmatch(r"Index 0x([0-9A-F]+), Data 0x([0-9A-F]+)", value.text)
    return int(match.group(2), 16) << 16 | int(match.group(1), 16) if match else int(value.text, 16)


def _log_descriptors(structure):
    types, formats = numbered("Descriptor")(structure), numbered("Data Format")(structure)
    return [{"log_type": LOG_TYPES.get(t, t), "variable_data_format_type": DATA_FORMATS.get(f, f)}
            for t, f in zip(types, formats)]


add(15, {
    "log_area_length_bytes": "Area Length",
    "log_header_start_offset": "Header Start Offset",
    "log_data_start_offset": "Data Start Offset",
    "access_method": ("Access Method", renamed(ACCESS_METHODS)),
    "log_status": ("Status", _log_status),
    "log_change_token": "Change Token",
    "access_method_address": ("Access Address", _access_address),
    "log_header_format": ("Header Format", renamed({"No Header": "No header", "Type 1": "Type 1 log header",
                                                    "OEM-specific": "Available for OEM assignment"})),
    "number_of_supported_log_type_descriptors": "Supported Log Type Descriptors",
})
WHOLE[(15, "supported_log_type_descriptors")] = (
    lambda record: record["supported_log_type_descriptors"],
    lambda structure: _log_descriptors(structure) if "Descriptor 1" in structure.fields else NOT_COMPARED)

# --- 21, 22: pointing device, portable battery ---
add(21, {"interface": renamed({"Bus Mouse": "Bus mouse"}), "number_of_buttons": "Buttons"})
add(22, {
    "device_name": "Name",
    "device_chemistry": ("Chemistry", renamed({"Lithium Ion": "Lithium-ion", "Nickel Metal Hydride":
                                               "Nickel metal hydride", "Zinc Air": "Zinc air"})),
    "design_capacity_mwh": ("Design Capacity", as_integer),
    "design_voltage_mv": ("Design Voltage", as_integer),
    "sbds_version_number": "SBDS Version",
    "maximum_error_in_battery_data_percent": ("Maximum Error", as_integer),
    "sbds_serial_number": hex_number,
    "sbds_device_chemistry": "SBDS Chemistry",
    "oem_specific": "OEM-specific Information",
})

# --- 23, 24, 25: system reset, hardware security, power controls ---
BOOT_OPTIONS = {"Operating System": "Operating system", "System Utilities": "System utilities",
                "Do Not Reboot": "Do not reboot"}
add(23, {
    "enabled": "Status",
    "boot_option": renamed(BOOT_OPTIONS),
    "boot_option_on_limit": renamed(BOOT_OPTIONS),
    "watchdog_timer_present": "Watchdog Timer",
    "timer_interval_minutes": ("Timer Interval", as_integer),
    "timeout_minutes": ("Timeout", as_integer),
})
add(24, {"power_on_password_status": "Power-On Password Status"})

POWER_ON = re.compile(r"(\*|\d+)-(\*|\d+) (\*|\d+):(\*|\d+):(\*|\d+)$")
for index, part in enumerate(("month", "day_of_month", "hour", "minute", "second")):
    def _part(value, index=index):
        match = POWER_ON.match(value.text)
        if match is None:
            return NOT_COMPARED
        return None if match.group(index + 1) == "*" else int(match.group(index + 1))
    add(25, {"next_scheduled_power_on_" + part: ("Next Scheduled Power-on", _part)})

# --- 26-29: probes and cooling devices ---
PROBE_UNITS = {26: ("V", 1000, "mV", 10, "V", 1000), 28: ("deg C", 10, "deg C", 1000, "deg C", 10),
               29: ("A", 1000, "mA", 10, "A", 1000)}
for type_, (unit, factor, resolution_unit, resolution_factor, tolerance_unit, tolerance_factor) in PROBE_UNITS.items():
    suffix = {26: "mv", 28: "tenths_c", 29: "ma"}[type_]
    add(type_, {
        "maximum_value_" + suffix: scaled(unit, factor),
        "minimum_value_" + suffix: scaled(unit, factor),
        "nominal_value_" + suffix: scaled(unit, factor),
        ("resolution_tenths_mv", "resolution_thousandths_c", "resolution_tenths_ma")[(26, 28, 29).index(type_)]:
            ("Resolution", scaled(resolution_unit, resolution_factor)),
        ("tolerance_mv", "tolerance_tenths_c", "tolerance_ma")[(26, 28, 29).index(type_)]:
            ("Tolerance", scaled(tolerance_unit, tolerance_factor)),
        "accuracy_hundredths_percent": ("Accuracy", scaled("%", 100)),
        "oem_defined": "OEM-specific Information",
    })
add(27, {
    "device_type": "Type",
    "oem_defined": "OEM-specific Information",
    "nominal_speed_rpm": ("Nominal Speed", lambda value: None if value.text.startswith("Unknown")
                          else as_integer(value)),
})

# --- 30, 31, 32: remote access, boot integrity services, system boot ---
add(30, {"inbound_connection_enabled": "Inbound Connection", "outbound_connection_enabled": "Outbound Connection"})


def _real_mode_address(value):
    segment, _, offset = value.text.partition(":")
    return int(segment, 16) << 16 | int(offset, 16)


add(31, {"bis_entry_16": ("16-bit Entry Point Address", _real_mode_address),
         "bis_entry_32": ("32-bit Entry Point Address", hex_number)})
WHOLE[(31, "checksum_valid")] = (lambda record: record["checksum_valid"],
                                 lambda structure: structure.fields["Checksum"].text == "OK"
                                 if "Checksum" in structure.fields else NOT_COMPARED)
add(32, {"status": ("Status", renamed({
    "Operating system failed to load": "Normal operating system failed to load",
    "OEM-specific": "Vendor/OEM-specific implementations",
    "Product-specific": "Product-specific implementations"}))})

# --- 34, 36: management devices and their thresholds ---
add(34, {"type": renamed({
    "LM75": "National Semiconductor LM75", "LM78": "National Semiconductor LM78",
    "LM79": "National Semiconductor LM79", "LM80": "National Semiconductor LM80",
    "LM81": "National Semiconductor LM81", "ADM9240": "Analog Devices ADM9240",
    "DS1780": "Dallas Semiconductor DS1780", "MAX1617": "Maxim 1617", "GL518SM": "Genesys GL518SM",
    "W83781D": "Winbond W83781D", "HT82H791": "Holtek HT82H791"})})
for bound in ("lower", "upper"):
    for level in ("non_critical", "critical", "non_recoverable"):
        label = "%s %s Threshold" % (bound.title(), level.replace("_", "-").capitalize())
        add(36, {"%s_threshold_%s" % (bound, level): (label, as_integer)})

# --- 38, 39: IPMI device, power supplies ---
add(38, {
    "interface_type": renamed({"KCS (Keyboard Control Style)": "KCS: Keyboard Controller Style",
                               "SMIC (Server Management Interface Chip)": "SMIC: Server Management Interface Chip",
                               "BT (Block Transfer)": "BT: Block Transfer",
                               "SSIF (SMBus System Interface)": "SSIF: SMBus System Interface"}),
    "specification_version": "Specification Version",
    # The peer prints the 7-bit I2C address; the byte holds it shifted left by one.
    "i2c_target_address": ("I2C Slave Address", lambda value: int(value.text, 16) << 1),
    "nv_storage_device_address": ("NV Storage Device", as_integer),
    "register_spacing": renamed({"Successive Byte Boundaries": "Successive byte boundaries",
                                 "32-bit Boundaries": "32-bit boundaries", "16-byte Boundaries": "16-byte boundaries"}),
    "interrupt_polarity": renamed({"Active High": "Active high", "Active Low": "Active low"}),
})
WHOLE[(38, "base_address_space")] = (
    lambda record: record["base_address_space"],
    lambda structure: structure.fields["Base Address"].text.rsplit("(", 1)[-1].rstrip(")")
    if "Base Address" in structure.fields else NOT_COMPARED)


def _supply_status(value):
    present, _, status = value.text.partition(", ")
    return NOT_COMPARED if present != "Present" else as_enum(peer_text.PeerValue(status, []))


add(39, {
    "name": "Name",
    "asset_tag": "Asset Tag",
    "revision_level": "Revision",
    "type": "Type",
    "status": ("Status", _supply_status),
    "present": ("Status", lambda value: value.text.startswith("Present")),
    "input_voltage_range_switching": "Input Voltage Range Switching",
    "plugged": "Plugged",
    "hot_replaceable": "Hot Replaceable",
})


# --- 40: additional information entries, one group of lines each ---
def _entries(structure):
    entries, entry = [], None
    for label, value in structure.all_fields:
        if label == "Referenced Handle":
            entry = {"referenced_handle": int(value.text, 16)}
            entries.append(entry)
        elif entry is not None and label == "Referenced Offset":
            entry["referenced_offset"] = int(value.text, 16)
        elif entry is not None and label == "String":
            entry["string"] = value.text.rstrip(" ")
        elif entry is not None and label == "Value":
            entry["value"] = None if value.text == "Unspecified" else int(value.text, 16)
    return entries


WHOLE[(40, "entries")] = (
    lambda record: [dict(entry, string=peer_text.peer_text(entry["string"]).rstrip(" "))
                    for entry in record["entries"] or []],
    _entries)

# --- 43: TPM device ---
add(43, {"firmware_version": "Firmware Revision", "oem_defined": "OEM-specific Information"})
