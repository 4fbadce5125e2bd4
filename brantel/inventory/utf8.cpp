// Strict UTF-8 checking with an eight-bytes-at-a-time path for ASCII runs.
#include "utf8.hpp"

#include <cstring>

namespace brantel::inventory {

namespace {

inline bool is_continuation(std::uint8_t byte) noexcept { return (byte & 0xC0) == 0x80; }

}  // namespace

bool is_strict_utf8(const std::uint8_t* text, std::size_t size) noexcept {
    std::size_t i = 0;
    while (i < size) {
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, text + i, sizeof word);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= size) break;
        const std::uint8_t lead = text[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The second byte's range depends on the lead byte: that is where the
        // overlong forms, the surrogates and the values above U+10FFFF are refused.
        std::uint8_t low = 0x80, high = 0xBF;
        std::size_t length;
        if (lead < 0xC2) {
            return false;  // a continuation byte, or an overlong two-byte lead
        } else if (lead < 0xE0) {
            length = 2;
        } else if (lead < 0xF0) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead < 0xF5) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        const std::uint8_t second = text[i + 1];
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if (!is_continuation(text[i + k])) return false;
        i += length;
    }
    return true;
}

}  // namespace brantel::inventory
