"""The brantel command line: ``brantel inventory`` (also ``python -m brantel inventory``).

Exit status: 0 on success, 2 for bad input or usage (a missing or unreadable
file, a bad dump, a table the inventory cannot walk, a wrong option), 1 for
anything unexpected.  Errors are one line on stderr, never a traceback.
"""
from __future__ import annotations

import argparse
import json
import os
import sys
from fractions import Fraction
from typing import Any, Callable, Dict, List, Optional, Sequence, TextIO, Tuple

from brantel import sources, view

__all__ = ["main", "build_parser", "text_report", "human_size"]

INVENTORY_EXAMPLES = """\
examples:
  brantel inventory                      this machine's table, or the bundled sample
  brantel inventory --format json        the structured view and the query results
  brantel inventory --dump table.dump    a dump made with: sudo dmidecode --dump-bin table.dump
  brantel inventory --blob table.bin     a blob: major version, minor version, table
  brantel inventory --sysfs-root /mnt/other/sys --format raw > inventory.bin
  brantel inventory --sample --guid 0f8fad5b-d9cb-469f-a165-70867728950e
"""

MAIN_EXAMPLES = """\
examples:
  brantel inventory
  brantel inventory --format json
  brantel inventory --help
"""


class UsageError(Exception):
    """Bad input that is not a source's fault; its text is one sentence."""


# --- the text report --------------------------------------------------------------

UNITS = ("KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB")

CHASSIS_TYPES = {
    1: "other", 2: "unknown", 3: "desktop", 4: "low-profile desktop", 5: "pizza box", 6: "mini tower",
    7: "tower", 8: "portable", 9: "laptop", 10: "notebook", 11: "hand held", 12: "docking station",
    13: "all in one", 14: "sub notebook", 15: "space-saving", 16: "lunch box", 17: "main server chassis",
    18: "expansion chassis", 19: "sub chassis", 20: "bus expansion chassis", 21: "peripheral chassis",
    22: "RAID chassis", 23: "rack mount chassis", 24: "sealed-case PC", 25: "multi-system chassis",
    26: "compact PCI", 27: "advanced TCA", 28: "blade", 29: "blade enclosure", 30: "tablet",
    31: "convertible", 32: "detachable", 33: "IoT gateway", 34: "embedded PC", 35: "mini PC", 36: "stick PC",
}
BOARD_TYPES = {
    1: "unknown", 2: "other", 3: "server blade", 4: "connectivity switch", 5: "system management module",
    6: "processor module", 7: "I/O module", 8: "memory module", 9: "daughter board", 10: "motherboard",
    11: "processor/memory module", 12: "processor/IO module", 13: "interconnect board",
}
FORM_FACTORS = {
    1: "other", 2: "unknown form factor", 3: "SIMM", 4: "SIP", 5: "chip", 6: "DIP", 7: "ZIP",
    8: "proprietary card", 9: "DIMM", 10: "TSOP", 11: "row of chips", 12: "RIMM", 13: "SODIMM",
    14: "SRIMM", 15: "FB-DIMM", 16: "die",
}
MEMORY_TYPES = {
    3: "DRAM", 4: "EDRAM", 5: "VRAM", 6: "SRAM", 7: "RAM", 8: "ROM", 9: "flash", 10: "EEPROM",
    11: "FEPROM", 12: "EPROM", 13: "CDRAM", 14: "3DRAM", 15: "SDRAM", 16: "SGRAM", 17: "RDRAM",
    18: "DDR", 19: "DDR2", 20: "DDR2 FB-DIMM", 24: "DDR3", 25: "FBD2", 26: "DDR4", 27: "LPDDR",
    28: "LPDDR2", 29: "LPDDR3", 30: "LPDDR4", 31: "logical non-volatile device", 32: "HBM", 33: "HBM2",
    34: "DDR5", 35: "LPDDR5", 36: "HBM3",
}
CPU_STATES = {
    0: "status unknown", 1: "enabled", 2: "disabled by user", 3: "disabled by firmware (POST error)",
    4: "idle", 7: "other status",
}
NOT_SET = "(not set)"
BLANK = "(blank)"
LABEL_WIDTH = 23


def human_size(kib: int) -> str:
    """A size counted in KiB, in the largest binary unit that keeps it at 1 or more."""
    value = Fraction(kib)
    unit = 0
    while value >= 1024 and unit < len(UNITS) - 1:
        value /= 1024
        unit += 1
    number = str(value.numerator) if value.denominator == 1 else f"{float(value):.1f}"
    return f"{number} {UNITS[unit]}"


def shown(value: Any) -> str:
    """A value as the report prints it: control characters escaped, None as (not set)."""
    if value is None:
        return NOT_SET
    text = str(value).strip()
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in text) or BLANK


