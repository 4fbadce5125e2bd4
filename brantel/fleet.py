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
"""
from __future__ import annotations

import hashlib
import io
import os
import struct
import sys
import time
from collections import deque
from operator import itemgetter
from typing import (
    IO, TYPE_CHECKING, Any, Callable, Deque, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union,
)

from brantel import sources

if TYPE_CHECKING:
    from concurrent.futures import Future

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

StrPath = Union[str, "os.PathLike[str]"]
Row = Dict[str, Any]

#: Columns of a machine row, in order (jsonl rows start with ``"row": "machine"``).
MACHINE_COLUMNS: Tuple[str, ...] = (
    "path", "source_kind", "smbios_version",
    "system_manufacturer", "system_product", "system_version", "system_serial_number",
    "system_uuid", "system_uuid_stored",
    "bios_vendor", "bios_version", "bios_release_date",
    "processor_sockets", "processors_populated", "processors_enabled", "core_count", "thread_count",
    "memory_bytes", "memory_device_count", "memory_types",
    "sha256", "warnings",
)

#: Columns of a memory-device row: the machine's sha256 and path, then the device.
MEMORY_DEVICE_COLUMNS: Tuple[str, ...] = (
    "sha256", "path",
    "locator", "bank_locator", "size_bytes", "type", "form_factor", "speed_mts", "configured_speed_mts",
    "manufacturer", "serial_number", "part_number",
)
SHA256_AT = MACHINE_COLUMNS.index("sha256")

#: Columns of an error row: the input, its sha256 when it could be read, and why it failed.
ERROR_COLUMNS: Tuple[str, ...] = ("path", "sha256", "reason")

FORMATS = ("jsonl", "csv", "sqlite")

#: No SMBIOS table comes near this; anything larger is refused unread.
MAX_INPUT_BYTES = sources.MAX_INPUT

SYSFS_TABLES = os.path.join("firmware", "dmi", "tables")
ENTRY_POINT_NAME, TABLE_NAME = "smbios_entry_point", "DMI"
RAW_SMBIOS_HEADER = 8


class FleetError(Exception):
    """The run as a whole cannot go on (an output that cannot be written); one sentence."""


class _Unreadable(Exception):
    """One input failed; the text is the error row's reason."""


# --- finding the inputs ------------------------------------------------------------


def _tables_folder(path: str) -> Optional[str]:
    """The folder holding smbios_entry_point and DMI when ``path`` is a sysfs root
    or a copy of its tables folder; None otherwise."""
    for folder in (os.path.join(path, SYSFS_TABLES), path):
        if os.path.isfile(os.path.join(folder, ENTRY_POINT_NAME)) and os.path.isfile(os.path.join(folder, TABLE_NAME)):
            return folder
    return None


def find_inputs(paths: Iterable[StrPath]) -> List[Tuple[str, Optional[str]]]:
    """The inputs named by ``paths``, in sorted path order, as (path, reason) pairs.

    A file (or anything that is not a folder, including a path that does not
    exist) is one input; a sysfs root is one input; any other folder stands
    for the inputs found in it.  ``reason`` is set when a folder could not be
    listed: that folder then becomes an error row.
    """
    found: Dict[str, Optional[str]] = {}

    def visit(folder: str) -> None:
        try:
            with os.scandir(folder) as listing:
                entries = sorted(listing, key=lambda entry: entry.name)
        except OSError as exc:
            found[folder] = f"the folder cannot be listed: {exc.strerror or exc}"
            return
        for entry in entries:
            if entry.name.startswith("."):
                continue
            try:
                if entry.is_dir(follow_symlinks=False):
                    if _tables_folder(entry.path) is not None:
                        found[entry.path] = None
                    else:
                        visit(entry.path)
                elif entry.is_file():
                    found[entry.path] = None
            except OSError as exc:
                found[entry.path] = f"cannot tell what it is: {exc.strerror or exc}"

    for given in paths:
        path = os.fspath(given)
        if os.path.isdir(path) and _tables_folder(path) is None:
            visit(path)
        else:
            found[path] = None
    return sorted(found.items())


# --- reading one input -------------------------------------------------------------


