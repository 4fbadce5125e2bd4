"""The inventory entry and the structure walker: blob handling, the string set
and string numbers, stepping over structures, failures and their tracebacks."""
import traceback

import pytest

from brantel._sysprobe_internal import parse_windows_hardware_info
from smbios_builder import blob, desktop_table, elements, end_of_table, items, parse_inventory, structure


def inventory(*structures, version=(3, 4), guid=b""):
    return parse_inventory(parse_windows_hardware_info(blob(*structures, version=version), guid))


def bios_vendor(*structures):
    return items(elements(inventory(*structures)["bios_list"])[0])[1]


def test_two_byte_blob_renders_every_key_with_its_initial_value():
    expected = (
        "{'smbios_type_id':'1',"
        + "".join("'%s':'None'," % key for key in (
            "system_manufacturer", "system_product_name", "system_serial_number",
            "system_uuid", "system_sku_number", "system_family"))
        + "'smbios_major_version':'3','smbios_minor_version':'4','smbios_docrev_version':'0',"
        + "".join("'%s':'\x03'," % key for key in (
            "baseboard_list", "bios_list", "chassis_list", "cpu_list", "cpu_cache_list",
            "memory_controller_list", "memory_module_list", "system_slot_list", "on_board_device_list",
            "on_board_device_extended_list", "physical_memory_array_list", "memory_device_set_list",
            "memory_device_set_id_list"))
        + "'system_guid':'',}"
    )
    assert parse_windows_hardware_info(bytes([3, 4]), b"") == expected.encode()


def test_values_are_copied_unescaped_as_utf8():
    rendered = parse_windows_hardware_info(
        blob(structure(1, {4: 1}, strings=["O'Brien, {Ltd} \u00e9\u20ac\U0001F600\x02"])), "g\u00fcid'".encode())
    assert "'system_manufacturer':'O'Brien, {Ltd} \u00e9\u20ac\U0001F600\x02',".encode() in rendered
    assert rendered.endswith("'system_guid':'g\u00fcid'',}".encode())


def test_two_calls_give_identical_bytes():
    table = blob(desktop_table())
    assert parse_windows_hardware_info(table, b"guid") == parse_windows_hardware_info(table, b"guid")


@pytest.mark.parametrize("strings, number, expected", [
    ([], 0, "None"), ([], 1, ""), ([], 2, ""), ([], 3, ""),
    (["A", "B"], 1, "A"), (["A", "B"], 2, "B"), (["A", "B"], 3, ""), (["A", "B"], 4, ""),
    ([b"", b"A"], 2, "A"),  # a set that starts with an empty string
])
def test_string_numbers_select_entries_of_the_string_list(strings, number, expected):
    assert bios_vendor(structure(0, {4: number}, strings=strings)) == expected


@pytest.mark.parametrize("strings, number", [([], 4), (["A", "B"], 5), (["A"], 255)])
def test_string_number_past_the_list_fails_with_index_error(strings, number):
    with pytest.raises(IndexError, match="^list index out of range$"):
        inventory(structure(0, {4: number}, strings=strings))


def test_zero_bytes_in_the_formatted_area_do_not_end_the_string_set():
    # handle 0 and zero padding put several zero pairs inside the formatted area
    record = structure(0, {4: 2, 0x10: 0}, handle=0, strings=["first", "second"])
    assert bios_vendor(record) == "second"


def test_header_bytes_come_from_the_table_as_they_stand():
    # length 1: the string set starts at byte 1 and the handle is read from bytes 2 and 3
    values = inventory(b"\x04\x01\x07\x00\x00")
    assert items(elements(values["cpu_list"])[0])[:3] == ["4", "7", "None"]


@pytest.mark.parametrize("skipped", [7, 9, 127, 5, 16, 41, 200])
def test_other_types_are_stepped_over_and_the_walk_goes_on(skipped):
    values = inventory(structure(skipped, {4: 1, 5: 1}, strings=["x"]), structure(0, {4: 1}, strings=["after"]))
    assert elements(values["bios_list"]) == ["0\x02after"]


def test_structures_after_the_end_of_table_structure_are_walked():
    values = inventory(structure(0, {4: 1}, strings=["one"]), end_of_table(), structure(0, {4: 1}, strings=["two"]))
    assert elements(values["bios_list"]) == ["0\x02one", "0\x02two"]


@pytest.mark.parametrize("table", [
    structure(0, {4: 1}, strings=["A"])[:-1],  # last structure lacks its second zero byte
    b"\x00",                                   # a lone type byte: length absent
    b"\x00\x20\x00\x00\x00\x00",               # formatted length past the end of the table
])
def test_missing_string_set_end_fails_with_value_error(table):
    with pytest.raises(ValueError, match="^Couldn't find end of text strings!$"):
        parse_windows_hardware_info(bytes([3, 4]) + table, b"")


