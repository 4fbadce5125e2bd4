"""The peer decoder's text, read back, and compared with the decoded inventory
row by row.

    structures(path)            -> [PeerStructure] in table order
    compare(document, peer, layouts) -> Comparison (coverage, facts, disagreements)

A row of the decoded tables (brantel._inventory_decoder.layouts()) is compared
when it has a label: the peer's line of that label (or of its ALIASES entry),
read by the row's NORMALISERS entry or else by its kind's normaliser, must equal
our value. A type's developer adds one line per row here when the peer spells
a label differently or prints a value no kind's normaliser reads:

    ALIASES[(17, "speed_mts")] = "Speed"
    NORMALISERS[(4, "populated")] = lambda value: value.text.startswith("Populated")

A normaliser takes a PeerValue (.text: the line's value, .lines: the indented
lines under it) and returns what our value must be; NOT_COMPARED skips the fact.
"""
import re
from collections import Counter, defaultdict

HEADER = re.compile(r"Handle 0x([0-9A-Fa-f]{4}), DMI type (\d+), (\d+) bytes")
NOT_COMPARED = object()
SIZE_UNITS = {"bytes": 1, "kB": 1024, "KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3, "TB": 1024 ** 4,
              "PB": 1024 ** 5, "EB": 1024 ** 6, "ZB": 1024 ** 7}
# Words the peer prints where we print null.
NULL_WORDS = {"Unknown", "Not Specified", "None", "Not Provided", "Not Present", "Not Settable",
              "Not Applicable", "Unspecified", "<BAD INDEX>", "<OUT OF SPEC>", "Not Available", "No Error"}


class PeerValue:
    """One labelled line of a peer structure and the indented lines under it."""

    def __init__(self, text, lines):
        self.text = text
        self.lines = lines

    def __repr__(self):
        return "PeerValue(%r, %r)" % (self.text, self.lines)


class PeerStructure:
    def __init__(self, handle, type_, length, title):
        self.handle, self.type, self.length, self.title = handle, type_, length, title
        self.fields = {}  # label -> PeerValue (the first line of that label)
        self.all_fields = []  # (label, PeerValue) in order, repeats included

    def add(self, label, text):
        value = PeerValue(text, [])
        self.all_fields.append((label, value))
        self.fields.setdefault(label, value)
        return value


def structures(path):
    """The structures of a peer text file, in table order."""
    found = []
    for block in path.read_text(errors="replace").split("\n\n"):
        lines = block.strip("\n").split("\n")
        header = HEADER.match(lines[0]) if lines else None
        if not header:
            continue
        peer = PeerStructure(int(header.group(1), 16), int(header.group(2)), int(header.group(3)),
                             lines[1] if len(lines) > 1 else "")
        last = None
        for line in lines[2:]:
            if line.startswith("\t\t"):
                if last is not None:
                    last.lines.append(line[2:].rstrip(" "))
            elif line.startswith("\t") and ":" in line:
                label, _, text = line[1:].partition(":")
                last = peer.add(label, text[1:] if text.startswith(" ") else text)
            elif not line.startswith("\t") and last is not None and peer.type == 10:
                last = None  # "On Board Device N Information" starts the next device
        found.append(peer)
    return found


# --- per-kind normalisers: peer value -> what our value must be ---


def _null(text):
    return text.strip() in NULL_WORDS


def peer_text(value):
    """Our string as the peer prints it: control characters as dots, none as "Not Specified"."""
    return "Not Specified" if value is None else re.sub(r"[\x00-\x1f\x7f]", ".", value)


def as_integer(value):
    text = value.text.strip()
    if _null(text):
        return None
    match = re.match(r"(0x[0-9A-Fa-f]+|\d+)", text)
    return NOT_COMPARED if match is None else int(match.group(1), 0)


def as_size(value):
    text = value.text.strip()
    if text in ("No Module Installed", "Not Installed"):
        return 0
    if _null(text):
        return None
    match = re.match(r"(\d+) (bytes|[kKMGTPEZ]B)\b", text)
    return NOT_COMPARED if match is None else int(match.group(1)) * SIZE_UNITS[match.group(2)]


