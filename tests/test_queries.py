"""The inventory queries over record text forms: qualifying processors, memory
device and module totals (single, grouped and empty module elements; the
125-127 enabled-size codes), and every failure mode."""
import traceback

import pytest

from smbios_builder import blob, desktop_table, elements, parse_inventory, server_table
from brantel._sysprobe_internal import (get_memory_devices, get_memory_modules, get_populated_cpus,
                                        parse_windows_hardware_info)


def cpu_text(status):
    return "\x02".join(["4", "1024", "CPU1", "43", "Maker", "198386", "138", "4000", str(status)] + ["None"] * 16)


def device_text(size, extended="0", locator="DIMM 0", widths=("72", "64", "9")):
    parts = ["17", "32", "4096", "65534", *widths, "0", locator, "BANK 0"] + ["0"] * 9 + [str(size), str(extended),
                                                                                        "3", "4"]
    return "\x02".join(parts)


def module_text(enabled, socket="DIMM 0"):
    return "\x02".join(["6", "64", socket, "18", "4", "7", str(enabled), "0"])


def populated(cpu_list):
    found = []
    get_populated_cpus(cpu_list, found)
    return found


@pytest.mark.parametrize("status, qualifies", [
    (65, True), (67, False), (1, False), (64, False), (0x41 | 0x80, True), (0x49, True), (0x45, False),
    (-65, True), (-64, False), (2 ** 90 + 65, True), (" 65 ", True), ("0_65", True), ("\u0666\u0665", True),
])
def test_populated_cpus_need_socket_populated_and_status_enabled(status, qualifies):
    text = cpu_text(status)
    assert populated([text]) == ([text.split("\x02")] if qualifies else [])


def test_populated_cpus_append_through_the_objects_append():
    class Collector:
        def __init__(self):
            self.seen = []

        def append(self, value):
            self.seen.append(value)

    collector = Collector()
    assert get_populated_cpus(cpu_list=iter([cpu_text(65), cpu_text(1), cpu_text(65)]),
                              populated_cpu_list=collector) is None
    assert collector.seen == [cpu_text(65).split("\x02")] * 2 and all(type(v) is list for v in collector.seen)


@pytest.mark.parametrize("size, extended, added", [
    (0x4000, 0, 16777216), (0x8400, 0, 1024), (0x7FFF, 32768, 33554432), (0xFFFF, 5, 0), (0, 5, 0),
    (2 ** 70, 0, 2 ** 80), (2 ** 70 + 0x8000, 0, 2 ** 70), (-1, 0, -32769), (0x7FFF, 2 ** 63, 2 ** 73),
])
def test_memory_device_sizes(size, extended, added):
    total, structures = get_memory_devices(["0\x04" + device_text(size, extended)])
    assert total == added and structures == {("DIMM 0", "BANK 0", "72", "64", "9")}


def test_memory_devices_count_every_device_of_every_set():
    sets = ["7\x04" + "\x04".join([device_text(0x4000)] * 3), "1\x04" + device_text(0x4000, locator="DIMM 1"), ""]
    total, structures = get_memory_devices(sets)
    assert total == 4 * 16777216 and len(structures) == 2


@pytest.mark.parametrize("enabled, added", [
    (11, 2097152), (139, 2097152), (0, 1024), (124, 2 ** 134), (125, 0), (126, 0), (127, 0), (253, 0), (255, 0),
    (-3, 0), (-128, 1024),
])
def test_memory_module_enabled_sizes(enabled, added):
    assert get_memory_modules([module_text(enabled)]) == (added, {"DIMM 0"})


def test_memory_module_elements_single_grouped_and_empty():
    group = "set\x04" + module_text(11, "A") + "\x04" + module_text(12, "B")
    total, sockets = get_memory_modules([module_text(11, "C"), group, "", module_text(126, "D")])
    assert total == 2 * 2097152 + 4194304 and sockets == {"A", "B", "C", "D"}


