"""Rows into an SQLite file: brantel's own databases only, versioned, one outcome a path."""
from __future__ import annotations

from typing import IO, TYPE_CHECKING, Any, Callable, Dict, List, Optional, Tuple

from brantel.fleet.columns import ERROR_COLUMNS, MACHINE_COLUMNS, MEMORY_DEVICE_COLUMNS, FleetError
from brantel.fleet.outputs import _tuples_encode
from brantel.fleet.parallel import _as_list

if TYPE_CHECKING:
    import sqlite3

#: ``PRAGMA application_id`` of every database brantel writes ("BrTl").
APPLICATION_ID = 0x4272546C
#: ``PRAGMA user_version``: the layout of the tables.  1 is the first release's (which set no
#: application_id): tables keyed by sha256.  2: one machine a path, path_bytes columns.
#: 3: the machines' memory capacity and slots, ECC, TPM and BMC columns.
SCHEMA_VERSION = 3
#: How long a run waits for another run that is writing the same file.
WAIT_SECONDS = 300.0

_TYPES = {
    "path_bytes": "BLOB", "processor_sockets": "INTEGER", "processors_populated": "INTEGER",
    "processors_enabled": "INTEGER", "core_count": "INTEGER", "thread_count": "INTEGER",
    "memory_bytes": "INTEGER", "memory_device_count": "INTEGER", "size_bytes": "INTEGER",
    "speed_mts": "INTEGER", "configured_speed_mts": "INTEGER",
    "memory_capacity_bytes": "INTEGER", "memory_slots": "INTEGER", "memory_slots_populated": "INTEGER",
}
_NOT_NULL = {"path", "source_kind", "reason"}


def _table_sql(name: str, columns: Tuple[str, ...]) -> str:
    defined = ",\n    ".join(f"{column} {_TYPES.get(column, 'TEXT')}{' NOT NULL' if column in _NOT_NULL else ''}"
                             for column in columns)
    return f"CREATE TABLE {name} (\n    {defined}\n);\n"


#: The indexes of the current layout.  A path's rows are found by path (and path_bytes, for
#: the rare name whose text form another name could share): rows come in path order, so these
#: grow at their end.  The others (sha256 finds identical tables) take rows in random order, a
#: cost that grows with the file: a new file gets them at the end of the run, built at once.
_PATH_INDEXES = """
CREATE INDEX IF NOT EXISTS machines_path ON machines (path);
CREATE INDEX IF NOT EXISTS memory_devices_path ON memory_devices (path);
CREATE INDEX IF NOT EXISTS errors_path ON errors (path);
"""
_INDEXES = _PATH_INDEXES + """
CREATE INDEX IF NOT EXISTS machines_sha256 ON machines (sha256);
CREATE INDEX IF NOT EXISTS machines_serial_number ON machines (system_serial_number);
CREATE INDEX IF NOT EXISTS machines_uuid ON machines (system_uuid);
"""

_TABLES = (_table_sql("machines", MACHINE_COLUMNS) + _table_sql("memory_devices", MEMORY_DEVICE_COLUMNS)
           + _table_sql("errors", ERROR_COLUMNS))
SQLITE_SCHEMA = _TABLES + _INDEXES

#: The first release's columns, by which its databases are known (they carry no application_id).
FIRST_RELEASE: Dict[str, Tuple[str, ...]] = {
    "machines": (
        "path", "source_kind", "smbios_version", "system_manufacturer", "system_product", "system_version",
        "system_serial_number", "system_uuid", "system_uuid_stored", "bios_vendor", "bios_version",
        "bios_release_date", "processor_sockets", "processors_populated", "processors_enabled", "core_count",
        "thread_count", "memory_bytes", "memory_device_count", "memory_types", "sha256", "warnings",
    ),
    "memory_devices": (
        "sha256", "path", "locator", "bank_locator", "size_bytes", "type", "form_factor", "speed_mts",
        "configured_speed_mts", "manufacturer", "serial_number", "part_number",
    ),
    "errors": ("path", "sha256", "reason"),
}


def _with_path_bytes(columns: Tuple[str, ...]) -> Tuple[str, ...]:
    at = columns.index("path") + 1
    return columns[:at] + ("path_bytes",) + columns[at:]


