"""Counts of the peer comparison: per table, the structures covered and facts
compared; overall, the disagreement classes with an example each.

    python tools/peer_report.py [DIR ...]

DIR: folders of X.bin beside X.dmidecode.txt (default: tests/data and
../shared/smbios-corpus/blobs beside the repository, where present).
"""
import pathlib
import sys
from collections import Counter

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import brantel  # noqa: E402
import peer_text  # noqa: E402
from brantel._inventory_decoder import layouts  # noqa: E402


def tables(folders):
    found = {}
    for folder in folders:
        for path in sorted(pathlib.Path(folder).glob("*.bin")):
            if path.with_suffix(".dmidecode.txt").exists():
                found.setdefault(path.name, path)
    return [found[name] for name in sorted(found)]


def main(argv):
    folders = argv or [ROOT / "tests" / "data", ROOT.parent / "shared" / "smbios-corpus" / "blobs"]
    rows = layouts()
    structures = facts = 0
    types = set()
    classes, examples, missing = Counter(), {}, []
    paths = tables(folders)
    for path in paths:
        peer = peer_text.structures(path.with_suffix(".dmidecode.txt"))
        result = peer_text.compare(brantel.decode(path.read_bytes()), peer, rows)
        structures += result.structures
        facts += result.facts
        types |= result.types
        missing += [(path.stem,) + entry for entry in result.missing]
        for key, found in result.disagreements.items():
            classes[key] += len(found)
            examples.setdefault(key, (path.stem, found[0]))
    print("%d tables; types decoded %d, compared %s; structures covered %d; facts compared %d"
          % (len(paths), sum(layout["decoded"] for layout in rows), sorted(types), structures, facts))
    for entry in missing:
        print("not found exactly once: %s type %d handle 0x%04X (ours %d, peer %d)"
              % (entry[0], entry[1][0], entry[1][1], entry[2], entry[3]))
    for key, count in classes.most_common():
        table, (handle, ours, theirs) = examples[key]
        print("type %d %s: %d, e.g. %s handle 0x%04X ours %r peer %r" % (key + (count, table, handle, ours, theirs)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
