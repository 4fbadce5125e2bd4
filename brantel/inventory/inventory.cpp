// The walk: dispatch on structure type, device-set filing, and the rendering
// of the inventory dictionary into one buffer.
#include "inventory.hpp"

#include <cstring>

#include "source_lines.hpp"
#include "text_out.hpp"

namespace brantel::inventory {

WalkError Inventory::walk(const std::uint8_t* table, std::size_t size) {
    for (auto& id : set_of_id_) id = -1;
    // Most of a table is text that reaches the lists: making room up front
    // keeps the appends from reallocating.
    for (auto& list : lists_) list.room(size / 8);
    devices_.room(size / 2);

    StructureCursor cursor(table, size);
    Structure s;
    try {
        while (!cursor.at_end()) {
            if (!cursor.read(s)) {
                WalkError error;
                error.kind = WalkError::Kind::NoStringSetEnd;
                error.walker_line = lines::WALK_STRING_SET_END;
                return error;
            }
            read_structure(s);
            cursor.advance(s);
        }
    } catch (const WalkError& error) {
        return error;
    }
    return WalkError();
}

void Inventory::read_structure(const Structure& s) {
    switch (s.type) {
        case 0:
            if (s.length >= BIOS_MIN_LENGTH) append_to(BIOS_LIST, BIOS, s);
            break;
        case 1:
            read_system(s);
            break;
        case 2:
            append_to(BASEBOARD_LIST, BASEBOARD, s);
            break;
        case 3:
            read_chassis(s);
            break;
        case 4:
            append_to(CPU_LIST, PROCESSOR, s);
            break;
        case 6:
            append_to(MEMORY_MODULE_LIST, MEMORY_MODULE, s);
            break;
        case 17:
            read_memory_device(s);
            break;
        default:
            // Every other type, the end-of-table type 127 included, is stepped
            // over; the walk goes on to the end of the table.
            break;
    }
}

// A list value's text: U+0003 before each record's text form.
void Inventory::append_to(List list, const RecordLayout& layout, const Structure& s, std::size_t shift) {
    lists_[list].room(1);
    lists_[list].put(RECORD_SEPARATOR);
    append_record(lists_[list], layout, s, shift);
}

// A later type 1 structure overwrites what it is long enough for and leaves the rest.
void Inventory::read_system(const Structure& s) {
    for (std::size_t k = 0; k < SYSTEM.rendered; ++k) {
        const Field& f = SYSTEM_FIELDS[k];
        if (is_read(s, f)) system_[k] = read_field(s, f, SYSTEM.first_line + static_cast<int>(k));
    }
}

// The contained elements appear in no text form, so only their extent matters
// here: the SKU string number follows them. It moves by n x m whether or not
// the structure is long enough to hold the elements. Decoding the elements
// would not depend on the SMBIOS version either, and cannot fail.
void Inventory::read_chassis(const Structure& s) {
    const std::size_t n = s.length > CHASSIS_ELEMENT_COUNT ? s.bytes[CHASSIS_ELEMENT_COUNT] : 0;
    const std::size_t m = s.length > CHASSIS_ELEMENT_RECORD_LENGTH ? s.bytes[CHASSIS_ELEMENT_RECORD_LENGTH] : 0;
    append_to(CHASSIS_LIST, CHASSIS, s, n * m);
}

// Files the device under the set of its identifier (None being a set of its
// own); sets keep the order of their first device.
void Inventory::read_memory_device(const Structure& s) {
    const std::size_t begin = devices_.size();
    append_record(devices_, MEMORY_DEVICE, s);
    const Field& set_field = MEMORY_DEVICE_FIELDS[MD_DEVICE_SET_ID];
    const unsigned id = is_read(s, set_field) ? s.bytes[set_field.offset] : NONE_ID;

    const std::size_t index = device_texts_.size();
    device_texts_.push_back(DeviceText{begin, devices_.size(), NO_DEVICE});
    std::int16_t& set = set_of_id_[id];
    if (set < 0) {
        set = static_cast<std::int16_t>(sets_.size());
        sets_.push_back(DeviceSet{id, index, index});
    } else {
        DeviceSet& known = sets_[static_cast<std::size_t>(set)];
        device_texts_[known.last].next = index;
        known.last = index;
    }
}

// --- Rendering ---

namespace {

struct CountingSink {
    std::size_t size = 0;
    void put(char) noexcept { ++size; }
    void put(const char*, std::size_t n) noexcept { size += n; }
    void put_hex(const std::uint8_t*, std::size_t n) noexcept { size += 2 * n; }
};

struct CopyingSink {
    char* out;
    void put(char c) noexcept { *out++ = c; }
    void put(const char* text, std::size_t n) noexcept {
        std::memcpy(out, text, n);
        out += n;
    }
    void put_hex(const std::uint8_t* bytes, std::size_t n) noexcept {
        hex_digits(bytes, n, out);
        out += 2 * n;
    }
};

template <typename Sink>
void put_decimal(Sink& sink, std::uint64_t value) noexcept {
    char digits[20];
    char* start = decimal_digits(value, digits + sizeof digits);
    sink.put(start, static_cast<std::size_t>(digits + sizeof digits - start));
}

template <typename Sink>
void put_set_id(Sink& sink, unsigned id) noexcept {
    if (id > 255)
        sink.put(NONE_TEXT, NONE_SIZE);
    else
        put_decimal(sink, id);
}

// A key's entry: apostrophe, key, "':'", then the value written by the caller.
template <typename Sink, std::size_t N>
void open_entry(Sink& sink, const char (&key)[N]) noexcept {
    sink.put('\'');
    sink.put(key, N - 1);
    sink.put("':'", 3);
}

template <typename Sink>
void close_entry(Sink& sink) noexcept {
    sink.put("',", 2);
}

// A list value: U+0003 before each element, so an empty list gives U+0003 alone.
template <typename Sink>
void put_list(Sink& sink, const TextBuffer& elements) noexcept {
    if (elements.empty())
        sink.put(RECORD_SEPARATOR);
    else
        sink.put(elements.data(), elements.size());
}

template <typename Sink, std::size_t N>
void put_empty_list_entry(Sink& sink, const char (&key)[N]) noexcept {
    open_entry(sink, key);
    sink.put(RECORD_SEPARATOR);
    close_entry(sink);
}

}  // namespace

template <typename Sink>
void Inventory::emit(Sink& sink, const std::uint8_t* guid, std::size_t guid_size) const noexcept {
    static constexpr const char* SYSTEM_KEYS[] = {
        "system_manufacturer", "system_product_name", "system_serial_number",
        "system_uuid",         "system_sku_number",   "system_family",
    };
    static_assert(std::size(SYSTEM_KEYS) == SYSTEM.rendered);

    sink.put('{');
    open_entry(sink, "smbios_type_id");
    sink.put('1');
    close_entry(sink);
    for (std::size_t k = 0; k < SYSTEM.rendered; ++k) {
        sink.put('\'');
        sink.put(SYSTEM_KEYS[k], std::strlen(SYSTEM_KEYS[k]));
        sink.put("':'", 3);
        const Value& value = system_[k];
        switch (value.kind) {
            case Value::Kind::Text:
                sink.put(reinterpret_cast<const char*>(value.bytes), value.size);
                break;
            case Value::Kind::Hex:
                sink.put_hex(value.bytes, value.size);
                break;
            default:
                sink.put(NONE_TEXT, NONE_SIZE);
                break;
        }
        close_entry(sink);
    }
    open_entry(sink, "smbios_major_version");
    put_decimal(sink, major_version_);
    close_entry(sink);
    open_entry(sink, "smbios_minor_version");
    put_decimal(sink, minor_version_);
    close_entry(sink);
    // The entry always passes document revision 0.
    open_entry(sink, "smbios_docrev_version");
    sink.put('0');
    close_entry(sink);

    open_entry(sink, "baseboard_list");
    put_list(sink, lists_[BASEBOARD_LIST]);
    close_entry(sink);
    open_entry(sink, "bios_list");
    put_list(sink, lists_[BIOS_LIST]);
    close_entry(sink);
    open_entry(sink, "chassis_list");
    put_list(sink, lists_[CHASSIS_LIST]);
    close_entry(sink);
    open_entry(sink, "cpu_list");
    put_list(sink, lists_[CPU_LIST]);
    close_entry(sink);
    put_empty_list_entry(sink, "cpu_cache_list");
    put_empty_list_entry(sink, "memory_controller_list");
    open_entry(sink, "memory_module_list");
    put_list(sink, lists_[MEMORY_MODULE_LIST]);
    close_entry(sink);
    put_empty_list_entry(sink, "system_slot_list");
    put_empty_list_entry(sink, "on_board_device_list");
    put_empty_list_entry(sink, "on_board_device_extended_list");
    put_empty_list_entry(sink, "physical_memory_array_list");

    // A set's text form: its identifier, then U+0004 before each device's text form.
    open_entry(sink, "memory_device_set_list");
    if (sets_.empty()) sink.put(RECORD_SEPARATOR);
    for (const DeviceSet& set : sets_) {
        sink.put(RECORD_SEPARATOR);
        put_set_id(sink, set.id);
        for (std::size_t d = set.first; d != NO_DEVICE; d = device_texts_[d].next) {
            const DeviceText& text = device_texts_[d];
            sink.put(ELEMENT_SEPARATOR);
            sink.put(devices_.data() + text.begin, text.end - text.begin);
        }
    }
    close_entry(sink);
    open_entry(sink, "memory_device_set_id_list");
    if (sets_.empty()) sink.put(RECORD_SEPARATOR);
    for (const DeviceSet& set : sets_) {
        sink.put(RECORD_SEPARATOR);
        put_set_id(sink, set.id);
    }
    close_entry(sink);

    open_entry(sink, "system_guid");
    sink.put(reinterpret_cast<const char*>(guid), guid_size);
    close_entry(sink);
    sink.put('}');
}

std::size_t Inventory::rendered_size(const std::uint8_t* guid, std::size_t guid_size) const noexcept {
    CountingSink sink;
    emit(sink, guid, guid_size);
    return sink.size;
}

void Inventory::render(char* out, const std::uint8_t* guid, std::size_t guid_size) const noexcept {
    CopyingSink sink{out};
    emit(sink, guid, guid_size);
}

}  // namespace brantel::inventory