def _read(path: str, what: str = "the file") -> bytes:
    """The bytes of a file, refusing anything larger than MAX_INPUT_BYTES (or endless, like /dev/zero)."""
    try:
        with open(path, "rb", buffering=0) as file:
            # Ask for the size the file has: a read of MAX_INPUT_BYTES would allocate that much each time.
            size = os.fstat(file.fileno()).st_size
            if size > MAX_INPUT_BYTES:
                data = b""
            else:
                data = file.read(size + 1) if size else b""
                if len(data) > size or not size:  # a growing file, or a device that reports no size
                    data += _read_on(file, MAX_INPUT_BYTES + 1 - len(data))
    except FileNotFoundError:
        raise _Unreadable(f"{what} does not exist") from None
    except PermissionError:
        raise _Unreadable(f"permission denied reading {what}") from None
    except IsADirectoryError:
        raise _Unreadable(f"{what} is a folder holding no SMBIOS table") from None
    except OSError as exc:
        raise _Unreadable(f"{what} cannot be read: {exc.strerror or exc}") from None
    if size > MAX_INPUT_BYTES or len(data) > MAX_INPUT_BYTES:
        raise _Unreadable(f"{what} is larger than {MAX_INPUT_BYTES // (1024 * 1024)} MiB, far more than any SMBIOS table")
    return data


def _read_on(file: IO[bytes], limit: int) -> bytes:
    """Up to ``limit`` more bytes, in pieces, so that an endless file costs no more than the limit."""
    pieces = []
    while limit > 0:
        piece = file.read(min(limit, 1 << 20))
        if not piece:
            break
        pieces.append(piece)
        limit -= len(piece)
    return b"".join(pieces)


def _structure_starts(data: bytes, at: int) -> bool:
    """Whether a plausible SMBIOS structure (header length at least 4, a string
    set with its end) starts at ``at``: enough to tell a table from other bytes."""
    if len(data) < at + 6:
        return False
    length = data[at + 1]
    return length >= 4 and data.find(b"\0\0", at + length) >= 0


def _is_raw_smbios(data: bytes) -> bool:
    # RawSMBIOSData: Used20CallingMethod (0 or 1), major, minor, DMI revision, 32-bit length.
    if len(data) < RAW_SMBIOS_HEADER or data[0] > 1 or data[1] not in (2, 3):
        return False
    (length,) = struct.unpack_from("<I", data, 4)
    # A length beyond the data is a cut-short export, which reading it will report.
    return length >= 4 and _structure_starts(data, RAW_SMBIOS_HEADER)


def _is_blob(data: bytes) -> bool:
    return data[:1] in (b"\x02", b"\x03") and _structure_starts(data, 2)


def _recognise(data: bytes) -> Tuple[str, bytes]:
    """(source kind, blob) of a file's bytes."""
    try:
        if data.startswith(sources.SM21_ANCHOR) or data.startswith(sources.SM30_ANCHOR):
            return "dump", sources.table_from_dump(data, "the dump")
        if _is_raw_smbios(data):
            return "rsmb", sources.blob_from_raw_smbios(data)
    except sources.SourceError as exc:
        raise _Unreadable(str(exc)) from None
    if _is_blob(data):
        return "blob", data
    if not data:
        raise _Unreadable("the file is empty")
    raise _Unreadable(
        "the file is not an SMBIOS table: neither a dump (an _SM_ or _SM3_ entry point at its start), "
        "a Windows RSMB export nor a blob (major version, minor version, table)"
    )


def _sysfs_blob(folder: str) -> Tuple[bytes, bytes]:
    """(the input's bytes for its sha256, blob) of a sysfs tables folder."""
    entry_bytes = _read(os.path.join(folder, ENTRY_POINT_NAME), "the entry point file")
    table = _read(os.path.join(folder, TABLE_NAME), "the DMI file")
    try:
        entry = sources.parse_entry_point(entry_bytes, "the entry point file")
    except sources.SourceError as exc:
        raise _Unreadable(str(exc)) from None
    if entry.length_is_exact and len(table) < entry.table_length:
        raise _Unreadable(
            f"the DMI file is truncated: the entry point announces a {entry.table_length}-byte table "
            f"but the file holds {len(table)} bytes"
        )
    return entry_bytes + table, bytes((entry.major, entry.minor)) + table[: entry.table_length]


