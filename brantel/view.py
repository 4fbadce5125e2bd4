"""A structured view of a rendered inventory, and its inverse.

``parse_windows_hardware_info`` returns the inventory as one UTF-8 byte string::

    {'smbios_type_id':'1','system_manufacturer':'...', ... ,'system_guid':'...',}

with the 24 keys always present and always in the order of :data:`KEYS`.  A list
value is its elements' texts, each preceded by U+0003 (an empty list is U+0003
alone); a record's text is its items joined by U+0002; a list inside a record is
its elements, each preceded by U+0004 (an empty one is U+0004 alone).

:func:`parse_rendered` turns those bytes into plain Python data:

* a dict with the 24 keys in order;
* system values as ``str``, ``int`` or ``None``;
* each record list as a list of dicts keyed by the record's field names, in
  the item order of the record's text form, so that ``list(record.values())[k]``
  is item k, the item numbers that the inventory queries use.  Item 0 is the
  record's ``smbios_type_id``;
* ``memory_device_set_list`` as a list of ``{"memory_device_set_id": ...,
  "mds_memory_device_list": [device dicts]}``;
* ``memory_device_set_id_list`` as a list of ``int`` (or ``None``).

The record layouts (field names, item order, which items are numbers) are read
from the native field tables that render the inventory, so they cannot drift
apart.  For what a machine *is* (names instead of codes, sizes in bytes, the
UUID in canonical form) use ``brantel.decode`` / ``brantel.read`` instead: this
module is for callers who hold rendered bytes.

:func:`render_view` is the exact inverse: ``render_view(parse_rendered(data))
== data`` for every rendered inventory, and the view survives a trip through
``json`` unchanged.  :func:`query_results` runs the three inventory queries on
the same bytes, and :func:`describe` puts the view and the query results side
by side (the ``--format view`` output of the command line).

Separator characters inside values
----------------------------------
Nothing in a rendered inventory is escaped.  A text value that itself holds
U+0002, U+0003 or U+0004, or the sequences ``',`` and ``':'``, cannot be told
apart from the structure around it.  The view then behaves as follows, and the
round trip holds in every case:

* The 24 entries are found by their fixed keys, in order: a value ends at the
  first ``','`` followed by the next key and ``':'`` (and U+0003 when the next
  value is a list).  Stray apostrophes and commas in a value are therefore
  harmless; only a value that contains that whole sequence for the key that
  follows it is cut there, and the rest goes into the next value.  Reading
  never fails on bytes that the inventory returned.
* A list value is cut at every U+0003, a record at every U+0002, a device set
  and an in-record list at every U+0004.  A piece that does not have the shape
  of its record (the wrong number of items, or an integer item that is not a
  decimal number or ``None``) is kept whole as ``{"unparsed": "<its text>"}``,
  which renders back to exactly that text.  So a BIOS vendor string holding
  U+0002 makes its ``bios_list`` entry ``{"unparsed": ...}``; a device locator
  holding U+0004 splits that device into two ``unparsed`` pieces of its set;
  a string holding U+0003 splits its record into two ``unparsed`` entries of
  the list.  A crafted string could even pass for a record of the right shape:
  the view cannot know, and reads it as one.
* A text field is ``None`` when its text is exactly ``None``, so a string whose
  content is the four letters ``None`` reads back as ``None`` (it renders the
  same).  ``system_guid`` alone, which the inventory stores as given, is
  always ``str``.
"""
from __future__ import annotations

import re
from typing import Any, Dict, List, Optional, Sequence, Tuple

from brantel._inventory_decoder import rendered_layouts as _rendered_layouts

__all__ = [
    "KEYS",
    "RECORD_FIELDS",
    "DEVICE_SET_FIELDS",
    "UNPARSED",
    "parse_rendered",
    "render_view",
    "query_results",
    "describe",
]

View = Dict[str, Any]

ITEM_SEP = "\x02"
LIST_SEP = "\x03"
INNER_SEP = "\x04"

