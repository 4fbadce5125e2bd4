"""The readable report of a decoded inventory (``brantel inventory``'s text format).

Driven by the decoded inventory alone (brantel.decode / brantel.read): keys
it does not know are left out, never an error.  Every string from the table
or a file name is shown through brantel.escaping, so none reaches a terminal
as a control or formatting character.
"""
from __future__ import annotations

from brantel import sources
from brantel.escaping import terminal_text

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run
    from typing import Any, Dict, List, Optional, Tuple

__all__ = ["text_report", "describe_source", "human_size", "human_bytes", "shown"]

# --- pieces --------------------------------------------------------------

UNITS = ("bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB")
NOT_SET = "(not set)"
BLANK = "(blank)"
UNKNOWN = "unknown"
LABEL_WIDTH = 23


def human_bytes(size: int) -> str:
    """A byte count in the largest binary unit that keeps it at 1 or more."""
    unit = 0
    while unit < len(UNITS) - 1 and size >= 1024 ** (unit + 1):
        unit += 1
    whole, rest = divmod(size, 1024 ** unit)
    if rest == 0:
        return f"{whole} {UNITS[unit]}"
    return f"{size / 1024 ** unit:.1f} {UNITS[unit]}"


def human_size(kib: int) -> str:
    """A size counted in KiB, as human_bytes() shows it."""
    return human_bytes(kib * 1024)


def shown(value: Any) -> str:
    """A value as the report prints it: control characters escaped, None as (not set)."""
    if value is None:
        return NOT_SET
    return terminal_text(str(value).strip()) or BLANK


def _or_unknown(value: Any, unit: str = "") -> str:
    if value is None:
        return UNKNOWN
    return f"{value} {unit}".rstrip()


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


def _counted(report: _Report, title: str, records: List[Any]) -> bool:
    report.heading(f"{title} ({len(records)})" if records else f"{title}: none")
    return bool(records)


def _processor(report: _Report, cpu: Dict[str, Any]) -> None:
    report.line(f"{shown(cpu['socket'])}: {shown(cpu['version'] or cpu['manufacturer'])}")
    if cpu["version"] is not None:
        report.field("Manufacturer", shown(cpu["manufacturer"]), 2)
    report.field("Max speed", _or_unknown(cpu["max_speed_mhz"], "MHz"), 2)
    report.field("Current speed", _or_unknown(cpu["current_speed_mhz"], "MHz"), 2)
    cores = _or_unknown(cpu["core_count"])
    if cpu["core_enabled"] is not None:
        cores += f" ({cpu['core_enabled']} enabled)"
    report.field("Cores", cores, 2)
    report.field("Threads", _or_unknown(cpu["thread_count"]), 2)
    if cpu["populated"] is None:
        state = "not reported"
    elif not cpu["populated"]:
        state = "socket empty"
    else:
        state = "populated, " + (cpu["status"] or "status unknown").lower()
    report.field("Status", state, 2)
    for label, key in (("Serial number", "serial_number"), ("Part number", "part_number")):
        if cpu[key]:
            report.field(label, shown(cpu[key]), 2)


def _memory_device(report: _Report, device: Dict[str, Any]) -> None:
    size = device["size_bytes"]
    parts = ["size unknown" if size is None else "empty" if size == 0 else human_bytes(size)]
    parts.append(device["form_factor"] or "form factor unknown")
    if size != 0:
        if device["type"]:
            parts.append(device["type"])
        for label, key in (("max", "speed_mts"), ("configured", "configured_speed_mts")):
            if device[key] is not None:
                parts.append(f"{label} {device[key]} MT/s")
        if device["rank"] is not None:
            parts.append(f"rank {device['rank']}")
        maker = " ".join(shown(device[k]) for k in ("manufacturer", "part_number") if device[k])
        if maker:
            parts.append(maker)
    report.line(f"{shown(device['locator'])} / {shown(device['bank_locator'])}: {', '.join(parts)}")


#: The strings that identify a baseboard or a chassis, as (label, key).
IDENTITY_FIELDS = (("Version", "version"), ("Serial number", "serial_number"), ("Asset tag", "asset_tag"))


def _strings(report: _Report, record: Dict[str, Any], fields: Tuple[Tuple[str, str], ...]) -> None:
    for label, key in fields:
        report.field(label, shown(record[key]), 2)


def _module_size(size: Optional[int]) -> str:
    if size is None:
        return "not determinable"
    return "none" if size == 0 else human_bytes(size)


