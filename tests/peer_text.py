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


def _compare_fields(result, structure, layout, record):
    result.types.add(structure.type)
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
