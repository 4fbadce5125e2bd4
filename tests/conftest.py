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
