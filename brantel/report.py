"""The readable report of a decoded inventory (``brantel inventory``'s text format).

Driven by the decoded inventory alone (brantel.decode / brantel.read): keys
it does not know are left out, never an error.  :func:`text_report` is the
summary; :func:`structures_report` shows chosen structures in full, every
decoded key under the label of its field table (the decoder's ``layouts()``).  Every string from the table
or a file name is shown through brantel.escaping, so none reaches a terminal
as a control or formatting character.
"""
from __future__ import annotations

from brantel import sources
from brantel.escaping import terminal_text

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run
    from typing import Any, Dict, List, Optional, Tuple

__all__ = ["text_report", "structures_report", "describe_source", "human_size", "human_bytes", "shown"]

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


def _caches_of(cpu: Dict[str, Any], caches: Dict[int, Dict[str, Any]]) -> str:
    """The processor's caches by level, as its cache handles name them ("" when none resolves)."""
    parts = []
    for level in (1, 2, 3):
        cache = caches.get(cpu.get(f"l{level}_cache_handle"))  # type: ignore[arg-type]
        if cache is None:
            continue
        size = cache.get("installed_size_bytes")
        parts.append(f"L{level} " + (UNKNOWN if size is None else "not installed" if size == 0 else human_bytes(size)))
    return ", ".join(parts)


def _processor(report: _Report, cpu: Dict[str, Any], caches: Dict[int, Dict[str, Any]]) -> None:
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
    cached = _caches_of(cpu, caches)
    if cached:
        report.field("Caches", cached, 2)


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
    caches = {cache["handle"]: cache for cache in decoded.get("caches", ())}
    if _counted(report, "Processors", decoded["processors"]):
        for cpu in decoded["processors"]:
            _processor(report, cpu, caches)
    if _counted(report, "Memory devices", decoded["memory_devices"]):
        for device in decoded["memory_devices"]:
            _memory_device(report, device)
    if decoded["memory_modules"]:
        report.heading(f"Memory modules ({len(decoded['memory_modules'])})")
        for module in decoded["memory_modules"]:
            double = {True: ", double-bank", False: "", None: ""}[module["double_bank"]]
            report.line(f"{shown(module['socket'])}: installed {_module_size(module['installed_size_bytes'])}, "
                        f"enabled {_module_size(module['enabled_size_bytes'])}{double}")

    _memory_arrays(report, decoded)
    _slots(report, decoded.get("system_slots", []))
    _power_supplies(report, decoded.get("power_supplies", []))
    _bmc(report, decoded.get("ipmi_devices", []))
    _tpm(report, decoded.get("tpm_devices", []))
    _oem_strings(report, decoded.get("oem_strings", []))

    totals = decoded["totals"]
    report.heading("Totals")
    report.field("Processor sockets", str(totals["processor_sockets"]))
    report.field("Populated processors", str(totals["processors_populated"]))
    report.field("Enabled processors", str(totals["processors_enabled"]))
    report.field("Memory (devices)", _device_total(totals["memory_bytes"], decoded["memory_devices"]))
    if totals["memory_modules_bytes"] is not None:
        report.field("Memory (modules)", _module_total(totals["memory_modules_bytes"], decoded["memory_modules"]))
    return "\n".join(report.lines) + "\n"


# --- the short sections of what newer tables tell -----------------------------


def _memory_arrays(report: _Report, decoded: Dict[str, Any]) -> None:
    """Capacity, slots and error correction of the arrays used as system memory."""
    totals = decoded["totals"]
    if totals.get("memory_slots") is None:
        return  # no array used as system memory: nothing to say
    report.heading("Memory slots")
    capacity = totals.get("memory_capacity_bytes")
    report.field("Maximum capacity", UNKNOWN if capacity is None else human_bytes(capacity))
    if totals["memory_slots"]:
        report.field("Slots", f"{totals['memory_slots_populated']} of {totals['memory_slots']} populated")
    else:  # devices that name another array (a virtual machine's, say) are no slots of these
        report.field("Slots", "unknown: no memory device names these arrays")
    from brantel.selection import ecc_of

    ecc = ecc_of(decoded.get("physical_memory_arrays", []))
    report.field("Error correction", ecc or "unknown or not the same in every array")


