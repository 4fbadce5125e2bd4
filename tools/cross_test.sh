#!/usr/bin/env bash
# Builds the package and runs the suite on another kind of host, in a Debian tree of
# that architecture:
#   tools/cross_test.sh arm64  [CACHE]   trixie, emulated (unsigned char, 64-bit)
#   tools/cross_test.sh s390x  [CACHE]   bookworm, emulated (big-endian, 64-bit)
#   tools/cross_test.sh i386   [CACHE]   trixie, native under linux32 (32-bit long and size_t)
# The tree is cached in CACHE (default: /var/tmp/brantel-cross) and built once; each run
# copies the working tree (committed and untracked files) into it, builds the package in
# a fresh virtual environment there and runs the whole suite from outside the source
# folder. Prints one line like CI's and exits non-zero when the build or a test fails.
# Needs root (chroot, mounts, binfmt_misc); installs its host tools with apt-get.
# The emulator it registers and the file systems it mounts are undone on exit.
# BRANTEL_CROSS_TIMEOUT (seconds, default 1800) bounds the suite's run.
# (The body is one block, read whole before it runs: editing this file during a run
# cannot change the run.)
{
set -euo pipefail

ARCH=${1:-}
case "$ARCH" in
    arm64) SUITE=trixie QEMU=aarch64 KIND=emulated ;;
    s390x) SUITE=bookworm QEMU=s390x KIND=emulated ;;  # trixie's s390x mirror was incomplete
    i386) SUITE=trixie QEMU= KIND="native, 32-bit" ;;
    *) echo "usage: $0 arm64|s390x|i386 [CACHE]" >&2; exit 2 ;;
