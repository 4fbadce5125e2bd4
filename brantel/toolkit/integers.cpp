// Conversion to unsigned C integers with the interpreter's messages.
#include "integers.hpp"

#include <cstdint>

#include "refs.hpp"

namespace brantel {

namespace {

// The int value of obj: ints as they are, anything else through __int__.
OwnedRef as_int(PyObject* obj) {
    if (PyLong_Check(obj)) return OwnedRef::borrow(obj);
    PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
    if (number == nullptr || number->nb_int == nullptr) raise(PyExc_TypeError, "an integer is required");
    OwnedRef result = OwnedRef::checked(number->nb_int(obj));
    if (PyLong_CheckExact(result.get())) return result;
    if (PyLong_Check(result.get())) {
        check_status(PyErr_WarnFormat(
            PyExc_DeprecationWarning, 1,
            "__int__ returned non-int (type %.200s).  The ability to return an instance of a strict "
            "subclass of int is deprecated, and may be removed in a future version of Python.",
            Py_TYPE(result.get())->tp_name));
        return result;
    }
    raise_format(PyExc_TypeError, "__%.4s__ returned non-%.4s (type %.200s)", "int", "int",
                 Py_TYPE(result.get())->tp_name);
}

// The interpreter's own message for an unsigned 32-bit conversion (its C
// unsigned long is 32 bits wide on the platform the module was first built for).
[[noreturn]] void raise_32_bit_overflow() {
    raise(PyExc_OverflowError, "Python int too large to convert to C unsigned long");
}

// Converts to an unsigned value no larger than `maximum` (at most 2**32 - 1).
unsigned long long to_small_unsigned(PyObject* obj, unsigned long long maximum, const char* type_name) {
    OwnedRef value = as_int(obj);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw PyError();
    if (overflow < 0 || (overflow == 0 && v < 0))
        raise_format(PyExc_OverflowError, "can't convert negative value to %s", type_name);
    if (overflow > 0 || static_cast<unsigned long long>(v) > UINT32_MAX) raise_32_bit_overflow();
    if (static_cast<unsigned long long>(v) > maximum)
        raise_format(PyExc_OverflowError, "value too large to convert to %s", type_name);
    return static_cast<unsigned long long>(v);
}

}  // namespace

unsigned char to_unsigned_char(PyObject* obj) {
    return static_cast<unsigned char>(to_small_unsigned(obj, UINT8_MAX, "unsigned char"));
}

unsigned short to_unsigned_short(PyObject* obj) {
    return static_cast<unsigned short>(to_small_unsigned(obj, UINT16_MAX, "unsigned short"));
}

unsigned int to_unsigned_int(PyObject* obj) {
    return static_cast<unsigned int>(to_small_unsigned(obj, UINT32_MAX, "unsigned int"));
}

size_t to_size_t(PyObject* obj) {
    OwnedRef value = as_int(obj);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw PyError();
    if (overflow < 0 || (overflow == 0 && v < 0)) raise(PyExc_OverflowError, "can't convert negative value to size_t");
    // Where size_t is 32 bits wide a long long can exceed it: that too is the interpreter's overflow.
    if (overflow == 0 && static_cast<unsigned long long>(v) <= SIZE_MAX) return static_cast<size_t>(v);
    size_t result = PyLong_AsSize_t(value.get());  // the interpreter's own overflow above SIZE_MAX
    if (result == static_cast<size_t>(-1) && PyErr_Occurred()) throw PyError();
    return result;
}

}  // namespace brantel
