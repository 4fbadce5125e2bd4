// Header reading, the string-set end search and string list entries.
#include "structure_table.hpp"

#include <cstring>

namespace brantel::inventory {

bool StringList::entry(std::size_t index, const std::uint8_t*& text, std::size_t& size) const noexcept {
    if (index > zero_count_ || index >= MAX_ZEROS) return false;
    const std::size_t first = index == 0 ? 0 : zeros_[index - 1] + 1;
    const std::size_t last = index < zero_count_ ? zeros_[index] : static_cast<std::size_t>(end_ - begin_);
    text = begin_ + first;
    size = last - first;
    return true;
}

bool StructureCursor::read(Structure& s) noexcept {
    const std::size_t i = offset_;
    const std::size_t remaining = size_ - i;
    s.bytes = table_ + i;
    s.offset = i;
    s.type = table_[i];
    s.length = remaining > 1 ? table_[i + 1] : 0;
    s.handle = static_cast<std::uint16_t>((remaining > 2 ? table_[i + 2] : 0) |
                                          (remaining > 3 ? table_[i + 3] << 8 : 0));

    StringList& strings = s.strings;
    const std::size_t set_begin = i + s.length;
    strings.begin_ = table_ + set_begin;
    strings.zero_count_ = 0;
    std::size_t pos = set_begin;
    while (pos < size_) {
        const void* hit = std::memchr(table_ + pos, 0, size_ - pos);
        if (hit == nullptr) return false;
        const std::size_t zero = static_cast<const std::uint8_t*>(hit) - table_;
        if (strings.zero_count_ < StringList::MAX_ZEROS)
            strings.zeros_[strings.zero_count_] = zero - set_begin;
        ++strings.zero_count_;
        if (zero + 1 < size_ && table_[zero + 1] == 0) {
            if (strings.zero_count_ < StringList::MAX_ZEROS)
                strings.zeros_[strings.zero_count_] = zero + 1 - set_begin;
            ++strings.zero_count_;
            strings.end_ = table_ + zero + 2;
            s.size = zero + 2 - i;
            return true;
        }
        pos = zero + 1;
    }
    return false;
}

}  // namespace brantel::inventory
