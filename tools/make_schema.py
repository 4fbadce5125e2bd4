"""Writes brantel/data/inventory.schema.json from the decoded inventory's rows.

    python tools/make_schema.py [--check]

The rows (brantel._inventory_decoder.layouts()) are the one home of every key,
kind and name; this script only turns them into JSON Schema, beside the few
parts of the document that no structure row makes (source, warnings, totals,
the generic records). --check exits 1 when the committed schema differs.
"""
import json
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCHEMA_PATH = ROOT / "brantel" / "data" / "inventory.schema.json"

NULLABLE_INT = {"type": ["integer", "null"], "minimum": 0}
NULLABLE_TEXT = {"type": ["string", "null"]}
PATTERNS = {
    "uuid": ("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$",
             "Canonical form; the first three fields little-endian from SMBIOS 2.6 on. "
             "Null when all bytes are 0x00 or all 0xFF."),
    "bus_address": ("^[0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7]$", "Segment:bus:device.function"),
    "version": ("^[0-9]{1,3}\\.[0-9]{1,3}$", None),
}
GENERIC = {
    "type": "object",
    "additionalProperties": False,
    "required": ["type", "handle", "length", "data", "strings"],
    "properties": {
        "type": {"type": "integer", "minimum": 0, "maximum": 255},
        "handle": {"type": "integer", "minimum": 0, "maximum": 65535},
        "length": {"type": "integer", "minimum": 4, "maximum": 255},
        "data": {"type": "string", "pattern": "^([0-9a-f]{2})*$",
                 "description": "The formatted area after the 4-byte header, lower-case hex."},
        "strings": {"type": "array", "items": {"type": "string"}, "description": "The string set, in order."},
    },
}
TOTALS = {
    "type": "object",
    "additionalProperties": False,
    "required": ["processor_sockets", "processors_populated", "processors_enabled", "memory_bytes",
                 "memory_modules_bytes", "memory_capacity_bytes", "memory_slots", "memory_slots_populated"],
    "properties": {
        "processor_sockets": {"type": "integer", "minimum": 0},
        "processors_populated": {"type": "integer", "minimum": 0},
        "processors_enabled": {"type": "integer", "minimum": 0},
        "memory_bytes": {"type": "integer", "minimum": 0},
        "memory_modules_bytes": {**NULLABLE_INT,
                                 "description": "Null when the table has no memory module structures"},
        "memory_capacity_bytes": {**NULLABLE_INT, "description": "The summed maximum capacity of the memory "
                                  "arrays used as system memory; null when none has one"},
        "memory_slots": {**NULLABLE_INT, "description": "Memory devices in the arrays used as system memory; "
                         "null when the table has no such array"},
        "memory_slots_populated": {**NULLABLE_INT, "description": "Those memory devices with a known, non-zero "
                                   "size; null when the table has no array used as system memory"},
    },
}


def _record_item(properties):
    return {"type": "object", "additionalProperties": False, "required": list(properties), "properties": properties}


# The items of the custom rows that build lists of records, by (structure title, key).
RECORD_ITEMS = {
    ("Additional Information", "entries"): _record_item({
        "referenced_handle": {**NULLABLE_INT, "maximum": 65533},
        "referenced_offset": {"type": "integer", "minimum": 0, "maximum": 255},
        "string": NULLABLE_TEXT,
        "value": {**NULLABLE_INT, "description": "The entry's value bytes as a little-endian integer"},
    }),
    ("Management Controller Host Interface", "protocol_records"): _record_item({
        "protocol_type": NULLABLE_TEXT,
        "protocol_type_specific_data": {"type": "string", "pattern": "^([0-9a-f]{2})*$"},
    }),
}