#: Layout 2's columns (fixed here: the steps after it add theirs to these).
SECOND_LAYOUT = {table: _with_path_bytes(columns) for table, columns in FIRST_RELEASE.items()}


def _from_first_release(db: "sqlite3.Connection") -> None:
    """Version 1 to 2: one machine a path instead of one a sha256, path_bytes columns.  The rows
    are kept as they were (their paths as given then: that release did not make them absolute)."""
    for index in ("machines_serial_number", "machines_uuid", "machines_path", "memory_devices_sha256"):
        db.execute(f"DROP INDEX IF EXISTS {index}")
    for table in FIRST_RELEASE:
        db.execute(f"ALTER TABLE {table} RENAME TO first_release_{table}")
    for table, columns in SECOND_LAYOUT.items():
        db.execute(_table_sql(table, columns))
    old = FIRST_RELEASE["machines"]
    db.execute(f"INSERT INTO machines ({', '.join(old)}) SELECT {', '.join(old)} FROM first_release_machines")
    # A device belonged to a sha256; the machine that held that sha256 gives its path.
    old = FIRST_RELEASE["memory_devices"]
    db.execute(f"INSERT INTO memory_devices ({', '.join(old)}) "
               f"SELECT {', '.join('m.path' if column == 'path' else 'd.' + column for column in old)} "
               f"FROM first_release_memory_devices d JOIN first_release_machines m USING (sha256) ORDER BY d.rowid")
    db.execute("INSERT INTO errors (path, sha256, reason) SELECT path, sha256, reason FROM first_release_errors")
    for table in FIRST_RELEASE:
        db.execute(f"DROP TABLE first_release_{table}")
    _index(db)


#: The machine columns layout 3 adds.
THIRD_LAYOUT_MACHINES = ("memory_capacity_bytes", "memory_slots", "memory_slots_populated", "ecc",
                         "tpm_specification_version", "bmc_interface_type")


def _index(db: "sqlite3.Connection", indexes: str = _INDEXES) -> None:
    for statement in indexes.split(";"):  # (not executescript, which would commit)
        if statement.strip():
            db.execute(statement)


def _reason(exc: Exception) -> str:
    """An SQLite error as the other formats say it."""
    if str(exc) == "database or disk is full":
        import errno
        import os

        return os.strerror(errno.ENOSPC)
    return str(exc)


def _add_columns(db: "sqlite3.Connection", table: str, columns: Tuple[str, ...]) -> None:
    """A later layout's step: columns added at the end of ``table`` (NULL in the rows already there)."""
    present = {row[1] for row in db.execute(f"PRAGMA table_info({table})")}
    for column in columns:
        if column not in present:
            db.execute(f"ALTER TABLE {table} ADD COLUMN {column} {_TYPES.get(column, 'TEXT')}")


#: What takes a database of layout N to N + 1, run in the transaction that marks it.  New
#: columns: add them at the end of MACHINE_COLUMNS (their SQL type in _TYPES), raise
#: SCHEMA_VERSION and add its step, e.g. ``MIGRATIONS[2] = lambda db: _add_columns(db,
#: "machines", ("memory_capacity_bytes", "memory_slots"))``.  A new file gets the newest
#: layout from the columns directly.
MIGRATIONS: Dict[int, Callable[["sqlite3.Connection"], None]] = {
    1: _from_first_release,
    2: lambda db: _add_columns(db, "machines", THIRD_LAYOUT_MACHINES),
}


