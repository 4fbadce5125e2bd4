"""Where the companion library's build looks for OpenSSL 3, and how it says it found none."""
import importlib.util
import pathlib
import subprocess

import pytest

BUILDER = pathlib.Path(__file__).resolve().parents[1] / "brantel" / "ciphers" / "build_decryption.py"


@pytest.fixture(scope="module")
def builder():
    if not BUILDER.exists():
        pytest.skip("the cffi builder is not beside the tests")
    spec = importlib.util.spec_from_file_location("build_decryption", BUILDER)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def install(prefix, openssl3=True, lib="lib"):
    (prefix / "include" / "openssl").mkdir(parents=True)
    (prefix / "include" / "openssl" / ("decoder.h" if openssl3 else "evp.h")).touch()
    (prefix / lib).mkdir()
    return prefix


def pkg_config(version, flags="", returncode=0):
    """A stand-in for subprocess.run answering pkg-config's two questions."""
    def run(argv, **_):
        if argv[0] != "pkg-config":
            raise OSError("unexpected command")
        if returncode is None:
            raise FileNotFoundError("pkg-config")
        out = version if "--modversion" in argv else flags
        return subprocess.CompletedProcess(argv, returncode, out + "\n", "")
    return run


NO_PKG_CONFIG = pkg_config("", returncode=None)


def test_openssl_dir_comes_first(builder, tmp_path):
    root = install(tmp_path / "ossl", lib="lib64")
    found = builder.find_openssl({"OPENSSL_DIR": str(root)}, "linux", pkg_config("3.0.2", "-I/elsewhere"))
    assert found == ([str(root / "include")], [str(root / "lib64")])


def test_openssl_dir_without_openssl3_stops_the_build(builder, tmp_path):
    root = install(tmp_path / "old", openssl3=False)
    with pytest.raises(SystemExit, match="OPENSSL_DIR=.*set it to the directory"):
        builder.find_openssl({"OPENSSL_DIR": str(root)}, "linux", NO_PKG_CONFIG)


def test_pkg_config_gives_the_directories(builder):
    run = pkg_config("3.1.4", "-I/opt/ossl/include -L/opt/ossl/lib -lcrypto")
    assert builder.find_openssl({}, "linux", run) == (["/opt/ossl/include"], ["/opt/ossl/lib"])


@pytest.mark.parametrize("run", [pkg_config("1.1.1w", "-I/old"), pkg_config("", returncode=1), NO_PKG_CONFIG],
                         ids=["openssl-1.1", "no-libcrypto-pc", "no-pkg-config"])
def test_usual_prefixes_when_pkg_config_has_no_openssl3(builder, tmp_path, monkeypatch, run):
    keg = install(tmp_path / "homebrew" / "opt" / "openssl@3")
    monkeypatch.setitem(builder.USUAL_PREFIXES, "darwin", [str(tmp_path / "missing"), str(keg)])
    assert builder.find_openssl({}, "darwin", run) == ([str(keg / "include")], [str(keg / "lib")])


def test_compiler_default_paths_are_the_last_resort(builder, tmp_path):
    install(tmp_path / "usr")
    found = builder.find_openssl({}, "linux", NO_PKG_CONFIG, default_includes=[str(tmp_path / "usr" / "include")])
    assert found == ([], [])


def test_nothing_found_is_one_sentence_naming_openssl_dir(builder, tmp_path, monkeypatch):
    monkeypatch.setitem(builder.USUAL_PREFIXES, "win32", [str(tmp_path / "none")])
    with pytest.raises(SystemExit) as stop:
        builder.find_openssl({}, "win32", NO_PKG_CONFIG)
    message = str(stop.value)
    assert "OPENSSL_DIR" in message and message.count(".") == 1 and message.endswith(".")