def _slots(report: _Report, slots: List[Dict[str, Any]]) -> None:
    if not slots:
        return
    used = sum(1 for slot in slots if slot.get("current_usage") == "In use")
    report.heading(f"System slots ({len(slots)}, {used} in use)")
    for slot in slots:
        parts = [shown(slot.get("type") or "type unknown"), (slot.get("current_usage") or "usage unknown").lower()]
        if slot.get("bus_address"):
            parts.append(str(slot["bus_address"]))
        report.line(f"{shown(slot.get('designation'))}: {', '.join(parts)}")


def _power_supplies(report: _Report, supplies: List[Dict[str, Any]]) -> None:
    if not supplies:
        return
    report.heading(f"Power supplies ({len(supplies)})")
    for supply in supplies:
        name = supply.get("name") or supply.get("location")
        maker = " ".join(shown(supply[key]) for key in ("manufacturer", "model_part_number") if supply.get(key))
        parts = [maker] if maker else []
        if supply.get("max_power_capacity_w") is not None:
            parts.append(f"{supply['max_power_capacity_w']} W")
        for key in ("type", "status"):
            if supply.get(key):
                parts.append(supply[key].lower())
        if supply.get("present") is False:
            parts.append("not present")
        elif supply.get("plugged") is not None:
            parts.append("plugged in" if supply["plugged"] else "unplugged")
        if supply.get("hot_replaceable"):
            parts.append("hot-replaceable")
        report.line(f"{shown(name)}: {', '.join(parts) or UNKNOWN}")


def _bmc(report: _Report, devices: List[Dict[str, Any]]) -> None:
    if not devices:
        return
    report.heading("BMC (IPMI)")
    for device in devices:
        parts = [device.get("interface_type") or "interface unknown"]
        if device.get("specification_version"):
            parts.append(f"IPMI {device['specification_version']}")
        if device.get("base_address") is not None:
            space = device.get("base_address_space") or "address"
            parts.append(f"{space} 0x{device['base_address']:x}")
        if device.get("i2c_target_address") is not None:
            parts.append(f"I2C target 0x{device['i2c_target_address']:02x}")
        report.line(", ".join(parts))


def _tpm(report: _Report, devices: List[Dict[str, Any]]) -> None:
    if not devices:
        return
    report.heading("TPM")
    for device in devices:
        parts = [f"TPM {device['specification_version']}" if device.get("specification_version") else "TPM"]
        for label, key in (("vendor", "vendor_id"), ("firmware", "firmware_version")):
            if device.get(key):
                parts.append(f"{label} {shown(device[key])}")
        if device.get("description"):
            parts.append(shown(device["description"]))
        report.line(", ".join(parts))


def _oem_strings(report: _Report, records: List[Dict[str, Any]]) -> None:
    strings = [text for record in records for text in record.get("strings") or ()]
    if not strings:
        return
    report.heading(f"OEM strings ({len(strings)})")
    for text in strings:
        report.line(shown(text))


# --- structures in full ------------------------------------------------------

#: Labels the field tables give in the peer decoder's words where those words
#: would mislead on their own (the flag is "plugged", the label says unplugged).
LABELS = {
    (39, "plugged"): "Plugged in",
    (4, "populated"): "Populated",
    (4, "status"): "CPU status",
}
#: Units of a key's suffix, as a value is shown.
SUFFIX_UNITS = (("_mhz", "MHz"), ("_mts", "MT/s"), ("_mv", "mV"), ("_ns", "ns"), ("_w", "W"), ("_rpm", "RPM"),
                ("_bits", "bits"), ("_mwh", "mWh"), ("_ma", "mA"), ("_um", "um"), ("_minutes", "min"),
                ("_percent", "%"))


def _key_label(key: str) -> str:
    return key.replace("_", " ").capitalize()


def _labels(type_: int, rows: List[Dict[str, Any]]) -> List[Tuple[str, str]]:
    """(key, label) of each row: the table's label where it names one field, else one made from the key."""
    counts: Dict[str, int] = {}
    for row in rows:
        if row["label"]:
            counts[row["label"]] = counts.get(row["label"], 0) + 1
    labelled = []
    for row in rows:
        label = LABELS.get((type_, row["key"]))
        if label is None:
            label = row["label"] if row["label"] and counts[row["label"]] == 1 else _key_label(row["key"])
        labelled.append((row["key"], label))
    return labelled


