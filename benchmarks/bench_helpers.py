"""Speed of the helper functions against the standard library, measured in one run.

Goals: sha1 of 1 MiB within 1.10x of hashlib; sha1 of 16 bytes within 1.3x;
base64_decode of 64 KiB within 2x of base64.b64decode.
"""
import base64
import hashlib
import os
import timeit

import brantel.brantel_sysprobe as sysprobe


def per_call_us(function, arg, seconds=0.5):
    timer = timeit.Timer(lambda: function(arg))
    count, _ = timer.autorange()
    best = min(timer.repeat(repeat=5, number=count))
    return best / count * 1e6


def compare(label, ours, theirs, arg, goal):
    ours_us = per_call_us(ours, arg)
    theirs_us = per_call_us(theirs, arg)
    ratio = ours_us / theirs_us
    verdict = "ok" if ratio <= goal else "MISSED"
    print(f"{label:28s} {ours_us:10.2f} us  reference {theirs_us:10.2f} us  ratio {ratio:5.2f}  goal <= {goal}  {verdict}")


def main():
    big = os.urandom(1 << 20)
    small = os.urandom(16)
    encoded = base64.b64encode(os.urandom(48 * 1024))[: 64 * 1024]
    compare("sha1 1 MiB", sysprobe.sha1, lambda m: hashlib.sha1(m).hexdigest(), big, 1.10)
    compare("sha1 16 B", sysprobe.sha1, lambda m: hashlib.sha1(m).hexdigest(), small, 1.3)
    compare("base64_decode 64 KiB", sysprobe.base64_decode, base64.b64decode, encoded, 2.0)


if __name__ == "__main__":
    main()
