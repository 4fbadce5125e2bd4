// The output buffer that text forms are written into, and the value texts:
// decimal integers, "None" and lower-case hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace brantel::inventory {

inline constexpr char ITEM_SEPARATOR = '\x02';     // between the items of a record text form
inline constexpr char ELEMENT_SEPARATOR = '\x04';  // before each element of a list inside a record
inline constexpr char RECORD_SEPARATOR = '\x03';   // before each element of a list value

inline constexpr char NONE_TEXT[] = "None";
inline constexpr std::size_t NONE_SIZE = sizeof NONE_TEXT - 1;
inline constexpr std::size_t MAX_DECIMAL_SIZE = 20;  // digits of a 64-bit integer

// Writes the decimal digits of `value` so that they end at `end`; returns where they start.
inline char* decimal_digits(std::uint64_t value, char* end) noexcept {
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return p;
}

inline void hex_digits(const std::uint8_t* bytes, std::size_t size, char* out) noexcept {
    static constexpr char DIGITS[] = "0123456789abcdef";
    for (std::size_t k = 0; k < size; ++k) {
        out[2 * k] = DIGITS[bytes[k] >> 4];
        out[2 * k + 1] = DIGITS[bytes[k] & 0x0F];
    }
}

// A growable byte buffer written through a raw cursor: callers make room once
// (room()) and then write without further checks.
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Makes room for at least n more bytes (throws std::bad_alloc).
    void room(std::size_t n) {
        if (static_cast<std::size_t>(capacity_end_ - end_) < n) grow(n);
    }

    // The writes below need room made beforehand.
    void put(char c) noexcept { *end_++ = c; }
    void put(const char* text, std::size_t n) noexcept {
        std::memcpy(end_, text, n);
        end_ += n;
    }
    // Written in place: most items are a few digits, too short to pay for a copy.
    void put_decimal(std::uint64_t value) noexcept {
        std::size_t digits = 1;
        for (std::uint64_t bound = 10; digits < MAX_DECIMAL_SIZE && value >= bound; bound *= 10) ++digits;
        end_ += digits;
        decimal_digits(value, end_);
    }
    void put_none() noexcept { put(NONE_TEXT, NONE_SIZE); }
    void put_hex(const std::uint8_t* bytes, std::size_t n) noexcept {
        hex_digits(bytes, n, end_);
        end_ += 2 * n;
    }

    const char* data() const noexcept { return start_.get(); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - start_.get()); }
    bool empty() const noexcept { return end_ == start_.get(); }

private:
    void grow(std::size_t n) {
        const std::size_t used = size();
        const std::size_t capacity = static_cast<std::size_t>(capacity_end_ - start_.get());
        std::size_t wanted = capacity < 256 ? 256 : capacity * 2;
        if (wanted < used + n) wanted = used + n;
        std::unique_ptr<char[]> bigger(new char[wanted]);
        if (used != 0) std::memcpy(bigger.get(), start_.get(), used);
        start_ = std::move(bigger);
        end_ = start_.get() + used;
        capacity_end_ = start_.get() + wanted;
    }

    std::unique_ptr<char[]> start_;
    char* end_ = nullptr;
    char* capacity_end_ = nullptr;
};

}  // namespace brantel::inventory