_decode: Optional[Callable[[bytes], Dict[str, Any]]] = None


def _decoder() -> Callable[[bytes], Dict[str, Any]]:
    # Looked up on first use so that importing this module stays cheap.
    global _decode
    if _decode is None:
        from brantel import decode

        _decode = decode
    return _decode


def _total(values: Iterable[Optional[int]]) -> Optional[int]:
    """The sum of the known values; None when none is known."""
    known = [value for value in values if value is not None]
    return sum(known) if known else None


def _machine_row(path: str, kind: str, digest: str, decoded: Dict[str, Any]) -> Row:
    system, bios, totals = decoded["system"], decoded["bios"], decoded["totals"]
    populated = [cpu for cpu in decoded["processors"] if cpu["populated"]]
    devices = decoded["memory_devices"]
    # Types of the modules that are there: an empty slot (size 0) often names a type all the same.
    types = sorted({device["type"] for device in devices if device["type"] and device["size_bytes"] != 0})
    warnings = decoded["warnings"]
    return {
        "row": "machine",
        "path": path,
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
        "core_count": _total(cpu["core_count"] for cpu in populated),
        "thread_count": _total(cpu["thread_count"] for cpu in populated),
        "memory_bytes": totals["memory_bytes"],
        "memory_device_count": len(devices),
        "memory_types": ",".join(types) if types else None,
        "sha256": digest,
        "warnings": "; ".join(warnings) if warnings else None,
    }


