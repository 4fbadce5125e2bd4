"""Module load: guards, attributes in order, logger, failure handling."""
import importlib
import importlib.machinery
import importlib.util
import logging.handlers
import pathlib
import subprocess
import sys
import textwrap

import pytest

import brantel.brantel_sysprobe as sysprobe
from brantel import _sysprobe_internal as internal

BOUND_IN_ORDER = [
    "__builtins__", "sys", "Path", "logging", "RotatingFileHandler", "logger", "handler", "traceback",
    "ffi", "lib", "os", "time", "subprocess", "base64", "json", "Tuple", "List",
    "sha1", "base64_decode", "chdir", "getcwd", "_C_API",
]


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_attributes_are_bound_in_load_order():
    # In a fresh process: tests elsewhere substitute attributes.
    result = run_python("import brantel.brantel_sysprobe as m; print(' '.join(vars(m)))")
    names = result.stdout.split()
    assert [n for n in names if n in BOUND_IN_ORDER] == BOUND_IN_ORDER
    assert names.index("__file__") < names.index("__builtins__")
    public = {n for n in names if not n.startswith("__")}
    assert public == set(BOUND_IN_ORDER) - {"__builtins__"}
    assert names[-1] == "_C_API"  # published last, once everything in it exists


def test_attributes_are_the_expected_objects():
    import base64, json, os, time, typing, traceback
    assert sysprobe.Path is pathlib.Path
    assert sysprobe.RotatingFileHandler is logging.handlers.RotatingFileHandler
    assert (sysprobe.os, sysprobe.time, sysprobe.base64, sysprobe.json, sysprobe.traceback) == (
        os, time, base64, json, traceback)
    assert (sysprobe.Tuple, sysprobe.List) == (typing.Tuple, typing.List)
    from brantel.brantel_decryption_ import ffi, lib
    assert sysprobe.ffi is ffi and sysprobe.lib is lib
    assert sysprobe.__file__.endswith(".so")
    assert sysprobe.__package__ == "brantel"
    assert not hasattr(sysprobe, "__path__")


def test_logger_and_its_rotating_file():
    logger = sysprobe.logger
    assert logger.name == "brantel.brantel_sysprobe"
    assert logger.level == logging.DEBUG
    assert logger.handlers == [sysprobe.handler]
    handler = sysprobe.handler
    assert isinstance(handler, logging.handlers.RotatingFileHandler)
    assert (handler.maxBytes, handler.backupCount) == (19327352832, 5)
    assert handler.formatter._fmt == (
        "%(levelname)s|%(module)s|%(funcName)s|%(lineno)d|%(asctime)s|%(process)d|%(thread)d|%(message)s")
    log = pathlib.Path(sysprobe.__file__).parent / "brantel.log"
    assert pathlib.Path(handler.baseFilename) == log and log.exists()


def test_second_import_and_reload_change_nothing():
    again = importlib.import_module("brantel.brantel_sysprobe")
    assert again is sysprobe
    importlib.reload(sysprobe)
    assert sys.modules["brantel.brantel_sysprobe"] is sysprobe
    assert len(sysprobe.logger.handlers) == 1


def test_loader_gives_back_the_loaded_module():
    loader = importlib.machinery.ExtensionFileLoader("brantel.brantel_sysprobe", sysprobe.__file__)
    spec = importlib.util.spec_from_loader("brantel.brantel_sysprobe", loader)
    module = importlib.util.module_from_spec(spec)
    assert module is sysprobe
    loader.exec_module(module)  # executing the loaded object again is a no-op
    assert len(sysprobe.logger.handlers) == 1