# Strings are decoded strictly: exactly what bytes.decode("utf-8") accepts.
UTF8_CASES = [
    b"\xc3\xa9", b"\xe2\x82\xac", b"\xf0\x9f\x98\x80", b"\xf4\x8f\xbf\xbf", b"\xed\x9f\xbf", b"\xee\x80\x80",
    b"plain ascii text!", b"\x7f\x01",
    b"\x80", b"\xbf", b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\x80", b"\xe0\x9f\xbf", b"\xed\xa0\x80",
    b"\xed\xbf\xbf", b"\xf0\x80\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80", b"\xf5\x80\x80\x80",
    b"\xff", b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98", b"abcdefgh\xc3", b"abcdefghij\xc3\x28", b"\xe2\x28\xa1",
]


@pytest.mark.parametrize("text", UTF8_CASES)
def test_strings_are_decoded_as_strict_utf8(text):
    try:
        expected = text.decode("utf-8")
    except UnicodeDecodeError as error:
        with pytest.raises(UnicodeDecodeError) as raised:
            inventory(structure(0, {4: 1}, strings=[text]))
        assert str(raised.value) == str(error) and raised.value.object == text
    else:
        assert bios_vendor(structure(0, {4: 1}, strings=[text])) == expected


def test_strings_that_no_field_references_are_not_decoded():
    assert bios_vendor(structure(0, {4: 2}, strings=[b"\xff\xfe", "ok"])) == "ok"


def test_blob_errors():
    with pytest.raises(TypeError, match="^'NoneType' object is not subscriptable$"):
        parse_windows_hardware_info(None, b"")
    for short in (b"", b"\x03"):
        with pytest.raises(IndexError, match="^index out of range$"):
            parse_windows_hardware_info(short, b"")


def test_guid_errors_come_after_the_walk():
    with pytest.raises(AttributeError, match="^'NoneType' object has no attribute 'decode'$"):
        parse_windows_hardware_info(bytes([3, 4]), None)
    with pytest.raises(UnicodeDecodeError) as raised:
        parse_windows_hardware_info(bytes([3, 4]), b"ab\xff")
    assert str(raised.value) == "'utf-8' codec can't decode byte 0xff in position 2: invalid start byte"
    with pytest.raises(ValueError):
        parse_windows_hardware_info(bytes([3, 4, 0]), None)


def entry_names(error):
    frames = traceback.extract_tb(error.__traceback__)
    assert all(frame.filename == "brantel\\brantel_sysprobe" for frame in frames[1:])
    return [(frame.name.rsplit(".", 1)[-1], frame.lineno) for frame in frames[1:]]


@pytest.mark.parametrize("table, names", [
    (structure(0, {4: 4}, strings=["A"]),
     ["parse_windows_hardware_info", "parse_smbios", "string_from_position"]),
    (structure(0, {4: 1}, strings=[b"\xff"]),
     ["parse_windows_hardware_info", "parse_smbios", "string_from_position"]),
    (b"\x00\x05", ["parse_windows_hardware_info", "parse_smbios"]),
])
def test_walk_errors_show_the_nested_calls(table, names):
    with pytest.raises(Exception) as raised:
        parse_windows_hardware_info(bytes([3, 4]) + table, b"")
    entries = entry_names(raised.value)
    assert [name for name, _ in entries] == names
    assert all(line > 300 for _, line in entries)


def test_entry_errors_have_one_entry():
    with pytest.raises(AttributeError) as raised:
        parse_windows_hardware_info(bytes([3, 4]), None)
    assert [name for name, _ in entry_names(raised.value)] == ["parse_windows_hardware_info"]


@pytest.mark.parametrize("args, kwargs, exception, message", [
    ((), {}, TypeError, "parse_windows_hardware_info() takes exactly 2 positional arguments (0 given)"),
    ((b"\x03\x04",), {}, TypeError, "parse_windows_hardware_info() takes exactly 2 positional arguments (1 given)"),
    ((b"", b"", b""), {}, TypeError, "parse_windows_hardware_info() takes exactly 2 positional arguments (3 given)"),
    ((), {"guid": b""}, TypeError, "parse_windows_hardware_info() takes exactly 2 positional arguments (0 given)"),
    ((b"\x03\x04", b""), {"guid": b""}, TypeError,
     "parse_windows_hardware_info() got multiple values for keyword argument 'guid'"),
    ((b"\x03\x04",), {"guid": b"", "x": 1}, TypeError,
     "parse_windows_hardware_info() got an unexpected keyword argument 'x'"),
    (("\x03\x04", b""), {}, TypeError,
     "Argument 'win_smbios' has incorrect type (expected bytes, got str)"),
    ((bytearray(b"\x03\x04"), b""), {}, TypeError,
     "Argument 'win_smbios' has incorrect type (expected bytes, got bytearray)"),
    ((b"\x03\x04", "g"), {}, TypeError, "Argument 'guid' has incorrect type (expected bytes, got str)"),
])
def test_argument_errors(args, kwargs, exception, message):
    with pytest.raises(exception) as raised:
        parse_windows_hardware_info(*args, **kwargs)
    assert str(raised.value) == message


def test_keyword_arguments_are_accepted():
    assert parse_windows_hardware_info(guid=b"x", win_smbios=b"\x02\x01").endswith(b"'system_guid':'x',}")
