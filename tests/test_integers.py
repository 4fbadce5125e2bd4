"""Conversion of arguments to unsigned C integers."""
import sys
import warnings

import pytest

from brantel._sysprobe_internal import to_unsigned


# size_t is as wide as a pointer: 2**32 - 1 on 32-bit hosts.
SIZE_MAX = 2 * sys.maxsize + 1


class WithInt:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class IntSub(int):
    pass


@pytest.mark.parametrize("ctype, value, expected", [
    ("unsigned char", 0, 0),
    ("unsigned char", 255, 255),
    ("unsigned char", 2.9, 2),
    ("unsigned char", True, 1),
    ("unsigned char", WithInt(7), 7),
    ("unsigned short", 65535, 65535),
    ("unsigned int", 2**32 - 1, 2**32 - 1),
    ("size_t", SIZE_MAX, SIZE_MAX),
    ("size_t", 2**32 - 1, 2**32 - 1),
    ("size_t", -0.5, 0),
    ("unsigned int", IntSub(5), 5),
])
def test_values_in_range_convert(ctype, value, expected):
    assert to_unsigned(ctype, value) == expected


@pytest.mark.parametrize("ctype, value, error, message", [
    ("unsigned char", -1, OverflowError, "can't convert negative value to unsigned char"),
    ("unsigned char", 256, OverflowError, "value too large to convert to unsigned char"),
    ("unsigned char", 2**32 - 1, OverflowError, "value too large to convert to unsigned char"),
    ("unsigned char", 2**32, OverflowError, "Python int too large to convert to C unsigned long"),
    ("unsigned short", -(2**70), OverflowError, "can't convert negative value to unsigned short"),
    ("unsigned short", 65536, OverflowError, "value too large to convert to unsigned short"),
    ("unsigned short", 2**40, OverflowError, "Python int too large to convert to C unsigned long"),
    ("unsigned int", -1, OverflowError, "can't convert negative value to unsigned int"),
    ("unsigned int", 2**32, OverflowError, "Python int too large to convert to C unsigned long"),
    ("size_t", -1, OverflowError, "can't convert negative value to size_t"),
    # within a long long on 32-bit hosts, where it once wrapped to 0
    ("size_t", SIZE_MAX + 1, OverflowError, "Python int too large to convert to C size_t"),
    ("size_t", 2**64, OverflowError, "Python int too large to convert to C size_t"),
    ("unsigned int", None, TypeError, "an integer is required"),
    ("unsigned int", "5", TypeError, "an integer is required"),
    ("unsigned char", -1.5, OverflowError, "can't convert negative value to unsigned char"),
    ("unsigned char", WithInt("x"), TypeError, "__int__ returned non-int (type str)"),
    ("unsigned char", float("inf"), OverflowError, "cannot convert float infinity to integer"),
])
def test_conversion_errors(ctype, value, error, message):
    with pytest.raises(error) as info:
        to_unsigned(ctype, value)
    assert str(info.value) == message


def test_int_subclass_from_int_is_accepted_with_a_warning():
    with pytest.warns(DeprecationWarning, match=r"__int__ returned non-int \(type IntSub\)\.  The ability"):
        assert to_unsigned("unsigned char", WithInt(IntSub(9))) == 9
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            to_unsigned("unsigned char", WithInt(IntSub(9)))
