"""cffi builder of brantel.brantel_decryption_, the companion cipher library.

decryption.h is both the C header and the cffi declarations; decryption.c is the source.
"""

import os
import subprocess
import sys

import cffi

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_NAME = "brantel.brantel_decryption_"


def crypto_libraries():
    """The platform's name for OpenSSL's libcrypto."""
    return ["libcrypto"] if sys.platform == "win32" else ["crypto"]


NOT_FOUND = (
    "OpenSSL 3 (libcrypto with its headers) was not found: install its development files "
    "or set OPENSSL_DIR to the directory that holds include/openssl/ and lib/."
)

# Where OpenSSL 3 lands when it is not on the compiler's own search path.
USUAL_PREFIXES = {
    "darwin": ["/opt/homebrew/opt/openssl@3", "/usr/local/opt/openssl@3", "/opt/local"],
    "win32": [r"C:\Program Files\OpenSSL-Win64", r"C:\Program Files\OpenSSL", r"C:\OpenSSL-Win64"],
}


def has_openssl3_headers(include_dir):
    # decoder.h first appeared in OpenSSL 3.0, so it tells 3.x from 1.1.
    return os.path.isfile(os.path.join(include_dir, "openssl", "decoder.h"))


def prefix_dirs(prefix):
    """(include_dirs, library_dirs) below an OpenSSL install prefix."""
    library_dirs = [
        os.path.join(prefix, *parts)
        for parts in (("lib",), ("lib64",), ("lib", "VC", "x64", "MD"))
        if os.path.isdir(os.path.join(prefix, *parts))
    ]
    return [os.path.join(prefix, "include")], library_dirs


def pkg_config_dirs(run=subprocess.run):
    """(include_dirs, library_dirs) that pkg-config gives for libcrypto 3, or None."""
    try:
        version = run(["pkg-config", "--modversion", "libcrypto"], capture_output=True, text=True)
        if version.returncode != 0 or not version.stdout.strip().split(".")[0].isdigit():
            return None
        if int(version.stdout.strip().split(".")[0]) < 3:
            return None
        flags = run(["pkg-config", "--cflags-only-I", "--libs-only-L", "libcrypto"], capture_output=True, text=True)
    except OSError:  # no pkg-config
        return None
    if flags.returncode != 0:
        return None
    words = flags.stdout.split()
    return [w[2:] for w in words if w.startswith("-I")], [w[2:] for w in words if w.startswith("-L")]


def find_openssl(environ=os.environ, platform=sys.platform, run=subprocess.run, default_includes=None):
    """(include_dirs, library_dirs) for OpenSSL 3, tried in order: OPENSSL_DIR, pkg-config,
    the platform's usual install prefixes, the compiler's default paths. Exits the build
    with one sentence when none has OpenSSL 3."""
    root = environ.get("OPENSSL_DIR")
    if root:
        include_dirs, library_dirs = prefix_dirs(root)
        if not has_openssl3_headers(include_dirs[0]):
            raise SystemExit(f"OPENSSL_DIR={root} holds no OpenSSL 3 headers (include/openssl/decoder.h): "
                             "set it to the directory that holds include/openssl/ and lib/.")
        return include_dirs, library_dirs
    found = pkg_config_dirs(run)
    if found is not None:
        return found
    for prefix in USUAL_PREFIXES.get(platform, []):
        include_dirs, library_dirs = prefix_dirs(prefix)
        if has_openssl3_headers(include_dirs[0]):
            return include_dirs, library_dirs
    if default_includes is None:
        default_includes = [] if platform == "win32" else ["/usr/include", "/usr/local/include"]
    if any(has_openssl3_headers(d) for d in default_includes):
        return [], []
    raise SystemExit(NOT_FOUND)


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
    if os.environ.get("BRANTEL_WERROR") == "1":
        compile_args.append("/WX" if sys.platform == "win32" else "-Werror")
    sanitize = sanitizer_flags()
    include_dirs, library_dirs = find_openssl()
    builder.set_source(
        MODULE_NAME,
        '#include "decryption.h"',
        sources=[os.path.join(source_dir, "decryption.c")],
        include_dirs=[source_dir] + include_dirs,
        library_dirs=library_dirs,
        # A libcrypto outside the loader's own paths is found again at run time.
        runtime_library_dirs=library_dirs if sys.platform != "win32" else [],
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