def test_import_from_a_subinterpreter_is_refused():
    result = run_python("""
        import sys
        import brantel.brantel_sysprobe
        try:
            import _xxsubinterpreters as interpreters
            sub = interpreters.create()
        except ImportError:  # 3.13: legacy settings, so that the module's own guard is reached
            import _interpreters as interpreters
            sub = interpreters.create("legacy")
        try:
            failed = interpreters.run_string(sub, f"import sys; sys.path[:] = {sys.path!r}; import brantel.brantel_sysprobe")
            print(failed.type.__name__, failed.msg)  # 3.13 hands the exception back
        except Exception as exc:
            print(type(exc).__name__, exc)
    """)
    assert "Interpreter change detected - this module can only be loaded into one interpreter per process." in result.stdout


@pytest.mark.parametrize("compiled, running, agree", [
    ("3.7", "3.7", True),
    ("3.7", "3.8", False),
    ("3.7", "3.70", True),   # only the first and third characters are compared
    ("3.11", "3.1", True),
    ("3.11", "3.12", True),
    ("3.7", "4.7", False),
])
def test_version_comparison(compiled, running, agree):
    assert internal.versions_agree(compiled, running) is agree


@pytest.mark.parametrize("prelude, error", [
    ("sys.platform = 'sunos5'", "NotImplementedError: Unsupported platform"),
    ("sys.modules['brantel.brantel_decryption_'] = None", "ModuleNotFoundError"),
    ("import types; fake = types.ModuleType('brantel.brantel_decryption_'); fake.ffi = 1; "
     "sys.modules['brantel.brantel_decryption_'] = fake", "ImportError: cannot import name lib"),
    ("import builtins; del builtins.eval", "NameError: name 'eval' is not defined"),
])
def test_load_failures(prelude, error):
    result = run_python(f"""
        import sys
        {prelude}
        import brantel.brantel_sysprobe
    """)
    assert result.returncode != 0
    assert error in result.stderr
    assert 'File "brantel\\brantel_sysprobe", line' in result.stderr
    assert "in init brantel.brantel_sysprobe" in result.stderr


@pytest.mark.parametrize("break_it, mend_it", [
    ("real = sys.platform; sys.platform = 'sunos5'", "sys.platform = real"),
    ("sys.modules['brantel.brantel_decryption_'] = None", "del sys.modules['brantel.brantel_decryption_']"),
])
def test_failed_load_can_be_retried_and_leaves_no_handler(break_it, mend_it):
    result = run_python(f"""
        import logging, sys
        {break_it}
        try:
            import brantel.brantel_sysprobe
        except ImportError if 'decryption' in {break_it!r} else NotImplementedError:
            pass
        logger = logging.getLogger('brantel.brantel_sysprobe')
        print(len(logger.handlers))
        {mend_it}
        import brantel.brantel_sysprobe as m
        print(m.sha1(b''), len(m.logger.handlers), m.handler.stream is not None)
    """)
    assert result.stdout.split() == ["0", "da39a3ee5e6b4b0d3255bfef95601890afd80709", "1", "True"], result.stderr


@pytest.mark.parametrize("replace_with", ["1", "lambda: None", "type('T', (), {})()"])
def test_internal_functions_do_not_depend_on_the_module_attributes(replace_with):
    # The function type once came from type(sha1): replacing sha1 crashed the import.
    result = run_python(f"""
        import brantel.brantel_sysprobe as m
        m.sha1 = {replace_with}
        from brantel import _sysprobe_internal as svc
        print(len(svc.urandom(5)), svc.aes_gcm_decryptor(b"k" * 32, svc.aes_gcm_encryptor(b"k" * 32, b"x", b"n"), b"n"))
        print(type(svc.urandom).__name__)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["5", "b'x'", "sysprobe_function"]


@pytest.mark.parametrize("replace_with", ["1", "None", "__import__('datetime').datetime_CAPI"])
def test_a_replaced_frame_capsule_fails_the_import_cleanly(replace_with):
    result = run_python(f"""
        import brantel.brantel_sysprobe as m
        m._C_API = {replace_with}
        import brantel._sysprobe_internal
    """)
    assert result.returncode == 1, result.stderr
    assert result.stderr.rstrip().endswith(
        "ImportError: brantel.brantel_sysprobe._C_API is not the capsule brantel.brantel_sysprobe._C_API")
