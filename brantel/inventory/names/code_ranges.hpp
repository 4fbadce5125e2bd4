// Name tables whose codes include whole ranges under one name (the OEM's or a
// vendor's codes): the ranges become ordinary rows at compile time, so every
// lookup stays one search of one ordered table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../code_names.hpp"

namespace brantel::inventory::names {

template <std::size_t N>
struct CodeRows {
    CodeName rows[N];
};

// `base` (ordered) with the `Count` codes from `first` named `name` merged in
// order; a code of the range that `base` also names is a compile-time error.
template <std::size_t Count, std::size_t N>
constexpr CodeRows<N + Count> with_range(const CodeName (&base)[N], std::uint16_t first, const char* name) {
    CodeRows<N + Count> merged{};
    std::size_t out = 0, k = 0;
    for (; k < N && base[k].code < first; ++k) merged.rows[out++] = base[k];
    for (std::size_t c = 0; c < Count; ++c)
        merged.rows[out++] = CodeName{static_cast<std::uint16_t>(first + c), name};
    for (; k < N; ++k) {
        if (base[k].code < first + Count) throw "a named code lies inside the range";
        merged.rows[out++] = base[k];
    }
    return merged;
}

template <std::size_t Count, std::size_t N>
constexpr CodeRows<N + Count> with_range(const CodeRows<N>& base, std::uint16_t first, const char* name) {
    return with_range<Count>(base.rows, first, name);
}

}  // namespace brantel::inventory::names
