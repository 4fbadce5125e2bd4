"""Whether a run of bytes can be taken for an SMBIOS structure table.

A blob or an RSMB export has only a few header bytes to tell it by, which
other files often share, so recognition asks of its table that the structures
be whole and look like a table's.
"""
from __future__ import annotations


#: A string number is one byte: a structure cannot use more strings than this.
MAX_STRINGS = 255
#: Longer than any SMBIOS string met in real tables by far; random bytes make longer ones.
LONG_STRING = 1024
#: Of a table that breaks off, this many whole structures that look like a table's
#: make it a damaged table rather than other bytes.
DAMAGED_TABLE_STRUCTURES = 3


#: Structure types that no SMBIOS version defines (the defined ones end in the 40s;
#: 126 is "inactive", 127 the end, 128 and up the vendors').
UNDEFINED_TYPES = range(64, 126)
#: The string-number fields of the BIOS (type 0) and System Information (type 1)
#: structures, and the least length each structure has had.
IDENTITY_STRINGS = {0: ((4, 5, 8), 0x12), 1: ((4, 5, 6, 7), 0x08)}


def _break(table: bytes) -> "tuple[int, str, int, bool, bool]":
    """Walk ``table`` as recognition does: (structures walked, how the walk ended
    ("end", "data" or why it broke), where, whether a BIOS or System Information
    structure was met whose string numbers point at its strings (at least one of
    them), and whether every structure walked was plausible: a type that SMBIOS
    defines, strings of a plausible length)."""
    i = count = 0
    identity, plausible = False, True
    while i < len(table):
        if i + 4 > len(table):
            return count, "a structure header is cut short", i, identity, plausible
        kind, length = table[i], table[i + 1]
        if length < 4:
            return count, f"a structure gives a length of {length}, less than its own header", i, identity, plausible
        end = table.find(b"\0\0", i + length)
        if end < 0:
            return count, "a structure's strings have no end", i, identity, plausible
        strings = table[i + length:end].split(b"\0") if end > i + length else []
        if len(strings) > MAX_STRINGS:
            return count, "a structure has more strings than a string number can reach", i, identity, plausible
        if kind == 127 and length != 4:
            return count, "an end-of-table structure is not 4 bytes long", i, identity, plausible
        plausible = plausible and kind not in UNDEFINED_TYPES and all(len(text) <= LONG_STRING for text in strings)
        if kind in IDENTITY_STRINGS and length >= IDENTITY_STRINGS[kind][1]:
            numbers = [table[i + at] for at in IDENTITY_STRINGS[kind][0]]
            identity = identity or (any(numbers) and max(numbers) <= len(strings))
        count += 1
        i = end + 2
        if kind == 127:
            return count, "end", i, identity, plausible
    return count, "data", i, identity, plausible


def _implausible(table: bytes) -> "str | None":
    """None when ``table`` can be taken for an SMBIOS structure table; else where
    and why it cannot.

    A table is taken when its structures are whole and plausible (see _break)
    up to its end-of-table structure or up to the end of the bytes; or, for a
    damaged table, when at least DAMAGED_TABLE_STRUCTURES of them, among them a
    BIOS or System Information structure, come before the break.
    """
    count, ended, at, identity, plausible = _break(table)
    if not plausible:
        pass
    elif ended == "end" and (count > 1 or at == len(table)):
        return None
    elif ended == "data" and count:
        return None
    elif ended not in ("end", "data") and count >= DAMAGED_TABLE_STRUCTURES and identity:
        return None
    if not plausible:
        return "its structures have types that SMBIOS does not define, or strings longer than any table's"
    if ended == "end":
        return f"it ends with an end-of-table structure at byte {at} that nothing precedes"
    if ended == "data":
        return "it holds no structure"
    return f"{ended} at byte {at} of the table, after {count} whole structure{'s' if count != 1 else ''}"