def text_report(decoded: Dict[str, Any], source_line: Optional[str] = None) -> str:
    """The readable report of a decoded inventory (brantel.decode / brantel.read)."""
    report = _Report()
    if source_line is not None:
        report.lines.append(source_line)
    report.lines.append(f"Hardware inventory (SMBIOS {decoded['smbios_version']})")

    if decoded["warnings"]:
        report.heading(f"Warnings ({len(decoded['warnings'])})")
        for warning in decoded["warnings"]:
            report.line(shown(warning))

    report.heading("BIOS")
    bios = decoded["bios"]
    report.field("Vendor", shown(bios["vendor"]))
    report.field("Version", shown(bios["version"]))
    report.field("Release date", shown(bios["release_date"]))

    report.heading("System")
    system = decoded["system"]
    for label, key in (("Manufacturer", "manufacturer"), ("Product", "product"), ("Version", "version"),
                       ("Serial number", "serial_number")):
        report.field(label, shown(system[key]))
    if system["uuid"] is not None:
        report.field("UUID", system["uuid"])
        report.field("UUID (stored order)", system["uuid_stored"])
    else:
        blank = f" (stored as {system['uuid_stored']})" if system["uuid_stored"] else ""
        report.field("UUID", NOT_SET + blank)
    report.field("SKU", shown(system["sku"]))
    report.field("Family", shown(system["family"]))

    if _counted(report, "Baseboards", decoded["baseboards"]):
        for board in decoded["baseboards"]:
            report.line(f"{shown(board['manufacturer'])} {shown(board['product'])}")
            _strings(report, board, IDENTITY_FIELDS)
            report.field("Board type", board["type"] or UNKNOWN, 2)
    if _counted(report, "Chassis", decoded["chassis"]):
        for chassis in decoded["chassis"]:
            report.line(f"{shown(chassis['manufacturer'])}, {chassis['type'] or 'type unknown'}")
            _strings(report, chassis, IDENTITY_FIELDS + (("SKU", "sku"),))
    if _counted(report, "Processors", decoded["processors"]):
        for cpu in decoded["processors"]:
            _processor(report, cpu)
    if _counted(report, "Memory devices", decoded["memory_devices"]):
        for device in decoded["memory_devices"]:
            _memory_device(report, device)
    if decoded["memory_modules"]:
        report.heading(f"Memory modules ({len(decoded['memory_modules'])})")
        for module in decoded["memory_modules"]:
            double = {True: ", double-bank", False: "", None: ""}[module["double_bank"]]
            report.line(f"{shown(module['socket'])}: installed {_module_size(module['installed_size_bytes'])}, "
                        f"enabled {_module_size(module['enabled_size_bytes'])}{double}")

    totals = decoded["totals"]
    report.heading("Totals")
    report.field("Processor sockets", str(totals["processor_sockets"]))
    report.field("Populated processors", str(totals["processors_populated"]))
    report.field("Enabled processors", str(totals["processors_enabled"]))
    report.field("Memory (devices)", _device_total(totals["memory_bytes"], decoded["memory_devices"]))
    if totals["memory_modules_bytes"] is not None:
        report.field("Memory (modules)", _module_total(totals["memory_modules_bytes"], decoded["memory_modules"]))
    return "\n".join(report.lines) + "\n"


def _counted_noun(count: int, noun: str) -> str:
    return f"{count} {noun}" + ("" if count == 1 else "s")


def _device_total(total: int, devices: List[Dict[str, Any]]) -> str:
    """The devices' total, saying what it sums; unknown when the table lists no devices
    (a total of 0 bytes would claim a machine without memory)."""
    if not devices:
        return "unknown: the table lists no memory devices"
    installed = sum(1 for device in devices if device["size_bytes"])
    unknown = sum(1 for device in devices if device["size_bytes"] is None)
    text = f"{human_bytes(total)} in {_counted_noun(installed, 'installed device')}"
    return text + (f", {unknown} more of unknown size" if unknown else "")


def _module_total(total: int, modules: List[Dict[str, Any]]) -> str:
    enabled = sum(1 for module in modules if module["enabled_size_bytes"])
    return f"{human_bytes(total)} enabled in {_counted_noun(enabled, 'module')}"


def describe_source(source: Dict[str, Any]) -> str:
    """Where the table came from, in words (the report's Source: line); a file
    name is shown as the report shows table strings."""
    kind, path = source["kind"], source["path"]
    if kind == "sample":
        return "the sample table that ships with brantel (not this machine)"
    shown_path = terminal_text(path) if path is not None else None
    if kind == "rsmb":
        return f"RSMB export file {shown_path}" if path else "this machine's table (Windows firmware-table API)"
    if kind == "sysfs":
        if path == sources._sysfs_tables(None):
            return f"this machine's table ({shown_path})"
        return f"sysfs tables in {shown_path}"
    return f"{kind} file {shown_path}"
