// Where each inventory value sits in its SMBIOS structure: one field table per
// record type, read by one reader (field_reader.hpp) that applies the length rule.
// The decoded inventory's tables (types/*.hpp) are the home of every offset;
// where a row here names the same fact, decoded_types.cpp checks that the two
// agree at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "source_lines.hpp"

namespace brantel::inventory {

// How a field's bytes become a value.
enum class Source : std::uint8_t {
    Handle,      // the structure handle from the header; always present
    Integer,     // unsigned little-endian integer of `width` bytes (1, 2 or 4)
    String,      // one-byte string number resolved through the string set
    Hex,         // lower-case hexadecimal text of `width` bytes, in stored order
    HandleList,  // 16-bit handles from `offset` to the end of the formatted area
    Absent,      // never read: always None
};

// How a value becomes a text item. Raw and Formatted give the same bytes for
// every value the walker stores (a raw None renders "None", as a formatted one
// does); the column records which items are text by nature.
enum class TextRule : std::uint8_t { Formatted, Raw, List };

// Fields placed after a chassis's contained elements move by n x m bytes.
enum class Placement : std::uint8_t { Fixed, AfterContainedElements };

// Whether a field enters the rendered inventory or only the decoded one
// (brantel.decode): the decoded view reports facts that the rendered text
// never carried, and they must not shift its bytes.
enum class Use : std::uint8_t { Rendered, DecodedOnly };

struct Field {
    const char* name;
    std::uint8_t offset;
    std::uint8_t width;
    std::uint8_t guard;  // read only when the formatted length is at least this
    Source source;
    TextRule text;
    Placement placement;
    Use use;
};

// A record type: its fields in reading order. The first `rendered` fields are
// its text items after smbios_type_id; the decoded-only rows follow them, so
// the traceback lines of the rendered fields stay where they are.
struct RecordLayout {
    std::uint8_t type_id;
    const Field* fields;
    std::size_t count;     // every row
    std::size_t rendered;  // the leading rows that the text form holds
    int first_line;        // source line of the first field read (traceback entries)
};

namespace layout_detail {
constexpr Field field(const char* name, std::uint8_t offset, std::uint8_t width, std::uint8_t guard,
                      Source source, TextRule text = TextRule::Formatted,
                      Placement placement = Placement::Fixed) {
    return Field{name, offset, width, guard, source, text, placement, Use::Rendered};
}
constexpr Field handle(const char* name) { return field(name, 0x02, 2, 0x00, Source::Handle); }
constexpr Field integer(const char* name, std::uint8_t offset, std::uint8_t width) {
    return field(name, offset, width, static_cast<std::uint8_t>(offset + width), Source::Integer);
}
constexpr Field string(const char* name, std::uint8_t offset, TextRule text = TextRule::Formatted) {
    return field(name, offset, 1, static_cast<std::uint8_t>(offset + 1), Source::String, text);
}
constexpr Field absent(const char* name) { return field(name, 0x00, 0, 0x00, Source::Absent); }

// A row that only the decoded view reads.
constexpr Field decoded_only(Field f) {
    f.use = Use::DecodedOnly;
    return f;
}

// The number of rendered rows, which must all come before the decoded-only ones.
template <std::size_t N>
constexpr std::size_t rendered_prefix(const Field (&fields)[N]) {
    std::size_t k = 0;
    while (k < N && fields[k].use == Use::Rendered) ++k;
    for (std::size_t j = k; j < N; ++j)
        if (fields[j].use == Use::Rendered) throw "rendered rows must come before decoded-only rows";
    return k;
}

template <std::size_t N>
constexpr RecordLayout layout(std::uint8_t type_id, const Field (&fields)[N], int first_line) {
    return RecordLayout{type_id, fields, N, rendered_prefix(fields), first_line};
}

constexpr bool same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}
}  // namespace layout_detail

using layout_detail::absent;
using layout_detail::decoded_only;
using layout_detail::field;
using layout_detail::handle;
using layout_detail::integer;
using layout_detail::string;

// Whether field `index` of `layout` is the one called `name` (for static_asserts
// on the indexes that the walker uses by position).
constexpr bool field_named(const RecordLayout& layout, std::size_t index, const char* name) {
    return index < layout.count && layout_detail::same_text(layout.fields[index].name, name);
}

// --- Type 0: BIOS information (a record only when length >= 5) ---
inline constexpr Field BIOS_FIELDS[] = {
    string("bios_vendor", 0x04),
};
inline constexpr RecordLayout BIOS = layout_detail::layout(0, BIOS_FIELDS, lines::READ_BIOS);
inline constexpr std::uint8_t BIOS_MIN_LENGTH = 0x05;

// --- Type 1: system values (no record; field k fills system key k) ---
inline constexpr Field SYSTEM_FIELDS[] = {
    string("system_manufacturer", 0x04),
    string("system_product_name", 0x05),
    string("system_serial_number", 0x07),
    field("system_uuid", 0x08, 16, 0x18, Source::Hex),  // stored byte order, no regrouping
    string("system_sku_number", 0x19),
    string("system_family", 0x1A),
};
inline constexpr RecordLayout SYSTEM = layout_detail::layout(1, SYSTEM_FIELDS, lines::READ_SYSTEM);

