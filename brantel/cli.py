"""The brantel command line: ``brantel inventory``, ``brantel get``,
``brantel dump`` and ``brantel table`` (also ``python -m brantel ...``).  This
module parses the arguments and dispatches: inputs are read by
brantel.sources, the text report is brantel.report's, the parts of the
inventory that --type and get pick are brantel.selection's, the fleet is
brantel.fleet's.

Exit status: 0 on success; 2 for bad input or usage (a missing or unreadable
file, a bad dump, a table the inventory cannot walk, a wrong or empty option);
3 when no table could be read on this machine and none was named (the bundled
sample is shown instead only to a person at a terminal, and says so); 1 for
anything unexpected.  Errors are one line on stderr, never a traceback.

Only what a run needs is imported: the module frame and its standard modules
for ``--format raw`` and ``view``, ``json`` for the JSON formats, the report
for text, ``importlib.metadata`` for ``--version``, the fleet's modules for
``table``.
"""
from __future__ import annotations

import argparse
import os
import stat
import sys

from brantel import sources
from brantel.escaping import json_document, path_text, terminal_bytes, terminal_text

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run
    from typing import Any, Dict, FrozenSet, List, Optional, Sequence, TextIO, Tuple

__all__ = ["main", "build_parser", "text_report", "human_size", "human_bytes", "EXIT_NO_TABLE"]


def __getattr__(name: str) -> Any:
    # The report's helpers, kept importable from here, load only when asked for.
    if name in ("text_report", "human_size", "human_bytes", "describe_source"):
        from brantel import report

        return getattr(report, name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


#: Exit status when no table could be read and the sample was not asked for.
EXIT_NO_TABLE = 3

INVENTORY_EXAMPLES = """\
examples:
  brantel inventory                      this machine's table
  brantel inventory --format json        the decoded inventory as JSON (one line
                                         unless at a terminal or with --indent)
  brantel inventory --type memory --type 7   memory and cache structures in full
  brantel inventory table.dump           a file: dump, RSMB export, blob or sysfs copy,
                                         recognised by its content
  brantel inventory --dump table.dump    a dump made with: brantel dump table.dump
                                         (or sudo dmidecode --dump-bin table.dump)
  brantel inventory --blob table.bin     a blob: major version, minor version, table
  brantel inventory --sample             the sample machine that ships with brantel
  brantel inventory --sysfs-root /mnt/other/sys --format raw > inventory.bin
"""

DUMP_EXAMPLES = """\
examples:
  sudo brantel dump table.dump           this machine's table, for reading elsewhere
  brantel inventory --dump table.dump    read it back
  dmidecode --from-dump table.dump       the peer decoder reads it too
"""

GET_EXAMPLES = """\
examples:
  brantel get system-serial-number       this machine's serial number
  brantel get bios-version --dump table.dump
  brantel get baseboard-product-name     one line per baseboard

Each matching structure gives one line (an empty line where it does not give
the value); a table without such a structure gives no line, with status 0.
Characters a terminal must not meet are written as \\xNN.
"""

MAIN_EXAMPLES = """\
examples:
  brantel inventory
  brantel inventory --format json
  brantel get system-uuid
  brantel dump table.dump
  brantel table dumps/ --output fleet.sqlite
  brantel inventory --help
"""


class UsageError(Exception):
    """Bad input that is not a source's fault; its text is one sentence."""


class NoTable(Exception):
    """This machine's table could not be read and no source was named."""


# --- the command line -------------------------------------------------------------


def _not_empty(what: str) -> Any:
    def check(value: str) -> str:
        if not value:
            raise argparse.ArgumentTypeError(f"{what} must not be empty")
        return value
    return check


class _VersionAction(argparse.Action):
    """--version, with the package metadata looked up only when asked for."""

    def __init__(self, option_strings: Sequence[str], dest: str, **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0, help="show the version and exit", **kwargs)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: Optional[str] = None) -> None:
        print(f"brantel {_version()}")
        parser.exit()


class Formatter(argparse.RawDescriptionHelpFormatter):
    """argparse's formatter, with the terminal's width found without shutil: argparse
    makes one for every option it is given, and shutil's import (with its
    compression modules) is a tenth of a run's start-up."""

    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: Optional[int] = None) -> None:
        if width is None:
            width = _terminal_columns() - 2
        super().__init__(prog, indent_increment, max_help_position, width)


