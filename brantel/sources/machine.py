"""The running machine's table, and the sample table shipped with the package."""
from __future__ import annotations

import os
import sys

from brantel.sources.base import SourceError
from brantel.sources.recognise import read_input
from brantel.sources.sysfs import SYSFS_ROOT
from brantel.sources.windows import read_windows

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    from brantel.sources.base import StrPath


#: File name of the bundled sample blob in the package's data folder.
SAMPLE_NAME = "sample_desktop.bin"


def read_sysfs(root: StrPath | None = None) -> bytes:
    """The blob of the machine's firmware table as Linux exports it under sysfs.

    ``root`` stands for ``/sys`` (for tests, or a copy of another machine's
    files): the files read are ``root/firmware/dmi/tables/smbios_entry_point``
    and ``root/firmware/dmi/tables/DMI``.
    """
    return read_input(root if root is not None else SYSFS_ROOT, "sysfs").blob


def read_machine(sysfs_root: StrPath | None = None, platform: str | None = None) -> bytes:
    """The blob of the running machine's firmware table.

    Linux reads sysfs (``sysfs_root`` replaces ``/sys``), Windows asks the
    firmware-table API; any other platform raises SourceError.
    """
    platform = platform or sys.platform
    if platform.startswith("linux"):
        return read_sysfs(sysfs_root)
    if platform == "win32":
        return read_windows()
    raise SourceError(
        f"reading this machine's SMBIOS table is not supported on this platform ({platform}); "
        "read a dump file with --dump or a blob with --blob"
    )


def sample_path() -> str:
    """Where the sample blob lies in the installed package."""
    return os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data", SAMPLE_NAME)


def sample_blob() -> bytes:
    """The sample desktop table shipped with the package (tools/make_sample_table.py makes it)."""
    with open(sample_path(), "rb") as stream:
        return stream.read()
