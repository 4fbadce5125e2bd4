// Strict UTF-8 checking: accepts exactly what the interpreter's strict decoder accepts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brantel::inventory {

// Whether [text, text + size) is well-formed UTF-8: no overlong forms, no
// surrogates (U+D800..U+DFFF), nothing above U+10FFFF, no stray or missing
// continuation bytes.
bool is_strict_utf8(const std::uint8_t* text, std::size_t size) noexcept;

}  // namespace brantel::inventory