def as_voltage(value):
    text = value.text.strip()
    if _null(text):
        return None
    match = re.match(r"(\d+(?:\.\d+)?) V$", text)
    return NOT_COMPARED if match is None else round(float(match.group(1)) * 1000)


def as_enum(value):
    text = value.text.strip()
    return None if _null(text) or text.startswith("<OUT OF SPEC>") else text


def as_bits(value):
    lines = [line for line in value.lines if line not in NULL_WORDS]
    return lines


def as_flag(value):
    words = {"Yes": True, "No": False, "Enabled": True, "Disabled": False, "Present": True, "Not Present": False}
    return words.get(value.text.strip(), NOT_COMPARED)


def as_lower(value):
    text = value.text.strip()
    return None if _null(text) else text.lower()


def as_hex(value):
    text = value.text.strip()
    return None if _null(text) else text.replace(" ", "").lower()


def as_version(value):
    text = value.text.strip()
    return None if _null(text) else text


def as_list(value):
    return value.lines


KIND_NORMALISERS = {
    "integer": as_integer, "speed": as_integer, "handle": as_integer, "size": as_size, "voltage": as_voltage,
    "enum": as_enum, "bits": as_bits, "flag": as_flag, "uuid": as_lower, "bus_address": as_lower,
    "hex": as_hex, "version": as_version, "string_list": as_list,
}
SUFFIX_NORMALISERS = (("_bytes", as_size), ("_mv", as_voltage))
SHAPE_NORMALISERS = {"int": as_integer, "enum": as_enum, "bool": as_flag, "text_list": as_list}

# --- per-row entries: (type, key) -> the peer's label / normaliser ---

ALIASES = {
    (17, "configured_speed_mts"): "Configured Memory Speed",
    (6, "double_bank"): "Installed Size",
}


def _processor_status(value):
    state = value.text.split(", ", 1)
    return as_enum(type(value)(state[1], [])) if state[0] == "Populated" and len(state) == 2 else None


def _bank(value):
    if "(Double-bank Connection)" in value.text:
        return True
    if "(Single-bank Connection)" in value.text:
        return False
    return None


NORMALISERS = {
    (4, "populated"): lambda value: value.text.startswith("Populated"),
    (4, "status"): _processor_status,
    (6, "double_bank"): _bank,
}


# --- types 0-4, 7 and 44: names the peer spells its own way ---


class Same:
    """A peer value that our value matches when `test(ours)` holds: for names the
    peer prints in other words or letter case."""

    def __init__(self, text, test):
        self.text, self.test = text, test

    def __eq__(self, ours):
        return self.test(ours)

    def __ne__(self, ours):
        return not self.test(ours)

    def __repr__(self):
        return repr(self.text)


def _caseless(text):
    return Same(text, lambda ours: isinstance(ours, str) and ours.lower() == text.lower())


def as_name(value):
    """An enumeration whose "None" is a name of the reference, not a null."""
    text = value.text.strip()
    if text == "None":
        return _caseless(text)
    return None if _null(text) or text.startswith("<OUT OF SPEC>") else _caseless(text)


def as_caseless_bits(value):
    lines = list(value.lines)
    return Same(lines, lambda ours: isinstance(ours, list) and [n.lower() for n in ours] == [n.lower() for n in lines])


