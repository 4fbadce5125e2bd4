"""cffi builder of brantel.brantel_decryption_, the companion cipher library.

decryption.h is both the C header and the cffi declarations; decryption.c is the source.
"""

import os
import sys

import cffi

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_NAME = "brantel.brantel_decryption_"


def crypto_libraries():
    """The platform's name for OpenSSL's libcrypto."""
    return ["libcrypto"] if sys.platform == "win32" else ["crypto"]


def sanitizer_flags():
    """AddressSanitizer and UBSan flags when BRANTEL_SANITIZE=1, else none."""
    if os.environ.get("BRANTEL_SANITIZE") == "1":
        return ["-fsanitize=address,undefined", "-fno-omit-frame-pointer"]
    return []


def read_cdef():
    """The header's text without its preprocessor lines, which cffi cannot parse.

    The header keeps the libc declarations inside a conditional that only this text sees,
    so the compiler takes them from the system headers instead.
    """
    with open(os.path.join(HERE, "decryption.h"), encoding="utf-8") as header:
        return "".join(line for line in header if not line.lstrip().startswith("#"))


def make_ffibuilder(source_dir):
    """An FFI for the module, with its sources taken from source_dir."""
    builder = cffi.FFI()
    builder.cdef(read_cdef())
    compile_args = [] if sys.platform == "win32" else ["-Wall", "-Wextra"]
    sanitize = sanitizer_flags()
    builder.set_source(
        MODULE_NAME,
        '#include "decryption.h"',
        sources=[os.path.join(source_dir, "decryption.c")],
        include_dirs=[source_dir],
        libraries=crypto_libraries(),
        extra_compile_args=compile_args + sanitize,
        extra_link_args=sanitize,
    )
    return builder


def relative_source_dir():
    """This directory relative to the working directory, as setuptools wants its sources."""
    try:
        return os.path.relpath(HERE)
    except ValueError:  # another drive on Windows
        return HERE


# setuptools runs the builders from the repository root ("brantel/ciphers" from there).
ffibuilder = make_ffibuilder(relative_source_dir())

if __name__ == "__main__":
    # A standalone build into a scratch directory (cffi compiles there, hence absolute paths);
    # put the printed directory on sys.path to import the module.
    import tempfile

    target = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="brantel-decryption-")
    make_ffibuilder(HERE).compile(tmpdir=target, verbose=True)
    print(target)