esac
CACHE=${2:-/var/tmp/brantel-cross}
REPO=$(cd "$(dirname "$0")/.." && pwd)
ROOT=$CACHE/$ARCH-$SUITE
MIRROR=${BRANTEL_CROSS_MIRROR:-http://deb.debian.org/debian}
SUITE_TIMEOUT=${BRANTEL_CROSS_TIMEOUT:-1800}
START=$SECONDS
INCLUDE=python3-dev,python3-venv,g++,make,libssl-dev,libffi-dev,python3-cffi,python3-pytest,python3-setuptools,python3-wheel,python3-pip,python3-cryptography,python3-jsonschema

if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root (mmdebstrap --mode=root, chroot, binfmt_misc)" >&2
    exit 2
fi

# --- host tools ---------------------------------------------------------------------------
need=()
command -v mmdebstrap >/dev/null || need+=(mmdebstrap)
command -v arch-test >/dev/null || need+=(arch-test)
command -v linux32 >/dev/null || need+=(util-linux)
[ -z "$QEMU" ] || [ -x /usr/bin/qemu-$QEMU-static ] || need+=(qemu-user-static)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq >/dev/null || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# --- undo on exit -----------------------------------------------------------------------------
MOUNTED=()       # mount points, unmounted in reverse order
BINFMT_NAME=     # our binfmt_misc entry
BINFMT_MOUNTED=0
cleanup() {
    local i
    for ((i = ${#MOUNTED[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTED[i]}" 2>/dev/null || umount -l "${MOUNTED[i]}" 2>/dev/null || true
    done
    if [ -n "$BINFMT_NAME" ] && [ -e "/proc/sys/fs/binfmt_misc/$BINFMT_NAME" ]; then
        echo -1 >"/proc/sys/fs/binfmt_misc/$BINFMT_NAME" || true
    fi
    # The mount stays while another run's emulator is registered there.
    if [ "$BINFMT_MOUNTED" = 1 ] && [ -z "$(ls /proc/sys/fs/binfmt_misc | grep -v -x -e register -e status)" ]; then
        umount /proc/sys/fs/binfmt_misc || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the emulator ------------------------------------------------------------------------------
# Registered under a name of our own with the F flag (the kernel opens the emulator now,
# so it runs inside the chroot, where its path does not exist); magic and mask are
# those the emulator's package ships.
if [ -n "$QEMU" ]; then
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        BINFMT_MOUNTED=1
    fi
    name=brantel-$QEMU
    if [ ! -e "/proc/sys/fs/binfmt_misc/$name" ]; then
        spec=/usr/share/binfmts/qemu-$QEMU
        magic=$(awk '$1 == "magic" { print $2 }' "$spec")
        mask=$(awk '$1 == "mask" { print $2 }' "$spec")
        printf ':%s:M:0:%s:%s:/usr/bin/qemu-%s-static:FP' "$name" "$magic" "$mask" "$QEMU" \
            >/proc/sys/fs/binfmt_misc/register
        BINFMT_NAME=$name
    fi
fi

# --- the tree (built once, then cached) ----------------------------------------------------------
if [ ! -e "$ROOT/.brantel-ready" ]; then
    mkdir -p "$CACHE"
    rm -rf --one-file-system "$ROOT.partial"
    echo "building the $ARCH tree ($SUITE) in $ROOT: several minutes"
    mmdebstrap --quiet --mode=root --variant=apt --architectures="$ARCH" --include="$INCLUDE" \
        "$SUITE" "$ROOT.partial" "$MIRROR" >"$CACHE/$ARCH-$SUITE.log" 2>&1 ||
        { tail -n 30 "$CACHE/$ARCH-$SUITE.log"; echo "$ARCH: the tree did not build" >&2; exit 1; }
    touch "$ROOT.partial/.brantel-ready"
    rm -rf --one-file-system "$ROOT"
    mv "$ROOT.partial" "$ROOT"
fi

# --- the source, the corpus, the mounts ------------------------------------------------------------
rm -rf --one-file-system "$ROOT/build"
mkdir -p "$ROOT/build/src"
(cd "$REPO" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$ROOT/build/src")
# The suite finds the shared corpus beside the source folder, as in CI
# (BRANTEL_CROSS_SHARED names another folder that holds smbios-corpus/).
SHARED=${BRANTEL_CROSS_SHARED:-$REPO/../shared}
if [ -d "$SHARED/smbios-corpus" ]; then
    mkdir -p "$ROOT/build/shared"
    cp -r "$SHARED/smbios-corpus" "$ROOT/build/shared/"
fi
# The tree has its own device nodes; it needs /proc, and a /dev/shm for semaphores.
mount -t proc proc "$ROOT/proc" && MOUNTED+=("$ROOT/proc")
mkdir -p "$ROOT/dev/shm" && mount -t tmpfs -o size=256m tmpfs "$ROOT/dev/shm" && MOUNTED+=("$ROOT/dev/shm")

in_tree() {
    if [ "$ARCH" = i386 ]; then
        linux32 chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"
    else
        chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"
    fi
}

PY=$(in_tree python3 -c 'import platform; print(platform.python_version())')
GCC=$(in_tree gcc -dumpversion)
LABEL="$ARCH ($KIND) python $PY gcc $GCC"

# --- build and test --------------------------------------------------------------------------------
LOG=$CACHE/$ARCH-$SUITE-build.log
TESTLOG=$CACHE/$ARCH-$SUITE-tests.log
# Warnings are errors here too: a cast or a shift that is fine on x86-64 warns elsewhere.
if ! in_tree sh -c 'cd /build/src && python3 -m venv --system-site-packages /build/venv &&
        BRANTEL_WERROR=1 /build/venv/bin/pip install -v --no-build-isolation --no-deps --no-index .' \
        >"$LOG" 2>&1; then
    tail -n 40 "$LOG"
    printf '%-42s build FAILED (see %s)\n' "$LABEL" "$LOG"
    exit 1
fi
status=0
in_tree sh -c "cd /build && timeout $SUITE_TIMEOUT /build/venv/bin/python -m pytest -q -p no:cacheprovider \
        -k 'not over_4_gib' /build/src/tests" >"$TESTLOG" 2>&1 || status=$?
tail -n 25 "$TESTLOG"
read -r passed failed skipped < <(python3 - "$TESTLOG" <<'EOF'
import re, sys
lines = [l for l in open(sys.argv[1], errors="replace") if re.search(r"\d+ (passed|failed|error)", l)]
found = dict((k.rstrip("s"), int(n)) for n, k in re.findall(r"(\d+) (\w+)", lines[-1] if lines else ""))
print(found.get("passed", 0), found.get("failed", 0) + found.get("error", 0), found.get("skipped", 0))
EOF
)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$ARCH: $(((SECONDS - START + 30) / 60)) min in all"
printf '%-42s %5d passed, %d failed, %d skipped\n' "$LABEL" "$passed" "$failed" "$skipped"
exit "$status"
}
