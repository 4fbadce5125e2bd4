"""sha1, base64_decode, chdir and getcwd, against the real library and a fake one."""
import base64
import hashlib
import os

import pytest

import brantel.brantel_sysprobe as sysprobe
from brantel.brantel_decryption_ import ffi


@pytest.mark.parametrize("message", [b"", b"a", b"\x00" * 3, bytes(range(256)) * 400, os.urandom(1 << 20)])
def test_sha1_matches_hashlib(message):
    assert sysprobe.sha1(message) == hashlib.sha1(message).hexdigest()


@pytest.mark.parametrize("data", [b"", b"f", b"fo", b"foo", os.urandom(99_999), os.urandom(100_000),
                                  os.urandom(100_001), os.urandom(1 << 20)])
def test_base64_decode_matches_the_standard_library(data):
    assert sysprobe.base64_decode(base64.b64encode(data)) == data


@pytest.mark.parametrize("text", [b"Zm9v\n", b" Zm 9v\r\n\t"])
def test_base64_ignores_whitespace(text):
    assert sysprobe.base64_decode(text) == b"foo"


@pytest.mark.parametrize("text", [b"Zm9", b"Zm9v!", b"Z===", b"Zm9v====", b"Zm-v", b"\xff\xff\xff\xff"])
def test_base64_rejects_malformed_input(text):
    with pytest.raises(ValueError, match="^Checksum failed!$"):
        sysprobe.base64_decode(text)


@pytest.mark.parametrize("function", [sysprobe.sha1, sysprobe.base64_decode])
def test_none_has_no_length(function):
    with pytest.raises(TypeError, match=r"^object of type 'NoneType' has no len\(\)$"):
        function(None)


def test_chdir_and_getcwd(tmp_path, monkeypatch):
    monkeypatch.chdir(os.getcwd())  # restored afterwards
    target = tmp_path / "déjà vu"
    target.mkdir()
    assert sysprobe.chdir(str(target)) is True
    assert sysprobe.getcwd() == str(target) == os.getcwd()
    assert sysprobe.chdir(str(tmp_path / "missing")) is False
    assert sysprobe.getcwd() == str(target)


def test_getcwd_of_a_removed_directory_is_an_os_error(tmp_path, monkeypatch):
    monkeypatch.chdir(os.getcwd())
    gone = tmp_path / "gone"
    gone.mkdir()
    os.chdir(gone)
    gone.rmdir()
    with pytest.raises(FileNotFoundError):
        sysprobe.getcwd()


def test_chdir_rejects_none_and_unencodable_text():
    with pytest.raises(AttributeError, match="^'NoneType' object has no attribute 'encode'$"):
        sysprobe.chdir(None)
    with pytest.raises(UnicodeEncodeError):
        sysprobe.chdir("\udcff")


class FakeLib:
    """Stands in for the companion library: records every call and answers as told."""

    def __init__(self, result=1, needed=20, fill=b"", chdir_result=0, cwd=b"/fake"):
        self.calls = []
        self.result, self.needed, self.fill = result, needed, fill
        self.chdir_result, self.cwd, self.freed = chdir_result, cwd, []

    def _write(self, name, out, cell, args):
        capacity = cell[0]
        self.calls.append((name, capacity, ffi.sizeof(out), args))
        if self.needed <= capacity:
            data = (self.fill * self.needed)[: self.needed]
            ffi.memmove(out, data, len(data))
        cell[0] = self.needed
        return self.result.pop(0) if isinstance(self.result, list) else self.result

    def sha1(self, message, length, out, cell):
        return self._write("sha1", out, cell, (bytes(ffi.buffer(message)), length))

    def base64_decrypt(self, out, cell, text, length):
        return self._write("base64_decrypt", out, cell, (bytes(ffi.buffer(text)), length))

    def chdir(self, path):
        self.calls.append(("chdir", ffi.string(path)))
        return self.chdir_result

    def getcwd(self, buf, size):
        self.calls.append(("getcwd", buf == ffi.NULL, size))
        self.string = ffi.new("char[]", self.cwd)
        return self.string

    def free(self, pointer):
        self.freed.append(pointer)


