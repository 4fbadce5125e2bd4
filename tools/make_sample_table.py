#!/usr/bin/env python3
"""Build the sample SMBIOS table that ships with brantel (brantel/data/sample_desktop.bin).

The table describes a made-up but ordinary desktop, SMBIOS 3.3: firmware,
system (with UUID, SKU and family), baseboard, chassis (with one contained
element), one processor with its three caches, a PCIe slot, an on-board network
device, a physical memory array with four memory-device slots of which two are
filled, two memory modules, boot information and the end-of-table structure.
Every name in it is invented.

The output is a blob in brantel's format: major version, minor version, table.

Usage:  python tools/make_sample_table.py [OUT]     (default: the package's copy)
        python tools/make_sample_table.py --check   (exit 1 if the copy is stale)
"""
from __future__ import annotations

import argparse
import struct
import sys
from pathlib import Path
from typing import List, Optional, Sequence

VERSION = (3, 3)
DEFAULT_OUT = Path(__file__).resolve().parents[1] / "brantel" / "data" / "sample_desktop.bin"

# Handles, in table order.
BIOS, SYSTEM, BASEBOARD, CHASSIS, CPU, L1, L2, L3 = range(0x00, 0x08)
SLOT, LAN, ARRAY = 0x08, 0x09, 0x0A
DIMMS = (0x0B, 0x0C, 0x0D, 0x0E)
MODULES = (0x0F, 0x10)
BOOT, END = 0x11, 0xFEFF
NO_ERROR_INFO = 0xFFFE


class Strings:
    """The string set of one structure: add() gives each string its number."""

    def __init__(self) -> None:
        self.items: List[str] = []

    def add(self, text: Optional[str]) -> int:
        if text is None:
            return 0
        self.items.append(text)
        return len(self.items)

    def encode(self) -> bytes:
        if not self.items:
            return b"\0\0"
        return b"".join(s.encode("utf-8") + b"\0" for s in self.items) + b"\0"


def structure(kind: int, handle: int, formatted: bytes, strings: Optional[Strings] = None) -> bytes:
    """One structure: header (type, length, handle), the rest of the formatted
    area, then the string set."""
    length = 4 + len(formatted)
    if length > 0xFF:
        raise ValueError(f"type {kind} structure too long ({length} bytes)")
    return struct.pack("<BBH", kind, length, handle) + formatted + (strings or Strings()).encode()


def bios() -> bytes:
    s = Strings()
    formatted = struct.pack(
        "<BBHBBQBBBBBBH",
        s.add("Quillon Firmware Ltd."),  # vendor
        s.add("Q1.07"),                  # version
        0xF000,                          # starting address segment
        s.add("05/21/2024"),             # release date
        0xFF,                            # ROM size: see the extended size
        0x0000_0001_7BD9_9880,           # characteristics
        0x03, 0x0D,                      # characteristics extension bytes
        1, 7,                            # system firmware major, minor release
        0xFF, 0xFF,                      # no embedded controller firmware
        0x0020,                          # extended ROM size: 32 MiB
    )
    return structure(0, BIOS, formatted, s)


def system() -> bytes:
    s = Strings()
    manufacturer, product = s.add("Fenwick Computers"), s.add("Atlas D5")
    version, serial = s.add("Rev A"), s.add("FAD5-2405-00173")
    uuid = bytes.fromhex("6f3c21a8 4be0 11ef 9a2d 5c60ba7712e4".replace(" ", ""))
    sku, family = s.add("AD5-32G-1TB"), s.add("Atlas Desktop")
    formatted = struct.pack("<BBBB16sBBB", manufacturer, product, version, serial, uuid, 0x06, sku, family)
    return structure(1, SYSTEM, formatted, s)


def baseboard() -> bytes:
    s = Strings()
    formatted = struct.pack(
        "<BBBBBBBHBB",
        s.add("Fenwick Computers"),   # manufacturer
        s.add("AB-650D"),             # product
        s.add("1.02"),                # version
        s.add("AB650D-2405-0042"),    # serial number
        s.add("Not Specified"),       # asset tag
        0x09,                         # feature flags: hosting board, replaceable
        s.add("Default string"),      # location in chassis
        CHASSIS,                      # chassis handle
        0x0A,                         # board type: motherboard
        0,                            # no contained object handles
    )
    return structure(2, BASEBOARD, formatted, s)


