"""Several Python threads calling the inventory, the queries, the helpers and the
cipher services at once give the results that single-threaded calls give."""
import os
import random
import subprocess
import sys
import threading
import time

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding as asym, rsa
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

import brantel.brantel_sysprobe as sysprobe
import smbios_builder as sb
from brantel import _sysprobe_internal as svc

THREADS = 6
SECONDS = 1.5

KEY, IV, NONCE = bytes(range(32)), bytes(range(16)), bytes(range(12))
RSA_KEY = rsa.generate_private_key(public_exponent=65537, key_size=2048)
PUBKEY = RSA_KEY.public_key().public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.PKCS1)
SIGNATURE = RSA_KEY.sign(b"message", asym.PKCS1v15(), hashes.SHA256())
OAEP = asym.OAEP(mgf=asym.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)
SEALED = AESGCM(KEY).encrypt(NONCE, bytes(300000), None)  # past the first output buffer

DESKTOP, SERVER = sb.blob(sb.desktop_table()), sb.blob(sb.server_table(), version=(2, 7))
RENDERED = sb.parse_inventory(svc.parse_windows_hardware_info(SERVER, b"guid"))
CPUS = sb.elements(RENDERED["cpu_list"])
DEVICE_SETS = sb.elements(RENDERED["memory_device_set_list"])
MODULES = ["\x02".join(["6", str(64 + n), "DIMM %d" % n, "18", "4", "7", str(n % 130), "0"]) for n in range(40)]


def populated(cpus):
    found = []
    svc.get_populated_cpus(cpus, found)
    return found


def outcome(job):
    """The job's result, or the type and text of the exception it raised."""
    try:
        return "ok", job()
    except Exception as error:
        return type(error).__name__, str(error)


def cwd_round_trip():
    here = os.getcwd()
    return sysprobe.chdir(here), sysprobe.getcwd() == here


JOBS = {
    "inventory-desktop": lambda: svc.parse_windows_hardware_info(DESKTOP, b"desktop"),
    "inventory-server": lambda: svc.parse_windows_hardware_info(SERVER, "server-\u00e9".encode()),
    "inventory-no-end": lambda: svc.parse_windows_hardware_info(DESKTOP[:-1], b""),
    "inventory-bad-guid": lambda: svc.parse_windows_hardware_info(DESKTOP, b"\xff"),
    "cpus": lambda: populated(CPUS),
    "cpus-short": lambda: populated(CPUS + [""]),
    "devices": lambda: svc.get_memory_devices(DEVICE_SETS),
    "modules": lambda: svc.get_memory_modules(MODULES),
    "modules-bad": lambda: svc.get_memory_modules(MODULES + ["a\x02b\x02c\x02d\x02e\x02f\x02x"]),
    "sha1": lambda: sysprobe.sha1(bytes(range(256)) * 64),
    "base64": lambda: sysprobe.base64_decode(b"QUJD" * 50000),
    "base64-bad": lambda: sysprobe.base64_decode(b"QUJ"),
    "cwd": cwd_round_trip,
    "urandom": lambda: len(svc.urandom(1000)),
    "cbc": lambda: svc.aes_cbc_decryptor(KEY, svc.aes_cbc_encryptor(KEY, b"n" * 2000, IV), IV),
    "cbc-bad-iv": lambda: svc.aes_cbc_encryptor(KEY, b"n", IV[:8]),
    "gcm": lambda: svc.aes_gcm_encryptor(KEY, b"content", NONCE),
    "gcm-decrypt": lambda: len(svc.aes_gcm_decryptor(KEY, SEALED, NONCE)),
    "gcm-tampered": lambda: svc.aes_gcm_decryptor(KEY, SEALED[:-1], NONCE),
    "rsa-encrypt": lambda: RSA_KEY.decrypt(svc.rsa_encryptor(PUBKEY, b"session key"), OAEP),
    "rsa-verify": lambda: svc.rsa_verifier(PUBKEY, b"message", SIGNATURE),
    "rsa-verify-wrong": lambda: svc.rsa_verifier(PUBKEY, b"messagE", SIGNATURE),
}


@pytest.fixture
def frequent_switches():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(interval)


