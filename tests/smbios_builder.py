"""Builds SMBIOS blobs for tests and benchmarks, and reads rendered inventories back.

Building:
    structure(type_, fields, length=None, handle=0, strings=(), filler=0)  -> one structure's bytes
        fields: {offset: value} placed in the formatted area, where value is an int
        (one byte), a (int, width) pair (little-endian) or bytes. The formatted area
        is `length` bytes (default: just past the last field, at least 4; fields past a
        shorter `length` are cut off); offsets 0-3 are the header, every other byte
        not given is `filler`. strings: str or bytes, each zero-terminated, then one more zero
        (an empty set is two zero bytes).
    blob(*structures, version=(3, 4)) -> bytes([major, minor]) + the table
    desktop_table() / server_table()   -> realistic tables (no version bytes)

Reading:
    parse_inventory(rendered) -> {key: value text} for the 24 keys, in order
    elements(value)           -> the elements of a list value (split at U+0003)
    items(text)               -> the items of a record text form (split at U+0002)
"""

KEYS = (
    "smbios_type_id", "system_manufacturer", "system_product_name", "system_serial_number",
    "system_uuid", "system_sku_number", "system_family", "smbios_major_version",
    "smbios_minor_version", "smbios_docrev_version", "baseboard_list", "bios_list",
    "chassis_list", "cpu_list", "cpu_cache_list", "memory_controller_list", "memory_module_list",
    "system_slot_list", "on_board_device_list", "on_board_device_extended_list",
    "physical_memory_array_list", "memory_device_set_list", "memory_device_set_id_list",
    "system_guid",
)


def structure(type_, fields=None, length=None, handle=0, strings=(), filler=0):
    fields = fields or {}
    placed = {}
    for offset, value in fields.items():
        if isinstance(value, tuple):
            value = value[0].to_bytes(value[1], "little")
        elif isinstance(value, int):
            value = bytes([value])
        placed[offset] = value
    end = max([4] + [offset + len(value) for offset, value in placed.items()])
    length = end if length is None else length
    area = bytearray([filler]) * max(length, end, 4)
    area[0], area[1] = type_, length
    area[2:4] = handle.to_bytes(2, "little")
    for offset, value in placed.items():
        area[offset:offset + len(value)] = value
    encoded = [s.encode() if isinstance(s, str) else s for s in strings]
    string_set = b"".join(s + b"\0" for s in encoded) + b"\0" if encoded else b"\0\0"
    return bytes(area[:length]) + string_set


def blob(*structures, version=(3, 4)):
    return bytes(version) + b"".join(structures)


def end_of_table(handle=0xFEFF):
    return structure(127, handle=handle)


def _processor(handle, socket):
    return structure(4, {
        0x04: 1, 0x05: 3, 0x06: 0xB3, 0x07: 2, 0x08: (0x000306F2, 4), 0x0C: (0xBFEBFBFF, 4),
        0x11: 0x8A, 0x14: (4000, 2), 0x16: (2600, 2), 0x18: 0x41, 0x19: 0x2B,
        0x1A: (handle + 1, 2), 0x1C: (handle + 2, 2), 0x1E: (handle + 3, 2),
        0x20: 3, 0x21: 4, 0x22: 5, 0x23: 12, 0x24: 12, 0x25: 24, 0x26: (0xEC, 2),
        0x28: (0xB3, 2), 0x2A: (12, 2), 0x2C: (12, 2), 0x2E: (24, 2), 0x30: (24, 2),
    }, handle=handle, strings=[socket, "Example Silicon Corp.", "Not Specified", "Unknown",
                               "Example Server CPU 12C @ 2.60GHz"])


def _memory_device(handle, locator, bank, size_mib):
    return structure(17, {
        0x04: (0x1000, 2), 0x06: (0xFFFE, 2), 0x08: (72, 2), 0x0A: (64, 2),
        0x0C: (size_mib if size_mib < 0x7FFF else 0x7FFF, 2), 0x0E: 0x09, 0x0F: 0, 0x10: 1, 0x11: 2,
        0x12: 0x1A, 0x13: (0x0080, 2), 0x15: (2400, 2), 0x17: 3, 0x18: 4, 0x19: 5, 0x1A: 6,
        0x1B: 2, 0x1C: (size_mib, 4), 0x20: (2133, 2), 0x22: (1200, 2), 0x28: 3, 0x29: (0x0004, 2),
        0x54: (0, 4), 0x58: (0, 4),
    }, handle=handle, strings=[locator, bank, "Example Memory", "%08X" % (0x3A5F0000 + handle),
                               "%s_AssetTag" % locator, "EXM32G72R4-2400    "])


