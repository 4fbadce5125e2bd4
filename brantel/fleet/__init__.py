"""Many SMBIOS tables into one table: the rows behind ``brantel table``.

A fleet owner collects tables from many machines into a folder and wants one
row per machine and one per memory device.  :func:`rows` turns files and
folders into those rows; :func:`write` puts them into JSON lines, CSV or an
SQLite file.

Each input is recognised by its content, never by its name:

* a dump as ``dmidecode --dump-bin`` or ``brantel dump`` writes it (an
  ``_SM_`` or ``_SM3_`` entry point at offset 0);
* a Windows RSMB export (the 8-byte RawSMBIOSData header of
  ``GetSystemFirmwareTable('RSMB')``, then the table);
* a blob in the inventory's own format (major, minor, table);
* a sysfs root (a folder holding ``firmware/dmi/tables/smbios_entry_point``
  and ``DMI``) or a copy of the tables folder itself (those two files side by
  side).

Folders are searched recursively, in sorted order, skipping names that start
with a dot and not following links to folders.  An input that cannot be read
or decoded gives an error row and the run goes on.

Reading and recognising an input is brantel.sources' work (``read_input``),
the same reader that ``brantel inventory`` uses.

The package, one concern a module: ``inputs`` finds the inputs,
``machine_rows`` turns one into rows, ``parallel``
spreads the work over processes, ``write_jsonl``, ``write_csv`` and
``write_sqlite`` write one format each (``outputs`` holds what they share),
``progress`` counts and shows the run; this module is the public API.
"""
from __future__ import annotations

import os
import sys
from typing import IO, Any, Iterable, Iterator, Optional, Union

from brantel.fleet.columns import (
    ERROR_COLUMNS, FORMATS, MACHINE_COLUMNS, MAX_INPUT_BYTES, MEMORY_DEVICE_COLUMNS, SHA256_AT, FleetError, Row,
    StrPath,
)
from brantel.fleet.inputs import find_inputs
from brantel.fleet.outputs import memory_csv_path
from brantel.fleet.parallel import _as_rows, _flatten, _results, default_jobs
from brantel.fleet.progress import Summary, _Progress
from brantel.fleet.write_csv import _CsvWriter
from brantel.fleet.write_jsonl import _JsonlWriter
from brantel.fleet.write_sqlite import _SqliteWriter

__all__ = [
    "MACHINE_COLUMNS",
    "MEMORY_DEVICE_COLUMNS",
    "ERROR_COLUMNS",
    "FORMATS",
    "MAX_INPUT_BYTES",
    "FleetError",
    "Summary",
    "default_jobs",
    "find_inputs",
    "rows",
    "write",
    "memory_csv_path",
]


def rows(paths: Iterable[StrPath], *, jobs: int = 1) -> Iterator[Row]:
    """The rows of the tables in ``paths`` (files and folders), in sorted path order.

    Each row is a dict whose ``"row"`` key says what it is: ``"machine"``
    (MACHINE_COLUMNS), followed by that machine's ``"memory_device"`` rows
    (MEMORY_DEVICE_COLUMNS, in table order), or ``"error"`` (ERROR_COLUMNS)
    for an input that cannot be read or decoded.  ``jobs`` > 1 reads the
    tables in that many processes; the rows come in the same order.
    """
    if jobs < 1:
        raise ValueError(f"jobs must be 1 or more, not {jobs}")
    for _, _, _, found in _results(find_inputs(paths), jobs, _as_rows, _flatten):
        yield from found


def _writer(format: str, output: Optional[str], stdout: IO[Any]) -> Union[_JsonlWriter, _CsvWriter, _SqliteWriter]:
    if format == "jsonl":
        return _JsonlWriter(output, stdout)
    if format == "csv":
        return _CsvWriter(output, stdout)
    if format == "sqlite":
        return _SqliteWriter(output)
    raise ValueError(f"unknown format {format!r}; choose one of {', '.join(FORMATS)}")


def write(paths: Iterable[StrPath], format: str = "jsonl", output: Optional[str] = None, *, jobs: int = 1,
          stdout: Optional[IO[Any]] = None, progress: Optional[IO[str]] = None) -> Summary:
    """Write the rows of ``paths`` in ``format`` to ``output`` (stdout for jsonl and csv when None).

    ``progress`` is where a progress line goes when it is a terminal and the
    run lasts more than a second.  Raises FleetError when the output cannot
    be written; inputs that fail become error rows, counted in the summary.
    """
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}; choose one of {', '.join(FORMATS)}")
    if jobs < 1:
        raise ValueError(f"jobs must be 1 or more, not {jobs}")
    items = find_inputs(paths)
    if output:
        # Last run's output in the folder being read is not an input.
        ours = {os.path.realpath(name) for name in (output, memory_csv_path(output), output + "-journal",
                                                     output + "-wal", output + "-shm")}
        items = [item for item in items if os.path.realpath(item[0]) not in ours]
    summary = Summary(len(items))
    writer = _writer(format, output, stdout if stdout is not None else sys.stdout)
    meter = _Progress(summary, progress)
    try:
        for failed, machines, devices, batch in _results(items, jobs, writer.encode, writer.join):
            try:
                writer.write(batch)
            except BrokenPipeError:
                raise
            except OSError as exc:
                raise FleetError(f"cannot write {output or 'the output'}: {exc.strerror or exc}") from None
            summary.failed += failed
            summary.machines += machines
            summary.devices += devices
            meter.update()
    finally:
        meter.finish()
        writer.close()
    return summary
