#!/usr/bin/env bash
# Builds the companion's Windows chdir/getcwd (brantel/ciphers/win_paths.c) with the
# mingw-w64 cross compiler and runs its C test (tests/windows/win_paths_test.c) under
# Wine, headless, in a prefix of its own. Needs no OpenSSL for Windows: the file compiles
# alone. Installs the compiler and Wine with apt-get when they are missing (as root).
#   tools/wine_test.sh [WORK]   (WORK: a scratch folder, default a new temporary one)
# Prints the test's closing line ("N passed, N failed"), then one line like CI's; exits
# non-zero on any failure.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
WORK=${1:-}
OWN_WORK=0
if [ -z "$WORK" ]; then
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/brantel-wine.XXXXXX")
    OWN_WORK=1
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
WINE64=/usr/lib/wine/wine64

need=()
command -v x86_64-w64-mingw32-gcc >/dev/null || need+=(gcc-mingw-w64-x86-64-posix)
[ -x "$WINE64" ] || need+=(wine64 wine)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq >/dev/null || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Static, so that Wine needs no mingw runtime DLLs beside the program.
x86_64-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Wpedantic -Werror -static \
    -o "$WORK/win_paths_test.exe" "$REPO/tests/windows/win_paths_test.c"

export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Ends this prefix's wineserver only, then the scratch folder if it is ours.
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ "$OWN_WORK" = 1 ]; then rm -rf "$WORK"; fi
}
trap cleanup EXIT
rm -rf "$WORK/run" && mkdir -p "$WORK/run"
status=0
(cd "$WORK/run" && "$WINE64" "$WORK/win_paths_test.exe") </dev/null >"$WORK/win_paths_test.log" 2>&1 || status=$?
tr -d '\r' <"$WORK/win_paths_test.log"  # text-mode output ends its lines with CR LF
# One line like CI's, from the test's closing "N passed, N failed".
counts=$(tr -d '\r' <"$WORK/win_paths_test.log" | sed -n -E 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' | tail -n 1)
if [ -z "$counts" ]; then
    counts="0 1"
    [ "$status" -ne 0 ] || status=1
fi
wine_version=$("$WINE64" --version 2>/dev/null | sed -E 's/^wine-([^ ]*).*/\1/')
gcc_version=$(x86_64-w64-mingw32-gcc -dumpversion | sed 's/-.*//')
read -r passed failed <<<"$counts"
printf '%-42s %5d passed, %d failed, 0 skipped\n' \
    "windows chdir/getcwd (wine $wine_version, mingw-w64 gcc $gcc_version)" "$passed" "$failed"
exit "$status"
