// Names of SMBIOS codes as data: one table of {code, "name"} rows per
// enumeration (or per bit field, the code being the bit number), ordered by
// code, shared by every structure type that uses it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brantel::inventory {

struct CodeName {
    std::uint16_t code;
    const char* name;
};

struct NameTable {
    const CodeName* rows;
    std::size_t count;
};

namespace code_names_detail {
template <std::size_t N>
constexpr bool ordered(const CodeName (&rows)[N]) {
    for (std::size_t k = 1; k < N; ++k)
        if (rows[k - 1].code >= rows[k].code) return false;
    return true;
}
}  // namespace code_names_detail

// A name table over rows that must be strictly ordered by code (checked at
// compile time, so a lookup can stop early or bisect).
template <std::size_t N>
constexpr NameTable name_table(const CodeName (&rows)[N]) {
    if (!code_names_detail::ordered(rows)) throw "name table rows must be ordered by code";
    return NameTable{rows, N};
}

// The name of `code`, or nullptr when the table has none.
constexpr const char* name_of_code(const NameTable& table, std::uint32_t code) {
    std::size_t low = 0, high = table.count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (table.rows[middle].code < code)
            low = middle + 1;
        else
            high = middle;
    }
    return low < table.count && table.rows[low].code == code ? table.rows[low].name : nullptr;
}

}  // namespace brantel::inventory