#: The 24 keys of a rendered inventory, in their fixed order.
KEYS: Tuple[str, ...] = (
    "smbios_type_id",
    "system_manufacturer",
    "system_product_name",
    "system_serial_number",
    "system_uuid",
    "system_sku_number",
    "system_family",
    "smbios_major_version",
    "smbios_minor_version",
    "smbios_docrev_version",
    "baseboard_list",
    "bios_list",
    "chassis_list",
    "cpu_list",
    "cpu_cache_list",
    "memory_controller_list",
    "memory_module_list",
    "system_slot_list",
    "on_board_device_list",
    "on_board_device_extended_list",
    "physical_memory_array_list",
    "memory_device_set_list",
    "memory_device_set_id_list",
    "system_guid",
)

#: The key of a list element that could not be read as its record.
UNPARSED = "unparsed"

# How an item's text becomes a value.  INT: a decimal number or None.  TEXT: a
# string, or None for the text "None".  HANDLES: a U+0004 list of numbers.
INT, TEXT, HANDLES = "int", "text", "handles"

_Layout = Tuple[Tuple[str, str], ...]

# The record layouts come from the native field tables that render the
# inventory, so that this reader can never drift from the writer: for each
# list, the record type and its items as (field name, kind), smbios_type_id first.
_LAYOUTS: Dict[str, Tuple[int, _Layout]] = _rendered_layouts()
_MEMORY_DEVICE = _LAYOUTS["memory_device_set_list"]
_RECORD_LISTS: Dict[str, Tuple[int, _Layout]] = {
    key: layout for key, layout in _LAYOUTS.items() if key != "memory_device_set_list"
}

#: Field names of each record list's records, in text-form order (item 0 first).
#: ``memory_device_set_list`` maps to the fields of one memory device.
RECORD_FIELDS: Dict[str, Tuple[str, ...]] = {
    key: tuple(name for name, _ in layout) for key, (_, layout) in _RECORD_LISTS.items()
}
RECORD_FIELDS["memory_device_set_list"] = tuple(name for name, _ in _MEMORY_DEVICE[1])

#: The two keys of a device set in the view.
DEVICE_SET_FIELDS: Tuple[str, str] = ("memory_device_set_id", "mds_memory_device_list")

_INT_KEYS = frozenset({"smbios_type_id", "smbios_major_version", "smbios_minor_version",
                       "smbios_docrev_version"})
_RAW_KEYS = frozenset({"system_guid"})

_DECIMAL = re.compile(r"0|[1-9][0-9]*")


class _Mismatch(Exception):
    """An item's text does not have the shape its field needs."""


# --- reading --------------------------------------------------------------------


def _int_value(text: str) -> Optional[int]:
    if text == "None":
        return None
    if _DECIMAL.fullmatch(text):
        return int(text)
    raise _Mismatch(text)


def _item_value(text: str, kind: str) -> Any:
    if kind == INT:
        return _int_value(text)
    if kind == TEXT:
        return None if text == "None" else text
    # HANDLES
    if not text.startswith(INNER_SEP):
        raise _Mismatch(text)
    body = text[1:]
    handles = [_int_value(piece) for piece in body.split(INNER_SEP)] if body else []
    if None in handles:
        raise _Mismatch(text)
    return handles


def _record(text: str, type_id: int, layout: _Layout) -> Dict[str, Any]:
    items = text.split(ITEM_SEP)
    if len(items) != len(layout) or items[0] != str(type_id):
        return {UNPARSED: text}
    try:
        return {name: _item_value(item, kind) for (name, kind), item in zip(layout, items)}
    except _Mismatch:
        return {UNPARSED: text}


def _device_set(text: str) -> Dict[str, Any]:
    pieces = text.split(INNER_SEP)
    if len(pieces) < 2:
        return {UNPARSED: text}
    try:
        set_id = _int_value(pieces[0])
    except _Mismatch:
        return {UNPARSED: text}
    device_texts = pieces[1:] if pieces[1:] != [""] else []
    type_id, layout = _MEMORY_DEVICE
    return {
        "memory_device_set_id": set_id,
        "mds_memory_device_list": [_record(device, type_id, layout) for device in device_texts],
    }


def _set_id(text: str) -> Any:
    try:
        return _int_value(text)
    except _Mismatch:
        return {UNPARSED: text}


def _elements(value_text: str) -> List[str]:
    """The element texts of a rendered list value (which starts with U+0003)."""
    body = value_text[1:]
    return body.split(LIST_SEP) if body else []