def _value_text(key: str, value: Any) -> str:
    """One value of a structure as the full section shows it."""
    if value is None:
        return NOT_SET
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, str):
        return shown(value)
    if isinstance(value, int):
        if key.endswith("_bytes"):
            return human_bytes(value) if value < 1024 or value % 1024 else f"{human_bytes(value)} ({value} bytes)"
        if key.endswith("_handle"):
            return f"0x{value:04X}"
        for suffix, unit in SUFFIX_UNITS:
            if key.endswith(suffix):
                return f"{value} {unit}"
        return str(value)
    if isinstance(value, dict):
        return ", ".join(f"{_key_label(k)}: {_value_text(k, v)}" for k, v in value.items())
    if isinstance(value, list):
        if not value:
            return "none"
        item_key = key[:-1] if key.endswith("s") else key  # handles, voltages: the unit of one
        return "; ".join(_value_text(item_key, item) for item in value)
    return shown(str(value))


def _record_lines(report: _Report, type_: int, layout: Dict[str, Any], record: Dict[str, Any], indent: int) -> None:
    labels = _labels(type_, layout["rows"])
    width = max([len(label) for _, label in labels] + [LABEL_WIDTH - 2 * indent - 1]) + 1
    for (key, label), row in zip(labels, layout["rows"]):
        value = record.get(key)
        if isinstance(value, list) and len(value) > 1 and all(isinstance(item, (str, dict)) for item in value):
            report.line(label, indent)  # one item a line below the label
            for item in value:
                report.line(_value_text(key, item), indent + 1)
        else:
            text = UNKNOWN if value is None and row["shape"] != "text" else _value_text(key, value)
            report.line(f"{label:<{width}} {text}".rstrip(), indent)
    items = layout.get("items")
    if items:
        entries = record.get(items["key"]) or []
        report.field(_key_label(items["key"]), str(len(entries)) if entries else "none", indent)
        for number, entry in enumerate(entries, 1):
            report.line(f"{number}.", indent + 1)
            _record_lines(report, type_, items, entry, indent + 2)


GENERIC_TITLES = {126: "Inactive structure", 127: "End of table"}


def _generic(report: _Report, record: Dict[str, Any]) -> None:
    title = GENERIC_TITLES.get(record["type"], "Structure, not decoded")
    report.heading(f"{title} (type {record['type']}, handle 0x{record['handle']:04X})")
    report.field("Length", f"{record['length']} bytes")
    report.field("Data", record["data"] or "none")
    report.field("Strings", str(len(record["strings"])) if record["strings"] else "none")
    for text in record["strings"]:
        report.line(shown(text), 2)


def structures_report(decoded: Dict[str, Any], types: Any, source_line: Optional[str] = None) -> str:
    """The structures of ``types`` (structure type numbers) in full, in type order,
    each with every decoded key under its field table's label."""
    from brantel._inventory_decoder import layouts

    report = _Report()
    if source_line is not None:
        report.lines.append(source_line)
    report.lines.append(f"Hardware inventory (SMBIOS {decoded['smbios_version']}): "
                        f"types {', '.join(str(type_) for type_ in sorted(types))}")
    if decoded["warnings"]:
        report.heading(f"Warnings ({len(decoded['warnings'])})")
        for warning in decoded["warnings"]:
            report.line(shown(warning))
    by_type = {layout["type"]: layout for layout in layouts() if layout["decoded"]}
    shown_any = False
    for type_ in sorted(types):
        layout = by_type.get(type_)
        if layout is not None:
            found = decoded.get(layout["key"])
            records = ([found] if found and found.get("handle") is not None else []) \
                if layout["place"] == "singleton" else (found or [])
            for record in records:
                handle = record.get("handle")
                report.heading(f"{layout['title']} (type {type_}, handle "
                               f"{UNKNOWN if handle is None else f'0x{handle:04X}'})")
                _record_lines(report, type_, layout, record, 1)
                shown_any = True
        for key in ("other_structures", "inactive", "end_of_table"):
            for record in decoded.get(key, ()):
                if record["type"] == type_:
                    _generic(report, record)
                    shown_any = True
    if not shown_any:
        report.heading("The table holds no structure of these types.")
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