def _filler(type_, handle, text, length=0x20):
    # Structures the walker steps over (caches, slots, OEM data) that make up most real tables.
    return structure(type_, {4: 1, length - 1: 0}, handle=handle, strings=[text])


def desktop_table():
    """About 3 KiB: BIOS, system, baseboard, chassis, one processor, two memory devices."""
    parts = [
        structure(0, {4: 1, 5: 2, 8: 3, 0x12: (0x0B, 8)}, length=0x1A, strings=["Example Firmware Inc.", "1.40", "03/12/2019"]),
        structure(1, {4: 1, 5: 2, 6: 3, 7: 4, 8: bytes(range(16)), 0x18: 6, 0x19: 5, 0x1A: 6}, length=0x1B, handle=1,
                  strings=["Example Boards Co., Ltd.", "EB-450", "1.0", "To be filled by O.E.M.", "SKU", "Family"]),
        structure(2, {4: 1, 5: 2, 6: 3, 7: 4, 8: 5, 9: 9, 0x0A: 6, 0x0B: (3, 2), 0x0D: 0x0A, 0x0E: 0}, handle=2,
                  strings=["Example Boards Co., Ltd.", "EB-450 PLUS", "1.0", "H316389567", "AT", "Default"]),
        structure(3, {4: 1, 5: 3, 6: 2, 7: 3, 8: 4, 0x0D: (0, 4), 0x11: 0, 0x13: 0, 0x14: 0, 0x15: 5}, length=0x16, handle=3,
                  strings=["Example Boards Co., Ltd.", "1.0", "Default string", "Default string", "SKU"]),
        _processor(0x10, "AM4"),
        _memory_device(0x20, "DIMM 0", "P0 CHANNEL A", 8192),
        _memory_device(0x21, "DIMM 1", "P0 CHANNEL B", 8192),
    ]
    handle = 0x40
    while sum(map(len, parts)) < 3000:
        parts.append(_filler(7 if handle % 3 else 9, handle, "L%d-Cache or slot J%dB1" % (handle % 3 + 1, handle)))
        handle += 1
    return b"".join(parts + [end_of_table()])


def server_table():
    """About 48 KiB: 8 processors, 96 memory devices in 8 sets, caches, slots and OEM strings."""
    parts = [structure(0, {4: 1}, strings=["Example Systems"]),
             structure(1, {4: 1, 5: 2, 7: 3, 8: bytes(range(16)), 0x19: 4, 0x1A: 5}, length=0x1B, handle=1,
                       strings=["Example Systems", "ES 8800", "8XK2P42", "SKU=0714", "ES"]),
             structure(2, {4: 1, 5: 2, 6: 3, 7: 4, 0x0B: (3, 2), 0x0D: 0x0A, 0x0E: 0}, handle=2,
                       strings=["Example Systems", "0X41AB", "A07", ".8XK2P42.CNFCP0095H00E8."])]
    for cpu in range(8):
        parts.append(_processor(0x400 + cpu * 4, "CPU%d" % (cpu + 1)))
        for level in range(3):
            parts.append(_filler(7, 0x700 + cpu * 4 + level, "L%d Cache of CPU%d" % (level + 1, cpu + 1), 0x1B))
    for dimm in range(96):
        device = bytearray(_memory_device(0x1100 + dimm, "DIMM_%c%d" % ("ABCDEFGH"[dimm // 12], dimm % 12 + 1),
                                          "NODE %d" % (dimm // 12), 32768))
        device[0x0F] = dimm // 12 + 1  # device set per processor
        parts.append(bytes(device))
    handle = 0x2000
    while sum(map(len, parts)) < 48 * 1024:
        parts.append(_filler(11 if handle % 2 else 9, handle, "OEM string or slot PCIe Slot %d: x16 Gen3" % handle, 0x11))
        handle += 1
    return b"".join(parts + [end_of_table()])


def parse_inventory(rendered):
    text = rendered.decode("utf-8")
    assert text[0] == "{" and text.endswith("',}")
    values, pos = {}, 1
    for index, key in enumerate(KEYS):
        opening = "'%s':'" % key
        assert text.startswith(opening, pos), (key, text[pos:pos + 40])
        pos += len(opening)
        end = text.index("','%s':'" % KEYS[index + 1], pos) if index + 1 < len(KEYS) else len(text) - 3
        values[key] = text[pos:end]
        pos = end + 2
    return values


def elements(value):
    assert value.startswith("\x03"), value
    return [] if value == "\x03" else value.split("\x03")[1:]


def items(text):
    return text.split("\x02")