def _named(table: Dict[int, str], code: Optional[int]) -> str:
    if code is None:
        return NOT_SET
    return table.get(code, f"type {code}")


def _pick(count: Optional[int], count2: Optional[int]) -> Optional[int]:
    """A processor count whose one-byte field says 0xFF: see the two-byte field."""
    if count == 0xFF and count2 is not None:
        return count2
    return count


def _cpu_state(status: Optional[int]) -> str:
    if status is None:
        return "status not reported"
    if not status & 0x40:
        return "socket empty"
    return "populated, " + CPU_STATES.get(status & 0x07, f"status {status & 0x07}")


def _device_size(device: Dict[str, Any]) -> Tuple[str, bool]:
    """(size text, whether a module is there) of a memory device."""
    size = device["md_size"]
    if size is None or size == 0xFFFF:
        return "size unknown", True
    if size == 0:
        return "empty", False
    if size == 0x7FFF:
        extended = device["md_extended_size"]
        if extended is None:
            return "size unknown", True
        return human_size(extended * 1024), True
    if size & 0x8000:
        return human_size(size & 0x7FFF), True
    return human_size(size * 1024), True


def _module_size(code: Optional[int]) -> str:
    """A memory module size byte: bits 0-6 give 2**n MiB or a code; bit 7 is double-bank."""
    if code is None:
        return NOT_SET
    exponent = code & 0x7F
    special = {0x7D: "not determinable", 0x7E: "none (not enabled)", 0x7F: "none (not installed)"}
    return special.get(exponent) or human_size(2 ** exponent * 1024)


class _Report:
    def __init__(self) -> None:
        self.lines: List[str] = []

    def heading(self, text: str) -> None:
        if self.lines:
            self.lines.append("")
        self.lines.append(text)

    def line(self, text: str, indent: int = 1) -> None:
        self.lines.append("  " * indent + text)

    def field(self, label: str, value: str, indent: int = 1) -> None:
        self.line(f"{label:<{LABEL_WIDTH - 2 * indent}} {value}".rstrip(), indent)

    def unparsed(self, indent: int = 1) -> None:
        self.line("(an entry that cannot be read as a record: its values hold separator characters)", indent)


def _records(report: _Report, title: str, records: List[Dict[str, Any]],
             show: Callable[[_Report, Dict[str, Any]], None]) -> None:
    report.heading(f"{title} ({len(records)})" if records else f"{title}: none")
    for record in records:
        if view.UNPARSED in record:
            report.unparsed()
        else:
            show(report, record)


def _baseboard(report: _Report, board: Dict[str, Any]) -> None:
    report.line(f"{shown(board['baseboard_manufacturer'])} {shown(board['baseboard_product'])}")
    report.field("Version", shown(board["baseboard_version"]), 2)
    report.field("Serial number", shown(board["baseboard_serial_number"]), 2)
    report.field("Board type", _named(BOARD_TYPES, board["baseboard_board_type"]), 2)
    handles = board["baseboard_contained_object_handles"]
    if handles:
        report.field("Contains", ", ".join(f"0x{h:04x}" for h in handles), 2)


def _chassis(report: _Report, chassis: Dict[str, Any]) -> None:
    code = chassis["chassis_type"]
    kind = NOT_SET if code is None else _named(CHASSIS_TYPES, code & 0x7F) + (", with lock" if code & 0x80 else "")
    report.line(f"{shown(chassis['chassis_manufacturer'])}, {kind}")
    report.field("Version", shown(chassis["chassis_version"]), 2)
    report.field("Serial number", shown(chassis["chassis_serial_number"]), 2)
    report.field("Asset tag", shown(chassis["chassis_asset_tag"]), 2)
    report.field("SKU", shown(chassis["chassis_sku_number"]), 2)


def _processor(report: _Report, cpu: Dict[str, Any]) -> None:
    report.line(f"{shown(cpu['cpu_socket_designation'])}: {shown(cpu['cpu_manufacturer'])}")
    speed = cpu["cpu_max_speed"]
    report.field("Max speed", f"{speed} MHz" if speed else "unknown", 2)
    cores = _pick(cpu["cpu_core_count"], cpu["cpu_core_count2"])
    enabled = _pick(cpu["cpu_core_enabled"], cpu["cpu_core_enabled2"])
    threads = _pick(cpu["cpu_thread_count"], cpu["cpu_thread_count2"])
    core_text = "unknown" if cores is None else str(cores)
    if cores is not None and enabled is not None:
        core_text += f" ({enabled} enabled)"
    thread_text = "unknown" if threads is None else str(threads)
    if threads is not None and cpu["cpu_thread_enabled"] is not None:
        thread_text += f" ({cpu['cpu_thread_enabled']} enabled)"
    report.field("Cores", core_text, 2)
    report.field("Threads", thread_text, 2)
    report.field("Status", _cpu_state(cpu["cpu_status"]), 2)
    if cpu["cpu_part_number"] is not None:
        report.field("Part number", shown(cpu["cpu_part_number"]), 2)


