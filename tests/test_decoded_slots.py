"""The decoded slots, port connectors and on-board devices on built tables
(the characteristics bytes, peer groups and the fields after them, the device
lists), and the on-board device and memory channel lists against the peer
decoder's text, which the row comparison does not reach."""
import pytest

import brantel
import peer_text
from conftest import real_tables
from smbios_builder import blob, structure
from test_decoded_inventory import valid

SLOT = {0x04: 1, 0x05: 0xB6, 0x06: 0x0D, 0x07: 0x04, 0x08: 0x04, 0x09: (0x0102, 2), 0x0B: 0x04, 0x0C: 0x03,
        0x0D: (0, 2), 0x0F: 0x17, 0x10: 0xFA}


def slot(fields=None, length=None):
    document = valid(brantel.decode(blob(structure(9, {**SLOT, **(fields or {})}, length=length, strings=["PCIE1"]))))
    (record,) = document["system_slots"]
    return record


@pytest.mark.parametrize("length, characteristics, bus_address", [
    (0x0C, ["Provides 3.3 volts"], None),   # 2.0: one characteristics byte
    (0x0D, ["Provides 3.3 volts", "PCI slot supports Power Management Event (PME#) signal",
            "Slot supports hot-plug devices"], None),
    (0x11, ["Provides 3.3 volts", "PCI slot supports Power Management Event (PME#) signal",
            "Slot supports hot-plug devices"], "0000:17:1f.2"),
])
def test_slot_characteristics_and_bus_address_by_length(length, characteristics, bus_address):
    record = slot(length=length)
    assert (record["characteristics"], record["bus_address"]) == (characteristics, bus_address)
    assert (record["designation"], record["type"], record["data_bus_width"], record["current_usage"],
            record["length"], record["slot_id"]) == ("PCIE1", "PCI Express Gen 3 x16", "16x or x16", "In use",
                                                    "Long Length", 0x0102)


@pytest.mark.parametrize("segment, bus, devfn, expected", [
    (0xFFFF, 0xFF, 0xFF, None), (0x00FF, 0xFF, 0xFF, None),   # no address, the segment as a word or a byte
    (0x0000, 0xFF, 0xFF, "0000:ff:1f.7"), (0x00FF, 0x00, 0xFF, "00ff:00:1f.7"),
])
def test_slot_bus_address_or_none(segment, bus, devfn, expected):
    assert slot({0x0D: (segment, 2), 0x0F: bus, 0x10: devfn})["bus_address"] == expected


PEERS = {0x11: 0x10, 0x12: 2, 0x13: bytes([0, 0, 0x18, 0x08, 8]), 0x18: bytes([1, 0, 0x19, 0x00, 4])}
AFTER_PEERS = {0x1D: 0x05, 0x1E: 0x0D, 0x1F: (2032, 2), 0x21: 0x04}


@pytest.mark.parametrize("fields, length, peers, after", [
    ({**PEERS, **AFTER_PEERS}, 0x22, [("0000:18:01.0", 8), ("0001:19:00.0", 4)],
     (5, "16x or x16", 20320, "Low-profile")),
    ({**PEERS, **AFTER_PEERS}, 0x21, [("0000:18:01.0", 8), ("0001:19:00.0", 4)],
     (5, "16x or x16", 20320, None)),                                     # 3.4: no height
    ({**PEERS, 0x12: 0}, 0x13, [], (None, None, None, None)),             # 3.2: no peers, nothing after
    ({**PEERS, 0x12: 200}, 0x22, [("0000:18:01.0", 8), ("0001:19:00.0", 4), ("0000:00:00.0", 0)],
     (None, None, None, None)),                                           # a count past the length: what fits
    ({**PEERS, 0x12: 0, 0x13: 0x03, 0x14: 0x0B, 0x15: (0, 2), 0x17: 0x00}, 0x18, [],
     (3, "8x or x8", None, None)),                                        # pitch 0 and height "not applicable"
])
def test_slot_peer_groups_and_the_fields_after_them(fields, length, peers, after):
    record = slot(fields, length)
    assert [(peer["bus_address"], peer["data_bus_width"]) for peer in record["peer_devices"]] == peers
    assert (record["slot_information"], record["slot_physical_width"], record["slot_pitch_um"],
            record["slot_height"]) == after


