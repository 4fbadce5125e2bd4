"""Real SMBIOS tables: each renders, and the values a peer decoder printed
beside each table agree with the inventory's."""
import re

import pytest

from conftest import real_tables
from smbios_builder import elements, items, parse_inventory
from brantel._sysprobe_internal import get_memory_devices, parse_windows_hardware_info

BLOBS = real_tables()
UNITS = {"kB": 1, "MB": 1024, "GB": 1024 ** 2, "TB": 1024 ** 3}


def peer_structures(path):
    """(handle, type, {key: value}) for each structure in the peer decoder's text."""
    found = []
    for block in path.read_text(errors="replace").split("\n\n"):
        lines = block.split("\n")
        header = re.match(r"Handle 0x([0-9A-F]{4}), DMI type (\d+),", lines[0])
        if header:
            fields = dict(line[1:].split(": ", 1) for line in lines[2:] if re.match(r"\t[^\t].*: ", line))
            found.append((int(header.group(1), 16), int(header.group(2)), fields))
    return found


def agrees(value, peer_value):
    # The peer prints "Not Specified" for string number 0 (None here) and dots for control characters.
    return peer_value == re.sub(r"[\x00-\x1f\x7f]", ".", value) or (value, peer_value) == ("None", "Not Specified")


def render(path):
    return parse_windows_hardware_info(path.read_bytes(), b"00000000-0000-0000-0000-000000000000")


@pytest.mark.parametrize("path", BLOBS, ids=lambda path: path.stem)
def test_table_renders_and_agrees_with_the_peer_decoder(path):
    values = parse_inventory(render(path))
    peer = peer_structures(path.with_suffix(".dmidecode.txt"))
    by_handle = {}
    for kind in ("cpu_list", "memory_device_set_list"):
        for element in elements(values[kind]):
            for record in element.split("\x04")[1 if kind == "memory_device_set_list" else 0:]:
                by_handle.setdefault((int(items(record)[0]), int(items(record)[1])), items(record))

    bios = [fields for _, type_, fields in peer if type_ == 0]
    if bios:
        assert agrees(items(elements(values["bios_list"])[0])[1], bios[0]["Vendor"])
    system = [fields for _, type_, fields in peer if type_ == 1][-1:]
    for fields in system:
        for key, peer_key in (("system_manufacturer", "Manufacturer"), ("system_product_name", "Product Name"),
                              ("system_serial_number", "Serial Number")):
            assert agrees(values[key], fields[peer_key])
        uuid = values["system_uuid"]
        swapped = "".join(uuid[i:i + 2] for i in (6, 4, 2, 0, 10, 8, 14, 12)) + uuid[16:]
        if re.fullmatch(r"[0-9A-F-]{36}", fields["UUID"]):
            assert fields["UUID"].replace("-", "").lower() in (uuid, swapped)

    for handle, type_, fields in peer:
        if type_ == 4:
            assert agrees(by_handle[4, handle][2], fields["Socket Designation"])
        elif type_ == 17:
            device = by_handle[17, handle]
            assert agrees(device[8], fields["Locator"]) and agrees(device[9], fields["Bank Locator"])
            number, _, unit = fields["Size"].partition(" ")
            expected = int(number) * UNITS[unit] if unit in UNITS else 0  # "No Module Installed", "Unknown"
            assert get_memory_devices(["\x04" + "\x02".join(device)])[0] == expected


def test_the_largest_table_renders_the_same_twice():
    largest = max(BLOBS, key=lambda path: path.stat().st_size)
    assert render(largest) == render(largest)