# The peer's lines of the BIOS characteristics (all three fields under one
# label) -> (our key, the reference's name).
PEER_BIOS_CHARACTERISTICS = {
    "BIOS characteristics not supported": ("characteristics", "BIOS Characteristics are not supported"),
    "ISA is supported": ("characteristics", "ISA is supported"),
    "MCA is supported": ("characteristics", "MCA is supported"),
    "EISA is supported": ("characteristics", "EISA is supported"),
    "PCI is supported": ("characteristics", "PCI is supported"),
    "PC Card (PCMCIA) is supported": ("characteristics", "PC card (PCMCIA) is supported"),
    "PNP is supported": ("characteristics", "Plug and Play is supported"),
    "APM is supported": ("characteristics", "APM is supported"),
    "BIOS is upgradeable": ("characteristics", "BIOS is upgradeable (Flash)"),
    "BIOS shadowing is allowed": ("characteristics", "BIOS shadowing is allowed"),
    "VLB is supported": ("characteristics", "VL-VESA is supported"),
    "ESCD support is available": ("characteristics", "ESCD support is available"),
    "Boot from CD is supported": ("characteristics", "Boot from CD is supported"),
    "Selectable boot is supported": ("characteristics", "Selectable boot is supported"),
    "BIOS ROM is socketed": ("characteristics", "BIOS ROM is socketed (e.g. PLCC or SOP socket)"),
    "Boot from PC Card (PCMCIA) is supported": ("characteristics", "Boot from PC card (PCMCIA) is supported"),
    "EDD is supported": ("characteristics", "EDD specification is supported"),
    "Japanese floppy for NEC 9800 1.2 MB is supported (int 13h)": (
        "characteristics", 'Int 13h - Japanese floppy for NEC 9800 1.2 MB (3.5", 1K bytes/sector, 360 RPM) is supported'),
    "Japanese floppy for Toshiba 1.2 MB is supported (int 13h)": (
        "characteristics", 'Int 13h - Japanese floppy for Toshiba 1.2 MB (3.5", 360 RPM) is supported'),
    '5.25"/360 kB floppy services are supported (int 13h)': (
        "characteristics", 'Int 13h - 5.25" / 360 KB floppy services are supported'),
    '5.25"/1.2 MB floppy services are supported (int 13h)': (
        "characteristics", 'Int 13h - 5.25" / 1.2 MB floppy services are supported'),
    '3.5"/720 kB floppy services are supported (int 13h)': (
        "characteristics", 'Int 13h - 3.5" / 720 KB floppy services are supported'),
    '3.5"/2.88 MB floppy services are supported (int 13h)': (
        "characteristics", 'Int 13h - 3.5" / 2.88 MB floppy services are supported'),
    "Print screen service is supported (int 5h)": ("characteristics", "Int 5h, print screen Service is supported"),
    "8042 keyboard services are supported (int 9h)": ("characteristics", "Int 9h, 8042 keyboard services are supported"),
    "Serial services are supported (int 14h)": ("characteristics", "Int 14h, serial services are supported"),
    "Printer services are supported (int 17h)": ("characteristics", "Int 17h, printer services are supported"),
    "CGA/mono video services are supported (int 10h)": (
        "characteristics", "Int 10h, CGA/Mono Video Services are supported"),
    "NEC PC-98": ("characteristics", "NEC PC-98"),
    "ACPI is supported": ("characteristics_extension_byte_1", "ACPI is supported"),
    "USB legacy is supported": ("characteristics_extension_byte_1", "USB Legacy is supported"),
    "AGP is supported": ("characteristics_extension_byte_1", "AGP is supported"),
    "I2O boot is supported": ("characteristics_extension_byte_1", "I2O boot is supported"),
    "LS-120 boot is supported": ("characteristics_extension_byte_1", "LS-120 SuperDisk boot is supported"),
    "ATAPI Zip drive boot is supported": ("characteristics_extension_byte_1", "ATAPI ZIP drive boot is supported"),
    "IEEE 1394 boot is supported": ("characteristics_extension_byte_1", "1394 boot is supported"),
    "Smart battery is supported": ("characteristics_extension_byte_1", "Smart battery is supported"),
    "BIOS boot specification is supported": ("characteristics_extension_byte_2", "BIOS Boot Specification is supported"),
    "Function key-initiated network boot is supported": (
        "characteristics_extension_byte_2", "Function key-initiated network service boot is supported"),
    "Targeted content distribution is supported": (
        "characteristics_extension_byte_2", "Enable targeted content distribution"),
    "UEFI is supported": ("characteristics_extension_byte_2", "UEFI Specification is supported"),
    "System is a virtual machine": ("characteristics_extension_byte_2", "SMBIOS table describes a virtual machine"),
    "Manufacturing mode is supported": ("characteristics_extension_byte_2", "Manufacturing mode is supported"),
    "Manufacturing mode is enabled": ("characteristics_extension_byte_2", "Manufacturing mode is enabled"),
}
PEER_BOARD_FEATURES = {
    "Board is a hosting board": "Hosting board",
    "Board requires at least one daughter board": "Requires at least one daughter board or auxiliary card",
    "Board is removable": "Removable",
    "Board is replaceable": "Replaceable",
    "Board is hot swappable": "Hot swappable",
}


