#!/usr/bin/env python3
"""Runs the fuzz targets of tools/fuzz_targets.py, each for a given time.

    python tools/run_fuzz.py --seconds 60                 # every target, 60 s each
    python tools/run_fuzz.py --seconds 600 inventory      # one target
    python tools/run_fuzz.py --reproduce crash-file inventory

Each target runs in its own process, one after the other, under atheris
(libFuzzer) when it is installed (`pip install -e ".[fuzz]"`), otherwise under a
plain loop that mutates the seeds at random (--engine random forces that).
A target fails on a crash, a hang, or an exception the module does not document
for that input; the input that did it is kept under --artifacts.

The native code is not built with coverage instrumentation, so atheris steers by
the harness's own branches (which record kinds, outcomes and error types an
input reached); the targets build structured inputs to make up for that.
"""
import argparse
import hashlib
import os
import pathlib
import random
import re
import subprocess
import sys
import time
import traceback

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.append(str(HERE.parent))  # a tree built in place, when brantel is not installed

MAX_LEN = {"inventory": 65536, "decoded": 65536, "queries": 4096, "base64": 200000, "ciphers": 8192}


def have_atheris():
    try:
        import atheris  # noqa: F401
    except ImportError:
        return False
    return True


# --- In the child process ---------------------------------------------------------

def load_targets(instrument):
    if instrument:
        import atheris
        with atheris.instrument_imports(include=["fuzz_targets"]):
            import fuzz_targets
    else:
        import fuzz_targets
    return fuzz_targets


def fill_corpus(fuzz_targets, name, corpus):
    corpus.mkdir(parents=True, exist_ok=True)
    for seed in fuzz_targets.seeds(name):
        path = corpus / f"seed-{hashlib.sha1(seed).hexdigest()}"
        if not path.exists():
            path.write_bytes(seed)


def child_atheris(name, seconds, artifacts):
    import atheris
    fuzz_targets = load_targets(instrument=True)
    corpus = artifacts / f"corpus-{name}"
    fill_corpus(fuzz_targets, name, corpus)
    target = fuzz_targets.TARGETS[name]
    args = [sys.argv[0], f"-max_total_time={seconds}", "-timeout=60", "-rss_limit_mb=4096",
            f"-max_len={MAX_LEN[name]}", "-use_value_profile=1", f"-artifact_prefix={artifacts}/{name}-", "-print_final_stats=1",
            str(corpus)]
    atheris.Setup(args, target)
    atheris.Fuzz()


def random_mutation(rng, data, pool):
    data = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        op = rng.randrange(7)
        at = rng.randint(0, len(data))
        if op == 0 and data:
            data[min(at, len(data) - 1)] ^= 1 << rng.randrange(8)
        elif op == 1 and data:
            data[min(at, len(data) - 1)] = rng.choice((0, 1, 2, 3, 4, 0x7F, 0x80, 0xFF, rng.randrange(256)))
        elif op == 2:
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
        elif op == 3:
            del data[at:at + rng.randint(1, 32)]
        elif op == 4:
            other = rng.choice(pool)
            start = rng.randint(0, len(other))
            data[at:at] = other[start:start + rng.randint(1, 64)]
        elif op == 5:
            del data[at:]
        elif data:
            start = rng.randint(0, len(data) - 1)
            piece = data[start:start + rng.randint(1, 16)]
            data[at:at] = piece * rng.randint(1, 4)
    return bytes(data)


def child_random(name, seconds, artifacts):
    fuzz_targets = load_targets(instrument=False)
    target = fuzz_targets.TARGETS[name]
    pool = fuzz_targets.seeds(name)
    rng = random.Random(int.from_bytes(os.urandom(8), "little"))
    # The input under test is written here first, so a hard crash leaves it behind.
    current = artifacts / f"{name}-current-input"
    deadline = time.monotonic() + seconds
    runs = 0
    with open(current, "wb", buffering=0) as keep:
        while time.monotonic() < deadline:
            data = pool[runs] if runs < len(pool) else random_mutation(rng, rng.choice(pool), pool)
            data = data[:MAX_LEN[name]]
            keep.seek(0)
            keep.truncate()
            keep.write(data)
            try:
                target(data)
            except Exception:
                crash = artifacts / f"{name}-crash-{hashlib.sha1(data).hexdigest()}"
                crash.write_bytes(data)
                traceback.print_exc()
                print(f"==fault== input kept in {crash}", file=sys.stderr)
                sys.exit(1)
            runs += 1
            if runs % 64 == 0 and len(pool) < 4096:
                pool.append(data)  # keep some variety to mutate further
    current.unlink()
    print(f"Done {runs} runs in {int(seconds)} second(s)", file=sys.stderr)


def reproduce(name, files):
    fuzz_targets = load_targets(instrument=False)
    failed = 0
    for path in files:
        try:
            fuzz_targets.TARGETS[name](pathlib.Path(path).read_bytes())
            print(f"{path}: passes")
        except Exception:
            failed += 1
            print(f"{path}: fails")
            traceback.print_exc()
    return 1 if failed else 0


# --- In the parent ------------------------------------------------------------------

def run_target(name, seconds, engine, artifacts, verbose):
    command = [sys.executable, __file__, "--child", name, "--seconds", str(seconds), "--engine", engine,
               "--artifacts", str(artifacts)]
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace")
    tail, runs = [], None
    for line in process.stdout:
        if verbose:
            sys.stdout.write(line)
        tail = (tail + [line])[-60:]
        done = re.search(r"Done (\d+) runs in (\d+) second", line)
        if done:
            runs = int(done.group(1))
    code = process.wait()
    elapsed = time.monotonic() - started
    ok = code == 0
    if not ok and not verbose:
        sys.stdout.write("".join(tail))
    status = "clean" if ok else f"FAILED (exit {code})"
    print(f"{name:10s} {engine:8s} {elapsed:8.1f} s  {runs if runs is not None else '?':>9} runs  {status}",
          flush=True)
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("targets", nargs="*", help="targets to run (default: all)")
    parser.add_argument("--seconds", type=int, default=60, help="time per target")
    parser.add_argument("--engine", choices=["auto", "atheris", "random"], default="auto")
    parser.add_argument("--artifacts", type=pathlib.Path, default=pathlib.Path("/tmp/brantel-fuzz"),
                        help="where corpora and failing inputs are kept")
    parser.add_argument("--reproduce", action="append", metavar="FILE",
                        help="run this input through one target (may be given more than once)")
    parser.add_argument("--verbose", action="store_true", help="show the fuzzer's own output")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    options = parser.parse_args()

    engine = options.engine
    if engine == "auto":
        engine = "atheris" if have_atheris() else "random"
    options.artifacts.mkdir(parents=True, exist_ok=True)
    if options.child:
        # Before fuzz_targets is imported here, so that atheris can instrument it.
        if engine == "atheris":
            child_atheris(options.child, options.seconds, options.artifacts)
        else:
            child_random(options.child, options.seconds, options.artifacts)
        return 0

    import fuzz_targets
    names = options.targets or list(fuzz_targets.TARGETS)
    unknown = [n for n in names if n not in fuzz_targets.TARGETS]
    if unknown:
        parser.error(f"unknown target(s) {unknown}; known: {list(fuzz_targets.TARGETS)}")
    if options.reproduce:
        if len(names) != 1:
            parser.error("--reproduce needs exactly one target")
        return reproduce(names[0], options.reproduce)

    print(f"fuzzing {', '.join(names)} for {options.seconds} s each with {engine}; artifacts in {options.artifacts}")
    results = [run_target(name, options.seconds, engine, options.artifacts, options.verbose) for name in names]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
