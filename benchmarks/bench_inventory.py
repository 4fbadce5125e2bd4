"""Speed of the inventory on a desktop-size table, a large server table and the
largest real table of the corpus, and of the command line.

    python benchmarks/bench_inventory.py [--repeat N] [--corpus DIR]

Prints, per table, microseconds per call of the rendered entry and of the
decoded inventory (brantel.decode) and the rendered entry's megabytes of table
per second (goal: at least 300 MB/s on the server table); then the ratios, each
measured in this run: the decoded dict against the rendered entry on
uroot-vmware and on the largest table (goal: at most 4x; every structure type
is decoded), and the wall time of `brantel inventory --blob X
--format json` against `python -c pass` (goal: at most 2.5x). Timings are the best
of several runs. A benchmark, not a test: it never fails.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import time
import timeit

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

from smbios_builder import blob, desktop_table, server_table  # noqa: E402

from brantel import decode  # noqa: E402
from brantel._sysprobe_internal import parse_windows_hardware_info  # noqa: E402

CORPUS = ROOT.parent / "shared" / "smbios-corpus" / "blobs"
GOAL_MB_PER_S = 300.0
GOAL_DECODED_RATIO = 4.0
GOAL_COMMAND_RATIO = 2.5


def cases(corpus_dir=CORPUS):
    """(label, blob, goal in MB/s or None)"""
    yield "desktop table (built)", blob(desktop_table()), None
    yield "server table (built)", blob(server_table()), GOAL_MB_PER_S
    yield "uroot-vmware", (ROOT / "tests" / "data" / "uroot-vmware.bin").read_bytes(), None
    corpus_dir = pathlib.Path(corpus_dir)
    corpus = sorted(corpus_dir.glob("*.bin"), key=lambda path: path.stat().st_size) if corpus_dir.is_dir() else []
    if corpus:
        yield "largest corpus table (%s)" % corpus[-1].stem, corpus[-1].read_bytes(), None


def per_call_us(function, repeat):
    timer = timeit.Timer(function)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e6


def best_wall_s(argv, runs):
    """Best wall time of running argv, in seconds."""
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        best = min(best, time.perf_counter() - start)
    return best


def command():
    """The brantel console script beside this interpreter, or python -m brantel."""
    script = pathlib.Path(sys.executable).with_name("brantel.exe" if os.name == "nt" else "brantel")
    return [str(script)] if script.exists() else [sys.executable, "-m", "brantel"]


def verdict(ratio, goal):
    return "ok" if ratio <= goal else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--runs", type=int, default=20, help="runs of each command for the wall-time ratio")
    parser.add_argument("--corpus", default=str(CORPUS), help="folder of the real tables (default: %(default)s)")
    options = parser.parse_args()
    repeat = options.repeat
    guid = b"4c4c4544-0038-5810-804b-b8c04f503432"
    print("%-46s %9s %10s %10s %10s %8s" % ("table", "bytes", "us/call", "MB/s", "decode us", "goal"))
    last = None
    ratios = {}
    for label, data, goal in cases(options.corpus):
        # Alternated, best of each: on a shared machine the load changes between runs.
        us = decode_us = float("inf")
        for _ in range(3):
            us = min(us, per_call_us(lambda: parse_windows_hardware_info(data, guid), repeat))
            decode_us = min(decode_us, per_call_us(lambda: decode(data), repeat))
        rate = (len(data) - 2) / us  # bytes per microsecond = MB/s
        mark = "" if goal is None else ("ok" if rate >= goal else "MISSED")
        print("%-46s %9d %10.2f %10.1f %10.2f %8s" % (label, len(data) - 2, us, rate, decode_us, mark))
        last = label, data, us, decode_us
        ratios[label] = decode_us / us

    print()
    for label in [name for name in ratios if not name.endswith("(built)")]:
        print("decoded dict / rendered entry on %s: %.2fx (goal <= %.0fx: %s)"
              % (label, ratios[label], GOAL_DECODED_RATIO, verdict(ratios[label], GOAL_DECODED_RATIO)))
    label, data, us, decode_us = last

    blob_path = ROOT / "build" / "bench_inventory_blob.bin"
    blob_path.parent.mkdir(exist_ok=True)
    blob_path.write_bytes(data)
    baseline = best_wall_s([sys.executable, "-c", "pass"], options.runs)
    inventory = best_wall_s(command() + ["inventory", "--blob", str(blob_path), "--format", "json"], options.runs)
    ratio = inventory / baseline
    print("brantel inventory --blob X --format json: %.1f ms; python -c pass: %.1f ms; ratio %.2fx (goal <= %.1fx: %s)"
          % (inventory * 1e3, baseline * 1e3, ratio, GOAL_COMMAND_RATIO, verdict(ratio, GOAL_COMMAND_RATIO)))


if __name__ == "__main__":
    main()
