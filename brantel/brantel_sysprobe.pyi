# Type stubs for the native module brantel.brantel_sysprobe.
import base64 as base64
import json as json
import logging as logging
import os as os
import subprocess as subprocess
import sys as sys
import time as time
import traceback as traceback
from logging.handlers import RotatingFileHandler as RotatingFileHandler
from pathlib import Path as Path
from typing import Any, List as List, Tuple as Tuple

# The companion cipher library's buffer layer and function table (cffi objects).
ffi: Any
lib: Any

logger: logging.Logger
handler: RotatingFileHandler

def sha1(message: bytes, /) -> str:
    """SHA-1 digest of message as lower-case hexadecimal text."""

def base64_decode(cipher_txt: bytes, /) -> bytes:
    """The bytes that the base64 text cipher_txt encodes."""

def chdir(path: str, /) -> bool:
    """Change the working directory; True on success, False otherwise."""

def getcwd() -> str:
    """The current working directory."""
