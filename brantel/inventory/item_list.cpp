// Item lists over str objects, int(text) with a fast path for short digit
// strings, and unbounded totals.
#include "item_list.hpp"

#include <utility>

#include "../toolkit/checked.hpp"

namespace brantel::inventory {

const QueryConstants& query_constants() {
    static QueryConstants constants{};
    if (constants.append == nullptr) {
        // Each is set only once it exists, so a failed first attempt is retried later.
        if (!constants.item_separator) constants.item_separator = check(PyUnicode_FromOrdinal(0x02));
        if (!constants.element_separator) constants.element_separator = check(PyUnicode_FromOrdinal(0x04));
        if (!constants.split) constants.split = check(PyUnicode_InternFromString("split"));
        constants.append = check(PyUnicode_InternFromString("append"));
    }
    return constants;
}

namespace {

Number number_of(OwnedRef value) {
    Number number;
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (overflow != 0) {
        number.fits = false;
        number.big = std::move(value);
        return number;
    }
    if (small == -1 && PyErr_Occurred()) throw PyError();
    number.small = small;
    return number;
}

// int(text) for a short run of ASCII digits, which is what every item the
// walker writes looks like; false for anything that needs the interpreter's
// full rules (signs, white space, underscores, other digits, long numbers).
bool plain_digits(PyObject* text, Py_ssize_t begin, Py_ssize_t end, std::int64_t& value) {
    if (PyUnicode_KIND(text) != PyUnicode_1BYTE_KIND) return false;
    const Py_ssize_t size = end - begin;
    if (size < 1 || size > 18) return false;
    const auto* digits = static_cast<const unsigned char*>(PyUnicode_DATA(text)) + begin;
    std::int64_t result = 0;
    for (Py_ssize_t k = 0; k < size; ++k) {
        const unsigned digit = digits[k] - static_cast<unsigned>('0');
        if (digit > 9) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

}  // namespace

ItemList ItemList::of(PyObject* text) {
    if (PyUnicode_CheckExact(text)) return of_range(text, 0, PyUnicode_GET_LENGTH(text));
    ItemList items;
    items.split_ = OwnedRef::checked(
        PyObject_CallMethodOneArg(text, query_constants().split, query_constants().item_separator));
    return items;
}

ItemList ItemList::of_range(PyObject* text, Py_ssize_t begin, Py_ssize_t end) {
    ItemList items;
    items.text_ = text;
    items.begin_ = begin;
    items.end_ = end;
    return items;
}

bool ItemList::bounds(std::size_t k, Py_ssize_t& begin, Py_ssize_t& end) {
    while (found_ <= k && !exhausted_ && found_ < MAX_SEPARATORS) {
        const Py_ssize_t from = found_ == 0 ? begin_ : separators_[found_ - 1] + 1;
        const Py_ssize_t at = PyUnicode_FindChar(text_, 0x02, from, end_, 1);
        if (at == -2) throw PyError();
        if (at == -1)
            exhausted_ = true;
        else
            separators_[found_++] = at;
    }
    if (k > found_ || (k == found_ && !exhausted_)) return false;  // k beyond MAX_SEPARATORS is never asked
    begin = k == 0 ? begin_ : separators_[k - 1] + 1;
    end = k < found_ ? separators_[k] : end_;
    return true;
}

OwnedRef ItemList::item(std::size_t k) {
    if (!text_) {
        OwnedRef index = OwnedRef::checked(PyLong_FromSize_t(k));
        return OwnedRef::checked(PyObject_GetItem(split_.get(), index.get()));
    }
    Py_ssize_t begin, end;
    if (!bounds(k, begin, end)) raise(PyExc_IndexError, "list index out of range");
    return OwnedRef::checked(PyUnicode_Substring(text_, begin, end));
}

Number ItemList::number(std::size_t k) {
    if (text_) {
        Py_ssize_t begin, end;
        if (!bounds(k, begin, end)) raise(PyExc_IndexError, "list index out of range");
        Number number;
        if (plain_digits(text_, begin, end, number.small)) return number;
        OwnedRef piece = OwnedRef::checked(PyUnicode_Substring(text_, begin, end));
        return number_of(OwnedRef::checked(PyLong_FromUnicodeObject(piece.get(), 10)));
    }
    OwnedRef piece = item(k);
    return number_of(OwnedRef::checked(PyNumber_Long(piece.get())));
}

OwnedRef ItemList::as_list() {
    if (!text_) return OwnedRef::borrow(split_.get());
    OwnedRef whole = OwnedRef::checked(PyUnicode_Substring(text_, begin_, end_));
    return OwnedRef::checked(PyUnicode_Split(whole.get(), query_constants().item_separator, -1));
}

// --- Total ---

void Total::add(std::int64_t value) {
    std::int64_t sum;
    if (checked_add(small_, value, &sum)) {
        small_ = sum;
        return;
    }
    spill();
    small_ = value;
}

void Total::add(const Number& value) {
    if (value.fits)
        add(value.small);
    else
        add_object(value.big.get());
}

void Total::add_object(PyObject* value) {
    spill();
    big_ = OwnedRef::checked(PyNumber_Add(big_.get(), value));
}

void Total::add_power_of_two(unsigned shift) {
    if (shift < 63) {
        add(static_cast<std::int64_t>(1) << shift);
        return;
    }
    OwnedRef one = OwnedRef::checked(PyLong_FromLong(1));
    OwnedRef count = OwnedRef::checked(PyLong_FromUnsignedLong(shift));
    OwnedRef power = OwnedRef::checked(PyNumber_Lshift(one.get(), count.get()));
    add_object(power.get());
}

void Total::spill() {
    OwnedRef small = OwnedRef::checked(PyLong_FromLongLong(small_));
    big_ = big_ ? OwnedRef::checked(PyNumber_Add(big_.get(), small.get())) : std::move(small);
    small_ = 0;
}

OwnedRef Total::value() const {
    OwnedRef small = OwnedRef::checked(PyLong_FromLongLong(small_));
    if (!big_) return small;
    return OwnedRef::checked(PyNumber_Add(big_.get(), small.get()));
}

}  // namespace brantel::inventory
