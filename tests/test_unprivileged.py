"""A user who cannot write the installed package: a read-only copy of it, run as
nobody, imports, runs every helper and the command line, and leaves no file behind."""
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap

import pytest

import brantel

EXPECTED = pathlib.Path(__file__).resolve().parent / "expected" / "sample_inventory.txt"
AS_NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]

pytestmark = [
    pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() != 0 or shutil.which("setpriv") is None,
                       reason="needs root and setpriv to run as another user"),
    # A sanitizer build needs its runtimes preloaded, which the clean environment drops.
    pytest.mark.skipif(os.environ.get("BRANTEL_SANITIZE") == "1", reason="not under the sanitizers"),
]


def as_nobody(argv, env=None, cwd="/"):
    return subprocess.run(AS_NOBODY + [str(a) for a in argv], capture_output=True, text=True, env=env, cwd=cwd,
                          timeout=120)


def interpreter_for_nobody():
    """This interpreter, or a system one of the same version, that nobody may run
    (a per-user installation under a private home is out of reach)."""
    version = "%d.%d" % sys.version_info[:2]
    for candidate in (sys.executable, f"/usr/bin/python{version}", f"/usr/local/bin/python{version}"):
        if not os.path.exists(candidate):
            continue
        probe = as_nobody([candidate, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"])
        if probe.returncode == 0 and probe.stdout.strip() == version:
            return candidate
    pytest.skip(f"no Python {version} that an unprivileged user can run")


@pytest.fixture(scope="module")
def read_only_install():
    """(site directory, console script, interpreter): the installed package and the
    companion library's runtime copied into a tree nobody can read but not write."""
    interpreter = interpreter_for_nobody()
    root = pathlib.Path(tempfile.mkdtemp(prefix="brantel-readonly-"))
    site = root / "site"
    package = pathlib.Path(brantel.__file__).resolve().parent
    # An editable install's folder also holds the sources and other interpreters' builds.
    shutil.copytree(package, site / "brantel", ignore=shutil.ignore_patterns(
        "*.cpp", "*.hpp", "*.c", "*.h", "*.o", "brantel.log*", "__pycache__", "ciphers", "inventory", "toolkit"))
    backend = pathlib.Path(importlib.util.find_spec("_cffi_backend").origin)
    shutil.copy(backend, site / backend.name)
    script = root / "bin" / "brantel"
    script.parent.mkdir()
    # What an installer writes for the console script.
    script.write_text(f"#!{interpreter}\nimport sys\nfrom brantel.cli import main\nsys.exit(main())\n")
    for path in [root, *root.rglob("*")]:
        path.chmod(0o555 if path.is_dir() or path == script else 0o444)
    yield site, script, interpreter
    shutil.rmtree(root)


def nobody_env(site):
    return {"PATH": "/usr/bin:/bin", "PYTHONPATH": str(site), "PYTHONNOUSERSITE": "1", "HOME": "/nonexistent"}


def test_import_and_every_helper(read_only_install):
    site, _, interpreter = read_only_install
    code = textwrap.dedent("""
        import brantel.brantel_sysprobe as m
        from brantel import _sysprobe_internal, sources
        assert m.sha1(b"abc") == "a9993e364706816aba3e25717850c26c9cd0d89d"
        assert m.base64_decode(b"YnJhbnRlbA==") == b"brantel"
        assert m.chdir("/") is True and m.getcwd() == "/"
        assert m.chdir("/root") is False  # not nobody's to enter
        assert _sysprobe_internal.parse_windows_hardware_info(sources.sample_blob(), b"").startswith(b"{")
        m.logger.warning("cannot be written here")  # reported by logging, and the caller goes on
        print("carried on")
    """)
    result = as_nobody([interpreter, "-c", code], env=nobody_env(site))
    assert result.returncode == 0, result.stderr
    assert result.stdout == "carried on\n"
    assert "--- Logging error ---" in result.stderr and "PermissionError" in result.stderr
    assert not list(site.rglob("brantel.log*"))


def test_command_line_sample(read_only_install):
    site, script, _ = read_only_install
    result = as_nobody([script, "inventory", "--sample"], env=nobody_env(site))
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == EXPECTED.read_text()
    assert not list(site.rglob("brantel.log*"))