def _memory_device(report: _Report, device: Dict[str, Any]) -> None:
    size, present = _device_size(device)
    parts = [size, _named(FORM_FACTORS, device["md_form_factor"])]
    if present:
        memory_type = device["md_memory_type"]
        if memory_type in MEMORY_TYPES:
            parts.append(MEMORY_TYPES[memory_type])
        speed = device["md_max_speed"]
        if speed == 0xFFFF and device["md_max_extended_speed"]:
            speed = device["md_max_extended_speed"]
        if speed:
            parts.append(f"{speed} MT/s")
        maker = " ".join(shown(device[k]) for k in ("md_manufacturer", "md_part_number")
                         if device[k] is not None and device[k].strip())
        if maker:
            parts.append(maker)
    place = f"{shown(device['md_device_locator'])} / {shown(device['md_bank_locator'])}"
    report.line(f"{place}: {', '.join(parts)}")


def _memory_module(report: _Report, module: Dict[str, Any]) -> None:
    installed = module["mm_installed_size"]
    double = ", double-bank" if installed is not None and installed & 0x80 else ""
    report.line(f"{shown(module['mm_socket_designation'])}: installed {_module_size(installed)}, "
                f"enabled {_module_size(module['mm_enabled_size'])}{double}")


def _memory_devices(report: _Report, device_sets: List[Dict[str, Any]]) -> None:
    devices: List[Dict[str, Any]] = []
    for device_set in device_sets:
        if view.UNPARSED in device_set:
            devices.append(device_set)
        else:
            devices.extend(device_set["mds_memory_device_list"])
    sets = f", in {len(device_sets)} set{'s' if len(device_sets) != 1 else ''}" if device_sets else ""
    report.heading(f"Memory devices ({len(devices)}{sets})" if devices else "Memory devices: none")
    for device in devices:
        if view.UNPARSED in device:
            report.unparsed()
        else:
            _memory_device(report, device)


def _totals(report: _Report, inventory: Dict[str, Any], queries: Dict[str, Any]) -> None:
    report.heading("Totals")
    cpus = queries["populated_cpus"]
    processors = len(inventory["cpu_list"])
    if "error" in cpus:
        report.field("Populated processors", f"unavailable ({cpus['error']})")
    else:
        report.field("Populated processors", f"{len(cpus['populated_cpu_list'])} of {processors}")
    for label, key in (("Memory (devices)", "memory_devices"), ("Memory (modules)", "memory_modules")):
        result = queries[key]
        if "error" in result:
            report.field(label, f"unavailable ({result['error']})")
        else:
            report.field(label, human_size(result["memory_size"]))


def text_report(inventory: Dict[str, Any], queries: Dict[str, Any]) -> str:
    """The readable report of a structured view and its query results."""
    report = _Report()
    major, minor = inventory["smbios_major_version"], inventory["smbios_minor_version"]
    report.lines.append(f"Hardware inventory (SMBIOS {shown(major)}.{shown(minor)})")

    report.heading("BIOS")
    bioses = inventory["bios_list"]
    if not bioses:
        report.field("Vendor", NOT_SET)
    for bios in bioses:
        if view.UNPARSED in bios:
            report.unparsed()
        else:
            report.field("Vendor", shown(bios["bios_vendor"]))

    report.heading("System")
    for label, key in (
        ("Manufacturer", "system_manufacturer"),
        ("Product", "system_product_name"),
        ("Serial number", "system_serial_number"),
        ("UUID", "system_uuid"),
        ("SKU", "system_sku_number"),
        ("Family", "system_family"),
    ):
        report.field(label, shown(inventory[key]))
    if inventory["system_guid"]:
        report.field("GUID", shown(inventory["system_guid"]))

    _records(report, "Baseboards", inventory["baseboard_list"], _baseboard)
    _records(report, "Chassis", inventory["chassis_list"], _chassis)
    _records(report, "Processors", inventory["cpu_list"], _processor)
    _memory_devices(report, inventory["memory_device_set_list"])
    _records(report, "Memory modules", inventory["memory_module_list"], _memory_module)
    _totals(report, inventory, queries)
    return "\n".join(report.lines) + "\n"


# --- the command line -------------------------------------------------------------