def test_queries_of_no_elements():
    assert populated([]) == []
    assert get_memory_devices([]) == (0, set()) and get_memory_modules(()) == (0, set())


def test_queries_over_a_rendered_inventory():
    values = parse_inventory(parse_windows_hardware_info(blob(server_table()), b""))
    assert len(populated(elements(values["cpu_list"]))) == 8
    total, structures = get_memory_devices(elements(values["memory_device_set_list"]))
    assert total == 96 * 32768 * 1024 and len(structures) == 96
    values = parse_inventory(parse_windows_hardware_info(blob(desktop_table()), b""))
    assert get_memory_devices(elements(values["memory_device_set_list"]))[0] == 2 * 8192 * 1024


def python_error(action):
    with pytest.raises(Exception) as raised:
        action()
    return type(raised.value), str(raised.value)


@pytest.mark.parametrize("query, argument, same_as", [
    (populated, [""], lambda: [""][8]),
    (populated, [cpu_text("None")], lambda: int("None")),
    (populated, [5], lambda: (5).split("\x02")),
    (populated, [b"4\x02"], lambda: b"4\x02".split("\x02")),
    (populated, None, lambda: iter(None)),
    (get_memory_devices, ["0\x04"], lambda: [""][8]),
    (get_memory_devices, ["0\x04" + "\x02".join(["x"] * 10)], lambda: [""][19]),
    (get_memory_devices, ["0\x04" + device_text("None")], lambda: int("None")),
    (get_memory_devices, ["0\x04" + device_text(0x7FFF, "")], lambda: int("")),
    (get_memory_devices, [None], lambda: None.split("\x04")),
    (get_memory_modules, ["6\x02h"], lambda: [""][2]),
    (get_memory_modules, ["x\x04"], lambda: [""][2]),
    (get_memory_modules, [module_text("None")], lambda: int("None")),
    (get_memory_modules, [3.5], lambda: (3.5).split("\x04")),
])
def test_failures_match_the_interpreters(query, argument, same_as):
    with pytest.raises(Exception) as raised:
        query(argument)
    assert (type(raised.value), str(raised.value)) == python_error(same_as)
    entries = traceback.extract_tb(raised.value.__traceback__)
    name = "get_populated_cpus" if query is populated else query.__name__
    assert entries[-1].name == "brantel.brantel_sysprobe." + name and entries[-1].lineno > 1010


def test_items_appended_before_a_failure_stay():
    found = []
    with pytest.raises(AttributeError, match="^'int' object has no attribute 'split'$"):
        get_populated_cpus([cpu_text(65), 7], found)
    assert len(found) == 1
    with pytest.raises(AttributeError, match="^'NoneType' object has no attribute 'append'$"):
        get_populated_cpus([cpu_text(1), cpu_text(65)], None)


@pytest.mark.parametrize("function, args, kwargs, message", [
    (get_populated_cpus, (), {}, "get_populated_cpus() takes exactly 2 positional arguments (0 given)"),
    (get_populated_cpus, ([],), {}, "get_populated_cpus() takes exactly 2 positional arguments (1 given)"),
    (get_populated_cpus, ([], [], []), {}, "get_populated_cpus() takes exactly 2 positional arguments (3 given)"),
    (get_populated_cpus, ([], []), {"cpu_list": []},
     "get_populated_cpus() got multiple values for keyword argument 'cpu_list'"),
    (get_memory_devices, (), {}, "get_memory_devices() takes exactly one argument (0 given)"),
    (get_memory_devices, ([], []), {}, "get_memory_devices() takes exactly one argument (2 given)"),
    (get_memory_devices, (), {"memory_device_set_list": []}, "get_memory_devices() takes no keyword arguments"),
    (get_memory_modules, (), {}, "get_memory_modules() takes exactly one argument (0 given)"),
    (get_memory_modules, (), {"memory_module_list": []}, "get_memory_modules() takes no keyword arguments"),
])
def test_argument_errors(function, args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        function(*args, **kwargs)
    assert str(raised.value) == message