def _bios_characteristics(key):
    def normalise(value):
        if any(line not in PEER_BIOS_CHARACTERISTICS for line in value.lines):
            return NOT_COMPARED  # a line this table does not know: read it before comparing
        names = [PEER_BIOS_CHARACTERISTICS[line][1] for line in value.lines
                 if PEER_BIOS_CHARACTERISTICS[line][0] == key]
        # An extension byte the structure is too short for: ours null, the peer none of its lines.
        return Same(names, lambda ours: ours == names or (ours is None and not names and key != "characteristics"))
    return normalise


def _segment(value):
    address = as_integer(value)
    return address if address in (None, NOT_COMPARED) else address >> 4


def _handle(value):
    handle = as_integer(value)
    return None if handle in (0xFFFE, 0xFFFF) else handle


def _handle_lines(value):
    return [int(line, 16) for line in value.lines if re.match(r"0x[0-9A-Fa-f]{4}$", line)]


def _short_family(name):
    """A family name of the reference as the peer shortens it."""
    name = re.sub(r"^(Intel|AMD) ", "", name)
    name = re.sub(r" (Processor Family|Family)$", "", name)
    return re.sub(r" [Pp]rocessor\b", "", name)


def _family(value):
    text = value.text.strip()
    if text in ("Core 2", "K7"):
        return None  # code 0xBE: reserved; the peer guesses by the manufacturer
    if _null(text) or text.startswith("<OUT OF SPEC>"):
        return None
    return Same(text, lambda ours: isinstance(ours, str) and (ours == text or _short_family(ours) == text))


def _upgrade(value):
    if value.text.strip() == "Socket BGA1155":
        return "Socket LGA1155"  # code 0x24: the reference names the LGA socket
    return as_name(value)


def _processor_characteristics(value):
    if value.text.strip() == "None" and not value.lines:
        # The peer prints "None" when only the Unknown bit (1) is set; we name the bit.
        return Same("None", lambda ours: ours in ([], ["Unknown"]))
    return as_caseless_bits(value)


def _voltage(value):
    found = re.findall(r"(\d+(?:\.\d+)?) V", value.text)
    if not found:
        return None if _null(value.text) else NOT_COMPARED
    volts = [round(float(v) * 1000) for v in found]
    # One value reads both ways: a current voltage, or one supported voltage flagged.
    return Same(value.text, lambda ours: ours == volts or (len(volts) == 1 and ours == volts[0]))


def _sram_type(value):
    text = value.text.strip()
    return Same(text, lambda ours: isinstance(ours, list) and " ".join(ours).lower() == text.lower())


def _cache_level(value):
    match = re.search(r"Level (\d)", value.text)
    return int(match.group(1)) if match else NOT_COMPARED


NORMALISERS.update({
    (0, "starting_address_segment"): _segment,
    (0, "characteristics"): _bios_characteristics("characteristics"),
    (0, "characteristics_extension_byte_1"): _bios_characteristics("characteristics_extension_byte_1"),
    (0, "characteristics_extension_byte_2"): _bios_characteristics("characteristics_extension_byte_2"),
    (2, "feature_flags"): lambda value: [PEER_BOARD_FEATURES.get(line, line) for line in value.lines],
    (2, "chassis_handle"): _handle,
    (2, "contained_object_handles"): _handle_lines,
    (3, "security_status"): as_name,
    (4, "family"): _family,
    (4, "voltage_mv"): _voltage,
    (4, "upgrade"): _upgrade,
    (4, "characteristics"): _processor_characteristics,
    (7, "level"): _cache_level,
    (7, "enabled"): lambda value: value.text.startswith("Enabled"),
    (7, "socketed"): lambda value: "Not Socketed" not in value.text,
    (7, "operational_mode"): as_name,
    (7, "supported_sram_types"): as_caseless_bits,
    (7, "current_sram_type"): _sram_type,
    (7, "error_correction_type"): as_name,
    (7, "associativity"): as_name,
})