def chassis() -> bytes:
    s = Strings()
    head = struct.pack(
        "<BBBBBBBBBIBBBB",
        s.add("Fenwick Computers"),   # manufacturer
        0x03,                         # type: desktop, no lock
        s.add("Atlas D5"),            # version
        s.add("FAD5-CH-00173"),       # serial number
        s.add("ASSET-00173"),         # asset tag
        0x03, 0x03, 0x03,             # boot-up, power supply, thermal state: safe
        0x03,                         # security status: none
        0,                            # OEM-defined
        0,                            # height: unspecified
        1,                            # power cords
        1, 3,                         # one contained element of 3 bytes
    )
    element = bytes((0x0A, 1, 1))     # one motherboard (baseboard type 0x0A)
    sku = struct.pack("<B", s.add("Atlas Mid-Tower"))
    return structure(3, CHASSIS, head + element + sku, s)


def processor() -> bytes:
    s = Strings()
    formatted = struct.pack(
        "<BBBB8sBBHHHBBHHHBBBBBBHHHHH",
        s.add("CPU0"),                           # socket designation
        0x03,                                    # type: central processor
        0xFE,                                    # family: see family 2
        s.add("Orinda Microdevices"),            # manufacturer
        bytes.fromhex("710fa200fffb8b17"),       # processor ID
        s.add("Orinda Vireo 8600 @ 3.60GHz"),    # version
        0x8A,                                    # voltage: 1.0 V
        100,                                     # external clock, MHz
        5000,                                    # max speed, MHz
        3600,                                    # current speed, MHz
        0x41,                                    # status: populated, enabled
        0x01,                                    # upgrade: other
        L1, L2, L3,                              # cache handles
        0,                                       # serial number: none
        s.add("Unknown"),                        # asset tag
        s.add("OV-8600"),                        # part number
        8, 8, 16,                                # cores, enabled cores, threads
        0x00FC,                                  # characteristics
        0x0001,                                  # family 2: other
        8, 8, 16,                                # core count 2, enabled 2, thread count 2
    )
    return structure(4, CPU, formatted, s)


