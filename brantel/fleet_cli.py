"""``brantel table``: many SMBIOS tables into one table of machines and one of memory devices.

Kept apart from brantel.cli so that the inventory command does not pay for it;
brantel.cli adds the command with :func:`add_command`.
"""
from __future__ import annotations

import argparse
import sys

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from typing import IO, Any, Optional, Sequence

__all__ = ["add_command", "build_parser", "run", "main"]

DESCRIPTION = """\
Read SMBIOS tables from files and folders (searched recursively) and write one
row per machine and one per memory device.  Each file is recognised by its
content: a dump (dmidecode --dump-bin, brantel dump), a Windows RSMB export,
a blob, or a sysfs root (a folder with firmware/dmi/tables/{smbios_entry_point,DMI}).
A file that cannot be read or decoded gives an error row; the run goes on and
exits with status 1.

jsonl: one JSON object a line, "row" saying which table it belongs to
       ("machine", "memory_device" or "error"); stdout without --output.
csv:   machines (error rows among them, in the error column) into FILE and
       memory devices into FILE with -memory before the suffix; without
       --output only the machine rows go to stdout.  A cell starting with
       = + - @ TAB or CR gets a ' in front and quotes (a spreadsheet would
       run it as a formula); --csv-raw writes cells as they are.
sqlite: tables machines, memory_devices and errors in FILE (brantel's own
       database; any other is refused); a path seen again replaces its rows,
       so reruns do not duplicate.
Paths are written absolute; a name that is not UTF-8 has \\xNN in path and
its raw bytes in path_bytes (hex in jsonl and csv).  A file written with
--output is replaced only when the run succeeds."""

EXAMPLES = """\
examples:
  brantel table dumps/ > fleet.jsonl
  brantel table dumps/ --format sqlite --output fleet.sqlite
  brantel table dumps/ --format csv --output fleet.csv     (and fleet-memory.csv)
  brantel table /sys host1.dump host2.dump --jobs 4
"""

EXIT_OK, EXIT_FAILED_INPUTS, EXIT_USAGE = 0, 1, 2
SUFFIX_FORMATS = {".jsonl": "jsonl", ".json": "jsonl", ".csv": "csv", ".sqlite": "sqlite", ".sqlite3": "sqlite",
                  ".db": "sqlite"}


def _not_empty(value: str) -> str:
    if not value:
        raise argparse.ArgumentTypeError("must not be empty")
    return value


def _jobs(value: str) -> int:
    try:
        jobs = int(value)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{value!r} is not a whole number") from None
    if jobs < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {jobs}")
    return jobs


def _configure(table: argparse.ArgumentParser) -> argparse.ArgumentParser:
    table.add_argument("paths", nargs="+", metavar="PATH", type=_not_empty,
                       help="a table file or a folder to search for them")
    table.add_argument("--format", choices=("jsonl", "csv", "sqlite"), default=None,
                       help="jsonl (default), csv or sqlite; without it, taken from the --output suffix "
                            "(.csv, .sqlite, .sqlite3, .db)")
    table.add_argument("--output", "-o", metavar="FILE", type=_not_empty,
                       help="where to write (needed for sqlite; stdout for jsonl and csv)")
    table.add_argument("--jobs", "-j", metavar="N", type=_jobs, default=None,
                       help="read the tables in N processes (default: one per core); "
                            "the output order stays the sorted path order")
    table.add_argument("--csv-raw", action="store_true",
                       help="CSV cells as they are, even those a spreadsheet would run as formulas")
    table.set_defaults(handler=run)
    return table


def add_command(commands: Any, formatter_class: Any = argparse.RawDescriptionHelpFormatter) -> argparse.ArgumentParser:
    """Add ``table`` to the sub-commands of the brantel parser (an argparse subparsers action)."""
    table: argparse.ArgumentParser = commands.add_parser(
        "table",
        help="many tables (dumps, blobs, sysfs copies) into one table of machines and memory devices",
        description=DESCRIPTION,
        epilog=EXAMPLES,
        formatter_class=formatter_class,
    )
    return _configure(table)


def build_parser(prog: str = "brantel table") -> argparse.ArgumentParser:
    """The parser of ``brantel table`` on its own."""
    return _configure(argparse.ArgumentParser(
        prog=prog, description=DESCRIPTION, epilog=EXAMPLES, formatter_class=argparse.RawDescriptionHelpFormatter))


def _format(args: argparse.Namespace) -> str:
    if args.format:
        return str(args.format)
    if args.output:
        import os

        return SUFFIX_FORMATS.get(os.path.splitext(args.output)[1].lower(), "jsonl")
    return "jsonl"


def _terminated(signum: int, frame: Any) -> None:
    raise SystemExit(128 + signum)


def _exit_on_sigterm() -> Any:
    """SIGTERM ends the run as an exception does, so that the temporary output file goes and
    SQLite rolls back; the handler it replaces, or None when it left it alone."""
    import signal
    import threading

    if threading.current_thread() is not threading.main_thread():
        return None
    if signal.getsignal(signal.SIGTERM) != signal.SIG_DFL:
        return None  # an embedding application's own handling
    return signal.signal(signal.SIGTERM, _terminated)


def run(args: argparse.Namespace, stdout: Optional[IO[Any]], stderr: IO[str]) -> int:
    """Carry out ``brantel table``; returns the exit status (1 when any input failed)."""
    from brantel import fleet

    format = _format(args)
    if format == "sqlite" and not args.output:
        print("brantel: error: --format sqlite needs --output FILE", file=stderr)
        return EXIT_USAGE
    if stdout is None and not args.output:
        return EXIT_OK  # no stdout to write to (closed before the start): nobody is reading
    jobs = args.jobs if args.jobs is not None else fleet.default_jobs()
    most = 2 * fleet.default_jobs()
    if jobs > most:
        # More processes than that only share the same cores, each with its own memory.
        print(f"brantel: note: --jobs {jobs} lowered to {most}, twice the cores", file=stderr)
        jobs = most
    previous = _exit_on_sigterm()
    try:
        summary = fleet.write(args.paths, format, args.output, jobs=jobs, stdout=stdout, progress=stderr,
                              notes=stderr, csv_raw=args.csv_raw)
    except fleet.FleetError as exc:
        from brantel.escaping import terminal_text

        print(f"brantel: error: {terminal_text(str(exc))}", file=stderr)
        return EXIT_USAGE
    finally:
        if previous is not None:
            import signal

            signal.signal(signal.SIGTERM, previous)
    if summary.total == 0:
        print("brantel: note: no files found", file=stderr)
    if summary.failed:
        print(f"brantel: {summary.failed} of {summary.total} inputs could not be read; "
              f"see the error rows", file=stderr)
        return EXIT_FAILED_INPUTS
    return EXIT_OK


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``python -m brantel.fleet_cli PATH...``: the same as ``brantel table PATH...``."""
    try:
        args = build_parser().parse_args(argv)
    except SystemExit as exc:
        return exc.code if isinstance(exc.code, int) else EXIT_USAGE
    try:
        return run(args, sys.stdout, sys.stderr)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        import os

        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        except (OSError, ValueError, AttributeError):
            pass
        return EXIT_OK


if __name__ == "__main__":
    raise SystemExit(main())
