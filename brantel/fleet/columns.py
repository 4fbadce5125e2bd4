"""The fleet's columns and the names every part of it shares."""
from __future__ import annotations

import os
from typing import Any, Dict, Tuple, Union

from brantel import sources

StrPath = Union[str, "os.PathLike[str]"]
Row = Dict[str, Any]

#: Columns of a machine row, in order (jsonl rows start with ``"row": "machine"``).
#: ``path`` is the input's absolute path as text (``\\xNN`` for bytes of the name that are not
#: UTF-8); ``path_bytes`` is the name's raw bytes when it is not UTF-8, None otherwise.
MACHINE_COLUMNS: Tuple[str, ...] = (
    "path", "path_bytes", "source_kind", "smbios_version",
    "system_manufacturer", "system_product", "system_version", "system_serial_number",
    "system_uuid", "system_uuid_stored",
    "bios_vendor", "bios_version", "bios_release_date",
    "processor_sockets", "processors_populated", "processors_enabled", "core_count", "thread_count",
    "memory_bytes", "memory_device_count", "memory_types",
    "sha256", "warnings",
    "memory_capacity_bytes", "memory_slots", "memory_slots_populated", "ecc",
    "tpm_specification_version", "bmc_interface_type",
)

#: Columns of a memory-device row: the machine's sha256 and path, then the device.
MEMORY_DEVICE_COLUMNS: Tuple[str, ...] = (
    "sha256", "path", "path_bytes",
    "locator", "bank_locator", "size_bytes", "type", "form_factor", "speed_mts", "configured_speed_mts",
    "manufacturer", "serial_number", "part_number",
)
SHA256_AT = MACHINE_COLUMNS.index("sha256")

#: Columns of an error row: the input, its sha256 when it could be read, and why it failed.
ERROR_COLUMNS: Tuple[str, ...] = ("path", "path_bytes", "sha256", "reason")

FORMATS = ("jsonl", "csv", "sqlite")

#: No SMBIOS table comes near this; anything larger is refused unread.
MAX_INPUT_BYTES = sources.MAX_INPUT


class FleetError(Exception):
    """The run as a whole cannot go on (an output that cannot be written); one sentence."""