class _SqliteWriter:
    """Rows into an SQLite file, so that a second run over the same files changes nothing.

    A path holds one outcome, the latest: a machine row and its memory devices,
    or an error row; whatever the path held before goes.  Identical tables at
    two paths are two machines (their sha256 says they are the same table).
    Inputs are written in batches, each statement once for the whole batch,
    committed every COMMIT_EVERY inputs so that a long run cut short keeps
    what it has done.
    """

    encode = staticmethod(_tuples_encode)
    join = staticmethod(_as_list)
    BATCH, COMMIT_EVERY = 256, 16384

    def __init__(self, output: Optional[str], notes: Optional[IO[str]] = None) -> None:
        import sqlite3

        if not output:
            raise FleetError("--format sqlite needs --output FILE")
        self._path = output
        self._sqlite = sqlite3
        try:
            self._db = sqlite3.connect(output, timeout=0.5, isolation_level=None)
        except sqlite3.Error as exc:
            raise FleetError(f"cannot use {output} as an SQLite file: {exc}") from None
        try:
            self._begin(notes)
            self._fresh = self._take_on()
            self._db.execute("COMMIT")
            self._tune()
            # From here on another run may take the lock between two commits: wait for it.
            self._db.execute(f"PRAGMA busy_timeout = {int(WAIT_SECONDS * 1000)}")
            self._relock()
        except sqlite3.Error as exc:
            self._db.close()
            raise FleetError(f"cannot write {output}: {_reason(exc)}") from None
        except BaseException:
            self._db.close()
            raise
        self._machine_sql = (f"INSERT INTO machines ({', '.join(MACHINE_COLUMNS)}) "
                             f"VALUES ({', '.join('?' * len(MACHINE_COLUMNS))})")
        self._device_sql = (f"INSERT INTO memory_devices ({', '.join(MEMORY_DEVICE_COLUMNS)}) "
                            f"VALUES ({', '.join('?' * len(MEMORY_DEVICE_COLUMNS))})")
        self._error_sql = (f"INSERT INTO errors ({', '.join(ERROR_COLUMNS)}) "
                           f"VALUES ({', '.join('?' * len(ERROR_COLUMNS))})")
        self._machines: List[Tuple[Any, ...]] = []
        self._devices: List[Tuple[Any, ...]] = []
        self._errors: List[Tuple[Any, ...]] = []
        self._paths: List[Tuple[str, Optional[bytes]]] = []
        self._last: Optional[Tuple[str, Optional[bytes]]] = None
        self._uncommitted = 0

    def _begin(self, notes: Optional[IO[str]]) -> None:
        """Take the write lock, waiting (with a note) while another run holds it."""
        sqlite3 = self._sqlite
        try:
            self._db.execute("BEGIN IMMEDIATE")
            return
        except sqlite3.OperationalError as exc:
            if "locked" not in str(exc) and "busy" not in str(exc):
                raise FleetError(f"{self._path} is not a brantel database: {exc}") from None
        except sqlite3.DatabaseError as exc:
            raise FleetError(f"{self._path} is not a brantel database: {exc}") from None
        if notes is not None:
            from brantel.escaping import terminal_text

            notes.write(f"brantel: note: {terminal_text(self._path)} is being written by another run; waiting "
                        f"(at most {WAIT_SECONDS:.0f} s)\n")
            notes.flush()
        self._db.execute(f"PRAGMA busy_timeout = {int(WAIT_SECONDS * 1000)}")
        try:
            self._db.execute("BEGIN IMMEDIATE")
        except sqlite3.Error as exc:
            raise FleetError(f"cannot write {self._path}: {_reason(exc)}") from None

    def _relock(self) -> None:
        """Take the write lock again after a commit.  Another run may have written in between
        (it waited for the lock): the paths to come may then hold its rows, to be replaced."""
        version = self._db.execute("PRAGMA data_version").fetchone()[0]
        self._db.execute("BEGIN IMMEDIATE")
        if self._db.execute("PRAGMA data_version").fetchone()[0] != version:
            self._fresh = False

    def _take_on(self) -> bool:
        """Make the file ours or refuse it, in the write transaction; whether it holds no rows."""
        sqlite3 = self._sqlite
        db = self._db
        try:
            application_id = db.execute("PRAGMA application_id").fetchone()[0]
            version = db.execute("PRAGMA user_version").fetchone()[0]
            names = {name: kind for kind, name in db.execute(
                "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%'")}
        except sqlite3.Error as exc:
            db.execute("ROLLBACK")
            raise FleetError(f"{self._path} is not a brantel database: {exc}") from None
        if application_id == 0 and not names and version == 0:
            _index(db, _TABLES + _PATH_INDEXES)  # the others at the end of the run (close)
            version = SCHEMA_VERSION
        elif application_id == 0 and version == 0 and self._first_release(names):
            version = 1
        elif application_id != APPLICATION_ID:
            db.execute("ROLLBACK")
            held = ", ".join(sorted(name for name, kind in names.items() if kind == "table"))
            why = (f"its application_id is {application_id}" if application_id
                   else f"it holds the tables {held}" if held else f"its user_version is {version}")
            raise FleetError(f"{self._path} is not a brantel database ({why}); write to a new file")
        elif version > SCHEMA_VERSION:
            db.execute("ROLLBACK")
            raise FleetError(f"{self._path} was written by a newer brantel (layout {version}; this one writes "
                             f"layout {SCHEMA_VERSION}); write to a new file or update brantel")
        elif version not in MIGRATIONS and version != SCHEMA_VERSION:
            db.execute("ROLLBACK")
            raise FleetError(f"{self._path} is a brantel database of an unknown layout ({version})")
        try:
            while version < SCHEMA_VERSION:
                MIGRATIONS[version](db)
                version += 1
            db.execute(f"PRAGMA application_id = {APPLICATION_ID}")
            db.execute(f"PRAGMA user_version = {SCHEMA_VERSION}")
            empty = db.execute("SELECT NOT EXISTS (SELECT 1 FROM machines) AND NOT EXISTS "
                               "(SELECT 1 FROM errors)").fetchone()[0]
            if not empty:
                _index(db)  # (a first run cut short has none yet)
        except sqlite3.Error as exc:
            db.execute("ROLLBACK")
            raise FleetError(f"cannot write {self._path}: {_reason(exc)}") from None
        return bool(empty)

    def _first_release(self, names: Dict[str, str]) -> bool:
        """Whether the tables are exactly those the first release wrote."""
        tables = {name for name, kind in names.items() if kind == "table"}
        if tables != set(FIRST_RELEASE):
            return False
        for table, columns in FIRST_RELEASE.items():
            present = tuple(row[1] for row in self._db.execute(f"PRAGMA table_info({table})"))
            if present != columns:
                return False
        return True

    def _tune(self) -> None:
        sqlite3 = self._sqlite
        # Consistent after a crash at any point; a power cut may cost the last commit, which a
        # rerun writes again.  WAL lets readers read while a run writes.
        for pragma in ("journal_mode = WAL", "synchronous = NORMAL", "cache_size = -65536", "temp_store = MEMORY"):
            try:
                self._db.execute(f"PRAGMA {pragma}")
            except sqlite3.OperationalError:
                pass  # a file system without shared memory keeps its journal: slower, as safe

    def write(self, batch: List[Any]) -> None:
        for encoded in batch:
            error = isinstance(encoded[0], str)
            key = (encoded[0], encoded[1]) if error else (encoded[0][0], encoded[0][1])
            if key == self._last and self._fresh:
                # A path named twice: the later outcome replaces the earlier, as in another run.
                self._flush()
                self._fresh = False
            self._last = key
            self._paths.append(key)
            if error:
                self._errors.append(encoded)
            else:
                self._machines.append(encoded[0])
                self._devices.extend(encoded[1])
            if len(self._paths) >= self.BATCH:
                self._flush()

    def _flush(self) -> None:
        sqlite3 = self._sqlite
        db = self._db
        try:
            if not self._fresh:
                # What the batch's paths held before.
                paths = self._paths
                db.executemany("DELETE FROM memory_devices WHERE path = ? AND path_bytes IS ?", paths)
                db.executemany("DELETE FROM machines WHERE path = ? AND path_bytes IS ?", paths)
                db.executemany("DELETE FROM errors WHERE path = ? AND path_bytes IS ?", paths)
            db.executemany(self._machine_sql, self._machines)
            db.executemany(self._device_sql, self._devices)
            db.executemany(self._error_sql, self._errors)
            self._uncommitted += len(self._paths)
            if self._uncommitted >= self.COMMIT_EVERY:
                db.execute("COMMIT")  # a long run cut short keeps what it has done
                self._relock()
                self._uncommitted = 0
        except sqlite3.Error as exc:
            raise FleetError(f"cannot write {self._path}: {_reason(exc)}") from None
        self._machines, self._devices, self._errors, self._paths = [], [], [], []

    def close(self) -> None:
        """Write what is left and commit; the file then holds the whole run."""
        try:
            self._flush()
            _index(self._db)
            self._db.execute("COMMIT")
        except self._sqlite.Error as exc:
            raise FleetError(f"cannot write {self._path}: {_reason(exc)}") from None
        finally:
            self._close()

    def abort(self) -> None:
        """Give up: what was not committed is rolled back."""
        self._close()

    def _close(self) -> None:
        try:
            self._db.close()
        except self._sqlite.Error:
            pass