# --- memory (5, 6, 16-20, 33, 37), port connectors (8), slots (9), on-board devices (10, 41) ---

_OUR_NAMES = {}


def _our_names(type_, key):
    """{casefolded name: our name} of a row's name table."""
    if (type_, key) not in _OUR_NAMES:
        from brantel._inventory_decoder import layouts
        rows = [row for layout in layouts() if layout["type"] == type_ for row in layout["rows"]]
        names = next((row["names"] or [] for row in rows if row["key"] == key), [])
        _OUR_NAMES[(type_, key)] = {name.casefold(): name for name in names}
    return _OUR_NAMES[(type_, key)]


def _spelled(type_, key, peer_to_ours=None):
    """An enumeration the peer prints in another case or, per peer_to_ours, in other words."""
    def normalise(value):
        text = value.text.strip()
        text = (peer_to_ours or {}).get(text, text)
        found = _our_names(type_, key).get(text.casefold())
        return found if found is not None else as_enum(PeerValue(text, []))
    return normalise


def _bit_list(type_, key, peer_to_ours=None):
    """A bit field the peer prints one name a line, or all on one line joined by spaces."""
    def normalise(value):
        ours = _our_names(type_, key)
        spellings = dict(ours)
        spellings.update({peer.casefold(): mine for peer, mine in (peer_to_ours or {}).items()})
        words = value.lines if value.lines else [value.text.strip()]
        found = []
        for text in words:
            while text:
                match = max((peer for peer in spellings if text.casefold().startswith(peer)
                             and text[len(peer):len(peer) + 1] in ("", " ")), key=len, default=None)
                if match is None:
                    if text.casefold() in ("none", "ok") and "none" not in ours:
                        break
                    return NOT_COMPARED
                found.append(spellings[match])
                text = text[len(match):].lstrip(" ")
        return found
    return normalise


def _voltages(value):
    return [round(float(volts) * 1000) for volts in re.findall(r"(\d+(?:\.\d+)?) V", value.text)]


def _banks(value):
    text = value.text.strip()
    return [] if text == "None" else [int(bank) for bank in text.split()]


def _none_is_zero(value):
    return 0 if value.text.strip() == "None" else as_size(value)


class _Jedec:
    """A JEDEC manufacturer the peer prints as bank and code: our 16-bit value
    (continuation count with its parity bit, then the code) agrees with it."""

    def __init__(self, bank, code):
        self.bank, self.code = bank, code

    def __eq__(self, ours):
        return isinstance(ours, int) and (ours & 0x7F) + 1 == self.bank and ours >> 8 == self.code

    def __ne__(self, ours):
        return not self == ours

    def __repr__(self):
        return "Bank %d, Hex 0x%02X" % (self.bank, self.code)


def _jedec(value):
    match = re.match(r"Bank (\d+), Hex 0x([0-9A-Fa-f]{2})$", value.text.strip())
    return _Jedec(int(match.group(1)), int(match.group(2), 16)) if match else as_integer(value)


def _slot_width(value):
    match = re.match(r"(\d+)-bit |x(\d+) ", value.text.strip() + " ")
    if match is None:
        return NOT_COMPARED  # the peer leaves the width out when it is "Other" or "Unknown"
    return "%s bit" % match.group(1) if match.group(1) else "%sx or x%s" % (match.group(2), match.group(2))


