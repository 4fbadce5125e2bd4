"""Rows as CSV: machines into one file, memory devices into another.

A cell that a spreadsheet would take for a formula (it starts with ``=``, ``+``,
``-``, ``@``, TAB or CR) gets a single quote in front and is quoted: SMBIOS
strings and file names come from outside.  ``raw`` writes cells as they are.
The lines are made where the rows are (in the worker processes); the writer
only puts them in their files.
"""
from __future__ import annotations

import csv
import io
from typing import IO, Any, List, Optional, Sequence, Tuple

from brantel.escaping import csv_cell
from brantel.fleet.columns import MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, Row
from brantel.fleet.outputs import _cannot_write, _hex_paths, _Replacement, memory_csv_path
from brantel.fleet.parallel import Encoded, _as_list

_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")
_ERROR_LINE = [("path", 0), ("path_bytes", 1), ("sha256", MACHINE_COLUMNS.index("sha256")),
               ("reason", len(MACHINE_COLUMNS))]

_buffer = io.StringIO()
_plain = csv.writer(_buffer)
# The disarmed cell is quoted as well; quoting every text cell of that line does it.
_quoted = csv.writer(_buffer, quoting=csv.QUOTE_NONNUMERIC)


def _line(values: Sequence[Any], raw: bool) -> None:
    if not raw and any(value.startswith(_FORMULA_STARTS) for value in values if value.__class__ is str):
        _quoted.writerow([csv_cell(value) for value in values])
    else:
        _plain.writerow(values)


def _lines(result: List[Row], raw: bool) -> Tuple[str, str]:
    """(the machine file's line, the memory file's lines) of one input."""
    rows = _hex_paths(result)
    first = rows[0]
    _buffer.seek(0)
    _buffer.truncate()
    if first["row"] == "error":
        line: List[Any] = [None] * (len(MACHINE_COLUMNS) + 1)
        for column, at in _ERROR_LINE:
            line[at] = first[column]
        _line(line, raw)
        return _buffer.getvalue(), ""
    _line([first[column] for column in MACHINE_COLUMNS] + [None], raw)
    machine = _buffer.getvalue()
    _buffer.seek(0)
    _buffer.truncate()
    for device in rows[1:]:
        _line([device[column] for column in MEMORY_DEVICE_COLUMNS], raw)
    return machine, _buffer.getvalue()


def _csv_encode(result: List[Row]) -> Encoded:
    return result[0]["row"] == "error", len(result) - 1, _lines(result, False)


def _csv_raw_encode(result: List[Row]) -> Encoded:
    return result[0]["row"] == "error", len(result) - 1, _lines(result, True)


class _CsvWriter:
    """Machine rows (error rows among them, with ``error`` set) into one file, devices into another."""

    join = staticmethod(_as_list)

    def __init__(self, output: Optional[str], stdout: IO[Any], raw: bool = False) -> None:
        self.encode = _csv_raw_encode if raw else _csv_encode
        self._output = output or "the output"
        self._files: List[_Replacement] = []
        self._devices: Optional[IO[str]] = None
        self._stdout: Optional[IO[Any]] = None
        if output:
            options = dict(newline="", encoding="utf-8", errors="backslashreplace")
            try:
                self._files.append(_Replacement(output, "w", **options))
                self._files.append(_Replacement(memory_csv_path(output), "w", **options))
            except BaseException:
                self.abort()
                raise
            self._machines: IO[str] = self._files[0].file
            self._devices = self._files[1].file
        else:
            # On stdout only the machine rows fit: devices need a second file, so --output.
            buffer = getattr(stdout, "buffer", None)
            self._stdout = stdout
            if buffer is not None:
                stdout.flush()
                self._machines = io.TextIOWrapper(buffer, encoding="utf-8", errors="backslashreplace",
                                                  newline="", write_through=True)
            else:
                self._machines = stdout
        self._machines.write(",".join(MACHINE_COLUMNS + ("error",)) + "\r\n")
        if self._devices is not None:
            self._devices.write(",".join(MEMORY_DEVICE_COLUMNS) + "\r\n")

    def write(self, batch: List[Tuple[str, str]]) -> None:
        self._machines.write("".join([machine for machine, _ in batch]))
        if self._devices is not None:
            self._devices.write("".join([devices for _, devices in batch]))

    def close(self) -> None:
        if self._files:
            try:
                for file in self._files:  # both complete before either replaces its target
                    file.close()
                for file in self._files:
                    file.commit()
            finally:
                self.abort()
            return
        try:
            self._machines.flush()
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise _cannot_write(self._output, exc) from None
        finally:
            self.abort()  # leaves the caller's stdout open

    def abort(self) -> None:
        for file in self._files:
            file.discard()
        machines = getattr(self, "_machines", None)
        if not self._files and isinstance(machines, io.TextIOWrapper) and machines is not self._stdout:
            try:
                machines.detach()
            except ValueError:  # detached already
                pass
