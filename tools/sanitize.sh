#!/usr/bin/env bash
# Builds the extensions and the companion library with AddressSanitizer and
# UBSan (BRANTEL_SANITIZE=1) in a copy of the tree, with its own virtual
# environment, then runs the test suite and a short fuzz run under them.
#
#   tools/sanitize.sh                    # suite + 20 s per fuzz target
#   FUZZ_SECONDS=120 tools/sanitize.sh   # longer fuzz run
#   tools/sanitize.sh -k inventory       # extra arguments go to pytest
#
# Environment: BRANTEL_ASAN_DIR (work directory, default /tmp/brantel-asan),
# FUZZ_SECONDS (per target, default 20; 0 skips the fuzz run), PYTHON (default python3).
# The checkout itself is never built in or written to.
set -euo pipefail

REPO="$(cd "$(dirname "$0")/.." && pwd)"
WORK="${BRANTEL_ASAN_DIR:-/tmp/brantel-asan}"
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
PYTHON="${PYTHON:-python3}"
SRC="$WORK/brantel"
VENV="$WORK/venv"

echo "== copying $REPO to $SRC"
mkdir -p "$SRC"
# Fresh copy of the sources (no build products, no git data, no virtual environments).
(cd "$REPO" && tar --exclude=.git --exclude=build --exclude='*.so' --exclude='*.o' --exclude='.venv*' \
    --exclude='__pycache__' --exclude='*.egg-info' -cf - .) | (cd "$SRC" && tar -xf -)
# The tests look for the SMBIOS corpus beside the checkout; give the copy the same neighbour.
if [ -d "$REPO/../shared" ] && [ ! -e "$WORK/shared" ]; then
    ln -s "$(cd "$REPO/../shared" && pwd)" "$WORK/shared"
fi

if [ ! -x "$VENV/bin/python" ]; then
    echo "== creating $VENV"
    "$PYTHON" -m venv "$VENV"
    "$VENV/bin/python" -m pip install --quiet --upgrade pip
    "$VENV/bin/python" -m pip install --quiet setuptools wheel "cffi>=1.15" "pytest>=7" "cryptography>=41"
fi

echo "== building with BRANTEL_SANITIZE=1"
(cd "$SRC" && rm -rf build && BRANTEL_SANITIZE=1 "$VENV/bin/python" setup.py -q build_ext --inplace)

ASAN_LIB="$(gcc -print-file-name=libasan.so)"
UBSAN_LIB="$(gcc -print-file-name=libubsan.so)"
for lib in "$ASAN_LIB" "$UBSAN_LIB"; do
    [ -e "$lib" ] || { echo "sanitizer runtime $lib not found" >&2; exit 2; }
done

# The interpreter is not instrumented, so the runtimes are preloaded. CPython
# keeps memory alive at exit on purpose, so leak detection is off; the leak
# tests watch reference counts and memory instead. PYTHONMALLOC=malloc sends
# Python's own allocations through malloc, where ASan can see overruns of them.
export LD_PRELOAD="$ASAN_LIB $UBSAN_LIB"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1:exitcode=86:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"
export PYTHONMALLOC=malloc
export BRANTEL_SANITIZE=1  # tells the memory tests that resident sizes mean little here

cd "$SRC"
echo "== test suite under the sanitizers"
"$VENV/bin/python" -m pytest -q -p no:cacheprovider "$@"

if [ "$FUZZ_SECONDS" != "0" ]; then
    echo "== fuzz targets under the sanitizers, $FUZZ_SECONDS s each"
    # atheris brings its own sanitizer-less libFuzzer, so the plain random loop runs here.
    "$VENV/bin/python" tools/run_fuzz.py --engine random --seconds "$FUZZ_SECONDS" --artifacts "$WORK/fuzz"
fi
echo "== sanitizer run clean"