_SLOT_TYPES = {"Processor Card": "Processor Card Slot", "Proprietary Memory Card": "Proprietary Memory Card Slot",
               "I/O Riser Card": "I/O Riser Card Slot", "PCI-66": "PCI - 66MHz Capable",
               "M.2 Socket 1-DP": "M.2 Socket 1-DP (Mechanical Key A)",
               "M.2 Socket 1-SD": "M.2 Socket 1-SD (Mechanical Key E)",
               "M.2 Socket 2": "M.2 Socket 2 (Mechanical Key B)", "M.2 Socket 3": "M.2 Socket 3 (Mechanical Key M)"}


def _slot_type(value):
    text = re.sub(r"^(\d+-bit|x\d+) ", "", value.text.strip())
    text = re.sub(r"^PCI Express (\d)\b", r"PCI Express Gen \1", text)
    return _spelled(9, "type", _SLOT_TYPES)(PeerValue(text, []))


_CONNECTORS = {"DB-25 male": "DB-25 pin male", "DB-25 female": "DB-25 pin female",
               "DB-15 male": "DB-15 pin male", "DB-15 female": "DB-15 pin female",
               "DB-9 male": "DB-9 pin male", "DB-9 female": "DB-9 pin female", "Mini DIN": "Mini-DIN",
               "Micro DIN": "Micro-DIN", "9 Pin Dual Inline (pin 10 cut)": "9-pin Dual Inline (pin 10 cut)",
               "25 Pin Dual Inline (pin 26 cut)": "25-pin Dual Inline (pin 26 cut)",
               "50 Pin Dual Inline": "50-pin Dual Inline", "68 Pin Dual Inline": "68-pin Dual Inline",
               "Mini Centronics Type-14": "Mini-Centronics Type-14",
               "Mini Centronics Type-26": "Mini-Centronics Type-26", "Mini Jack (headphones)": "Mini-jack (headphones)",
               "50 Pin MiniSCSI": "50-pin MiniSCSI"}
_SLOT_CHARACTERISTICS = {
    "Unknown": "Characteristics unknown", "5.0 V is provided": "Provides 5.0 volts",
    "3.3 V is provided": "Provides 3.3 volts", "Opening is shared": "Slot's opening is shared with another slot",
    "PC Card-16 is supported": "PC Card slot supports PC Card-16",
    "Cardbus is supported": "PC Card slot supports CardBus",
    "Zoom Video is supported": "PC Card slot supports Zoom Video",
    "Modem ring resume is supported": "PC Card slot supports Modem Ring Resume",
    "PME signal is supported": "PCI slot supports Power Management Event (PME#) signal",
    "Hot-plug devices are supported": "Slot supports hot-plug devices",
    "SMBus signal is supported": "PCI slot supports SMBus signal",
    "PCIe slot bifurcation is supported": "PCIe slot supports bifurcation",
    "Async/surprise removal is supported": "Slot supports async/surprise removal"}
_MODULE_TYPES = {"FPM": "Fast Page Mode"}
_SPEEDS = {"70 ns": "70ns", "60 ns": "60ns", "50 ns": "50ns"}
_TYPE_DETAILS = {"Fast-paged": "Fast-paged", "Static Column": "Static column", "Pseudo-static": "Pseudo-static",
                 "RAMBus": "RAMBUS", "Non-Volatile": "Non-volatile"}
_MODULE_ERRORS = {"Uncorrectable Errors": "Uncorrectable errors received",
                  "Correctable Errors": "Correctable errors received", "See Event Log": "See event log"}
_MEMORY_TECHNOLOGIES = {"Intel Optane DC persistent memory": "Intel Optane persistent memory",
                        "Intel Optane persistent memory": "Intel Optane persistent memory"}