// --- Type 2: baseboard ---
inline constexpr Field BASEBOARD_FIELDS[] = {
    handle("baseboard_handle"),
    string("baseboard_manufacturer", 0x04, TextRule::Raw),
    string("baseboard_product", 0x05, TextRule::Raw),
    string("baseboard_version", 0x06, TextRule::Raw),
    string("baseboard_serial_number", 0x07, TextRule::Raw),
    integer("baseboard_chassis_handle", 0x0B, 2),
    integer("baseboard_board_type", 0x0D, 1),
    integer("baseboard_number_of_contained_object_handles", 0x0E, 1),
    // (length - 15) / 2 handles whatever the count byte says; empty below 15.
    field("baseboard_contained_object_handles", 0x0F, 2, 0x0F, Source::HandleList, TextRule::List),
};
inline constexpr RecordLayout BASEBOARD = layout_detail::layout(2, BASEBOARD_FIELDS, lines::READ_BASEBOARD);

// --- Type 3: chassis (the ten text items; see also the contained elements below) ---
inline constexpr Field CHASSIS_FIELDS[] = {
    handle("chassis_handle"),
    string("chassis_manufacturer", 0x04, TextRule::Raw),
    integer("chassis_type", 0x05, 1),  // the whole byte, lock bit included
    string("chassis_version", 0x06, TextRule::Raw),
    string("chassis_serial_number", 0x07, TextRule::Raw),
    string("chassis_asset_tag", 0x08, TextRule::Raw),
    integer("chassis_oem_defined", 0x0D, 4),
    integer("chassis_height", 0x11, 1),
    field("chassis_sku_number", 0x15, 1, 0x16, Source::String, TextRule::Formatted,
          Placement::AfterContainedElements),
};
inline constexpr RecordLayout CHASSIS = layout_detail::layout(3, CHASSIS_FIELDS, lines::READ_CHASSIS);

// Contained elements: n elements of m bytes from 0x15. n and m read 0 (not None)
// when the structure is too short for them.
inline constexpr std::uint8_t CHASSIS_ELEMENT_COUNT = 0x13;
inline constexpr std::uint8_t CHASSIS_ELEMENT_RECORD_LENGTH = 0x14;

// --- Type 4: processor ---
inline constexpr Field PROCESSOR_FIELDS[] = {
    handle("cpu_handle"),
    string("cpu_socket_designation", 0x04),
    integer("cpu_upgrade", 0x19, 1),
    string("cpu_manufacturer", 0x07),
    // The first half of the processor ID, read only when all eight bytes are there.
    field("cpu_processor_id", 0x08, 4, 0x10, Source::Integer),
    integer("cpu_voltage", 0x11, 1),
    integer("cpu_max_speed", 0x14, 2),
    integer("cpu_status", 0x18, 1),
    string("cpu_serial_number", 0x20),
    string("cpu_asset_tag", 0x21),
    string("cpu_part_number", 0x22),
    integer("cpu_core_count", 0x23, 1),
    integer("cpu_core_count2", 0x2A, 2),
    integer("cpu_core_enabled", 0x24, 1),
    integer("cpu_core_enabled2", 0x2C, 2),
    integer("cpu_thread_count", 0x25, 1),
    integer("cpu_thread_count2", 0x2E, 2),
    integer("cpu_thread_enabled", 0x30, 2),
    integer("cpu_l1_cache_handle", 0x1A, 2),
    integer("cpu_l2_cache_handle", 0x1C, 2),
    integer("cpu_l3_cache_handle", 0x1E, 2),
    // Cache structures are stepped over, so the cache records are never filled.
    absent("cpu_l1_cache"),
    absent("cpu_l2_cache"),
    absent("cpu_l3_cache"),
};
inline constexpr RecordLayout PROCESSOR = layout_detail::layout(4, PROCESSOR_FIELDS, lines::READ_PROCESSOR);

// --- Type 6: memory module ---
inline constexpr Field MEMORY_MODULE_FIELDS[] = {
    handle("mm_handle"),
    string("mm_socket_designation", 0x04),
    integer("mm_bank_connections", 0x05, 1),
    integer("mm_current_memory_type", 0x07, 2),
    integer("mm_installed_size", 0x09, 1),
    integer("mm_enabled_size", 0x0A, 1),
    integer("mm_error_status", 0x0B, 1),
};
inline constexpr RecordLayout MEMORY_MODULE = layout_detail::layout(6, MEMORY_MODULE_FIELDS, lines::READ_MEMORY_MODULE);

// --- Type 17: memory device ---
inline constexpr Field MEMORY_DEVICE_FIELDS[] = {
    handle("md_handle"),
    integer("pma_handle", 0x04, 2),
    integer("md_memory_error_information_handle", 0x06, 2),
    integer("md_total_width", 0x08, 2),
    integer("md_data_width", 0x0A, 2),
    integer("md_form_factor", 0x0E, 1),
    integer("md_device_set_id", 0x0F, 1),
    string("md_device_locator", 0x10),
    string("md_bank_locator", 0x11),
    integer("md_memory_type", 0x12, 1),
    integer("md_type_detail", 0x13, 2),
    integer("md_max_speed", 0x15, 2),
    integer("md_max_extended_speed", 0x54, 4),
    string("md_manufacturer", 0x17),
    string("md_serial_number", 0x18),
    // The string number itself, deliberately not resolved: consumers of the
    // inventory read this item as a number.
    integer("md_asset_tag", 0x19, 1),
    string("md_part_number", 0x1A),
    integer("md_attributes", 0x1B, 1),
    integer("md_size", 0x0C, 2),
    integer("md_extended_size", 0x1C, 4),
    integer("md_memory_technology", 0x28, 1),
    integer("md_memory_operating_mode_capability", 0x29, 2),
};
inline constexpr RecordLayout MEMORY_DEVICE = layout_detail::layout(17, MEMORY_DEVICE_FIELDS, lines::READ_MEMORY_DEVICE);
inline constexpr std::size_t MD_DEVICE_SET_ID = 6;
static_assert(field_named(MEMORY_DEVICE, MD_DEVICE_SET_ID, "md_device_set_id"));

}  // namespace brantel::inventory