def _value_texts(data: bytes) -> List[str]:
    """The 24 value texts of a rendered inventory, in key order."""
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"a rendered inventory is bytes, not {type(data).__name__}")
    try:
        text = bytes(data).decode("utf-8")
    except UnicodeDecodeError as exc:
        raise ValueError(f"not a rendered inventory: not valid UTF-8 ({exc.reason} at byte {exc.start})") from None
    head = "{'" + KEYS[0] + "':'"
    if not text.startswith(head):
        raise ValueError("not a rendered inventory: it does not start with the smbios_type_id entry")
    if not text.endswith("',}"):
        raise ValueError("not a rendered inventory: it does not end with \"',}\"")
    values: List[str] = []
    start = len(head)
    for following in KEYS[1:]:
        marker = "','" + following + "':'"
        # A list value always starts with U+0003, which makes its marker surer.
        lead = LIST_SEP if following.endswith("_list") else ""
        end = text.find(marker + lead, start)
        if end < 0:
            shape = " or not a list" if lead else ""
            raise ValueError(f"not a rendered inventory: the entry of {following!r} is missing{shape}")
        values.append(text[start:end])
        start = end + len(marker)
    last_end = len(text) - len("',}")
    if last_end < start:
        raise ValueError("not a rendered inventory: the entry of 'system_guid' is cut short")
    values.append(text[start:last_end])
    return values


def parse_rendered(data: bytes) -> View:
    """The structured view of a rendered inventory (see the module docstring).

    Raises ValueError when ``data`` is not a rendered inventory: not UTF-8, not
    framed by ``{'smbios_type_id':'`` and ``',}``, a key missing or out of
    order, or a list value that does not start with U+0003.
    """
    view: View = {}
    for key, text in zip(KEYS, _value_texts(data)):
        if key in _RECORD_LISTS:
            type_id, layout = _RECORD_LISTS[key]
            view[key] = [_record(element, type_id, layout) for element in _elements(text)]
        elif key == "memory_device_set_list":
            view[key] = [_device_set(element) for element in _elements(text)]
        elif key == "memory_device_set_id_list":
            view[key] = [_set_id(element) for element in _elements(text)]
        elif key.endswith("_list"):
            # Lists that the inventory never fills: keep whatever is there as it is.
            view[key] = [{UNPARSED: element} for element in _elements(text)]
        elif key in _INT_KEYS:
            try:
                view[key] = _int_value(text)
            except _Mismatch:
                view[key] = text
        elif key in _RAW_KEYS:
            view[key] = text
        else:
            view[key] = None if text == "None" else text
    return view


# --- rendering ------------------------------------------------------------------


def _scalar_text(value: Any, where: str) -> str:
    if value is None:
        return "None"
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise TypeError(f"{where}: expected str, int or None, got {type(value).__name__}")
    return str(value)


def _item_text(value: Any, where: str) -> str:
    if isinstance(value, list):
        return INNER_SEP + INNER_SEP.join(_scalar_text(v, where) for v in value)
    return _scalar_text(value, where)


def _unparsed_text(element: Dict[str, Any], where: str) -> str:
    text = element[UNPARSED]
    if set(element) != {UNPARSED} or not isinstance(text, str):
        raise ValueError(f"{where}: an unparsed element is {{{UNPARSED!r}: <str>}} and nothing else")
    return text


def _record_text(element: Any, fields: Sequence[str], where: str) -> str:
    if not isinstance(element, dict):
        raise TypeError(f"{where}: expected a dict, got {type(element).__name__}")
    if UNPARSED in element:
        return _unparsed_text(element, where)
    if set(element) != set(fields):
        missing = [f for f in fields if f not in element]
        extra = [f for f in element if f not in fields]
        raise ValueError(f"{where}: fields do not match (missing {missing}, unexpected {extra})")
    return ITEM_SEP.join(_item_text(element[name], f"{where}.{name}") for name in fields)


def _device_set_text(element: Any, where: str) -> str:
    if isinstance(element, dict) and UNPARSED in element:
        return _unparsed_text(element, where)
    if not isinstance(element, dict) or set(element) != set(DEVICE_SET_FIELDS):
        raise ValueError(f"{where}: a device set is a dict with the keys {list(DEVICE_SET_FIELDS)}")
    devices = element["mds_memory_device_list"]
    if not isinstance(devices, list):
        raise TypeError(f"{where}.mds_memory_device_list: expected a list")
    fields = RECORD_FIELDS["memory_device_set_list"]
    device_texts = [_record_text(d, fields, f"{where}.mds_memory_device_list[{i}]") for i, d in enumerate(devices)]
    set_id = _scalar_text(element["memory_device_set_id"], f"{where}.memory_device_set_id")
    return set_id + INNER_SEP + INNER_SEP.join(device_texts)