def row_schema(row, title):
    """The schema of one row's value."""
    kind, shape = row["kind"], row["shape"]
    if kind in PATTERNS:
        pattern, description = PATTERNS[kind]
        schema = {**NULLABLE_TEXT, "pattern": pattern}
        if description:
            schema["description"] = description
    elif kind == "hex":
        schema = {**NULLABLE_TEXT, "pattern": "^[0-9a-f]{%d}$" % (2 * row["width"])}
    elif kind == "handle":
        schema = {**NULLABLE_INT, "maximum": 65533}
    elif shape == "enum":
        schema = {"enum": sorted(set(row["names"] or [])) + [None]}
    elif shape == "int":
        schema = dict(NULLABLE_INT)
    elif shape == "signed_int":
        schema = {"type": ["integer", "null"]}
    elif shape == "text":
        schema = dict(NULLABLE_TEXT)
    elif shape == "bool":
        schema = {"type": ["boolean", "null"]}
    elif shape == "text_list":
        items = {"enum": sorted(set(row["names"]))} if row["names"] else {"type": "string"}
        schema = {"type": ["array", "null"], "items": items}
    elif shape == "int_list":
        schema = {"type": ["array", "null"], "items": {"type": "integer", "minimum": 0}}
    elif shape == "int_or_int_list":
        schema = {"type": ["integer", "array", "null"], "minimum": 0, "items": {"type": "integer", "minimum": 0}}
    else:  # records: custom lists of objects
        schema = {"type": ["array", "null"], "items": RECORD_ITEMS.get((title, row["key"]), {"type": "object"})}
    if row["label"] and "description" not in schema:
        schema["description"] = "%s: %s" % (title, row["label"])
    return schema


def record_schema(rows, title, handle=True, items=None):
    properties = {}
    if handle:
        properties["handle"] = {"type": ["integer", "null"], "minimum": 0, "maximum": 65535}
    for row in rows:
        properties[row["key"]] = row_schema(row, title)
    if items is not None:
        properties[items["key"]] = {
            "type": ["array", "null"],
            "items": record_schema(items["rows"], title, handle=False),
        }
    return {"type": "object", "additionalProperties": False, "required": list(properties),
            "properties": properties}


def make_schema(layouts):
    properties = {
        "source": {
            "type": "object",
            "additionalProperties": False,
            "required": ["kind", "path"],
            "properties": {
                "kind": {"enum": ["sysfs", "rsmb", "dump", "blob", "sample"]},
                "path": {"type": ["string", "null"],
                         "description": "The file or folder read, as text: each byte of a name that is not UTF-8 "
                                        "is written as \\xNN (so the text alone cannot tell it from those four "
                                        "characters; path_bytes can). Null when no file was read."},
                "path_bytes": {"type": ["string", "null"], "pattern": "^([0-9a-f]{2})+$",
                               "description": "The name's raw bytes in lowercase hex when they are not valid UTF-8; "
                                              "null when path is the name exactly. Present whenever the command "
                                              "line or brantel.read named the source."},
            },
            "description": "Where the table came from.",
        },
        "smbios_version": {"type": "string", "pattern": "^[0-9]{1,3}\\.[0-9]{1,3}$",
                           "description": "As the table announces it; 2.31 and 2.33 read as 2.3."},
        "warnings": {"type": "array", "items": {"type": "string"},
                     "description": "Anomalies met while walking the table."},
    }
    for layout in layouts:
        if not layout["decoded"]:
            continue
        record = record_schema(layout["rows"], layout["title"], items=layout["items"])
        record["description"] = "Type %d: %s" % (layout["type"], layout["title"])
        properties[layout["key"]] = (record if layout["place"] == "singleton"
                                     else {"type": "array", "items": record})
    for key, what in (("other_structures", "Structures of types not decoded here (OEM types 128-255 among them)"),
                      ("inactive", "Type 126: inactive structures"),
                      ("end_of_table", "Type 127: the end-of-table structure")):
        properties[key] = {"type": "array", "items": GENERIC, "description": what}
    properties["totals"] = TOTALS
    return {
        "$schema": "https://json-schema.org/draft/2020-12/schema",
        "$id": "https://brantel.invalid/inventory.schema.json",
        "title": "brantel decoded inventory",
        "description": "What brantel.decode(), brantel.read() and `brantel inventory --format json` return. "
                       "Absent or unknown values are null; strings have trailing spaces trimmed; names are the "
                       "SMBIOS standard names; every structure of the table appears once, under its type's "
                       "key or in other_structures, inactive or end_of_table.",
        "type": "object",
        "additionalProperties": False,
        "required": list(properties),
        "properties": properties,
    }


def schema_text():
    from brantel._inventory_decoder import layouts
    return json.dumps(make_schema(layouts()), indent=2) + "\n"


def main(argv):
    text = schema_text()
    if "--check" in argv:
        same = SCHEMA_PATH.read_text() == text
        print("schema up to date" if same else "schema differs from the tables: run tools/make_schema.py")
        return 0 if same else 1
    temporary = SCHEMA_PATH.with_suffix(".json.tmp")
    temporary.write_text(text)
    temporary.replace(SCHEMA_PATH)
    print("wrote %s" % SCHEMA_PATH)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
