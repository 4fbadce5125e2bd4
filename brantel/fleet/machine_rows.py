"""One input's rows: a machine row and its memory devices, or one error row."""
from __future__ import annotations

import hashlib
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple

from brantel import sources
from brantel.escaping import path_bytes, path_text
from brantel.fleet.columns import Row
from brantel.selection import ecc_of


class _Unreadable(Exception):
    """One input failed; the text is the error row's reason."""

_decode: Optional[Callable[[bytes], Dict[str, Any]]] = None


#: The structure types the rows read: BIOS, system, processors, memory arrays and
#: devices (the totals of processors, memory and slots come from these), IPMI, TPM.
#: Decoding only these keeps the fleet's rate; the warnings column then holds the
#: walk's warnings and those of these structures.
ROW_TYPES = (0, 1, 4, 16, 17, 38, 43)


def _decoder() -> Callable[[bytes], Dict[str, Any]]:
    # Looked up on first use so that importing this module stays cheap.
    global _decode
    if _decode is None:
        from brantel._inventory_decoder import decode_types

        def decode(blob: bytes) -> Dict[str, Any]:
            return decode_types(blob, ROW_TYPES)

        _decode = decode
    return _decode


def _total(values: Iterable[Optional[int]]) -> Optional[int]:
    """The sum of the known values; None when none is known."""
    known = [value for value in values if value is not None]
    return sum(known) if known else None


#: Processors that are there but do not run: VMware lists 126 spare sockets "disabled by BIOS".
#: An idle one is a second processor waiting for the operating system to start it, and counts.
_NOT_RUNNING = ("Disabled By User", "Disabled By BIOS")


def _first(records: Optional[List[Dict[str, Any]]], key: str) -> Optional[str]:
    """The first structure's value (a machine has one TPM, one BMC); None without one."""
    return records[0].get(key) if records else None


def _path_forms(path: str) -> Tuple[str, Optional[bytes]]:
    """(the path as text, with \\xNN for bytes of the name that are not UTF-8; the name's raw bytes
    when they are not UTF-8, None when the text says it all)."""
    if path.isascii():  # nearly every name: nothing to escape
        return path, None
    return path_text(path), path_bytes(path)


def _machine_row(path: str, raw: Optional[bytes], kind: str, digest: str, decoded: Dict[str, Any]) -> Row:
    system, bios, totals = decoded["system"], decoded["bios"], decoded["totals"]
    running = [cpu for cpu in decoded["processors"] if cpu["populated"] and cpu["status"] not in _NOT_RUNNING]
    devices = decoded["memory_devices"]
    # Types of the modules that are there: an empty slot (size 0) often names a type all the same.
    types = sorted({device["type"] for device in devices if device["type"] and device["size_bytes"] != 0})
    warnings = decoded["warnings"]
    return {
        "row": "machine",
        "path": path,
        "path_bytes": raw,
        "source_kind": kind,
        "smbios_version": decoded["smbios_version"],
        "system_manufacturer": system["manufacturer"],
        "system_product": system["product"],
        "system_version": system["version"],
        "system_serial_number": system["serial_number"],
        "system_uuid": system["uuid"],
        "system_uuid_stored": system["uuid_stored"],
        "bios_vendor": bios["vendor"],
        "bios_version": bios["version"],
        "bios_release_date": bios["release_date"],
        "processor_sockets": totals["processor_sockets"],
        "processors_populated": totals["processors_populated"],
        "processors_enabled": totals["processors_enabled"],
        "core_count": _total(cpu["core_count"] for cpu in running),
        "thread_count": _total(cpu["thread_count"] for cpu in running),
        "memory_bytes": totals["memory_bytes"],
        "memory_device_count": len(devices),
        "memory_types": ",".join(types) if types else None,
        "sha256": digest,
        "warnings": "; ".join(warnings) if warnings else None,
        "memory_capacity_bytes": totals.get("memory_capacity_bytes"),
        "memory_slots": totals.get("memory_slots"),
        "memory_slots_populated": totals.get("memory_slots_populated"),
        "ecc": ecc_of(decoded.get("physical_memory_arrays", ())),
        "tpm_specification_version": _first(decoded.get("tpm_devices"), "specification_version"),
        "bmc_interface_type": _first(decoded.get("ipmi_devices"), "interface_type"),
    }


def _device_rows(path: str, raw: Optional[bytes], digest: str, decoded: Dict[str, Any]) -> List[Row]:
    return [{
        "row": "memory_device",
        "sha256": digest,
        "path": path,
        "path_bytes": raw,
        "locator": device["locator"],
        "bank_locator": device["bank_locator"],
        "size_bytes": device["size_bytes"],
        "type": device["type"],
        "form_factor": device["form_factor"],
        "speed_mts": device["speed_mts"],
        "configured_speed_mts": device["configured_speed_mts"],
        "manufacturer": device["manufacturer"],
        "serial_number": device["serial_number"],
        "part_number": device["part_number"],
    } for device in decoded["memory_devices"]]


def _error_row(path: str, digest: Optional[str], reason: str) -> Row:
    text, raw = _path_forms(path)
    return {"row": "error", "path": text, "path_bytes": raw, "sha256": digest, "reason": reason}


def _inspect(item: Tuple[str, Optional[str]]) -> List[Row]:
    """The rows of one input: a machine row and its device rows, or one error row."""
    path, reason = item
    if reason is not None:
        return [_error_row(path, None, reason)]
    digest = None
    try:
        try:
            found = sources.read_input(path, named=False)
        except sources.SourceError as exc:
            if exc.data is not None:
                digest = hashlib.sha256(exc.data).hexdigest()
            raise _Unreadable(str(exc)) from None
        digest = hashlib.sha256(found.data).hexdigest()
        try:
            decoded = _decoder()(found.blob)
        except (ValueError, IndexError, TypeError, UnicodeError) as exc:
            raise _Unreadable(f"the table cannot be decoded: {exc}") from None
        if found.warnings:
            decoded["warnings"] = found.warnings + decoded["warnings"]
        text, raw = _path_forms(path)
        return [_machine_row(text, raw, found.kind, digest, decoded)] + _device_rows(text, raw, digest, decoded)
    except _Unreadable as exc:
        return [_error_row(path, digest, str(exc))]
    except Exception as exc:  # a fault of ours must not cost the fleet its other rows
        return [_error_row(path, digest, f"unexpected error: {type(exc).__name__}: {exc}")]