def cache(handle: int, name: str, level: int, size_kib: int, kind: int, associativity: int) -> bytes:
    s = Strings()
    if size_kib < 0x8000:
        size16, size32 = size_kib, size_kib
    else:  # 64 KiB granularity
        size16, size32 = 0x8000 | (size_kib // 64), 0x8000_0000 | (size_kib // 64)
    formatted = struct.pack(
        "<BHHHHHBBBBII",
        s.add(name),
        0x0180 | (level - 1),   # write-back, enabled, internal, not socketed
        size16, size16,         # maximum and installed size
        0x0002, 0x0002,         # supported and current SRAM type: unknown
        0,                      # speed: unknown
        0x06,                   # error correction: multi-bit ECC
        kind,                   # system cache type
        associativity,
        size32, size32,         # maximum and installed size 2
    )
    return structure(7, handle, formatted, s)


def slot() -> bytes:
    s = Strings()
    formatted = struct.pack(
        "<BBBBBHBBHBB",
        s.add("PCIEX16_1"),     # designation
        0xB6,                   # slot type
        0x0D,                   # data bus width: x16
        0x03,                   # current usage: available
        0x04,                   # slot length: long
        1,                      # slot ID
        0x04, 0x01,             # characteristics 1 and 2
        0, 1, 0x00,             # segment, bus, device/function
    )
    return structure(9, SLOT, formatted, s)


def onboard_lan() -> bytes:
    s = Strings()
    formatted = struct.pack("<BBBHBB", s.add("Onboard LAN"), 0x85, 1, 0, 3, 0x00)
    return structure(41, LAN, formatted, s)


def memory_array() -> bytes:
    formatted = struct.pack(
        "<BBBIHHQ",
        0x03,                   # location: system board
        0x03,                   # use: system memory
        0x03,                   # error correction: none
        128 * 1024 * 1024,      # maximum capacity, KiB (128 GiB)
        NO_ERROR_INFO,
        len(DIMMS),             # number of memory devices
        0,                      # extended maximum capacity: unused
    )
    return structure(16, ARRAY, formatted)


def memory_device(handle: int, locator: str, bank: str, serial: Optional[str]) -> bytes:
    """A DDR5 slot: with a 16 GiB module when serial is given, else empty."""
    s = Strings()
    filled = serial is not None
    loc, bank_loc = s.add(locator), s.add(bank)
    manufacturer = s.add("Halden Memory" if filled else None)
    serial_no = s.add(serial)
    asset = s.add(f"{locator}_AssetTag" if filled else None)
    part = s.add("HM5-16G4800" if filled else None)
    speed = 4800 if filled else 0
    millivolts = 1100 if filled else 0
    formatted = struct.pack(
        "<HHHHHBBBBBHHBBBBBIHHHHBHBHHHHQQQQII",
        ARRAY,                         # physical memory array handle
        NO_ERROR_INFO,
        64 if filled else 0xFFFF,      # total width
        64 if filled else 0xFFFF,      # data width
        0x4000 if filled else 0,       # size: 16384 MiB, or no module
        0x09,                          # form factor: DIMM
        0,                             # device set: none
        loc, bank_loc,
        0x22 if filled else 0x02,      # memory type: DDR5, or unknown
        0x0080 if filled else 0x0004,  # type detail: synchronous, or unknown
        speed,
        manufacturer, serial_no, asset, part,
        0x02 if filled else 0,         # attributes: rank 2
        0,                             # extended size: unused
        speed,                         # configured speed
        millivolts, millivolts, millivolts,
        0x03 if filled else 0x02,      # memory technology: DRAM, or unknown
        0x0004 if filled else 0x0002,  # operating mode capability: volatile
        0,                             # firmware version: none
        0x1C5E if filled else 0, 0x5031 if filled else 0,  # module manufacturer and product IDs
        0, 0,                          # memory subsystem controller IDs
        0,                             # non-volatile size
        (16 << 30) if filled else 0,   # volatile size, bytes
        0, 0,                          # cache size, logical size
        0, 0,                          # extended speed, extended configured speed
    )
    return structure(17, handle, formatted, s)


def memory_module(handle: int, socket: str, bank_connections: int) -> bytes:
    s = Strings()
    formatted = struct.pack(
        "<BBBHBBB",
        s.add(socket),
        bank_connections,
        0,                      # current speed: unknown
        0x0500,                 # current memory type: DIMM, SDRAM
        0x8E,                   # installed size: 2^14 MiB, double-bank
        0x8E,                   # enabled size
        0,                      # error status: no errors
    )
    return structure(6, handle, formatted, s)


def boot_information() -> bytes:
    return structure(32, BOOT, bytes(6) + b"\0")


def end_of_table() -> bytes:
    return structure(127, END, b"")


def build_table() -> bytes:
    """The structure table, in order."""
    parts = [
        bios(),
        system(),
        baseboard(),
        chassis(),
        processor(),
        cache(L1, "L1 Cache", 1, 640, 0x05, 0x09),
        cache(L2, "L2 Cache", 2, 16384, 0x05, 0x07),
        cache(L3, "L3 Cache", 3, 36864, 0x05, 0x09),
        slot(),
        onboard_lan(),
        memory_array(),
        memory_device(DIMMS[0], "DIMM_A1", "BANK 0", None),
        memory_device(DIMMS[1], "DIMM_A2", "BANK 1", "0A1B2C3D"),
        memory_device(DIMMS[2], "DIMM_B1", "BANK 2", None),
        memory_device(DIMMS[3], "DIMM_B2", "BANK 3", "0A1B2C3E"),
        memory_module(MODULES[0], "DIMM_A2", 0x01),
        memory_module(MODULES[1], "DIMM_B2", 0x23),
        boot_information(),
        end_of_table(),
    ]
    return b"".join(parts)


def build_blob() -> bytes:
    """The sample blob: the two version bytes, then the table."""
    return bytes(VERSION) + build_table()


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Build brantel's sample SMBIOS blob.")
    parser.add_argument("out", nargs="?", type=Path, default=DEFAULT_OUT, help=f"output file (default: {DEFAULT_OUT})")
    parser.add_argument("--check", action="store_true", help="compare with OUT instead of writing it")
    args = parser.parse_args(argv)
    blob = build_blob()
    if args.check:
        current = args.out.read_bytes() if args.out.exists() else b""
        if current != blob:
            print(f"{args.out} is not what this script makes; run it without --check", file=sys.stderr)
            return 1
        return 0
    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_bytes(blob)
    print(f"wrote {args.out} ({len(blob)} bytes)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
