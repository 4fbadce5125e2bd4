"""What every source module shares: the error they raise and the path type they take."""
from __future__ import annotations

TYPE_CHECKING = False
if TYPE_CHECKING:  # typing costs import time on every run of the command line
    import os
    from typing import Union

    StrPath = Union[str, "os.PathLike[str]"]


class SourceError(Exception):
    """A source could not deliver a blob; ``str(error)`` is one sentence for the user.

    ``data`` holds the bytes of an input that was read but is not a table (None otherwise).
    """

    data: "bytes | None" = None
