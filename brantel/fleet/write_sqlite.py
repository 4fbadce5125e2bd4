"""Rows into an SQLite file."""
from __future__ import annotations

from typing import Any, List, Optional, Tuple

from brantel.fleet.columns import ERROR_COLUMNS, MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, SHA256_AT, FleetError
from brantel.fleet.outputs import _tuples_encode
from brantel.fleet.parallel import _as_list

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