def _list_text(key: str, elements: Any) -> str:
    if not isinstance(elements, list):
        raise TypeError(f"{key}: expected a list, got {type(elements).__name__}")
    texts: List[str] = []
    for i, element in enumerate(elements):
        where = f"{key}[{i}]"
        if key == "memory_device_set_list":
            texts.append(_device_set_text(element, where))
        elif key in RECORD_FIELDS:
            texts.append(_record_text(element, RECORD_FIELDS[key], where))
        elif isinstance(element, dict):
            texts.append(_unparsed_text(element, where))
        else:
            texts.append(_scalar_text(element, where))
    return LIST_SEP + LIST_SEP.join(texts)


def render_view(view: View) -> bytes:
    """The rendered inventory bytes of a structured view: the inverse of parse_rendered.

    ``view`` must hold exactly the 24 keys (in any order; they are written in
    the fixed order).  Values may be edited: records are written in field order
    whatever the order of their dict, and an ``{"unparsed": text}`` element is
    written as ``text``.  Raises ValueError or TypeError for a view of the wrong
    shape.
    """
    if not isinstance(view, dict):
        raise TypeError(f"a view is a dict, not {type(view).__name__}")
    if set(view) != set(KEYS):
        missing = [k for k in KEYS if k not in view]
        extra = [k for k in view if k not in KEYS]
        raise ValueError(f"a view holds exactly the 24 inventory keys (missing {missing}, unexpected {extra})")
    parts = ["{"]
    for key in KEYS:
        value = view[key]
        text = _list_text(key, value) if key.endswith("_list") else _scalar_text(value, key)
        parts.append("'" + key + "':'" + text + "',")
    parts.append("}")
    return "".join(parts).encode("utf-8")


# --- queries --------------------------------------------------------------------


def _query_error(exc: Exception) -> Dict[str, Any]:
    return {"error": f"{type(exc).__name__}: {exc}"}


def query_results(data: bytes) -> Dict[str, Any]:
    """The three inventory queries run on a rendered inventory.

    Each query gets the element texts of its list exactly as they stand in
    ``data`` (the pieces between U+0003), as the queries expect.  Sets come back
    as sorted lists, so that the result is plain, stable JSON data::

        {"populated_cpus": {"populated_cpu_list": [[item texts], ...]},
         "memory_devices": {"memory_size": KiB,
                            "memory_device_structure_set": [[locator, bank,
                                total width, data width, form factor], ...]},
         "memory_modules": {"memory_size": KiB, "memory_module_set": [sockets]}}

    A query that fails on this inventory (for example a processor whose status
    was not read, so its item is "None") gives ``{"error": "<type>: <message>"}``
    in place of its result.  Needs the native module.
    """
    from brantel import _sysprobe_internal as internal

    values = dict(zip(KEYS, _value_texts(data)))
    results: Dict[str, Any] = {}

    populated: List[List[str]] = []
    try:
        internal.get_populated_cpus(_elements(values["cpu_list"]), populated)
        results["populated_cpus"] = {"populated_cpu_list": populated}
    except (IndexError, ValueError) as exc:
        results["populated_cpus"] = _query_error(exc)

    try:
        size, structures = internal.get_memory_devices(_elements(values["memory_device_set_list"]))
        results["memory_devices"] = {
            "memory_size": size,
            "memory_device_structure_set": [list(t) for t in sorted(structures)],
        }
    except (IndexError, ValueError) as exc:
        results["memory_devices"] = _query_error(exc)

    try:
        size, sockets = internal.get_memory_modules(_elements(values["memory_module_list"]))
        results["memory_modules"] = {"memory_size": size, "memory_module_set": sorted(sockets)}
    except (IndexError, ValueError) as exc:
        results["memory_modules"] = _query_error(exc)

    return results


def describe(data: bytes) -> Dict[str, Any]:
    """``{"inventory": parse_rendered(data), "queries": query_results(data)}``."""
    return {"inventory": parse_rendered(data), "queries": query_results(data)}
