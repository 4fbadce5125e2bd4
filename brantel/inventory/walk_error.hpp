// How a walk over a structure table fails, as a plain value: the entry layer
// turns it into the interpreter's exception with its traceback entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brantel::inventory {

struct WalkError {
    enum class Kind : std::uint8_t {
        None,
        NoStringSetEnd,  // ValueError "Couldn't find end of text strings!"
        NoStringEntry,   // IndexError: a string number past the string list
        StringNotUtf8,   // UnicodeDecodeError for `text`
    };
    Kind kind = Kind::None;
    int walker_line = 0;  // line of the parse_smbios statement that failed
    const std::uint8_t* text = nullptr;  // the string that failed to decode (inside the table)
    std::size_t text_size = 0;

    explicit operator bool() const noexcept { return kind != Kind::None; }
};

}  // namespace brantel::inventory