ALIASES.update({
    (5, "error_correcting_capabilities"): "Error Correcting Capabilities",
    (5, "number_of_associated_memory_slots"): "Associated Memory Slots",
    (5, "memory_module_configuration_handles"): "Associated Memory Slots",
    (6, "current_memory_type"): "Type",
    (9, "designation"): "Designation", (9, "type"): "Type", (9, "data_bus_width"): "Type",
    (9, "length"): "Length", (9, "slot_id"): "ID", (9, "characteristics"): "Characteristics",
    (16, "error_correction_type"): "Error Correction Type",
    (16, "error_information_handle"): "Error Information Handle", (16, "number_of_devices"): "Number Of Devices",
    (17, "non_volatile_size_bytes"): "Non-Volatile Size",
    (17, "array_handle"): "Array Handle", (17, "error_information_handle"): "Error Information Handle",
    (19, "array_handle"): "Physical Array Handle", (20, "device_handle"): "Physical Device Handle",
    (37, "channel_type"): "Type", (37, "maximum_channel_load"): "Maximal Load",
    (37, "memory_device_count"): "Devices",
    (41, "type"): "Type", (41, "enabled"): "Status", (41, "type_instance"): "Type Instance",
})
for _type in (18, 33):
    ALIASES.update({(_type, "error_type"): "Type", (_type, "error_granularity"): "Granularity",
                    (_type, "error_operation"): "Operation", (_type, "memory_array_error_address"): "Memory Array Address",
                    (_type, "device_error_address"): "Device Address", (_type, "error_resolution_bytes"): "Resolution"})
    NORMALISERS.update({(_type, key): _spelled(_type, key)
                        for key in ("error_type", "error_granularity", "error_operation")})

NORMALISERS.update({
    (5, "error_detecting_method"): _spelled(5, "error_detecting_method"),
    (5, "error_correcting_capabilities"): _bit_list(5, "error_correcting_capabilities"),
    (5, "supported_interleave"): _spelled(5, "supported_interleave"),
    (5, "current_interleave"): _spelled(5, "current_interleave"),
    (5, "supported_speeds"): _bit_list(5, "supported_speeds", _SPEEDS),
    (5, "supported_memory_types"): _bit_list(5, "supported_memory_types", _MODULE_TYPES),
    (5, "memory_module_voltage_mv"): _voltages,
    (5, "memory_module_configuration_handles"): _handle_lines,
    (5, "enabled_error_correcting_capabilities"): _bit_list(5, "enabled_error_correcting_capabilities"),
    (6, "bank_connections"): _banks,
    (6, "current_memory_type"): _bit_list(6, "current_memory_type", _MODULE_TYPES),
    (6, "error_status"): _bit_list(6, "error_status", _MODULE_ERRORS),
    (8, "internal_connector_type"): _spelled(8, "internal_connector_type", _CONNECTORS),
    (8, "external_connector_type"): _spelled(8, "external_connector_type", _CONNECTORS),
    (8, "port_type"): _spelled(8, "port_type"),
    (9, "type"): _slot_type, (9, "data_bus_width"): _slot_width,
    (9, "current_usage"): _spelled(9, "current_usage"),
    (9, "length"): _spelled(9, "length", {"Short": "Short Length", "Long": "Long Length"}),
    (9, "characteristics"): _bit_list(9, "characteristics", _SLOT_CHARACTERISTICS),
    (16, "location"): _spelled(16, "location"), (16, "use"): _spelled(16, "use"),
    (16, "error_correction_type"): _spelled(16, "error_correction_type"),
    (17, "type_detail"): _bit_list(17, "type_detail", _TYPE_DETAILS),
    (17, "memory_technology"): _spelled(17, "memory_technology", _MEMORY_TECHNOLOGIES),
    (17, "memory_operating_mode_capability"): _bit_list(17, "memory_operating_mode_capability"),
    (17, "module_manufacturer_id"): _jedec, (17, "memory_subsystem_controller_manufacturer_id"): _jedec,
    (17, "pmic0_manufacturer_id"): _jedec, (17, "rcd_manufacturer_id"): _jedec,
    (17, "non_volatile_size_bytes"): _none_is_zero, (17, "volatile_size_bytes"): _none_is_zero,
    (17, "cache_size_bytes"): _none_is_zero, (17, "logical_size_bytes"): _none_is_zero,
    (37, "channel_type"): _spelled(37, "channel_type"),
    (41, "type"): _spelled(41, "type"),
})


