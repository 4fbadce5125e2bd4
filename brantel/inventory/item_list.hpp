// Record text forms taken apart again for the queries: items split at U+0002,
// item values read as the interpreter's int(text) does, and totals of unbounded size.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "../toolkit/refs.hpp"

namespace brantel::inventory {

// Separator texts and method names the queries use; made once, kept for the
// life of the process like the module's other interned constants.
struct QueryConstants {
    PyObject* item_separator;     // "\x02"
    PyObject* element_separator;  // "\x04"
    PyObject* split;              // "split"
    PyObject* append;             // "append"
};
const QueryConstants& query_constants();  // throws PyError

// An integer item value: a C integer when it fits, else the int object.
struct Number {
    bool fits = true;
    std::int64_t small = 0;
    OwnedRef big;  // an int outside the int64 range when !fits
};

// The items of one record text form. An exact str (or a range of one) is read
// in place without building the list; anything else is split by calling its
// own split('\x02'), so it fails or succeeds exactly as the interpreter would
// make it.
class ItemList {
public:
    static ItemList of(PyObject* text);
    static ItemList of_range(PyObject* text, Py_ssize_t begin, Py_ssize_t end);

    // items[k], a new reference; IndexError "list index out of range" when the
    // text has k items or fewer.
    OwnedRef item(std::size_t k);
    // int(items[k]).
    Number number(std::size_t k);
    // The item list itself, as split() gives it.
    OwnedRef as_list();

private:
    ItemList() = default;
    // Locates separators until item k's bounds are known; false when there is no item k.
    bool bounds(std::size_t k, Py_ssize_t& begin, Py_ssize_t& end);

    static constexpr std::size_t MAX_SEPARATORS = 24;  // the queries read items 0 to 20

    PyObject* text_ = nullptr;  // borrowed exact str (fast mode), or null
    Py_ssize_t begin_ = 0, end_ = 0;
    Py_ssize_t separators_[MAX_SEPARATORS] = {};
    std::size_t found_ = 0;      // separators located so far
    bool exhausted_ = false;     // no separator after the last one found
    OwnedRef split_;             // generic mode: what text.split('\x02') returned
};

// A sum of integers of unbounded size: a C integer while it cannot overflow,
// an int object from then on.
class Total {
public:
    void add(std::int64_t value);
    void add(const Number& value);
    void add_object(PyObject* value);  // any int
    // 2 ** shift.
    void add_power_of_two(unsigned shift);
    OwnedRef value() const;

private:
    void spill();
    std::int64_t small_ = 0;
    OwnedRef big_;  // when set, the total is big_ + small_
};

}  // namespace brantel::inventory
