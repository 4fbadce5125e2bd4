"""A file written whole or not at all: what is left after a success and after a failure."""
import errno
import os
import subprocess
import sys

import pytest

from brantel import replacing

pytestmark = pytest.mark.skipif(os.name != "posix", reason="modes, links and FIFOs as POSIX has them")


def _names(folder):
    return sorted(os.listdir(str(folder)))


@pytest.fixture
def umask_027():
    old = os.umask(0o027)
    yield
    os.umask(old)


def _new(tmp_path):
    return tmp_path / "out.bin", 0o640, "out.bin"  # 0o666 under the umask 027


def _existing(tmp_path):
    (tmp_path / "out.bin").write_bytes(b"old")
    (tmp_path / "out.bin").chmod(0o604)
    return tmp_path / "out.bin", 0o604, "out.bin"


def _linked(tmp_path):
    (tmp_path / "real").mkdir()
    (tmp_path / "real" / "out.bin").write_bytes(b"old")
    (tmp_path / "real" / "out.bin").chmod(0o600)
    (tmp_path / "link.bin").symlink_to("real/out.bin")
    return tmp_path / "link.bin", 0o600, "real/out.bin"


def _long_name(tmp_path):
    name = "n" * 250 + ".bin"  # a hidden temporary named after it in full would be too long
    return tmp_path / name, 0o640, name


@pytest.mark.parametrize("make", [_new, _existing, _linked, _long_name], ids=lambda f: f.__name__[1:])
def test_a_replacement_puts_the_whole_file_in_place(tmp_path, umask_027, make):
    path, mode, written = make(tmp_path)
    before = _names(tmp_path)
    replacing.replace_file(str(path), b"new" * 1000)
    assert (tmp_path / written).read_bytes() == b"new" * 1000
    assert (tmp_path / written).stat().st_mode & 0o7777 == mode
    assert _names(tmp_path) == sorted(set(before) | {path.name})  # nothing left beside it
    if make is _linked:
        assert os.readlink(str(path)) == "real/out.bin" and _names(tmp_path / "real") == ["out.bin"]


def test_what_is_not_a_file_is_written_in_place(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(str(fifo))
    reader = os.open(str(fifo), os.O_RDONLY | os.O_NONBLOCK)
    try:
        replacing.replace_file(str(fifo), b"through")
        assert os.read(reader, 100) == b"through"
    finally:
        os.close(reader)
    assert _names(tmp_path) == ["pipe"]


def _fsync_fails(path, monkeypatch):
    def fsync(descriptor):
        raise OSError(errno.EIO, "Input/output error")
    monkeypatch.setattr(os, "fsync", fsync)
    replacing.replace_file(str(path), b"new")


def _interrupted(path, monkeypatch):
    with replacing.Replacement(str(path), "w", encoding="utf-8") as out:
        out.file.write("half")
        raise KeyboardInterrupt


def _file_size_limit(path, monkeypatch):
    script = ("import resource, signal, sys; from brantel import replacing\n"
              "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"  # a write past the limit then fails
              "resource.setrlimit(resource.RLIMIT_FSIZE, (512, 512))\n"
              "replacing.replace_file(sys.argv[1], b'x' * 100000)\n")
    result = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 1 and "File too large" in result.stderr, result.stderr
    raise OSError(errno.EFBIG, "as the child saw it")


@pytest.mark.parametrize("old", [b"old", None], ids=["existing", "new"])
@pytest.mark.parametrize("fail", [_fsync_fails, _interrupted, _file_size_limit], ids=lambda f: f.__name__[1:])
def test_a_failure_midway_leaves_what_was_there_and_nothing_beside_it(tmp_path, monkeypatch, old, fail):
    path = tmp_path / "out.bin"
    if old is not None:
        path.write_bytes(old)
    with pytest.raises((OSError, KeyboardInterrupt)):
        fail(path, monkeypatch)
    assert _names(tmp_path) == ([] if old is None else ["out.bin"])
    if old is not None:
        assert path.read_bytes() == old


def test_a_link_that_loops_is_an_error_not_replaced(tmp_path):
    (tmp_path / "a").symlink_to("b")
    (tmp_path / "b").symlink_to("a")
    with pytest.raises(OSError) as caught:
        replacing.replace_file(str(tmp_path / "a"), b"new")
    assert caught.value.errno == errno.ELOOP
    assert os.readlink(str(tmp_path / "a")) == "b" and _names(tmp_path) == ["a", "b"]