def build_parser(prog: str = "brantel") -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Hardware inventory from SMBIOS tables.",
        epilog=MAIN_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"brantel {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    inventory = commands.add_parser(
        "inventory",
        help="build and show the hardware inventory",
        description=(
            "Build the hardware inventory from an SMBIOS table and show it.\n"
            "Without a source option it reads this machine's table and, when that cannot\n"
            "be read, the sample table that ships with brantel (saying so on stderr)."
        ),
        epilog=INVENTORY_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    source = inventory.add_mutually_exclusive_group()
    source.add_argument("--dump", metavar="FILE", help="read a dump file made with dmidecode --dump-bin")
    source.add_argument("--blob", metavar="FILE", help="read a blob file: major version, minor version, table")
    source.add_argument("--sysfs-root", metavar="DIR",
                        help="read firmware/dmi/tables/{smbios_entry_point,DMI} under DIR instead of /sys")
    source.add_argument("--sample", action="store_true", help="use the sample table that ships with brantel")
    inventory.add_argument("--format", choices=("text", "json", "raw"), default="text",
                           help="text: a readable report (default); json: the structured view and the "
                                "query results; raw: the rendered inventory bytes, unchanged")
    inventory.add_argument("--guid", metavar="TEXT", default="", help="GUID text stored in the inventory (default: empty)")
    inventory.set_defaults(handler=run_inventory)
    from brantel import fleet_cli

    fleet_cli.add_command(commands)
    return parser


def _version() -> str:
    try:
        from importlib.metadata import version

        return version("brantel")
    except Exception:  # not installed: running from a source tree
        return "(not installed)"


def _load_blob(args: argparse.Namespace, stderr: TextIO) -> Tuple[bytes, str]:
    """The blob to inventory and a name for it in messages."""
    if args.dump:
        return sources.read_dump(args.dump), args.dump
    if args.blob:
        return sources.read_blob(args.blob), args.blob
    if args.sysfs_root:
        return sources.read_sysfs(args.sysfs_root), args.sysfs_root
    if args.sample:
        return sources.sample_blob(), "the sample table"
    try:
        return sources.read_machine(), "this machine's table"
    except sources.SourceError as exc:
        print(f"brantel: note: {exc}; showing the sample table that ships with brantel instead", file=stderr)
        return sources.sample_blob(), "the sample table"


def _build(blob: bytes, guid: bytes, origin: str) -> bytes:
    try:
        from brantel import _sysprobe_internal as internal
    except ImportError as exc:
        raise RuntimeError(f"the native inventory module is not available ({exc})") from None
    try:
        result: bytes = internal.parse_windows_hardware_info(blob, guid)
    except (ValueError, IndexError, TypeError) as exc:
        # The walk refuses tables it cannot read: a bad or foreign table, not a fault here.
        raise UsageError(f"the inventory cannot be built from {origin}: {exc} ({type(exc).__name__})") from None
    return result


def _write_bytes(stdout: TextIO, data: bytes) -> None:
    buffer = getattr(stdout, "buffer", None)
    if buffer is None:  # a text-only stream (an embedding application's, say)
        stdout.write(data.decode("utf-8", "surrogateescape"))
        return
    stdout.flush()
    buffer.write(data)
    buffer.flush()


def _write_text(stdout: TextIO, text: str) -> None:
    """Text in the stream's encoding; characters it cannot hold are escaped, not fatal."""
    encoding = getattr(stdout, "encoding", None) or "utf-8"
    _write_bytes(stdout, text.encode(encoding, "backslashreplace"))


def run_inventory(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        guid = args.guid.encode("utf-8")
    except UnicodeEncodeError:
        raise UsageError("--guid must be text that can be written as UTF-8") from None
    blob, origin = _load_blob(args, stderr)
    rendered = _build(blob, guid, origin)
    if args.format == "raw":
        _write_bytes(stdout, rendered)
    elif args.format == "json":
        document = view.describe(rendered)
        _write_bytes(stdout, (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode("utf-8"))
    else:
        _write_text(stdout, text_report(view.parse_rendered(rendered), view.query_results(rendered)))
    return 0


def main(argv: Optional[Sequence[str]] = None, prog: str = "brantel") -> int:
    """Run the command line; returns the exit status."""
    stdout, stderr = sys.stdout, sys.stderr
    parser = build_parser(prog)
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version or a usage error, already printed
        return exc.code if isinstance(exc.code, int) else 2
    if args.command is None:
        parser.print_help(stderr)
        return 2
    try:
        status: int = args.handler(args, stdout, stderr)
        return status
    except (sources.SourceError, UsageError) as exc:
        print(f"brantel: error: {exc}", file=stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (e.g. `| head`): nothing more to say.  Point stdout
        # at the null device so that the interpreter's final flush stays quiet.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, stdout.fileno())
        except (OSError, ValueError, AttributeError):
            pass
        return 0
    except Exception as exc:
        print(f"brantel: unexpected error: {type(exc).__name__}: {exc}", file=stderr)
        return 1
