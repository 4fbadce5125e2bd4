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
import stat
import sys
from typing import IO, Any, Dict, Iterable, Iterator, List, Optional, Tuple, Union

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


def _absolute(path: StrPath) -> str:
    """``path`` absolute, with its folders' links and ``.``/``..`` resolved (not the name's own link):
    one file is one path however it was named, from whichever folder."""
    text = os.fsdecode(os.fspath(path))
    folder, name = os.path.split(text)
    if not name or name in (".", "..") or os.path.isdir(text):
        return os.path.realpath(text)
    return os.path.join(os.path.realpath(folder or os.curdir), name)


def _given(paths: Union[StrPath, Iterable[StrPath]]) -> List[str]:
    # One path on its own is that path, not the characters of its name.
    if isinstance(paths, (str, bytes, os.PathLike)):
        return [_absolute(paths)]
    return [_absolute(path) for path in paths]


def rows(paths: Union[StrPath, Iterable[StrPath]], *, jobs: int = 1) -> Iterator[Row]:
    """The rows of the tables in ``paths`` (files and folders, or one of them), in sorted path order.

    Each row is a dict whose ``"row"`` key says what it is: ``"machine"``
    (MACHINE_COLUMNS), followed by that machine's ``"memory_device"`` rows
    (MEMORY_DEVICE_COLUMNS, in table order), or ``"error"`` (ERROR_COLUMNS)
    for an input that cannot be read or decoded.  ``path`` is absolute;
    ``path_bytes`` holds the raw name when it is not UTF-8 (the text then
    has ``\\xNN`` for those bytes).  ``jobs`` > 1 reads the tables in that
    many processes; the rows come in the same order.
    """
    if jobs < 1:
        raise ValueError(f"jobs must be 1 or more, not {jobs}")
    for _, _, _, found in _results(find_inputs(_given(paths)), jobs, _as_rows, _flatten):
        yield from found


def _writer(format: str, output: Optional[str], stdout: IO[Any], notes: Optional[IO[str]] = None,
            csv_raw: bool = False) -> Union[_JsonlWriter, _CsvWriter, _SqliteWriter]:
    if format == "jsonl":
        return _JsonlWriter(output, stdout)
    if format == "csv":
        return _CsvWriter(output, stdout, raw=csv_raw)
    if format == "sqlite":
        return _SqliteWriter(output, notes)
    raise ValueError(f"unknown format {format!r}; choose one of {', '.join(FORMATS)}")


def _outputs(format: str, output: str) -> List[str]:
    """The files a run into ``output`` writes."""
    if format == "csv":
        return [output, memory_csv_path(output)]
    if format == "sqlite":
        return [output] + [output + suffix for suffix in ("-journal", "-wal", "-shm")]
    return [output]


def _ours(path: str, format: str) -> bool:
    """Whether the file at ``path`` is an earlier run's output (or empty): nothing an input holds."""
    try:
        with open(path, "rb") as file:
            head = file.read(100)
    except OSError:
        return False
    if not head or path.endswith(("-journal", "-wal", "-shm")):
        return True
    if format == "csv":
        return head.startswith((b"path,", b"sha256,path,"))
    if format == "sqlite":
        return head.startswith(b"SQLite format 3\0")  # the writer refuses one that is not ours
    return head.startswith(b'{"row": "')


def _inputs_apart_from(output: str, format: str, given: List[str], items: List[Tuple[str, Optional[str]]]
                       ) -> List[Tuple[str, Optional[str]]]:
    """The inputs without last run's output; FleetError when the output would overwrite an input."""
    targets = {_absolute(name): name for name in _outputs(format, output)}
    identities: Dict[Tuple[int, int], str] = {}
    for target in targets:
        try:
            status = os.stat(target)
            identities[(status.st_dev, status.st_ino)] = target
        except OSError:
            pass
    for path in given:
        try:
            status = os.stat(path)
        except OSError:
            continue
        if stat.S_ISDIR(status.st_mode):
            continue
        same = identities.get((status.st_dev, status.st_ino), path)
        if same in targets:
            raise FleetError(f"{targets[same]} is also an input; write the output elsewhere")
    kept: List[Tuple[str, Optional[str]]] = []
    for item in items:
        if item[0] not in targets:
            kept.append(item)
        elif not _ours(item[0], format):
            raise FleetError(f"{targets[item[0]]} is also an input (found in a folder read); "
                             f"write the output elsewhere")
    return kept


def write(paths: Union[StrPath, Iterable[StrPath]], format: str = "jsonl", output: Optional[str] = None, *,
          jobs: int = 1, stdout: Optional[IO[Any]] = None, progress: Optional[IO[str]] = None,
          notes: Optional[IO[str]] = None, csv_raw: bool = False) -> Summary:
    """Write the rows of ``paths`` in ``format`` to ``output`` (stdout for jsonl and csv when None).

    ``progress`` is where a progress line goes when it is a terminal and the
    run lasts more than a second; ``notes`` is where a run that waits for
    another says so.  ``csv_raw`` writes CSV cells as they are, formulas
    included.  Raises FleetError when the output cannot be written (a file
    written before is then left as it was) or is one of the inputs; inputs
    that fail become error rows, counted in the summary.
    """
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}; choose one of {', '.join(FORMATS)}")
    if jobs < 1:
        raise ValueError(f"jobs must be 1 or more, not {jobs}")
    given = _given(paths)
    items = find_inputs(given)
    if output:
        items = _inputs_apart_from(output, format, given, items)
    summary = Summary(len(items))
    writer = _writer(format, output, stdout if stdout is not None else sys.stdout, notes, csv_raw)
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
        writer.close()
    except BaseException:
        writer.abort()
        raise
    finally:
        meter.finish()
    return summary
