"""Shared fixtures."""
import pathlib

import pytest

SHARED = pathlib.Path(__file__).resolve().parents[2] / "shared"
CORPUS = SHARED / "smbios-corpus" / "blobs"
# Real tables that ship with the tests (BSD-3-Clause, see data/NOTICE).
BUNDLED = pathlib.Path(__file__).resolve().parent / "data"


def real_tables():
    """The bundled real SMBIOS tables, plus the rest of the corpus beside the
    repository where it is present; each with its peer decoder's text beside it."""
    tables = {path.name: path for path in BUNDLED.glob("*.bin")}
    if CORPUS.is_dir():
        for path in CORPUS.glob("*.bin"):
            tables.setdefault(path.name, path)
    return [tables[name] for name in sorted(tables)]


@pytest.fixture(scope="session")
def corpus_blobs():
    """Paths of the real SMBIOS tables (bundled, and the corpus where present)."""
    return real_tables()


@pytest.fixture
def use_lib(monkeypatch):
    """Substitutes the companion library the module looks up at call time:
    use_lib(fake) installs fake as brantel.brantel_sysprobe.lib for the test."""
    import brantel.brantel_sysprobe as sysprobe

    def install(lib):
        monkeypatch.setattr(sysprobe, "lib", lib)
        return lib
    return install
