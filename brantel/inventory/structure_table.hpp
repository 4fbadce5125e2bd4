// The SMBIOS structure table as the walker sees it: one structure at a time,
// its header (absent bytes allowed), the end of its string set and its string list.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brantel::inventory {

// The string list of one structure: its string set split at every zero byte,
// both terminating zeros included, so n strings give n + 2 entries (an empty
// set gives three empty ones). Entries are located from the zero positions
// recorded while the end of the set was searched.
class StringList {
public:
    // Entry `index` (0-based). False when the list has no such entry.
    bool entry(std::size_t index, const std::uint8_t*& text, std::size_t& size) const noexcept;

    // The strings proper: the entries less the two that the terminating zeros
    // make (an empty set, its two zeros alone, holds none).
    std::size_t string_count() const noexcept {
        if (zero_count_ < 2 || (zero_count_ == 2 && zeros_[0] == 0)) return 0;
        return zero_count_ - 1;
    }
    // The set's bytes, both terminating zeros included.
    const std::uint8_t* set_begin() const noexcept { return begin_; }
    std::size_t set_size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }

private:
    friend class StructureCursor;
    // String numbers are one byte, so entries past 255 are never asked for.
    static constexpr std::size_t MAX_ZEROS = 256;

    const std::uint8_t* begin_ = nullptr;  // first byte of the string set
    const std::uint8_t* end_ = nullptr;    // one past its second terminating zero
    std::size_t zero_count_ = 0;           // every zero byte of the set
    // Offsets from begin_ of the first MAX_ZEROS zeros; full width, since one
    // string of a set may run past 4 GiB.
    std::size_t zeros_[MAX_ZEROS];
};

// One structure: the header as read, the formatted area and the string list.
struct Structure {
    const std::uint8_t* bytes = nullptr;  // the type byte; `length` bytes of formatted area follow
    std::size_t offset = 0;               // of the type byte in the table
    std::size_t size = 0;                 // formatted area plus string set (length_include_strings)
    std::uint8_t type = 0;
    std::uint8_t length = 0;
    std::uint16_t handle = 0;
    StringList strings;
};

// Steps through a structure table.
class StructureCursor {
public:
    StructureCursor(const std::uint8_t* table, std::size_t size) noexcept : table_(table), size_(size) {}

    bool at_end() const noexcept { return offset_ >= size_; }

    // Reads the structure at the current offset: its header, where a byte past
    // the table reads as absent (length 0, handle from the bytes present), and
    // its string set, found by searching for the first pair of adjacent zero
    // bytes from exactly the end of the formatted area. False when there is no
    // such pair. Zero bytes inside the formatted area never end the set.
    bool read(Structure& structure) noexcept;

    // Moves past a structure that read() accepted.
    void advance(const Structure& structure) noexcept { offset_ += structure.size; }

private:
    const std::uint8_t* table_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace brantel::inventory