def _device_rows(path: str, digest: str, decoded: Dict[str, Any]) -> List[Row]:
    return [{
        "row": "memory_device",
        "sha256": digest,
        "path": path,
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
    return {"row": "error", "path": path, "sha256": digest, "reason": reason}


def _inspect(item: Tuple[str, Optional[str]]) -> List[Row]:
    """The rows of one input: a machine row and its device rows, or one error row."""
    path, reason = item
    if reason is not None:
        return [_error_row(path, None, reason)]
    digest = None
    try:
        folder = _tables_folder(path) if os.path.isdir(path) else None
        if folder is not None:
            data, blob = _sysfs_blob(folder)
            kind = "sysfs"
        else:
            data = _read(path)
        digest = hashlib.sha256(data).hexdigest()
        if folder is None:
            kind, blob = _recognise(data)
        try:
            decoded = _decoder()(blob)
        except (ValueError, IndexError, TypeError, UnicodeError) as exc:
            raise _Unreadable(f"the table cannot be decoded: {exc}") from None
        return [_machine_row(path, kind, digest, decoded)] + _device_rows(path, digest, decoded)
    except _Unreadable as exc:
        return [_error_row(path, digest, str(exc))]
    except Exception as exc:  # a fault of ours must not cost the fleet its other rows
        return [_error_row(path, digest, f"unexpected error: {type(exc).__name__}: {exc}")]


# --- many inputs, in one or several processes --------------------------------------

#: What a writer makes of one input's rows, in the process that read it:
#: (failed, number of memory devices, what the writer writes).
Encoded = Tuple[bool, int, Any]
Encoder = Callable[[List[Row]], Encoded]
#: What a writer makes of a batch of inputs: (inputs failed, machines, memory devices,
#: the batch's encoded inputs joined by the writer's joiner).
Batch = Tuple[int, int, int, Any]
Joiner = Callable[[List[Any]], Any]


def _as_rows(result: List[Row]) -> Encoded:
    return result[0]["row"] == "error", len(result) - 1, result


def _flatten(results: List[List[Row]]) -> List[Row]:
    return [row for result in results for row in result]


def _as_list(encoded: List[Any]) -> List[Any]:
    return encoded


def _worker_start() -> None:
    # Ctrl-C is for the process that started the run: it stops handing out work and
    # waits for the batches in hand, instead of every worker printing a traceback.
    import signal

    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _inspect_batch(items: Sequence[Tuple[str, Optional[str]]], encode: Encoder, join: Joiner) -> Batch:
    failed = devices = 0
    payloads = []
    for item in items:
        bad, count, payload = encode(_inspect(item))
        failed += bad
        devices += count
        payloads.append(payload)
    return failed, len(items) - failed, devices, join(payloads)


def _batches(items: Sequence[Tuple[str, Optional[str]]], jobs: int) -> List[Sequence[Tuple[str, Optional[str]]]]:
    # Small enough to keep every process busy to the end and the progress line moving,
    # large enough that passing them between processes costs little.
    size = max(1, min(64, len(items) // (jobs * 8)))
    return [items[start:start + size] for start in range(0, len(items), size)]


#: Starting worker processes costs about as much as reading a few hundred tables.
PARALLEL_FROM = 256


def _results(items: Sequence[Tuple[str, Optional[str]]], jobs: int, encode: Encoder, join: Joiner) -> Iterator[Batch]:
    """The inputs' rows, batch by batch, as ``encode`` and ``join`` make them, in the order of ``items``.

    With several jobs the reading, decoding and encoding happen in the worker
    processes, and a batch comes back as one piece; this one only writes it.
    """
    if jobs <= 1 or len(items) < PARALLEL_FROM:
        for batch in _batches(items, 1):
            yield _inspect_batch(batch, encode, join)
        return
    from concurrent.futures import ProcessPoolExecutor

    pending: Deque[Future[Batch]] = deque()
    # A bounded number of batches in flight keeps memory flat however long the run.
    with ProcessPoolExecutor(max_workers=jobs, initializer=_worker_start) as pool:
        try:
            for batch in _batches(items, jobs):
                pending.append(pool.submit(_inspect_batch, batch, encode, join))
                if len(pending) >= jobs * 4:
                    yield pending.popleft().result()
            while pending:
                yield pending.popleft().result()
        except BaseException:
            for future in pending:
                future.cancel()
            raise


def default_jobs() -> int:
    """One process per core this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


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


# --- writing -----------------------------------------------------------------------


class Summary:
    """What a run did: inputs found, machines and memory devices written, inputs failed."""

    def __init__(self, total: int) -> None:
        self.total = total
        self.machines = 0
        self.devices = 0
        self.failed = 0

    @property
    def done(self) -> int:
        return self.machines + self.failed


def memory_csv_path(path: str) -> str:
    """Where the memory-device CSV goes beside the machine CSV ``path``: ``-memory`` before the suffix."""
    folder, name = os.path.split(path)
    stem, suffix = os.path.splitext(name)
    return os.path.join(folder, f"{stem}-memory{suffix}")


def _open(path: str, mode: str, **options: Any) -> IO[Any]:
    try:
        return open(path, mode, **options)
    except OSError as exc:
        raise FleetError(f"cannot write {path}: {exc.strerror or exc}") from None


class _TextSink:
    """Bytes into a text-only stream (an embedding application's, say)."""

    def __init__(self, stream: IO[str]) -> None:
        self._stream = stream

    def write(self, data: bytes) -> int:
        return self._stream.write(data.decode("utf-8"))

    def flush(self) -> None:
        self._stream.flush()


def _binary(stream: IO[Any]) -> Union[IO[bytes], _TextSink]:
    buffer: Optional[IO[bytes]] = getattr(stream, "buffer", None)
    if buffer is None:
        return _TextSink(stream)
    stream.flush()
    return buffer


_json_encode = None


def _jsonl_encode(result: List[Row]) -> Encoded:
    global _json_encode
    if _json_encode is None:
        import json

        _json_encode = json.JSONEncoder(ensure_ascii=False).encode
    encode = _json_encode
    # backslashreplace writes a stray surrogate as the \\uXXXX escape that JSON readers take back.
    text = "".join([encode(row) + "\n" for row in result]).encode("utf-8", "backslashreplace")
    return result[0]["row"] == "error", len(result) - 1, text


class _JsonlWriter:
    encode = staticmethod(_jsonl_encode)
    join = staticmethod(b"".join)

    def __init__(self, output: Optional[str], stdout: IO[Any]) -> None:
        self._stream: Union[IO[bytes], _TextSink] = _open(output, "wb") if output else _binary(stdout)
        self._own = bool(output)

    def write(self, text: bytes) -> None:
        self._stream.write(text)

    def close(self) -> None:
        if isinstance(self._stream, _TextSink) or not self._own:
            self._stream.flush()
        else:
            self._stream.close()


_machine_values = itemgetter(*MACHINE_COLUMNS)
_device_values = itemgetter(*MEMORY_DEVICE_COLUMNS)


def _tuples_encode(result: List[Row]) -> Encoded:
    """An error row as (path, sha256, reason); a machine as (its values, its devices' values)."""
    first = result[0]
    if first["row"] == "error":
        return True, 0, (first["path"], first["sha256"], first["reason"])
    return False, len(result) - 1, (_machine_values(first), [_device_values(device) for device in result[1:]])


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


SQLITE_SCHEMA = """
CREATE TABLE IF NOT EXISTS machines (
    path TEXT NOT NULL,
    source_kind TEXT NOT NULL,
    smbios_version TEXT,
    system_manufacturer TEXT,
    system_product TEXT,
    system_version TEXT,
    system_serial_number TEXT,
    system_uuid TEXT,
    system_uuid_stored TEXT,
    bios_vendor TEXT,
    bios_version TEXT,
    bios_release_date TEXT,
    processor_sockets INTEGER,
    processors_populated INTEGER,
    processors_enabled INTEGER,
    core_count INTEGER,
    thread_count INTEGER,
    memory_bytes INTEGER,
    memory_device_count INTEGER,
    memory_types TEXT,
    sha256 TEXT PRIMARY KEY,
    warnings TEXT
);
CREATE TABLE IF NOT EXISTS memory_devices (
    sha256 TEXT NOT NULL,
    path TEXT NOT NULL,
    locator TEXT,
    bank_locator TEXT,
    size_bytes INTEGER,
    type TEXT,
    form_factor TEXT,
    speed_mts INTEGER,
    configured_speed_mts INTEGER,
    manufacturer TEXT,
    serial_number TEXT,
    part_number TEXT
);
CREATE TABLE IF NOT EXISTS errors (
    path TEXT PRIMARY KEY,
    sha256 TEXT,
    reason TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS machines_serial_number ON machines (system_serial_number);
CREATE INDEX IF NOT EXISTS machines_uuid ON machines (system_uuid);
CREATE INDEX IF NOT EXISTS machines_path ON machines (path);
CREATE INDEX IF NOT EXISTS memory_devices_sha256 ON memory_devices (sha256);
"""

class _SqliteWriter:
    """Rows into an SQLite file, keyed so that a second run over the same files changes nothing.

    A machine is its table's sha256: a table seen again replaces its rows.  A
    path holds one outcome, the latest: when the file at a path now holds
    another table, or fails, the rows of what it held before go.  Inputs are
    written in batches, each statement once for the whole batch.
    """

    encode = staticmethod(_tuples_encode)
    join = staticmethod(_as_list)
    BATCH, COMMIT_EVERY = 256, 8192

    def __init__(self, output: Optional[str]) -> None:
        import sqlite3

        if not output:
            raise FleetError("--format sqlite needs --output FILE")
        self._path = output
        try:
            self._db = sqlite3.connect(output)
            self._check_tables()
            self._db.executescript(SQLITE_SCHEMA)
        except sqlite3.Error as exc:
            raise FleetError(f"cannot use {output} as an SQLite file: {exc}") from None
        self._machine_sql = (f"INSERT OR REPLACE INTO machines ({', '.join(MACHINE_COLUMNS)}) "
                             f"VALUES ({', '.join('?' * len(MACHINE_COLUMNS))})")
        self._device_sql = (f"INSERT INTO memory_devices ({', '.join(MEMORY_DEVICE_COLUMNS)}) "
                            f"VALUES ({', '.join('?' * len(MEMORY_DEVICE_COLUMNS))})")
        self._machines: List[Tuple[Any, ...]] = []
        self._devices: List[Tuple[Any, ...]] = []
        self._errors: List[Tuple[str, Optional[str], str]] = []
        self._digests: set[str] = set()
        self._uncommitted = 0

    def _check_tables(self) -> None:
        """Refuse a file whose tables have other columns (another program's, or another version's)."""
        expected = {"machines": MACHINE_COLUMNS, "memory_devices": MEMORY_DEVICE_COLUMNS, "errors": ERROR_COLUMNS}
        for table, columns in expected.items():
            present = tuple(row[1] for row in self._db.execute(f"PRAGMA table_info({table})"))
            if present and present != columns:
                raise FleetError(
                    f"{self._path} already has a {table} table with other columns; write to a new file")

    def write(self, batch: List[Any]) -> None:
        for encoded in batch:
            if isinstance(encoded[0], str):
                self._errors.append(encoded)
            else:
                machine, devices = encoded
                digest = machine[SHA256_AT]
                if digest in self._digests:
                    # The same table twice in one batch: the second must replace the first, as it would alone.
                    self._flush()
                self._digests.add(digest)
                self._machines.append(machine)
                self._devices.extend(devices)
            if len(self._machines) + len(self._errors) >= self.BATCH:
                self._flush()

    def _flush(self) -> None:
        import sqlite3

        db = self._db
        machines = [(machine[0], machine[SHA256_AT]) for machine in self._machines]
        errors = [(error[0],) for error in self._errors]
        try:
            # What the batch's paths held before, unless it is the same table again.
            stale = machines + [(path, "") for (path,) in errors]
            db.executemany("DELETE FROM memory_devices WHERE sha256 IN "
                           "(SELECT sha256 FROM machines WHERE path = ? AND sha256 != ?)", stale)
            db.executemany("DELETE FROM machines WHERE path = ? AND sha256 != ?", stale)
            db.executemany("DELETE FROM memory_devices WHERE sha256 = ?", [(digest,) for _, digest in machines])
            db.executemany("DELETE FROM errors WHERE path = ?", [(path,) for path, _ in machines])
            db.executemany(self._machine_sql, self._machines)
            db.executemany(self._device_sql, self._devices)
            db.executemany("INSERT OR REPLACE INTO errors (path, sha256, reason) VALUES (?, ?, ?)", self._errors)
            self._uncommitted += len(machines) + len(errors)
            if self._uncommitted >= self.COMMIT_EVERY:
                db.commit()  # a long run cut short keeps what it has done
                self._uncommitted = 0
        except sqlite3.Error as exc:
            raise FleetError(f"cannot write {self._path}: {exc}") from None
        self._machines, self._devices, self._errors = [], [], []
        self._digests.clear()

    def close(self) -> None:
        try:
            self._flush()
            self._db.commit()
        finally:
            self._db.close()


def _writer(format: str, output: Optional[str], stdout: IO[Any]) -> Union[_JsonlWriter, _CsvWriter, _SqliteWriter]:
    if format == "jsonl":
        return _JsonlWriter(output, stdout)
    if format == "csv":
        return _CsvWriter(output, stdout)
    if format == "sqlite":
        return _SqliteWriter(output)
    raise ValueError(f"unknown format {format!r}; choose one of {', '.join(FORMATS)}")


class _Progress:
    """A progress line on a terminal, for runs that last more than a second."""

    DELAY, INTERVAL = 1.0, 0.2

    def __init__(self, summary: Summary, stream: Optional[IO[str]]) -> None:
        self._summary = summary
        isatty = getattr(stream, "isatty", None)
        self._stream = stream if isatty is not None and isatty() else None
        self._start = time.monotonic()
        self._next = self._start + self.DELAY
        self._shown = False

    def update(self) -> None:
        if self._stream is None:
            return
        now = time.monotonic()
        if now < self._next:
            return
        self._next = now + self.INTERVAL
        self._show(now)

    def _show(self, now: float) -> None:
        assert self._stream is not None
        summary = self._summary
        rate = summary.done / max(now - self._start, 1e-9)
        failed = f", {summary.failed} failed" if summary.failed else ""
        self._stream.write(f"\rbrantel table: {summary.done} of {summary.total} inputs{failed}, {rate:.0f}/s ")
        self._stream.flush()
        self._shown = True

    def finish(self) -> None:
        if self._stream is not None and self._shown:
            self._show(time.monotonic())
            self._stream.write("\n")
            self._stream.flush()


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
