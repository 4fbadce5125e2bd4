"""Speed of the inventory entry on a desktop-size table, a large server table and
the largest real table of the corpus.

    python benchmarks/bench_inventory.py [--repeat N]

Prints microseconds per call and megabytes of table input per second (goal: at
least 300 MB/s on the server table). A benchmark, not a test: it never fails.
"""
import argparse
import pathlib
import sys
import timeit

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

from smbios_builder import blob, desktop_table, server_table  # noqa: E402

from brantel._sysprobe_internal import parse_windows_hardware_info  # noqa: E402

CORPUS = ROOT.parent / "shared" / "smbios-corpus" / "blobs"
GOAL_MB_PER_S = 300.0


def cases():
    """(label, blob, goal in MB/s or None)"""
    yield "desktop table (built)", blob(desktop_table()), None
    yield "server table (built)", blob(server_table()), GOAL_MB_PER_S
    corpus = sorted(CORPUS.glob("*.bin"), key=lambda path: path.stat().st_size) if CORPUS.is_dir() else []
    if corpus:
        yield "largest corpus table (%s)" % corpus[-1].stem, corpus[-1].read_bytes(), None


def per_call_us(function, repeat):
    timer = timeit.Timer(function)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=7)
    repeat = parser.parse_args().repeat
    guid = b"4c4c4544-0038-5810-804b-b8c04f503432"
    print("%-46s %9s %10s %10s %8s" % ("table", "bytes", "us/call", "MB/s", "goal"))
    for label, data, goal in cases():
        us = per_call_us(lambda: parse_windows_hardware_info(data, guid), repeat)
        rate = (len(data) - 2) / us  # bytes per microsecond = MB/s
        verdict = "" if goal is None else ("ok" if rate >= goal else "MISSED")
        print("%-46s %9d %10.2f %10.1f %8s" % (label, len(data) - 2, us, rate, verdict))


if __name__ == "__main__":
    main()