@pytest.fixture
def fake(use_lib):
    return lambda **kwargs: use_lib(FakeLib(**kwargs))


def test_sha1_passes_a_zero_terminated_input_and_its_length(fake):
    lib = fake(fill=b"\xab")
    assert sysprobe.sha1(b"") == "ab" * 20
    assert lib.calls == [("sha1", 20, 20, (b"\x00", 0))]


@pytest.mark.parametrize("needed, calls", [(20, 1), (32, 2), (5, 1)])
def test_sha1_re_runs_into_an_exact_buffer_when_the_digest_is_longer(fake, needed, calls):
    lib = fake(needed=needed, fill=b"\x0f")
    assert sysprobe.sha1(b"abc") == "0f" * needed
    assert [(c[1], c[2]) for c in lib.calls] == [(20, 20), (needed, needed)][:calls]


@pytest.mark.parametrize("needed, calls", [(100_000, 1), (100_001, 2), (0, 1)])
def test_base64_re_run_threshold(fake, needed, calls):
    lib = fake(needed=needed, fill=b"z")
    assert sysprobe.base64_decode(b"QQ==") == b"z" * needed
    assert [(c[1], c[2]) for c in lib.calls] == [(100_000, 100_000), (needed, needed)][:calls]
    assert lib.calls[0][3] == (b"QQ==\x00", 4)


@pytest.mark.parametrize("function, arg", [(sysprobe.sha1, b"x"), (sysprobe.base64_decode, b"eA==")])
@pytest.mark.parametrize("result", [0, 2, -1, None])
def test_a_failed_library_call_raises(fake, function, arg, result):
    lib = fake(result=result)
    with pytest.raises(ValueError, match="^Checksum failed!$"):
        function(arg)
    assert len(lib.calls) == 1


@pytest.mark.parametrize("function, arg, needed", [(sysprobe.sha1, b"x", 30),
                                                  (sysprobe.base64_decode, b"QQ==", 100_001)])
def test_a_failed_re_run_is_reported_like_the_first_call(fake, function, arg, needed):
    lib = fake(needed=needed, fill=b"\x01")
    lib.result = [1, 0]  # the repeat call fails: its buffer holds nothing usable
    with pytest.raises(ValueError, match="^Checksum failed!$") as info:
        function(arg)
    assert len(lib.calls) == 2
    assert last_line(info) == {sysprobe.sha1: 70, sysprobe.base64_decode: 88}[function]


def last_line(info):
    tb = info.value.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    return tb.tb_lineno


@pytest.mark.parametrize("reported", [-1, 200_000])
def test_a_misreported_length_is_an_error_not_a_read_past_the_buffer(fake, reported):
    lib = fake()

    def lying(out, cell, text, length):
        # Asks for a re-run, then claims more than the re-run buffer holds
        # (or a negative count straight away).
        cell[0] = reported if reported < 0 or cell[0] != 100_000 else 100_001
        return 1
    lib.base64_decrypt = lying
    with pytest.raises(ValueError, match="base64_decrypt reported"):
        sysprobe.base64_decode(b"QQ==")


def test_chdir_passes_utf8_and_maps_the_result(fake):
    lib = fake(chdir_result=0)
    assert sysprobe.chdir("dé") is True
    lib.chdir_result = -1
    assert sysprobe.chdir("x") is False
    assert lib.calls == [("chdir", "dé".encode()), ("chdir", b"x")]


def test_getcwd_asks_the_library_to_allocate_and_frees_once(fake):
    lib = fake(cwd="/dé".encode())
    assert sysprobe.getcwd() == "/dé"
    assert lib.calls == [("getcwd", True, 0)]
    assert len(lib.freed) == 1 and lib.freed[0] == lib.string


def test_getcwd_frees_the_string_when_it_is_not_utf8(fake):
    lib = fake(cwd=b"/\xff")
    with pytest.raises(UnicodeDecodeError):
        sysprobe.getcwd()
    assert len(lib.freed) == 1


def test_ffi_and_lib_are_looked_up_at_call_time(monkeypatch):
    monkeypatch.delitem(vars(sysprobe), "lib")
    with pytest.raises(NameError, match="^name 'lib' is not defined$"):
        sysprobe.sha1(b"")
