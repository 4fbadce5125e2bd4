"""Builds the package's native parts: the two C++ extension modules and,
through cffi, the companion cipher library.

Compiler flags are chosen when the compiler is known (MSVC or a gcc-like
compiler), so each extension is declared once, by name and sources."""
import glob
import os

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

# BRANTEL_SANITIZE=1 builds everything with AddressSanitizer and UBSan (gcc/clang).
SANITIZE = os.environ.get("BRANTEL_SANITIZE") == "1"
# BRANTEL_WERROR=1 turns every compiler warning into an error (CI's strict builds);
# BRANTEL_CXXFLAGS and BRANTEL_LDFLAGS add flags to the C++ extensions only (for
# example -Wpedantic, or -stdlib=libc++ in both).
WERROR = os.environ.get("BRANTEL_WERROR") == "1"

GCC_LIKE_FLAGS = ["-std=c++17", "-O2", "-Wall", "-Wextra", "-fvisibility=hidden"]
if SANITIZE:
    GCC_LIKE_FLAGS += ["-fsanitize=address,undefined", "-fno-omit-frame-pointer", "-g", "-O1"]
GCC_LIKE_LINK = ["-fsanitize=address,undefined", "-fno-omit-frame-pointer"] if SANITIZE else []
# /Zc:__cplusplus makes __cplusplus report C++17; /utf-8 reads the sources as UTF-8.
MSVC_FLAGS = ["/std:c++17", "/EHsc", "/W3", "/O2", "/permissive-", "/Zc:__cplusplus", "/utf-8"]


def compiler_flags(compiler_type, environ=os.environ):
    """(compile, link) flags for a C++ extension on this compiler type."""
    extra_compile = environ.get("BRANTEL_CXXFLAGS", "").split()
    extra_link = environ.get("BRANTEL_LDFLAGS", "").split()
    if compiler_type == "msvc":
        return MSVC_FLAGS + (["/WX"] if WERROR else []) + extra_compile, extra_link
    flags = GCC_LIKE_FLAGS + (["-Werror"] if WERROR else []) + extra_compile
    return flags, GCC_LIKE_LINK + extra_link


class BuildExt(build_ext):
    """Adds the flags of the compiler in use to every C++ extension."""

    def build_extension(self, ext):
        if getattr(ext, "language", None) == "c++":
            compile_args, link_args = compiler_flags(self.compiler.compiler_type)
            ext.extra_compile_args = compile_args + list(ext.extra_compile_args or [])
            ext.extra_link_args = link_args + list(ext.extra_link_args or [])
        super().build_extension(ext)


TOOLKIT = [f"brantel/toolkit/{name}.cpp" for name in ("function", "integers", "traceback")]
BUFFERS = ["brantel/ciphers/buffers.cpp"]
# The rendered inventory: the walker, its field reader and the text forms.
INVENTORY = [
    f"brantel/inventory/{name}.cpp"
    for name in ("entry", "field_reader", "inventory", "item_list", "published", "queries", "structure_table", "utf8")
]
# The decoded inventory: its engine, registry and values; the walker's cursor and UTF-8 check.
DECODER = [
    f"brantel/inventory/{name}.cpp"
    for name in ("decoder_module", "decoder", "decoded_types", "decoded_values", "decoded_totals",
                 "structure_table", "utf8")
]
HEADERS = sorted(glob.glob("brantel/toolkit/*.hpp") + glob.glob("brantel/inventory/**/*.hpp", recursive=True)
                 + glob.glob("brantel/ciphers/*.hpp"))


def cxx_extension(name, files):
    """A C++ extension of the package; its compiler flags come from BuildExt."""
    return Extension(name, sources=files, language="c++", depends=HEADERS)


setup(
    ext_modules=[
        cxx_extension(
            "brantel.brantel_sysprobe",
            ["brantel/brantel_sysprobe.cpp", "brantel/ciphers/helpers.cpp"] + BUFFERS + TOOLKIT,
        ),
        cxx_extension(
            "brantel._sysprobe_internal",
            ["brantel/_sysprobe_internal.cpp", "brantel/ciphers/services.cpp"]
            + BUFFERS
            + TOOLKIT
            + INVENTORY,
        ),
        # The decoded inventory: no toolkit, no module frame, nothing imported at load.
        cxx_extension(
            "brantel._inventory_decoder",
            DECODER,
        ),
    ],
    cffi_modules=["brantel/ciphers/build_decryption.py:ffibuilder"],
    cmdclass={"build_ext": BuildExt},
)
