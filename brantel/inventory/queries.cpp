// The inventory queries: they take record text forms apart at U+0002 (and
// device sets at U+0004) and reduce them to the populated processors, the
// memory devices' identifying items and total size, and the memory modules'
// socket designations and total enabled size.
#include <cstdint>
#include <iterator>

#include "../toolkit/checked.hpp"
#include "../toolkit/errors.hpp"
#include "../toolkit/refs.hpp"
#include "item_list.hpp"
#include "published.hpp"
#include "source_lines.hpp"

namespace brantel::inventory {

namespace {

// The next element of an iterator, or null at its end (an error thrown).
OwnedRef next_of(PyObject* iterator) {
    OwnedRef item = OwnedRef::steal(PyIter_Next(iterator));
    if (!item && PyErr_Occurred()) throw PyError();
    return item;
}

// Bits 0 to 6 of |value|. The status text of a processor is
// bin(value)[2:].zfill(8)[::-1], whose character k is bit k of the value; for
// a negative value bin() gives "-0b...", so the characters are those of the
// magnitude (the "b" lands beyond character 6 whenever character 6 is "1",
// so the bits 0 to 2 that are read next are always digits).
unsigned low_magnitude_bits(const Number& value) {
    if (value.fits) {
        const std::uint64_t magnitude = value.small < 0 ? 0 - static_cast<std::uint64_t>(value.small)
                                                        : static_cast<std::uint64_t>(value.small);
        return static_cast<unsigned>(magnitude & 0x7F);
    }
    OwnedRef magnitude = OwnedRef::checked(PyNumber_Absolute(value.big.get()));
    OwnedRef mask = OwnedRef::checked(PyLong_FromLong(0x7F));
    OwnedRef bits = OwnedRef::checked(PyNumber_And(magnitude.get(), mask.get()));
    return static_cast<unsigned>(PyLong_AsUnsignedLong(bits.get()));
}

// Bits 0 to 6 of value, two's complement for negative values (value & 0x7F).
unsigned low_bits(const Number& value) {
    if (value.fits) return static_cast<unsigned>(value.small & 0x7F);
    OwnedRef mask = OwnedRef::checked(PyLong_FromLong(0x7F));
    OwnedRef bits = OwnedRef::checked(PyNumber_And(value.big.get(), mask.get()));
    return static_cast<unsigned>(PyLong_AsUnsignedLong(bits.get()));
}

void append_to(PyObject* target, PyObject* item) {
    if (PyList_CheckExact(target)) {
        check_status(PyList_Append(target, item));
        return;
    }
    OwnedRef ignored = OwnedRef::checked(PyObject_CallMethodOneArg(target, query_constants().append, item));
}

// text.split(sep)[1:], for a text that is not an exact str.
OwnedRef pieces_after_first(PyObject* pieces) {
    OwnedRef start = OwnedRef::checked(PyLong_FromLong(1));
    OwnedRef rest = OwnedRef::checked(PySlice_New(start.get(), nullptr, nullptr));
    return OwnedRef::checked(PyObject_GetItem(pieces, rest.get()));
}

// text.split('\x04'), for a text that is not an exact str.
OwnedRef split_elements(PyObject* text) {
    return OwnedRef::checked(
        PyObject_CallMethodOneArg(text, query_constants().split, query_constants().element_separator));
}

// Calls handle(ItemList) for each element of pieces[1:].
template <typename Handle>
void for_each_piece_after_first_of_split(PyObject* pieces, Handle&& handle) {
    OwnedRef rest = pieces_after_first(pieces);
    OwnedRef iterator = OwnedRef::checked(PyObject_GetIter(rest.get()));
    while (OwnedRef piece = next_of(iterator.get())) {
        ItemList items = ItemList::of(piece.get());
        handle(items);
    }
}

// Calls handle(ItemList) for each piece after the first U+0004 of text, as
// text.split('\x04')[1:] gives them.
template <typename Handle>
void for_each_piece_after_first(PyObject* text, Handle&& handle) {
    if (PyUnicode_CheckExact(text)) {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
        Py_ssize_t at = PyUnicode_FindChar(text, 0x04, 0, length, 1);
        while (at >= 0) {
            const Py_ssize_t begin = at + 1;
            at = PyUnicode_FindChar(text, 0x04, begin, length, 1);
            if (at == -2) throw PyError();
            ItemList items = ItemList::of_range(text, begin, at >= 0 ? at : length);
            handle(items);
        }
        if (at == -2) throw PyError();
        return;
    }
    OwnedRef pieces = split_elements(text);
    for_each_piece_after_first_of_split(pieces.get(), handle);
}

// --- get_populated_cpus ---

PyObject* get_populated_cpus(Call& call, PyObject* const* args) {
    PyObject* cpu_list = args[0];
    PyObject* populated_cpu_list = args[1];
    call.at(lines::POPULATED_CPUS_LOOP);
    OwnedRef iterator = OwnedRef::checked(PyObject_GetIter(cpu_list));
    while (true) {
        call.at(lines::POPULATED_CPUS_LOOP);
        OwnedRef cpu = next_of(iterator.get());
        if (!cpu) break;
        call.at(lines::POPULATED_CPUS_SPLIT);
        ItemList items = ItemList::of(cpu.get());
        call.at(lines::POPULATED_CPUS_STATUS);
        const unsigned status = low_magnitude_bits(items.number(8));
        // Socket populated (bit 6) and processor enabled (bits 0 to 2 equal to 1).
        if ((status & 0x40) == 0 || (status & 0x07) != 1) continue;
        call.at(lines::POPULATED_CPUS_APPEND);
        OwnedRef cpu_items = items.as_list();
        append_to(populated_cpu_list, cpu_items.get());
    }
    Py_RETURN_NONE;
}

// --- get_memory_devices ---

constexpr std::int64_t SIZE_IN_EXTENDED_SIZE = 0x7FFF;
constexpr std::int64_t SIZE_UNKNOWN = 0xFFFF;
constexpr std::int64_t SIZE_IN_KIB = 0x8000;  // bit 15: the size counts kibibytes, not mebibytes

void add_times_1024(Total& total, const Number& value) {
    std::int64_t product;
    if (value.fits && checked_mul(value.small, std::int64_t{1024}, &product)) {
        total.add(product);
        return;
    }
    OwnedRef factor = OwnedRef::checked(PyLong_FromLong(1024));
    OwnedRef big = value.fits ? OwnedRef::checked(PyLong_FromLongLong(value.small)) : OwnedRef::borrow(value.big.get());
    OwnedRef scaled = OwnedRef::checked(PyNumber_Multiply(big.get(), factor.get()));
    total.add_object(scaled.get());
}

// Adds one device's size: 0x7FFF refers to the extended size (item 20, in
// mebibytes); 0xFFFF (unknown) and 0 add nothing; otherwise bit 15 tells
// kibibytes (the other bits) from mebibytes. Values outside 16 bits follow the
// interpreter's int semantics of (size >> 15) & 1 and size & ~0x8000.
void add_device_size(Call& call, Total& total, ItemList& items, const Number& size) {
    if (size.fits) {
        if (size.small == SIZE_IN_EXTENDED_SIZE) {
            call.at(lines::MEMORY_DEVICES_EXTENDED);
            add_times_1024(total, items.number(20));
            return;
        }
        if (size.small == SIZE_UNKNOWN || size.small == 0) return;
        call.at(lines::MEMORY_DEVICES_ADD);
        if (((size.small >> 15) & 1) == 0)
            add_times_1024(total, size);
        else
            total.add(size.small & ~SIZE_IN_KIB);
        return;
    }
    call.at(lines::MEMORY_DEVICES_ADD);
    OwnedRef fifteen = OwnedRef::checked(PyLong_FromLong(15));
    OwnedRef one = OwnedRef::checked(PyLong_FromLong(1));
    OwnedRef shifted = OwnedRef::checked(PyNumber_Rshift(size.big.get(), fifteen.get()));
    OwnedRef bit = OwnedRef::checked(PyNumber_And(shifted.get(), one.get()));
    if (check_status(PyObject_IsTrue(bit.get())) == 0) {
        add_times_1024(total, size);
        return;
    }
    OwnedRef mask = OwnedRef::checked(PyLong_FromLongLong(~SIZE_IN_KIB));
    OwnedRef cleared = OwnedRef::checked(PyNumber_And(size.big.get(), mask.get()));
    total.add_object(cleared.get());
}

PyObject* get_memory_devices(Call& call, PyObject* const* args) {
    PyObject* memory_device_set_list = args[0];
    Total total;
    OwnedRef structures = OwnedRef::checked(PySet_New(nullptr));

    auto handle_device = [&](ItemList& items) {
        call.at(lines::MEMORY_DEVICES_TUPLE);
        OwnedRef key = OwnedRef::checked(PyTuple_New(5));
        static constexpr std::size_t KEY_ITEMS[] = {8, 9, 4, 5, 6};  // locators, widths, form factor
        for (std::size_t k = 0; k < std::size(KEY_ITEMS); ++k)
            PyTuple_SET_ITEM(key.get(), k, items.item(KEY_ITEMS[k]).release());
        check_status(PySet_Add(structures.get(), key.get()));
        call.at(lines::MEMORY_DEVICES_SIZE);
        const Number size = items.number(19);
        add_device_size(call, total, items, size);
    };

    call.at(lines::MEMORY_DEVICES_LOOP);
    OwnedRef iterator = OwnedRef::checked(PyObject_GetIter(memory_device_set_list));
    while (true) {
        call.at(lines::MEMORY_DEVICES_LOOP);
        OwnedRef device_set = next_of(iterator.get());
        if (!device_set) break;
        call.at(lines::MEMORY_DEVICES_SETS);
        for_each_piece_after_first(device_set.get(), handle_device);
    }
    call.at(lines::MEMORY_DEVICES_RETURN);
    OwnedRef memory_size = total.value();
    return check(PyTuple_Pack(2, memory_size.get(), structures.get()));
}

// --- get_memory_modules ---

PyObject* get_memory_modules(Call& call, PyObject* const* args) {
    PyObject* memory_module_list = args[0];
    Total total;
    OwnedRef sockets = OwnedRef::checked(PySet_New(nullptr));

    auto handle_module = [&](ItemList& items) {
        call.at(lines::MEMORY_MODULES_SOCKET);
        OwnedRef socket = items.item(2);
        check_status(PySet_Add(sockets.get(), socket.get()));
        call.at(lines::MEMORY_MODULES_ENABLED);
        const unsigned exponent = low_bits(items.number(6));
        // 125 (not determinable), 126 (not installed) and 127 (not enabled) are
        // codes, not sizes: they add nothing. Bit 7 (double-bank) is ignored.
        if (exponent >= 125) return;
        call.at(lines::MEMORY_MODULES_ADD);
        total.add_power_of_two(exponent + 10);  // 2 ** exponent MiB, counted in KiB
    };

    call.at(lines::MEMORY_MODULES_LOOP);
    OwnedRef iterator = OwnedRef::checked(PyObject_GetIter(memory_module_list));
    while (true) {
        call.at(lines::MEMORY_MODULES_LOOP);
        OwnedRef element = next_of(iterator.get());
        if (!element) break;
        call.at(lines::MEMORY_MODULES_PIECES);
        PyObject* text = element.get();
        // An element without U+0004 is one module text form (an empty text is
        // none); one with U+0004 is a group whose pieces after the first are
        // module text forms.
        if (PyUnicode_CheckExact(text)) {
            const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
            const Py_ssize_t at = PyUnicode_FindChar(text, 0x04, 0, length, 1);
            if (at == -2) throw PyError();
            if (at >= 0) {
                for_each_piece_after_first(text, handle_module);
                continue;
            }
            if (length == 0) continue;
        } else {
            OwnedRef pieces = split_elements(text);
            const Py_ssize_t count = PyObject_Length(pieces.get());
            if (count < 0) throw PyError();
            if (count > 1) {
                for_each_piece_after_first_of_split(pieces.get(), handle_module);
                continue;
            }
            if (check_status(PyObject_IsTrue(text)) == 0) continue;
        }
        call.at(lines::MEMORY_MODULES_SPLIT);
        ItemList items = ItemList::of(text);
        handle_module(items);
    }
    call.at(lines::MEMORY_MODULES_RETURN);
    OwnedRef memory_size = total.value();
    return check(PyTuple_Pack(2, memory_size.get(), sockets.get()));
}

// --- Descriptions ---

const Param POPULATED_CPUS_PARAMS[] = {
    {"cpu_list", "list", TypeCheck::None},
    {"populated_cpu_list", "list", TypeCheck::None},
};
const char* const POPULATED_CPUS_LOCALS[] = {"cpu", "cpu_items", "cpu_status"};

const Param MEMORY_DEVICES_PARAMS[] = {
    {"memory_device_set_list", "list", TypeCheck::None},
};
const char* const MEMORY_DEVICES_LOCALS[] = {
    "memory_size", "memory_device_structure_set", "memory_device_set", "memory_device",
    "memory_device_items", "size", "memory_size_bin",
};

const Param MEMORY_MODULES_PARAMS[] = {
    {"memory_module_list", "list", TypeCheck::None},
};
const char* const MEMORY_MODULES_LOCALS[] = {
    "memory_size", "memory_module_set", "memory_module", "pieces", "module", "memory_module_items", "enabled",
};

}  // namespace

const FunctionSpec GET_POPULATED_CPUS = {
    "get_populated_cpus",
    lines::POPULATED_CPUS,
    CallForm::PosOrKw,
    POPULATED_CPUS_PARAMS,
    static_cast<Py_ssize_t>(std::size(POPULATED_CPUS_PARAMS)),
    nullptr,
    POPULATED_CPUS_LOCALS,
    static_cast<Py_ssize_t>(std::size(POPULATED_CPUS_LOCALS)),
    nullptr,
    get_populated_cpus,
};

const FunctionSpec GET_MEMORY_DEVICES = {
    "get_memory_devices",
    lines::MEMORY_DEVICES,
    CallForm::OneArg,
    MEMORY_DEVICES_PARAMS,
    static_cast<Py_ssize_t>(std::size(MEMORY_DEVICES_PARAMS)),
    "tuple",
    MEMORY_DEVICES_LOCALS,
    static_cast<Py_ssize_t>(std::size(MEMORY_DEVICES_LOCALS)),
    nullptr,
    get_memory_devices,
};

const FunctionSpec GET_MEMORY_MODULES = {
    "get_memory_modules",
    lines::MEMORY_MODULES,
    CallForm::OneArg,
    MEMORY_MODULES_PARAMS,
    static_cast<Py_ssize_t>(std::size(MEMORY_MODULES_PARAMS)),
    "tuple",
    MEMORY_MODULES_LOCALS,
    static_cast<Py_ssize_t>(std::size(MEMORY_MODULES_LOCALS)),
    nullptr,
    get_memory_modules,
};

}  // namespace brantel::inventory
