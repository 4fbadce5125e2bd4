// String resolution: the string list entry of a string number, checked as strict UTF-8.
#include "field_reader.hpp"

#include "utf8.hpp"
#include "walk_error.hpp"

namespace brantel::inventory {

Value resolve_string(const Structure& s, std::uint8_t number, int line) {
    Value value;
    const std::uint8_t* text;
    std::size_t size;
    WalkError error;
    error.walker_line = line;
    if (!s.strings.entry(number - 1u, text, size)) {
        error.kind = WalkError::Kind::NoStringEntry;
        throw error;
    }
    if (!is_strict_utf8(text, size)) {
        error.kind = WalkError::Kind::StringNotUtf8;
        error.text = text;
        error.text_size = size;
        throw error;
    }
    value.kind = Value::Kind::Text;
    value.bytes = text;
    value.size = size;
    return value;
}

}  // namespace brantel::inventory