def _terminal_columns() -> int:
    """As shutil.get_terminal_size() finds it: COLUMNS, then the terminal on stdout, then 80."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
    except ValueError:
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):
            columns = 0
    return columns or 80


def _structure_types(value: str) -> Tuple[int, ...]:
    from brantel.selection import parse_type

    try:
        return parse_type(value)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def _keyword(value: str) -> str:
    from brantel.selection import KEYWORDS

    if value not in KEYWORDS:
        raise argparse.ArgumentTypeError(f"unknown keyword {value!r}; valid keywords: {', '.join(KEYWORDS)}")
    return value


def _add_sources(command: argparse.ArgumentParser, positional: bool = False) -> None:
    source = command.add_mutually_exclusive_group()
    if positional:
        source.add_argument("path", metavar="FILE", nargs="?", type=_not_empty("FILE"),
                            help="read FILE, whatever it holds: a dump, a Windows RSMB export, a blob, "
                                 "a sysfs tree or a copy of its tables folder (recognised by content)")
    source.add_argument("--dump", metavar="FILE", type=_not_empty("--dump"),
                        help="read FILE as a dump made with brantel dump or dmidecode --dump-bin, and nothing else")
    source.add_argument("--blob", metavar="FILE", type=_not_empty("--blob"),
                        help="read FILE as a blob (major version, minor version, table), and nothing else")
    source.add_argument("--sysfs-root", metavar="DIR", type=_not_empty("--sysfs-root"),
                        help="read firmware/dmi/tables/{smbios_entry_point,DMI} under DIR instead of /sys")
    source.add_argument("--sample", action="store_true",
                        help="use the sample table that ships with brantel (not this machine)")


def build_parser(prog: str = "brantel") -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Hardware inventory from SMBIOS tables.",
        epilog=MAIN_EXAMPLES,
        formatter_class=Formatter,
    )
    parser.add_argument("--version", action=_VersionAction)
    # prog given: otherwise argparse builds a help formatter, and imports shutil, to work it out.
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", prog=prog)
    inventory = commands.add_parser(
        "inventory",
        help="build and show the hardware inventory",
        description=(
            "Build the hardware inventory from an SMBIOS table and show it.\n"
            "FILE is recognised by its content; --dump, --blob and --sysfs-root read only\n"
            "that form. Without a source it reads this machine's table. When that cannot be\n"
            "read it exits with status 3, except at a terminal, where it shows the sample\n"
            "machine that ships with brantel and says so on its first line."
        ),
        epilog=INVENTORY_EXAMPLES,
        formatter_class=Formatter,
    )
    _add_sources(inventory, positional=True)
    inventory.add_argument("--format", choices=("text", "json", "view", "raw"), default="text",
                           help="text: a readable report (default); json: the decoded inventory; "
                                "view: the rendered inventory's exact structure and its query results, as JSON; "
                                "raw: the rendered inventory bytes, unchanged")
    inventory.add_argument("--type", "-t", metavar="NAME", dest="types", action="append", type=_structure_types,
                           help="only the structures of this type, each in full (text and json; repeatable): "
                                "bios, system, baseboard, chassis, processor, memory, cache, connector, slot, "
                                "oem, power, bmc, tpm, or a type number 0-255")
    inventory.add_argument("--indent", action="store_true",
                           help="indented JSON (json and view); the default is one line unless stdout is a terminal")
    inventory.add_argument("--guid", metavar="TEXT", default="",
                           help="GUID text stored in the rendered inventory (view and raw; default: empty)")
    inventory.set_defaults(handler=run_inventory)

    get = commands.add_parser(
        "get",
        help="print one value of the table, for scripts",
        description=("Print one value per matching structure, bare, one a line. A table without\n"
                     "such a structure prints nothing (status 0); no table is status 3, as for\n"
                     "inventory (get never shows the sample in place of this machine).\n"
                     "KEYWORD is one of: " + ", ".join(_keyword_names()) + "."),
        epilog=GET_EXAMPLES,
        formatter_class=Formatter,
    )
    get.add_argument("keyword", metavar="KEYWORD", type=_keyword, help="which value (see above)")
    _add_sources(get, positional=True)
    get.set_defaults(handler=run_get)

    dump = commands.add_parser(
        "dump",
        help="write the SMBIOS table as a dump file",
        description=("Write the SMBIOS table as a dump file in the layout of dmidecode --dump-bin: an\n"
                     "entry point at offset 0 and the table at offset 0x20."),
        epilog=DUMP_EXAMPLES,
        formatter_class=Formatter,
    )
    dump.add_argument("file", metavar="FILE", type=_not_empty("FILE"), help="the dump file to write")
    _add_sources(dump)
    dump.set_defaults(handler=run_dump)

    from brantel import fleet_cli  # light: it loads its own modules only when run

    fleet_cli.add_command(commands, formatter_class=Formatter)
    return parser


def _keyword_names() -> List[str]:
    from brantel.selection import KEYWORDS

    return list(KEYWORDS)


def _version() -> str:
    try:
        from importlib.metadata import version

        return version("brantel")
    except Exception:  # not installed: running from a source tree
        return "(not installed)"


def _load(args: argparse.Namespace, warnings: List[str]) -> Tuple[bytes, Dict[str, Any]]:
    """The blob of the named source (or this machine's) and its source entry;
    what reading found doubtful goes into ``warnings``."""
    path = getattr(args, "path", None)
    named = (path is not None or args.dump is not None or args.blob is not None or args.sysfs_root is not None
             or args.sample)
    try:
        return sources.load(path, dump=args.dump, blob=args.blob, sysfs_root=args.sysfs_root, sample=args.sample,
                            warnings=warnings)
    except sources.SourceError as exc:
        if named:
            raise
        raise NoTable(str(exc)) from None


def _origin(source: Dict[str, Any]) -> str:
    from brantel.report import describe_source

    return source["path"] or describe_source(source)


def _decode(blob: bytes, source: Dict[str, Any], warnings: List[str]) -> Dict[str, Any]:
    from brantel._inventory_decoder import decode

    decoded: Dict[str, Any] = decode(blob)
    decoded["source"] = source
    decoded["warnings"] = warnings + decoded["warnings"]
    return decoded


def _rendered(blob: bytes, guid: bytes, source: Dict[str, Any]) -> bytes:
    try:
        from brantel import _sysprobe_internal as internal
    except ImportError as exc:
        raise RuntimeError(f"the native inventory module is not available ({exc})") from None
    origin = _origin(source)
    try:
        result: bytes = internal.parse_windows_hardware_info(blob, guid)
    except UnicodeDecodeError as exc:
        raise UsageError(f"{origin}: the inventory cannot be built: an SMBIOS string is not valid UTF-8 "
                         f"({exc.reason} at byte {exc.start} of the string)") from None
    except IndexError:
        raise UsageError(f"{origin}: the inventory cannot be built: a string number points past its "
                         "structure's strings") from None
    except (ValueError, TypeError) as exc:
        # The walk refuses tables it cannot read: a bad or foreign table, not a fault here.
        raise UsageError(f"{origin}: the inventory cannot be built: {exc}") from None
    return result


class _ClosedStdout(Exception):
    """There is no standard output to write to."""


def _write_bytes(stdout: Optional[TextIO], data: bytes) -> None:
    if stdout is None:
        raise _ClosedStdout()
    buffer = getattr(stdout, "buffer", None)
    if buffer is None:  # a text-only stream (an embedding application's, say)
        stdout.write(data.decode("utf-8", "surrogateescape"))
        return
    stdout.flush()
    buffer.write(data)
    buffer.flush()


def _write_text(stdout: Optional[TextIO], text: str) -> None:
    """Text in the stream's encoding; characters it cannot hold are escaped, not fatal."""
    _write_bytes(stdout, terminal_bytes(text, getattr(stdout, "encoding", None)))


def _is_terminal(stream: Optional[TextIO]) -> bool:
    try:
        return stream is not None and stream.isatty()
    except (AttributeError, ValueError, OSError):
        return False


def run_inventory(args: argparse.Namespace, stdout: Optional[TextIO], stderr: TextIO) -> int:
    try:
        guid = args.guid.encode("utf-8")
    except UnicodeEncodeError:
        raise UsageError("--guid must be text that can be written as UTF-8") from None
    if args.types and args.format in ("raw", "view"):
        raise UsageError(f"--type applies to the text and json formats, not {args.format}")
    notice = None
    notes: List[str] = []
    try:
        blob, source = _load(args, notes)
    except NoTable as exc:
        # Only a person at a terminal may be shown the sample in place of this
        # machine, and only with a first line saying so.
        if args.format != "text" or not _is_terminal(stdout):
            raise
        blob, source = sources.load(sample=True)
        notice = f"This is the sample machine that ships with brantel, not this machine: {exc}."
    if args.format in ("raw", "view"):
        _warn(stderr, notes)  # these formats have no place for them
    if args.format == "raw":
        _write_bytes(stdout, _rendered(blob, guid, source))
    elif args.format == "view":
        from brantel import view

        rendered = _rendered(blob, guid, source)
        _write_bytes(stdout, json_document({"source": source, **view.describe(rendered)}, _indent(args, stdout)))
    elif args.format == "json":
        decoded = _decode(blob, source, notes)
        if args.types:
            from brantel.selection import select

            decoded = select(decoded, _chosen(args))
        _write_bytes(stdout, json_document(decoded, _indent(args, stdout)))
    else:
        from brantel.report import describe_source, structures_report, text_report

        source_line = f"Source: {describe_source(source)}"
        decoded = _decode(blob, source, notes)
        if args.types:
            report = structures_report(decoded, _chosen(args), source_line)
        else:
            report = text_report(decoded, source_line)
        _write_text(stdout, report if notice is None else notice + "\n" + report)
    return 0


def _chosen(args: argparse.Namespace) -> FrozenSet[int]:
    return frozenset(type_ for types in args.types for type_ in types)


def _indent(args: argparse.Namespace, stdout: Optional[TextIO]) -> Optional[int]:
    """Indented JSON for a person (a terminal, or --indent); one line for a program,
    which the C encoder writes several times faster."""
    return 2 if args.indent or _is_terminal(stdout) else None


def run_get(args: argparse.Namespace, stdout: Optional[TextIO], stderr: TextIO) -> int:
    from brantel._inventory_decoder import decode_types
    from brantel.selection import KEYWORD_TYPES, KEYWORDS, values

    notes: List[str] = []
    blob, source = _load(args, notes)
    _warn(stderr, notes)
    # Only the keyword's structure type is read: get runs in scripts, often many times.
    found = values(decode_types(blob, (KEYWORD_TYPES[KEYWORDS[args.keyword][0]],)), args.keyword)
    # One line per structure: a value from the table never holds a line end or a control.
    _write_text(stdout, "".join(("" if value is None else terminal_text(value)) + "\n" for value in found))
    return 0


def _warn(stderr: TextIO, warnings: List[str]) -> None:
    for warning in warnings:
        print(f"brantel: warning: {terminal_text(warning)}", file=stderr)


def _replace_file(path: str, data: bytes) -> None:
    from brantel.replacing import replace_file

    replace_file(path, data)


def run_dump(args: argparse.Namespace, stdout: Optional[TextIO], stderr: TextIO) -> int:
    from brantel.report import describe_source

    notes: List[str] = []
    blob, source = _load(args, notes)
    _warn(stderr, notes)
    try:
        data = sources.dump_file_bytes(blob)
    except ValueError as exc:
        raise UsageError(f"{_origin(source)}: {exc}") from None
    try:
        _replace_file(args.file, data)
    except OSError as exc:
        raise UsageError(f"cannot write {path_text(args.file)}: {exc.strerror or exc}") from None
    _write_text(stdout, f"Wrote {terminal_text(path_text(args.file))}: the SMBIOS {blob[0]}.{blob[1]} table of "
                        f"{describe_source(source)}, {len(blob) - 2} bytes\n")
    return 0


def _quiet_stdout(stdout: Optional[TextIO]) -> None:
    """Points stdout at the null device so that the interpreter's final flush stays quiet."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, stdout.fileno())  # type: ignore[union-attr]
    except (OSError, ValueError, AttributeError):
        pass


def main(argv: Optional[Sequence[str]] = None, prog: str = "brantel") -> int:
    """Run the command line; returns the exit status."""
    stdout, stderr = sys.stdout, sys.stderr
    parser = build_parser(prog)
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version or a usage error, already printed
        return exc.code if isinstance(exc.code, int) else 2
    if args.command is None:
        parser.print_help(stderr)
        return 2
    try:
        status: int = args.handler(args, stdout, stderr)
        return status
    except NoTable as exc:
        print(f"brantel: error: no SMBIOS table could be read on this machine: {terminal_text(str(exc))}; "
              "name one (a FILE, or --dump, --blob or --sysfs-root), or use --sample for the sample machine",
              file=stderr)
        return EXIT_NO_TABLE
    except (sources.SourceError, UsageError) as exc:
        # A message may quote a file name or a table's text: escaped as the report escapes strings.
        print(f"brantel: error: {terminal_text(str(exc))}", file=stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    except (BrokenPipeError, _ClosedStdout):
        # The reader went away (e.g. `| head`) or there is no stdout at all:
        # nothing more to say.
        _quiet_stdout(stdout)
        return 0
    except Exception as exc:
        print(f"brantel: unexpected error: {type(exc).__name__}: {terminal_text(str(exc))}", file=stderr)
        return 1
