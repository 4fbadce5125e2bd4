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