class Comparison:
    def __init__(self):
        self.structures = 0  # peer structures found once in our document
        self.facts = 0  # values compared
        self.types = set()  # types whose records were compared
        self.missing = []  # ((type, handle), ours, theirs): a structure not found exactly once
        self.extra = []  # (type, handle) in our document, not in the peer text
        self.disagreements = defaultdict(list)  # (type, key) -> [(handle, ours, theirs)]

    def count_classes(self):
        return Counter({key: len(found) for key, found in self.disagreements.items()})


def _records(document, layouts):
    """(type, handle) -> [(type's layout or None, record)] for every structure in the document."""
    found = defaultdict(list)
    for layout in layouts:
        if not layout["decoded"]:
            continue
        value = document[layout["key"]]
        for record in [value] if layout["place"] == "singleton" else value:
            if record.get("handle") is not None:
                found[(layout["type"], record["handle"])].append((layout, record))
    for key in ("other_structures", "inactive", "end_of_table"):
        for record in document[key]:
            found[(record["type"], record["handle"])].append((None, record))
    return found


def _ours(row, value):
    """Our value as the normalised peer value reads it."""
    if row["kind"] == "string" or (row["kind"] == "custom" and row["shape"] == "text"):
        return peer_text(value)
    return value


def _theirs(row, type_, peer_value):
    if row["kind"] == "string" or (row["kind"] == "custom" and row["shape"] == "text"):
        text = peer_value.text.rstrip(" ")
        return "Not Specified" if text == "<BAD INDEX>" else text
    normaliser = NORMALISERS.get((type_, row["key"]))
    if normaliser is None and row["kind"] == "custom":
        # A custom row's unit is in its key.
        normaliser = next((n for suffix, n in SUFFIX_NORMALISERS if row["key"].endswith(suffix)), None)
    if normaliser is None:
        normaliser = KIND_NORMALISERS.get(row["kind"]) or SHAPE_NORMALISERS.get(row["shape"])
    return NOT_COMPARED if normaliser is None else normaliser(peer_value)


def compare(document, peer, layouts):
    """Coverage and field-by-field agreement of one table's document and peer text."""
    result = Comparison()
    records = _records(document, layouts)
    by_key = defaultdict(list)
    for structure in peer:
        by_key[(structure.type, structure.handle)].append(structure)
    result.extra = sorted(key for key in records if key not in by_key)
    for key, structures_ in by_key.items():
        candidates = records.get(key, [])
        if len(candidates) != len(structures_):
            result.missing.append((key, len(candidates), len(structures_)))
        # A handle used twice in a table: its structures pair up in table order.
        for structure, (layout, record) in zip(structures_, candidates):
            result.structures += 1
            if layout is not None:
                _compare_fields(result, structure, layout, record)
    return result


# (type, key) -> (ours(record), theirs(structure)): values that only the whole
# structure gives (numbered lines, repeated groups, composite lines).
WHOLE = {}


def _compare_whole(result, structure, record):
    for (type_, key), (ours_of, theirs_of) in WHOLE.items():
        if type_ != structure.type:
            continue
        theirs = theirs_of(structure)
        if theirs is NOT_COMPARED:
            continue
        ours = ours_of(record)
        result.facts += 1
        if ours != theirs:
            result.disagreements[(type_, key)].append((structure.handle, ours, theirs))


def _compare_fields(result, structure, layout, record):
    result.types.add(structure.type)
    _compare_whole(result, structure, record)
    for row in layout["rows"]:
        if not row["label"]:
            continue
        peer_value = structure.fields.get(ALIASES.get((structure.type, row["key"]), row["label"]))
        if peer_value is None:
            continue
        theirs = _theirs(row, structure.type, peer_value)
        if theirs is NOT_COMPARED:
            continue
        ours = _ours(row, record.get(row["key"]))
        result.facts += 1
        if ours != theirs:
            result.disagreements[(structure.type, row["key"])].append((structure.handle, ours, theirs))


# Entries of the types each table developer decodes, in modules of their own.
import peer_platform_types  # noqa: E402,F401
