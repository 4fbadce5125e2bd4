"""Rows as CSV: machines into one file, memory devices into another."""
from __future__ import annotations

import io
from typing import IO, Any, List, Optional

from brantel.fleet.columns import MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, SHA256_AT
from brantel.fleet.outputs import _open, _tuples_encode, memory_csv_path
from brantel.fleet.parallel import _as_list

class _CsvWriter:
    """Machine rows (error rows among them, with ``error`` set) into one file, devices into another."""

    encode = staticmethod(_tuples_encode)
    join = staticmethod(_as_list)

    def __init__(self, output: Optional[str], stdout: IO[Any]) -> None:
        import csv

        self._files: List[IO[Any]] = []
        devices: Optional[IO[Any]] = None
        if output:
            machines = _open(output, "w", newline="", encoding="utf-8", errors="backslashreplace")
            self._files.append(machines)
            devices = _open(memory_csv_path(output), "w", newline="", encoding="utf-8", errors="backslashreplace")
            self._files.append(devices)
        else:
            # On stdout only the machine rows fit: devices need a second file, so --output.
            buffer = getattr(stdout, "buffer", None)
            if buffer is not None:
                stdout.flush()
                machines = io.TextIOWrapper(buffer, encoding="utf-8", errors="backslashreplace",
                                            newline="", write_through=True)
            else:
                machines = stdout
        self._stdout = machines
        self._machines = csv.writer(machines)
        self._machines.writerow(MACHINE_COLUMNS + ("error",))
        self._devices = csv.writer(devices) if devices is not None else None
        if self._devices is not None:
            self._devices.writerow(MEMORY_DEVICE_COLUMNS)

    def write(self, batch: List[Any]) -> None:
        for encoded in batch:
            if isinstance(encoded[0], str):  # an error: (path, sha256, reason)
                path, digest, reason = encoded
                line: List[Optional[str]] = [None] * (len(MACHINE_COLUMNS) + 1)
                line[0], line[SHA256_AT], line[-1] = path, digest, reason
                self._machines.writerow(line)
                continue
            machine, devices = encoded
            self._machines.writerow(machine + (None,))
            if self._devices is not None:
                self._devices.writerows(devices)

    def close(self) -> None:
        for file in self._files:
            file.close()
        if not self._files:
            self._stdout.flush()
            if isinstance(self._stdout, io.TextIOWrapper):
                self._stdout.detach()  # leave the caller's stdout open