@pytest.mark.parametrize("length, devices", [
    (0x0A, [("Video", True, "VGA"), ("Ethernet", False, "LAN"), ("Sound", True, None)]),
    (0x09, [("Video", True, "VGA"), ("Ethernet", False, "LAN")]),      # an odd byte left over
    (0x04, []),
])
def test_onboard_device_groups(length, devices):
    table = structure(10, {0x04: 0x83, 0x05: 1, 0x06: 0x05, 0x07: 2, 0x08: 0x87, 0x09: 0}, length=length,
                      strings=["VGA", "LAN"])
    (group,) = valid(brantel.decode(blob(table)))["onboard_device_groups"]
    assert [(device["type"], device["enabled"], device["description"]) for device in group["devices"]] == devices


@pytest.mark.parametrize("fields, expected", [
    ({0x05: 0x85, 0x06: 2, 0x07: (0, 2), 0x09: 0x03, 0x0A: 0x00}, ("Ethernet", True, 2, "0000:03:00.0")),
    ({0x05: 0x10, 0x06: 1, 0x07: (0xFFFF, 2), 0x09: 0xFF, 0x0A: 0xFF}, ("UFS Controller", False, 1, None)),
    ({0x05: 0x82, 0x06: 1, 0x07: (0, 2), 0x09: 0, 0x0A: 0}, (None, True, 1, "0000:00:00.0")),  # "Unknown"
])
def test_onboard_devices_extended(fields, expected):
    (device,) = valid(brantel.decode(blob(structure(41, {0x04: 1, **fields}, strings=["Onboard LAN"]))))[
        "onboard_devices"]
    assert (device["type"], device["enabled"], device["type_instance"], device["bus_address"]) == expected


@pytest.mark.parametrize("fields, expected", [
    ({0x04: 1, 0x05: 0x00, 0x06: 2, 0x07: 0x0F, 0x08: 0x0E}, ("J1A1", "None", "Mouse", "PS/2", "Mouse Port")),
    ({0x05: 0x23, 0x07: 0xFF, 0x08: 0xFF}, (None, "USB Type-C Receptacle", None, "Other", "Other")),
    ({0x05: 0x50, 0x07: 0xA4, 0x08: 0xA1}, (None, None, None, "PC-98Full", "8251 FIFO Compatible")),
])
def test_port_connectors(fields, expected):
    (port,) = valid(brantel.decode(blob(structure(8, fields, length=0x09, strings=["J1A1", "Mouse"]))))[
        "port_connectors"]
    assert (port["internal_reference_designator"], port["internal_connector_type"],
            port["external_reference_designator"], port["external_connector_type"], port["port_type"]) == expected


def peer_items(structure_, labels):
    """The peer's repeated lines of one structure, in runs of `labels`."""
    values = [value.text for label, value in structure_.all_fields if label in labels]
    return [tuple(values[k:k + len(labels)]) for k in range(0, len(values), len(labels))]


@pytest.mark.parametrize("path", real_tables(), ids=lambda path: path.stem)
def test_device_lists_agree_with_the_peer(path):
    document = brantel.decode(path.read_bytes())
    groups = {group["handle"]: group for group in document["onboard_device_groups"]}
    channels = {channel["handle"]: channel for channel in document["memory_channels"]}
    for found in peer_text.structures(path.with_suffix(".dmidecode.txt")):
        if found.type == 10:
            ours = [(device["type"] or "Unknown", "Enabled" if device["enabled"] else "Disabled",
                     peer_text.peer_text(device["description"]).strip())
                    for device in groups[found.handle]["devices"]]
            theirs = [(kind, status, "Not Specified" if text == "<BAD INDEX>" else text.strip())
                      for kind, status, text in peer_items(found, ("Type", "Status", "Description"))]
            assert ours == theirs
        elif found.type == 37:
            values = [value.text for label, value in found.all_fields if label.startswith("Device ")]
            theirs = [(int(load), int(handle, 16)) for load, handle in zip(values[::2], values[1::2])]
            ours = [(device["load"], device["memory_device_handle"]) for device in channels[found.handle]["devices"]]
            # Explained: the peer reads device k where device k + 1 is (from 0x0A, not 0x07), the last one past
            # the structure. Ours follows the reference: device 1's load at 0x07, its handle at 0x08.
            assert len(theirs) == len(ours) and theirs[:-1] == ours[1:]
