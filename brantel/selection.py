"""Parts of a decoded inventory for people and scripts: the structures that
``brantel inventory --type`` keeps, and the values ``brantel get`` prints.

Type names stand for the structure types an administrator asks about
together; a number names one type (0-255).  Keywords name one value of a
structure; each matching structure gives one value, in table order.
"""
from __future__ import annotations

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from typing import Any, Dict, FrozenSet, List, Optional, Tuple

__all__ = ["TYPE_NAMES", "KEYWORDS", "parse_type", "select", "values", "document_key", "ecc_of"]

#: --type names and the structure types each stands for.
TYPE_NAMES: Dict[str, Tuple[int, ...]] = {
    "bios": (0, 13),
    "system": (1, 12, 15, 23, 32),
    "baseboard": (2, 10, 41),
    "chassis": (3,),
    "processor": (4,),
    "memory": (5, 6, 16, 17),
    "cache": (7,),
    "connector": (8,),
    "slot": (9,),
    "oem": (11,),
    "power": (39,),
    "bmc": (38, 42),
    "tpm": (43,),
}

#: get keywords -> (the document's key, the record's key).
KEYWORDS: Dict[str, Tuple[str, str]] = {
    "bios-vendor": ("bios", "vendor"),
    "bios-version": ("bios", "version"),
    "bios-release-date": ("bios", "release_date"),
    "bios-revision": ("bios", "system_bios_release"),
    "firmware-revision": ("bios", "embedded_controller_firmware_release"),
    "system-manufacturer": ("system", "manufacturer"),
    "system-product-name": ("system", "product"),
    "system-version": ("system", "version"),
    "system-serial-number": ("system", "serial_number"),
    "system-uuid": ("system", "uuid"),
    "system-sku-number": ("system", "sku"),
    "system-family": ("system", "family"),
    "baseboard-manufacturer": ("baseboards", "manufacturer"),
    "baseboard-product-name": ("baseboards", "product"),
    "baseboard-version": ("baseboards", "version"),
    "baseboard-serial-number": ("baseboards", "serial_number"),
    "baseboard-asset-tag": ("baseboards", "asset_tag"),
    "chassis-manufacturer": ("chassis", "manufacturer"),
    "chassis-type": ("chassis", "type"),
    "chassis-version": ("chassis", "version"),
    "chassis-serial-number": ("chassis", "serial_number"),
    "chassis-asset-tag": ("chassis", "asset_tag"),
    "processor-family": ("processors", "family"),
    "processor-manufacturer": ("processors", "manufacturer"),
    "processor-version": ("processors", "version"),
    "processor-frequency": ("processors", "current_speed_mhz"),
}

#: The structure type of each document key the keywords read.
KEYWORD_TYPES: Dict[str, int] = {"bios": 0, "system": 1, "baseboards": 2, "chassis": 3, "processors": 4}

#: Where the generic records of types without a list of their own go.
GENERIC_KEYS = ("other_structures", "inactive", "end_of_table")
#: What every selection keeps besides the structures.
HEADER_KEYS = ("source", "smbios_version", "warnings")


def parse_type(text: str) -> Tuple[int, ...]:
    """The structure types a --type value names; ValueError for one it does not."""
    name = text.strip().lower()
    if name in TYPE_NAMES:
        return TYPE_NAMES[name]
    try:
        number = int(name, 0)
    except ValueError:
        number = -1
    if not 0 <= number <= 255:
        raise ValueError(f"unknown structure type {text!r}: use a number 0-255 or one of {', '.join(TYPE_NAMES)}")
    return (number,)


_document_keys: Optional[Dict[int, Tuple[str, str]]] = None


def document_key(type_: int) -> Optional[Tuple[str, str]]:
    """(the document's key, "singleton" or "list") of a decoded type; None for a type in the generic lists."""
    global _document_keys
    if _document_keys is None:
        from brantel._inventory_decoder import layouts

        _document_keys = {layout["type"]: (layout["key"], layout["place"])
                          for layout in layouts() if layout["decoded"]}
    return _document_keys.get(type_)


def select(decoded: Dict[str, Any], types: FrozenSet[int]) -> Dict[str, Any]:
    """The decoded inventory limited to the structures of ``types``: the header
    keys, the key of each decoded type asked for (as in the whole document), and
    the generic lists with only their records of those types (present when one
    of them holds such a record).  Totals and every other key are left out."""
    selected = {key: decoded[key] for key in HEADER_KEYS if key in decoded}
    for type_ in sorted(types):
        place = document_key(type_)
        if place is not None:
            selected[place[0]] = decoded[place[0]]
    for key in GENERIC_KEYS:
        records = [record for record in decoded.get(key, ()) if record["type"] in types]
        if records:
            selected[key] = records
    return selected


def ecc_of(arrays: Any) -> Optional[str]:
    """The error correction of the memory arrays used as system memory when all
    of them name the same; None when they differ or none names one."""
    kinds = {array.get("error_correction_type") for array in arrays if array.get("use") == "System memory"}
    return kinds.pop() if len(kinds) == 1 else None


def values(decoded: Dict[str, Any], keyword: str) -> List[Optional[str]]:
    """The value ``keyword`` names, one per matching structure in table order
    (none when the table has no such structure); None where the structure does
    not give it.  Unknown keywords raise KeyError."""
    list_key, key = KEYWORDS[keyword]
    found = decoded.get(list_key)
    if isinstance(found, dict):  # BIOS and system: a handle of None says the table has none
        records = [found] if found.get("handle") is not None else []
    else:
        records = found or []
    result: List[Optional[str]] = []
    for record in records:
        value = record.get(key)
        if value is not None and keyword == "processor-frequency":
            value = f"{value} MHz"
        result.append(None if value is None else str(value))
    return result
