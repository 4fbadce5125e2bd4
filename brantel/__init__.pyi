import os
from typing import Any, Dict, Optional, Union

_Path = Union[str, "os.PathLike[str]"]

__all__ = ["decode", "read"]

def decode(blob: bytes) -> Dict[str, Any]: ...
def read(
    path: Optional[_Path] = ...,
    *,
    dump: Optional[_Path] = ...,
    blob: Optional[_Path] = ...,
    sysfs_root: Optional[_Path] = ...,
    sample: bool = ...,
) -> Dict[str, Any]: ...
