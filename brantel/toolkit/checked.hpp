// Overflow-checked 64-bit arithmetic in plain C++ (no compiler builtins), for
// totals that move to Python ints once they no longer fit.
#pragma once

#include <cstdint>
#include <limits>

namespace brantel {

// *out = a + b and true, or false (and *out untouched) when the sum overflows.
inline bool checked_add(std::int64_t a, std::int64_t b, std::int64_t* out) noexcept {
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    if ((b > 0 && a > max - b) || (b < 0 && a < min - b)) return false;
    *out = a + b;
    return true;
}

// *out = a * b and true, or false (and *out untouched) when the product overflows.
inline bool checked_mul(std::int64_t a, std::int64_t b, std::int64_t* out) noexcept {
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    if (a != 0 && b != 0) {
        if (a > 0 ? (b > 0 ? a > max / b : b < min / a) : (b > 0 ? a < min / b : b < max / a)) return false;
    }
    *out = a * b;
    return true;
}

}  // namespace brantel
