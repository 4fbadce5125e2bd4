"""The function objects: attributes, calling forms, type checks, traceback entries."""
import inspect

import pytest

import brantel.brantel_sysprobe as sysprobe

SIGNATURES = {
    # name: (first line, varnames, annotations, docstring)
    "sha1": (55, ("message", "message_len", "message_char", "digest_length", "digest_value", "i"),
             {"message": "bytes", "return": "unicode"},
             "calculate sha1(internally used)\n\n    :return: calculated sha1\n    "),
    "base64_decode": (73, ("cipher_txt", "cipher_len", "cipher_txt_char", "content_len", "content_char", "i"),
                      {"cipher_txt": "bytes", "return": "bytes"},
                      "decode base64(internally used)\n\n    :return: decoded value\n    "),
    "chdir": (90, ("path", "path_char"), {"path": "unicode", "return": "bool"},
              "change current directory(internally used)\n\n    :return: Upon successful completion, True "
              "returned, False on Failure.\n    "),
    "getcwd": (98, ("cwd", "result"), {"return": "unicode"},
               "get current directory(internally used)\n\n    :return: the current directory.\n    "),
}


@pytest.mark.parametrize("name", SIGNATURES)
def test_function_attributes(name):
    first_line, varnames, annotations, doc = SIGNATURES[name]
    function = getattr(sysprobe, name)
    assert (function.__name__, function.__qualname__, function.__module__) == (
        name, name, "brantel.brantel_sysprobe")
    assert function.__doc__ == doc
    assert function.__annotations__ == annotations
    code = function.__code__
    assert (code.co_filename, code.co_name, code.co_firstlineno) == ("brantel\\brantel_sysprobe", name, first_line)
    assert code.co_varnames == varnames
    assert code.co_argcount == (0 if name == "getcwd" else 1)
    assert list(inspect.signature(function).parameters) == list(varnames[:code.co_argcount])


def test_all_helpers_share_one_type_that_cannot_be_instantiated():
    kinds = {type(getattr(sysprobe, name)) for name in SIGNATURES}
    assert len(kinds) == 1
    with pytest.raises(TypeError):
        kinds.pop()()


@pytest.mark.parametrize("call, message", [
    (lambda: sysprobe.sha1(message=b""), "sha1() takes no keyword arguments"),
    (lambda: sysprobe.sha1(b"", b""), "sha1() takes exactly one argument (2 given)"),
    (lambda: sysprobe.chdir(), "chdir() takes exactly one argument (0 given)"),
    (lambda: sysprobe.getcwd(1), "getcwd() takes no arguments (1 given)"),
    (lambda: sysprobe.getcwd(x=1), "getcwd() takes no keyword arguments"),
    (lambda: sysprobe.base64_decode(b"", cipher_txt=b""), "base64_decode() takes no keyword arguments"),
    (lambda: sysprobe.sha1("text"), "Argument 'message' has incorrect type (expected bytes, got str)"),
    (lambda: sysprobe.sha1(bytearray(b"x")),
     "Argument 'message' has incorrect type (expected bytes, got bytearray)"),
    (lambda: sysprobe.sha1(type("Sub", (bytes,), {})(b"x")),
     "Argument 'message' has incorrect type (expected bytes, got Sub)"),
    (lambda: sysprobe.chdir(b"/"), "Argument 'path' has incorrect type (expected str, got bytes)"),
    (lambda: sysprobe.chdir(type("S", (str,), {})("/")), "Argument 'path' has incorrect type (expected str, got S)"),
])
def test_argument_errors_are_raised_before_the_body(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    # Raised before the function is entered: no entry of the module's own.
    assert all(tb.tb_frame.f_code.co_filename != "brantel\\brantel_sysprobe"
               for tb in walk(info.value.__traceback__))


def walk(tb):
    while tb is not None:
        yield tb
        tb = tb.tb_next


def last_entry(exc):
    return list(walk(exc.__traceback__))[-1]


@pytest.mark.parametrize("call, exc_type, name, line", [
    (lambda: sysprobe.sha1(None), TypeError, "sha1", 62),
    (lambda: sysprobe.base64_decode(None), TypeError, "base64_decode", 80),
    (lambda: sysprobe.base64_decode(b"*"), ValueError, "base64_decode", 85),
    (lambda: sysprobe.chdir(None), AttributeError, "chdir", 94),
    (lambda: sysprobe.chdir("\ud800"), UnicodeEncodeError, "chdir", 94),
])
def test_errors_leaving_a_body_get_one_traceback_entry(call, exc_type, name, line):
    with pytest.raises(exc_type) as info:
        call()
    entries = [tb for tb in walk(info.value.__traceback__) if tb.tb_frame.f_code.co_filename == "brantel\\brantel_sysprobe"]
    assert len(entries) == 1
    entry = entries[0]
    assert entry is last_entry(info.value)
    assert entry.tb_frame.f_code.co_name == f"brantel.brantel_sysprobe.{name}"
    assert entry.tb_lineno == line
    assert entry.tb_frame.f_globals is vars(sysprobe)


def test_repeated_errors_reuse_entries_without_growing():
    for _ in range(3):
        with pytest.raises(TypeError) as info:
            sysprobe.sha1(None)
    assert last_entry(info.value).tb_lineno == 62