def test_concurrent_calls_match_single_threaded(frequent_switches):
    expected = {name: outcome(job) for name, job in JOBS.items()}
    assert expected["inventory-desktop"][0] == "ok" and expected["inventory-no-end"][0] == "ValueError"
    start = threading.Barrier(THREADS)
    mismatches, calls = [], [0] * THREADS

    def worker(index):
        rng = random.Random(index)
        names = list(JOBS)
        start.wait()
        deadline = time.monotonic() + SECONDS
        while time.monotonic() < deadline:
            rng.shuffle(names)
            for name in names:
                got = outcome(JOBS[name])
                calls[index] += 1
                if got != expected[name]:
                    mismatches.append((name, got))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == []
    assert min(calls) >= len(JOBS)  # every thread got through every job at least once


def test_inventories_of_different_tables_do_not_mix(frequent_switches):
    # Each thread renders its own table; a record of one call must never show up in another's.
    blobs = [sb.blob(sb.structure(1, {4: 1}, length=8, strings=["maker-%d" % n]),
                     sb.structure(0, {4: 1}, strings=["vendor-%d" % n]) * (n + 1)) for n in range(THREADS)]
    expected = [svc.parse_windows_hardware_info(blob, b"%d" % n) for n, blob in enumerate(blobs)]
    wrong = []

    def worker(n):
        deadline = time.monotonic() + SECONDS / 3
        while time.monotonic() < deadline:
            if svc.parse_windows_hardware_info(blobs[n], b"%d" % n) != expected[n]:
                wrong.append(n)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert wrong == []


# The first cipher and helper calls of a process once imported the companion
# under C++'s static-initialisation guard: a second thread waiting on the
# guard held the interpreter lock that the import needed. An import hook that
# sleeps while the companion is being found makes that window wide.
COLD_START = r"""
import importlib.abc, sys, threading, time
import brantel.brantel_sysprobe as sysprobe

class Slow(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path=None, target=None):
        if name == "brantel.brantel_decryption_":
            time.sleep(0.05)
        return None

del sys.modules["brantel.brantel_decryption_"]
sys.meta_path.insert(0, Slow())
start = threading.Barrier(8)
results = []

def first_calls():
    start.wait()
    from brantel import _sysprobe_internal as svc
    key, nonce = bytes(32), bytes(12)
    results.append((sysprobe.sha1(b"abc"), sysprobe.base64_decode(b"QUJD"), len(svc.urandom(8)),
                    svc.aes_gcm_decryptor(key, svc.aes_gcm_encryptor(key, b"x", nonce), nonce)))

threads = [threading.Thread(target=first_calls) for _ in range(8)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(len(set(results)), len(results))
"""


def test_cold_starts_with_eight_threads_making_their_first_calls_all_finish():
    runs = [subprocess.Popen([sys.executable, "-c", COLD_START], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True) for _ in range(20)]
    outcomes, deadline = [], time.monotonic() + 180  # one budget for all of them
    for run in runs:
        try:
            out, err = run.communicate(timeout=max(1.0, deadline - time.monotonic()))
            outcomes.append((out.split(), err[-300:]))
        except subprocess.TimeoutExpired:
            run.kill()
            run.communicate()
            outcomes.append(("hung", ""))
    assert outcomes == [(["1", "8"], "")] * 20


@pytest.mark.parametrize("call", [
    lambda big: svc.aes_gcm_encryptor(KEY, big, NONCE),
    lambda big: sysprobe.sha1(big),
    lambda big: sysprobe.base64_decode(big),
], ids=["gcm", "sha1", "base64"])
# Under the sanitizers the 64 MiB allocations made with the lock held (by design)
# take as long as the library's work, so the timing says nothing about the lock.
@pytest.mark.skipif(os.environ.get("BRANTEL_SANITIZE") == "1", reason="timing is not meaningful under the sanitizers")
def test_a_long_library_call_lets_other_threads_run(call):
    big = b"QUJD" * (16 << 20)  # 64 MiB
    ticks, done = [], threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
    thread = threading.Thread(target=ticker)
    thread.start()
    while not ticks:
        time.sleep(0.001)
    began = time.perf_counter()
    call(big)
    ended = time.perf_counter()
    done.set()
    thread.join()
    # With the lock held through the call, the ticker would stop for all of it.
    during = [tick for tick in ticks if began < tick < ended]
    gaps = [later - earlier for earlier, later in zip([began] + during, during + [ended])]
    assert max(gaps) < (ended - began) / 2
