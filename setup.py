"""Builds the package's native parts: the two C++ extension modules and,
through cffi, the companion cipher library."""
import glob
import os

from setuptools import Extension, setup

# BRANTEL_SANITIZE=1 builds everything with AddressSanitizer and UBSan.
SANITIZE = os.environ.get("BRANTEL_SANITIZE") == "1"
SANITIZER_FLAGS = ["-fsanitize=address,undefined", "-fno-omit-frame-pointer"] if SANITIZE else []

CXX_FLAGS = ["-std=c++17", "-O2", "-Wall", "-Wextra", "-fvisibility=hidden"] + SANITIZER_FLAGS
if SANITIZE:
    CXX_FLAGS += ["-g", "-O1"]
LINK_FLAGS = SANITIZER_FLAGS


def sources(*patterns):
    found = []
    for pattern in patterns:
        found.extend(sorted(glob.glob(pattern)))
    return found


TOOLKIT = sources("brantel/toolkit/*.cpp")
BUFFERS = ["brantel/ciphers/buffers.cpp"]


def cxx_extension(name, files):
    return Extension(
        name,
        sources=files,
        language="c++",
        extra_compile_args=CXX_FLAGS,
        extra_link_args=LINK_FLAGS,
        depends=sources("brantel/toolkit/*.hpp", "brantel/inventory/*.hpp", "brantel/ciphers/*.hpp"),
    )


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
            + sources("brantel/inventory/*.cpp"),
        ),
        # The decoded inventory: no toolkit, no module frame, nothing imported at load.
        cxx_extension(
            "brantel._inventory_decoder",
            ["brantel/_inventory_decoder.cpp"]
            + [f"brantel/inventory/{name}.cpp" for name in ("structure_table", "utf8", "field_reader")],
        ),
    ],
    cffi_modules=["brantel/ciphers/build_decryption.py:ffibuilder"],
)
