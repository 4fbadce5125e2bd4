"""Shared fixtures."""
import pathlib

import pytest

SHARED = pathlib.Path(__file__).resolve().parents[2] / "shared"
CORPUS = SHARED / "smbios-corpus" / "blobs"


@pytest.fixture(scope="session")
def corpus_blobs():
    """Paths of the real SMBIOS tables kept beside the repository."""
    if not CORPUS.is_dir():
        pytest.skip("SMBIOS corpus not present")
    return sorted(CORPUS.glob("*.bin"))


@pytest.fixture
def use_lib(monkeypatch):
    """Substitutes the companion library the module looks up at call time:
    use_lib(fake) installs fake as brantel.brantel_sysprobe.lib for the test."""
    import brantel.brantel_sysprobe as sysprobe

    def install(lib):
        monkeypatch.setattr(sysprobe, "lib", lib)
        return lib
    return install
