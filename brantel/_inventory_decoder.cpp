// brantel._inventory_decoder: the decoded inventory. One pass over the table,
// with the same cursor and field tables as the rendered inventory, builds the
// Python dict of brantel.decode() directly.
//
// The module imports nothing when it loads, so the command line can use it
// without loading the module frame and the standard modules that comes with.
// Where the rendered inventory refuses a table (a string set with no end, a
// string number past the set, a string that is not UTF-8) the decoded one
// goes on and says so in its warnings, as a peer decoder would.
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "inventory/field_reader.hpp"
#include "inventory/record_layouts.hpp"
#include "inventory/structure_table.hpp"
#include "inventory/utf8.hpp"
#include "toolkit/errors.hpp"
#include "toolkit/refs.hpp"

namespace brantel::inventory {
namespace {

// --- keys: interned once at load, borrowed afterwards ---

#define DECODED_KEYS(X)                                                                                \
    X(source) X(kind) X(path) X(smbios_version) X(warnings) X(bios) X(vendor) X(version) X(release_date) \
    X(system) X(manufacturer) X(product) X(serial_number) X(uuid) X(uuid_stored) X(sku) X(family)      \
    X(baseboards) X(asset_tag) X(type) X(chassis) X(processors) X(socket) X(max_speed_mhz)             \
    X(current_speed_mhz) X(core_count) X(core_enabled) X(thread_count) X(populated) X(status)          \
    X(part_number) X(memory_devices) X(locator) X(bank_locator) X(size_bytes) X(form_factor)           \
    X(speed_mts) X(configured_speed_mts) X(rank) X(set) X(memory_modules) X(installed_size_bytes)      \
    X(enabled_size_bytes) X(double_bank) X(totals) X(processor_sockets) X(processors_populated)        \
    X(processors_enabled) X(memory_bytes) X(memory_modules_bytes) X(blob)

enum KeyId {
#define KEY_ENUM(name) K_##name,
    DECODED_KEYS(KEY_ENUM)
#undef KEY_ENUM
        KEY_COUNT
};

const char* const KEY_TEXT[] = {
#define KEY_TEXT_ENTRY(name) #name,
    DECODED_KEYS(KEY_TEXT_ENTRY)
#undef KEY_TEXT_ENTRY
};

PyObject* keys[KEY_COUNT];

inline PyObject* key(KeyId id) noexcept { return keys[id]; }

// --- names of SMBIOS codes, as SMBIOS names them (and dmidecode prints them) ---

struct NameTable {
    const char* const* names;
    std::size_t count;  // names[k] is the name of code k; null: no name (reserved or unknown)
};

const char* const CHASSIS_TYPES[] = {
    nullptr, "Other", nullptr, "Desktop", "Low Profile Desktop", "Pizza Box", "Mini Tower", "Tower",
    "Portable", "Laptop", "Notebook", "Hand Held", "Docking Station", "All In One", "Sub Notebook",
    "Space-saving", "Lunch Box", "Main Server Chassis", "Expansion Chassis", "Sub Chassis",
    "Bus Expansion Chassis", "Peripheral Chassis", "RAID Chassis", "Rack Mount Chassis", "Sealed-case PC",
    "Multi-system", "CompactPCI", "AdvancedTCA", "Blade", "Blade Enclosing", "Tablet", "Convertible",
    "Detachable", "IoT Gateway", "Embedded PC", "Mini PC", "Stick PC",
};
const char* const BOARD_TYPES[] = {
    nullptr, nullptr, "Other", "Server Blade", "Connectivity Switch", "System Management Module",
    "Processor Module", "I/O Module", "Memory Module", "Daughter Board", "Motherboard",
    "Processor+Memory Module", "Processor+I/O Module", "Interconnect Board",
};
const char* const PROCESSOR_STATES[] = {
    nullptr, "Enabled", "Disabled By User", "Disabled By BIOS", "Idle", nullptr, nullptr, "Other",
};
const char* const FORM_FACTORS[] = {
    nullptr, "Other", nullptr, "SIMM", "SIP", "Chip", "DIP", "ZIP", "Proprietary Card", "DIMM", "TSOP",
    "Row Of Chips", "RIMM", "SODIMM", "SRIMM", "FB-DIMM", "Die",
};
const char* const MEMORY_TYPES[] = {
    nullptr, "Other", nullptr, "DRAM", "EDRAM", "VRAM", "SRAM", "RAM", "ROM", "Flash", "EEPROM", "FEPROM",
    "EPROM", "CDRAM", "3DRAM", "SDRAM", "SGRAM", "RDRAM", "DDR", "DDR2", "DDR2 FB-DIMM", nullptr, nullptr,
    nullptr, "DDR3", "FBD2", "DDR4", "LPDDR", "LPDDR2", "LPDDR3", "LPDDR4", "Logical non-volatile device",
    "HBM", "HBM2", "DDR5", "LPDDR5", "HBM3",
};

template <std::size_t N>
constexpr NameTable names(const char* const (&table)[N]) {
    return NameTable{table, N};
}

// The interned name objects of every table, made at load.
struct NameObjects {
    NameTable table;
    std::vector<PyObject*> objects;
};
NameObjects chassis_names{names(CHASSIS_TYPES), {}};
NameObjects board_names{names(BOARD_TYPES), {}};
NameObjects state_names{names(PROCESSOR_STATES), {}};
NameObjects form_names{names(FORM_FACTORS), {}};
NameObjects memory_type_names{names(MEMORY_TYPES), {}};
NameObjects* const ALL_NAMES[] = {&chassis_names, &board_names, &state_names, &form_names, &memory_type_names};

// --- rows of the field tables that the decoder reads, checked by name ---

constexpr std::size_t BIOS_VENDOR = 0, BIOS_VERSION = 1, BIOS_RELEASE_DATE = 2;
static_assert(field_named(BIOS, BIOS_VENDOR, "bios_vendor") && field_named(BIOS, BIOS_VERSION, "bios_version") &&
              field_named(BIOS, BIOS_RELEASE_DATE, "bios_release_date"));

constexpr std::size_t SYS_MANUFACTURER = 0, SYS_PRODUCT = 1, SYS_SERIAL = 2, SYS_UUID = 3, SYS_SKU = 4,
                      SYS_FAMILY = 5, SYS_VERSION = 6;
static_assert(field_named(SYSTEM, SYS_MANUFACTURER, "system_manufacturer") &&
              field_named(SYSTEM, SYS_PRODUCT, "system_product_name") &&
              field_named(SYSTEM, SYS_SERIAL, "system_serial_number") && field_named(SYSTEM, SYS_UUID, "system_uuid") &&
              field_named(SYSTEM, SYS_SKU, "system_sku_number") && field_named(SYSTEM, SYS_FAMILY, "system_family") &&
              field_named(SYSTEM, SYS_VERSION, "system_version"));

constexpr std::size_t BB_MANUFACTURER = 1, BB_PRODUCT = 2, BB_VERSION = 3, BB_SERIAL = 4, BB_TYPE = 6,
                      BB_ASSET_TAG = 9;
static_assert(field_named(BASEBOARD, BB_MANUFACTURER, "baseboard_manufacturer") &&
              field_named(BASEBOARD, BB_PRODUCT, "baseboard_product") &&
              field_named(BASEBOARD, BB_VERSION, "baseboard_version") &&
              field_named(BASEBOARD, BB_SERIAL, "baseboard_serial_number") &&
              field_named(BASEBOARD, BB_TYPE, "baseboard_board_type") &&
              field_named(BASEBOARD, BB_ASSET_TAG, "baseboard_asset_tag"));

constexpr std::size_t CH_MANUFACTURER = 1, CH_TYPE = 2, CH_VERSION = 3, CH_SERIAL = 4, CH_ASSET_TAG = 5,
                      CH_SKU = 8;
static_assert(field_named(CHASSIS, CH_MANUFACTURER, "chassis_manufacturer") &&
              field_named(CHASSIS, CH_TYPE, "chassis_type") && field_named(CHASSIS, CH_VERSION, "chassis_version") &&
              field_named(CHASSIS, CH_SERIAL, "chassis_serial_number") &&
              field_named(CHASSIS, CH_ASSET_TAG, "chassis_asset_tag") &&
              field_named(CHASSIS, CH_SKU, "chassis_sku_number"));

constexpr std::size_t CPU_SOCKET = 1, CPU_MANUFACTURER = 3, CPU_MAX_SPEED = 6, CPU_STATUS = 7, CPU_SERIAL = 8,
                      CPU_PART = 10, CPU_CORES = 11, CPU_CORES2 = 12, CPU_ENABLED = 13, CPU_ENABLED2 = 14,
                      CPU_THREADS = 15, CPU_THREADS2 = 16, CPU_VERSION = 24, CPU_CURRENT_SPEED = 25;
static_assert(field_named(PROCESSOR, CPU_SOCKET, "cpu_socket_designation") &&
              field_named(PROCESSOR, CPU_MANUFACTURER, "cpu_manufacturer") &&
              field_named(PROCESSOR, CPU_MAX_SPEED, "cpu_max_speed") && field_named(PROCESSOR, CPU_STATUS, "cpu_status") &&
              field_named(PROCESSOR, CPU_SERIAL, "cpu_serial_number") &&
              field_named(PROCESSOR, CPU_PART, "cpu_part_number") && field_named(PROCESSOR, CPU_CORES, "cpu_core_count") &&
              field_named(PROCESSOR, CPU_CORES2, "cpu_core_count2") &&
              field_named(PROCESSOR, CPU_ENABLED, "cpu_core_enabled") &&
              field_named(PROCESSOR, CPU_ENABLED2, "cpu_core_enabled2") &&
              field_named(PROCESSOR, CPU_THREADS, "cpu_thread_count") &&
              field_named(PROCESSOR, CPU_THREADS2, "cpu_thread_count2") &&
              field_named(PROCESSOR, CPU_VERSION, "cpu_version") &&
              field_named(PROCESSOR, CPU_CURRENT_SPEED, "cpu_current_speed"));

constexpr std::size_t MM_SOCKET = 1, MM_INSTALLED = 4, MM_ENABLED = 5;
static_assert(field_named(MEMORY_MODULE, MM_SOCKET, "mm_socket_designation") &&
              field_named(MEMORY_MODULE, MM_INSTALLED, "mm_installed_size") &&
              field_named(MEMORY_MODULE, MM_ENABLED, "mm_enabled_size"));

constexpr std::size_t MD_FORM = 5, MD_SET = 6, MD_LOCATOR = 7, MD_BANK = 8, MD_TYPE = 9, MD_SPEED = 11,
                      MD_EXT_SPEED = 12, MD_MANUFACTURER = 13, MD_SERIAL = 14, MD_PART = 16, MD_ATTRIBUTES = 17,
                      MD_SIZE = 18, MD_EXT_SIZE = 19, MD_CONF_SPEED = 22, MD_CONF_EXT_SPEED = 23;
static_assert(field_named(MEMORY_DEVICE, MD_FORM, "md_form_factor") &&
              field_named(MEMORY_DEVICE, MD_SET, "md_device_set_id") &&
              field_named(MEMORY_DEVICE, MD_LOCATOR, "md_device_locator") &&
              field_named(MEMORY_DEVICE, MD_BANK, "md_bank_locator") &&
              field_named(MEMORY_DEVICE, MD_TYPE, "md_memory_type") &&
              field_named(MEMORY_DEVICE, MD_SPEED, "md_max_speed") &&
              field_named(MEMORY_DEVICE, MD_EXT_SPEED, "md_max_extended_speed") &&
              field_named(MEMORY_DEVICE, MD_MANUFACTURER, "md_manufacturer") &&
              field_named(MEMORY_DEVICE, MD_SERIAL, "md_serial_number") &&
              field_named(MEMORY_DEVICE, MD_PART, "md_part_number") &&
              field_named(MEMORY_DEVICE, MD_ATTRIBUTES, "md_attributes") &&
              field_named(MEMORY_DEVICE, MD_SIZE, "md_size") &&
              field_named(MEMORY_DEVICE, MD_EXT_SIZE, "md_extended_size") &&
              field_named(MEMORY_DEVICE, MD_CONF_SPEED, "md_configured_speed") &&
              field_named(MEMORY_DEVICE, MD_CONF_EXT_SPEED, "md_configured_extended_speed"));

constexpr std::uint64_t KIB = 1024, MIB = 1024 * 1024;

// Each record dict starts as a copy of a template that holds its keys, in
// order, with None: copying a finished key table is cheaper than growing a
// new dict key by key, and the key order is fixed in one place.
enum Template { T_BASEBOARD, T_CHASSIS, T_PROCESSOR, T_MEMORY_DEVICE, T_MEMORY_MODULE, TEMPLATE_COUNT };
const std::initializer_list<KeyId> TEMPLATE_KEYS[] = {
    {K_manufacturer, K_product, K_version, K_serial_number, K_asset_tag, K_type},
    {K_manufacturer, K_type, K_version, K_serial_number, K_asset_tag, K_sku},
    {K_socket, K_manufacturer, K_version, K_max_speed_mhz, K_current_speed_mhz, K_core_count, K_core_enabled,
     K_thread_count, K_populated, K_status, K_serial_number, K_part_number},
    {K_locator, K_bank_locator, K_size_bytes, K_form_factor, K_type, K_speed_mts, K_configured_speed_mts, K_rank,
     K_manufacturer, K_serial_number, K_part_number, K_set},
    {K_socket, K_installed_size_bytes, K_enabled_size_bytes, K_double_bank},
};
PyObject* templates[TEMPLATE_COUNT];

// --- value objects ---

PyObject* none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}

PyObject* boolean(bool value) noexcept {
    PyObject* result = value ? Py_True : Py_False;
    Py_INCREF(result);
    return result;
}

PyObject* integer(std::uint64_t value) noexcept { return PyLong_FromUnsignedLongLong(value); }

// 0 is SMBIOS's "unknown" for counts and speeds.
PyObject* known(std::uint64_t value) noexcept { return value == 0 ? none() : integer(value); }

PyObject* name_of(const NameObjects& table, std::size_t code) noexcept {
    PyObject* name = code < table.objects.size() ? table.objects[code] : nullptr;
    if (name == nullptr) return none();
    Py_INCREF(name);
    return name;
}

// Sets dict[key] = value and drops the new reference `value`; false (error
// set) when the value could not be made or stored.
bool put(PyObject* dict, KeyId id, PyObject* value) noexcept {
    if (value == nullptr) return false;
    const int status = PyDict_SetItem(dict, key(id), value);
    Py_DECREF(value);
    return status == 0;
}

// put() for a dict copied from its template, whose values start as None:
// None needs no store.
bool fill(PyObject* dict, KeyId id, PyObject* value) noexcept {
    if (value == Py_None) {
        Py_DECREF(value);
        return true;
    }
    return put(dict, id, value);
}

void require(bool ok) {
    if (!ok) throw PyError();
}

// An unbounded sum of byte counts: a 64-bit part, carried into a Python int
// when it would overflow (a crafted table can hold sizes past 2^64 in total).
class ByteSum {
public:
    void add(std::uint64_t value) {
        if (low_ + value < low_) carry();
        low_ += value;
    }
    void add(PyObject* big) {  // borrowed Python int
        carry();
        high_ = high_ ? OwnedRef::checked(PyNumber_Add(high_.get(), big)) : OwnedRef::borrow(big);
    }
    PyObject* result() {
        carry();
        if (!high_) return integer(0);
        return high_.release();
    }

private:
    void carry() {
        if (low_ == 0) return;
        OwnedRef low = OwnedRef::checked(integer(low_));
        high_ = high_ ? OwnedRef::checked(PyNumber_Add(high_.get(), low.get())) : std::move(low);
        low_ = 0;
    }
    std::uint64_t low_ = 0;
    OwnedRef high_;
};

// --- the decoder ---

// The text objects of one decode, by content: tables repeat the same strings
// (a vendor, a processor model, "Not Specified") once per structure, and a
// shared object costs less than a new one each time.
class TextCache {
public:
    TextCache() = default;
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    ~TextCache() {
        for (Slot& slot : slots_) Py_XDECREF(slot.text);
    }

    // A new reference to the cached text of these bytes, or null when it is
    // not cached (no error set).
    PyObject* find(const std::uint8_t* bytes, std::size_t size, std::size_t& where) const noexcept {
        if (size > MAX_SIZE) return nullptr;
        std::uint32_t hash = 2166136261u;
        for (std::size_t k = 0; k < size; ++k) hash = (hash ^ bytes[k]) * 16777619u;
        where = hash % SLOTS;
        const Slot& slot = slots_[where];
        if (slot.text == nullptr || slot.size != size || std::memcmp(slot.bytes, bytes, size) != 0) return nullptr;
        Py_INCREF(slot.text);
        return slot.text;
    }
    // Keeps `text` (borrowed) for these bytes in the slot find() named, replacing what was there.
    void keep(std::size_t where, const std::uint8_t* bytes, std::size_t size, PyObject* text) noexcept {
        if (size > MAX_SIZE) return;
        Slot& slot = slots_[where];
        Py_XDECREF(slot.text);
        Py_INCREF(text);
        slot = Slot{bytes, size, text};
    }

private:
    static constexpr std::size_t SLOTS = 251;
    static constexpr std::size_t MAX_SIZE = 64;
    struct Slot {
        const std::uint8_t* bytes = nullptr;
        std::size_t size = 0;
        PyObject* text = nullptr;
    };
    Slot slots_[SLOTS];
};

class Decoder {
public:
    Decoder(std::uint8_t major, std::uint8_t minor) : major_(major), minor_(minor) {}

    PyObject* decode(const std::uint8_t* table, std::size_t size);

private:
    void walk(const std::uint8_t* table, std::size_t size);
    // Appends a warning; the text is formatted here because the interpreter's
    // own formatter has no zero-padded hexadecimal.
    template <typename... Args>
    void warn(const char* format, Args... args) {
        char text[512];
        std::snprintf(text, sizeof text, format, args...);
        OwnedRef owned = OwnedRef::checked(PyUnicode_FromString(text));
        if (PyList_Append(warnings_.get(), owned.get()) < 0) throw PyError();
    }
    Value read(const Structure& s, const RecordLayout& layout, std::size_t k, std::size_t shift = 0);
    PyObject* text(const Structure& s, const RecordLayout& layout, std::size_t k, std::size_t shift = 0);
    PyObject* text_of(const Structure& s, const Value& value);

    void read_bios(const Structure& s);
    void read_system(const Structure& s);
    void read_baseboard(const Structure& s);
    void read_chassis(const Structure& s);
    void read_processor(const Structure& s);
    void read_memory_module(const Structure& s);
    void read_memory_device(const Structure& s);
    PyObject* uuid(const Value& value) const;

    std::uint8_t major_, minor_;
    OwnedRef warnings_, bios_, system_, baseboards_, chassis_, processors_, devices_, modules_;
    std::size_t sockets_ = 0, populated_ = 0, enabled_ = 0;
    ByteSum memory_, module_memory_;
    bool have_bios_ = false;
    TextCache texts_;
};

OwnedRef new_dict() { return OwnedRef::checked(PyDict_New()); }
OwnedRef new_record(Template which) { return OwnedRef::checked(PyDict_Copy(templates[which])); }
OwnedRef new_list() { return OwnedRef::checked(PyList_New(0)); }

void append(const OwnedRef& list, const OwnedRef& item) {
    if (PyList_Append(list.get(), item.get()) < 0) throw PyError();
}

// A field of the structure by the table's reading rule; a string field is only
// located here (text() makes its object), so a bad string number is not fatal.
Value Decoder::read(const Structure& s, const RecordLayout& layout, std::size_t k, std::size_t shift) {
    const Field& f = layout.fields[k];
    if (f.source != Source::String) return read_field(s, f, layout.first_line, shift);
    Value value;
    if (!is_read(s, f, shift)) return value;
    const std::size_t offset = f.offset + (f.placement == Placement::AfterContainedElements ? shift : 0);
    const std::uint8_t number = s.bytes[offset];
    if (number == 0) return value;
    if (!s.strings.entry(number - 1u, value.bytes, value.size)) {
        warn("structure at offset %zu (type %u, handle 0x%04X): string number %u of %s "
             "is past the end of its string set",
             s.offset, unsigned{s.type}, unsigned{s.handle}, unsigned{number}, f.name);
        return value;
    }
    value.kind = Value::Kind::Text;
    return value;
}

// A string value as text, trailing spaces trimmed; undecodable bytes replaced, with a warning.
PyObject* Decoder::text_of(const Structure& s, const Value& value) {
    if (value.kind != Value::Kind::Text) return none();
    const auto* bytes = value.bytes;
    std::size_t size = value.size;
    while (size > 0 && bytes[size - 1] == ' ') --size;
    std::size_t slot = 0;
    if (PyObject* cached = texts_.find(bytes, size, slot)) return cached;
    bool ascii = true;
    for (std::size_t k = 0; k < size && ascii; ++k) ascii = bytes[k] < 0x80;
    if (ascii) {
        PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
        if (result == nullptr) return nullptr;
        std::memcpy(PyUnicode_1BYTE_DATA(result), bytes, size);
        texts_.keep(slot, bytes, size, result);
        return result;
    }
    if (!is_strict_utf8(bytes, size)) {
        warn("structure at offset %zu (type %u, handle 0x%04X): a string is not valid "
             "UTF-8; undecodable bytes are shown as U+FFFD",
             s.offset, unsigned{s.type}, unsigned{s.handle});
        return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(bytes), static_cast<Py_ssize_t>(size), "replace");
    }
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(bytes), static_cast<Py_ssize_t>(size), "strict");
}

PyObject* Decoder::text(const Structure& s, const RecordLayout& layout, std::size_t k, std::size_t shift) {
    return text_of(s, read(s, layout, k, shift));
}

// An integer field, or None when the structure is too short for it.
inline bool has(const Value& v) noexcept { return v.kind == Value::Kind::Integer; }

void Decoder::read_bios(const Structure& s) {
    // The first BIOS structure is the machine's; dmidecode shows any later one apart.
    if (have_bios_) return;
    have_bios_ = true;
    require(put(bios_.get(), K_vendor, text(s, BIOS, BIOS_VENDOR)) &&
          put(bios_.get(), K_version, text(s, BIOS, BIOS_VERSION)) &&
          put(bios_.get(), K_release_date, text(s, BIOS, BIOS_RELEASE_DATE)));
}

// SMBIOS 2.6 and later store the first three UUID fields little-endian; before
// 2.6 the bytes are taken as stored. All 0x00 or all 0xFF means no UUID.
PyObject* Decoder::uuid(const Value& value) const {
    const std::uint8_t* b = value.bytes;
    bool all_zero = true, all_ff = true;
    for (int k = 0; k < 16; ++k) {
        all_zero = all_zero && b[k] == 0x00;
        all_ff = all_ff && b[k] == 0xFF;
    }
    if (all_zero || all_ff) return none();
    static constexpr int STORED[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static constexpr int SWAPPED[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    const int* order = (major_ > 2 || (major_ == 2 && minor_ >= 6)) ? SWAPPED : STORED;
    char out[36];
    char* p = out;
    for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) *p++ = '-';
        hex_digits(b + order[k], 1, p);
        p += 2;
    }
    return PyUnicode_FromStringAndSize(out, 36);
}

// A later system structure overwrites what it is long enough for, as in the rendered inventory.
void Decoder::read_system(const Structure& s) {
    struct Row {
        std::size_t field;
        KeyId key;
    };
    static constexpr Row TEXT_ROWS[] = {
        {SYS_MANUFACTURER, K_manufacturer}, {SYS_PRODUCT, K_product}, {SYS_VERSION, K_version},
        {SYS_SERIAL, K_serial_number},      {SYS_SKU, K_sku},         {SYS_FAMILY, K_family},
    };
    for (const Row& row : TEXT_ROWS)
        if (is_read(s, SYSTEM_FIELDS[row.field])) require(put(system_.get(), row.key, text(s, SYSTEM, row.field)));
    const Value id = read(s, SYSTEM, SYS_UUID);
    if (id.kind == Value::Kind::Hex) {
        char stored[32];
        hex_digits(id.bytes, 16, stored);
        require(put(system_.get(), K_uuid, uuid(id)) &&
              put(system_.get(), K_uuid_stored, PyUnicode_FromStringAndSize(stored, 32)));
    }
}

void Decoder::read_baseboard(const Structure& s) {
    OwnedRef board = new_record(T_BASEBOARD);
    const Value type = read(s, BASEBOARD, BB_TYPE);
    require(fill(board.get(), K_manufacturer, text(s, BASEBOARD, BB_MANUFACTURER)) &&
          fill(board.get(), K_product, text(s, BASEBOARD, BB_PRODUCT)) &&
          fill(board.get(), K_version, text(s, BASEBOARD, BB_VERSION)) &&
          fill(board.get(), K_serial_number, text(s, BASEBOARD, BB_SERIAL)) &&
          fill(board.get(), K_asset_tag, text(s, BASEBOARD, BB_ASSET_TAG)) &&
          fill(board.get(), K_type, has(type) ? name_of(board_names, type.integer) : none()));
    append(baseboards_, board);
}

void Decoder::read_chassis(const Structure& s) {
    // The SKU follows the n contained elements of m bytes, as in the rendered inventory.
    const std::size_t n = s.length > CHASSIS_ELEMENT_COUNT ? s.bytes[CHASSIS_ELEMENT_COUNT] : 0;
    const std::size_t m = s.length > CHASSIS_ELEMENT_RECORD_LENGTH ? s.bytes[CHASSIS_ELEMENT_RECORD_LENGTH] : 0;
    OwnedRef chassis = new_record(T_CHASSIS);
    const Value type = read(s, CHASSIS, CH_TYPE);
    require(fill(chassis.get(), K_manufacturer, text(s, CHASSIS, CH_MANUFACTURER)) &&
          fill(chassis.get(), K_type, has(type) ? name_of(chassis_names, type.integer & 0x7F) : none()) &&
          fill(chassis.get(), K_version, text(s, CHASSIS, CH_VERSION)) &&
          fill(chassis.get(), K_serial_number, text(s, CHASSIS, CH_SERIAL)) &&
          fill(chassis.get(), K_asset_tag, text(s, CHASSIS, CH_ASSET_TAG)) &&
          fill(chassis.get(), K_sku, text(s, CHASSIS, CH_SKU, n * m)));
    append(chassis_, chassis);
}

// A one-byte count of 0xFF means: see the two-byte field, where the structure has it.
PyObject* count(const Value& one, const Value& two) {
    if (!has(one)) return none();
    if (one.integer == 0xFF && has(two)) return known(two.integer);
    return known(one.integer);
}

void Decoder::read_processor(const Structure& s) {
    ++sockets_;
    const Value status = read(s, PROCESSOR, CPU_STATUS);
    const Value max_speed = read(s, PROCESSOR, CPU_MAX_SPEED);
    const Value current_speed = read(s, PROCESSOR, CPU_CURRENT_SPEED);
    const bool populated = has(status) && (status.integer & 0x40) != 0;
    if (populated) ++populated_;
    if (populated && (status.integer & 0x07) == 1) ++enabled_;
    OwnedRef cpu = new_record(T_PROCESSOR);
    require(fill(cpu.get(), K_socket, text(s, PROCESSOR, CPU_SOCKET)) &&
          fill(cpu.get(), K_manufacturer, text(s, PROCESSOR, CPU_MANUFACTURER)) &&
          fill(cpu.get(), K_version, text(s, PROCESSOR, CPU_VERSION)) &&
          fill(cpu.get(), K_max_speed_mhz, has(max_speed) ? known(max_speed.integer) : none()) &&
          fill(cpu.get(), K_current_speed_mhz, has(current_speed) ? known(current_speed.integer) : none()) &&
          fill(cpu.get(), K_core_count, count(read(s, PROCESSOR, CPU_CORES), read(s, PROCESSOR, CPU_CORES2))) &&
          fill(cpu.get(), K_core_enabled, count(read(s, PROCESSOR, CPU_ENABLED), read(s, PROCESSOR, CPU_ENABLED2))) &&
          fill(cpu.get(), K_thread_count, count(read(s, PROCESSOR, CPU_THREADS), read(s, PROCESSOR, CPU_THREADS2))) &&
          fill(cpu.get(), K_populated, has(status) ? boolean(populated) : none()) &&
          fill(cpu.get(), K_status, populated ? name_of(state_names, status.integer & 0x07) : none()) &&
          fill(cpu.get(), K_serial_number, text(s, PROCESSOR, CPU_SERIAL)) &&
          fill(cpu.get(), K_part_number, text(s, PROCESSOR, CPU_PART)));
    append(processors_, cpu);
}

// A module size byte: bits 0-6 give 2^n MiB, or 0x7D not determinable, 0x7E
// disabled, 0x7F not installed. Adds the size to `sum` when there is one.
PyObject* module_size(const Value& v, ByteSum* sum) {
    if (!has(v)) return none();
    const unsigned exponent = v.integer & 0x7F;
    if (exponent == 0x7D) return none();
    if (exponent >= 0x7E) return integer(0);
    if (exponent + 20 < 64) {
        const std::uint64_t bytes = std::uint64_t{1} << (exponent + 20);
        if (sum != nullptr) sum->add(bytes);
        return integer(bytes);
    }
    OwnedRef one = OwnedRef::checked(PyLong_FromLong(1));
    OwnedRef shift = OwnedRef::checked(PyLong_FromUnsignedLong(exponent + 20));
    OwnedRef bytes = OwnedRef::checked(PyNumber_Lshift(one.get(), shift.get()));
    if (sum != nullptr) sum->add(bytes.get());
    return bytes.release();
}

void Decoder::read_memory_module(const Structure& s) {
    const Value installed = read(s, MEMORY_MODULE, MM_INSTALLED);
    const Value enabled = read(s, MEMORY_MODULE, MM_ENABLED);
    const bool double_bank_known = has(installed) && (installed.integer & 0x7F) != 0x7F;
    OwnedRef module = new_record(T_MEMORY_MODULE);
    require(fill(module.get(), K_socket, text(s, MEMORY_MODULE, MM_SOCKET)) &&
          fill(module.get(), K_installed_size_bytes, module_size(installed, nullptr)) &&
          fill(module.get(), K_enabled_size_bytes, module_size(enabled, &module_memory_)) &&
          fill(module.get(), K_double_bank, double_bank_known ? boolean((installed.integer & 0x80) != 0) : none()));
    append(modules_, module);
}

// A speed word: 0 unknown, 0xFFFF see the extended double word (bits 0-30).
PyObject* speed(const Value& word, const Value& extended) {
    if (!has(word)) return none();
    if (word.integer == 0xFFFF) return has(extended) ? known(extended.integer & 0x7FFFFFFF) : none();
    return known(word.integer);
}

void Decoder::read_memory_device(const Structure& s) {
    // Size: 0 no module installed, 0xFFFF unknown, 0x7FFF see the extended
    // size in MiB; otherwise MiB, or KiB when bit 15 is set.
    const Value size = read(s, MEMORY_DEVICE, MD_SIZE);
    const Value extended = read(s, MEMORY_DEVICE, MD_EXT_SIZE);
    bool size_known = has(size) && size.integer != 0xFFFF;
    std::uint64_t bytes = 0;
    if (size_known) {
        if (size.integer == 0x7FFF && has(extended))
            bytes = (extended.integer & 0x7FFFFFFFu) * MIB;
        else if (size.integer & 0x8000)
            bytes = (size.integer & 0x7FFF) * KIB;
        else
            bytes = size.integer * MIB;
        memory_.add(bytes);
    }
    const Value form = read(s, MEMORY_DEVICE, MD_FORM);
    const Value type = read(s, MEMORY_DEVICE, MD_TYPE);
    const Value attributes = read(s, MEMORY_DEVICE, MD_ATTRIBUTES);
    const Value set = read(s, MEMORY_DEVICE, MD_SET);
    OwnedRef device = new_record(T_MEMORY_DEVICE);
    require(fill(device.get(), K_locator, text(s, MEMORY_DEVICE, MD_LOCATOR)) &&
          fill(device.get(), K_bank_locator, text(s, MEMORY_DEVICE, MD_BANK)) &&
          fill(device.get(), K_size_bytes, size_known ? integer(bytes) : none()) &&
          fill(device.get(), K_form_factor, has(form) ? name_of(form_names, form.integer) : none()) &&
          fill(device.get(), K_type, has(type) ? name_of(memory_type_names, type.integer) : none()) &&
          fill(device.get(), K_speed_mts, speed(read(s, MEMORY_DEVICE, MD_SPEED), read(s, MEMORY_DEVICE, MD_EXT_SPEED))) &&
          fill(device.get(), K_configured_speed_mts,
              speed(read(s, MEMORY_DEVICE, MD_CONF_SPEED), read(s, MEMORY_DEVICE, MD_CONF_EXT_SPEED))) &&
          fill(device.get(), K_rank, has(attributes) ? known(attributes.integer & 0x0F) : none()) &&
          fill(device.get(), K_manufacturer, text(s, MEMORY_DEVICE, MD_MANUFACTURER)) &&
          fill(device.get(), K_serial_number, text(s, MEMORY_DEVICE, MD_SERIAL)) &&
          fill(device.get(), K_part_number, text(s, MEMORY_DEVICE, MD_PART)) &&
          // 0: not in a set; 0xFF: set unknown.
          fill(device.get(), K_set, has(set) && set.integer != 0 && set.integer != 0xFF ? integer(set.integer) : none()));
    append(devices_, device);
}

// The walk stops where a peer decoder stops: at a header too short to be one,
// at a string set with no end, and after the end-of-table structure.
void Decoder::walk(const std::uint8_t* table, std::size_t size) {
    StructureCursor cursor(table, size);
    Structure s;
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t remaining = size - offset;
        if (remaining < 4) {
            // Zero padding after the last structure is no anomaly.
            bool padding = true;
            for (std::size_t k = offset; k < size; ++k) padding = padding && table[k] == 0;
            if (!padding)
                warn("the table ends with %zu bytes at offset %zu, too few for a structure header",
                     remaining, offset);
            return;
        }
        if (table[offset + 1] < 4) {
            warn("structure at offset %zu (type %u) has a header length of %u, shorter than 4: "
                 "the table is broken there and its last %zu bytes were not read",
                 offset, unsigned{table[offset]}, unsigned{table[offset + 1]}, remaining);
            return;
        }
        if (!cursor.read(s)) {
            warn("structure at offset %zu (type %u, handle 0x%04X) has a string set with no "
                 "end: the table is cut short there",
                 offset, unsigned{s.type}, unsigned{s.handle});
            return;
        }
        switch (s.type) {
            case 0:
                read_bios(s);
                break;
            case 1:
                read_system(s);
                break;
            case 2:
                read_baseboard(s);
                break;
            case 3:
                read_chassis(s);
                break;
            case 4:
                read_processor(s);
                break;
            case 6:
                read_memory_module(s);
                break;
            case 17:
                read_memory_device(s);
                break;
            default:
                break;
        }
        cursor.advance(s);
        offset += s.size;
        if (s.type == 127) {
            bool padding = true;
            for (std::size_t k = offset; k < size; ++k) padding = padding && table[k] == 0;
            if (!padding)
                warn("%zu bytes follow the end-of-table structure at offset %zu and were not "
                     "read as structures",
                     size - offset, s.offset);
            return;
        }
    }
}

PyObject* Decoder::decode(const std::uint8_t* table, std::size_t size) {
    warnings_ = new_list();
    bios_ = new_dict();
    system_ = new_dict();
    baseboards_ = new_list();
    chassis_ = new_list();
    processors_ = new_list();
    devices_ = new_list();
    modules_ = new_list();
    for (KeyId id : {K_vendor, K_version, K_release_date}) require(put(bios_.get(), id, none()));
    for (KeyId id : {K_manufacturer, K_product, K_version, K_serial_number, K_uuid, K_uuid_stored, K_sku, K_family})
        require(put(system_.get(), id, none()));

    walk(table, size);

    OwnedRef source = new_dict();
    require(put(source.get(), K_kind, (Py_INCREF(key(K_blob)), key(K_blob))) && put(source.get(), K_path, none()));
    OwnedRef totals = new_dict();
    const bool any_modules = PyList_GET_SIZE(modules_.get()) > 0;
    require(put(totals.get(), K_processor_sockets, integer(sockets_)) &&
          put(totals.get(), K_processors_populated, integer(populated_)) &&
          put(totals.get(), K_processors_enabled, integer(enabled_)) &&
          put(totals.get(), K_memory_bytes, memory_.result()) &&
          put(totals.get(), K_memory_modules_bytes, any_modules ? module_memory_.result() : none()));

    OwnedRef result = new_dict();
    require(put(result.get(), K_source, source.release()) &&
          put(result.get(), K_smbios_version, PyUnicode_FromFormat("%u.%u", major_, minor_)) &&
          put(result.get(), K_warnings, warnings_.release()) && put(result.get(), K_bios, bios_.release()) &&
          put(result.get(), K_system, system_.release()) && put(result.get(), K_baseboards, baseboards_.release()) &&
          put(result.get(), K_chassis, chassis_.release()) && put(result.get(), K_processors, processors_.release()) &&
          put(result.get(), K_memory_devices, devices_.release()) &&
          put(result.get(), K_memory_modules, modules_.release()) && put(result.get(), K_totals, totals.release()));
    return result.release();
}

// --- module functions ---

PyObject* decode(PyObject*, PyObject* blob) {
    Py_buffer view;
    if (PyObject_GetBuffer(blob, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result = nullptr;
    try {
        const auto* data = static_cast<const std::uint8_t*>(view.buf);
        const auto size = static_cast<std::size_t>(view.len);
        if (size < 2) {
            PyErr_Format(PyExc_ValueError,
                         "an SMBIOS blob starts with its major and minor version bytes; this one has %zu byte%s",
                         size, size == 1 ? "" : "s");
        } else {
            Decoder decoder(data[0], data[1]);
            result = decoder.decode(data + 2, size - 2);
        }
    } catch (const PyError&) {
        result = nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        result = nullptr;
    }
    PyBuffer_Release(&view);
    return result;
}

const char* kind_of(const Field& f) {
    switch (f.source) {
        case Source::Handle:
        case Source::Integer:
            return "int";
        case Source::HandleList:
            return "handles";
        default:
            return "text";
    }
}

// The rendered layouts: for each list of the rendered inventory, the record
// type and its text items as (field name, kind) pairs, smbios_type_id first.
PyObject* rendered_layouts(PyObject*, PyObject*) {
    struct Entry {
        const char* list;
        const RecordLayout* layout;
    };
    static const Entry ENTRIES[] = {
        {"baseboard_list", &BASEBOARD}, {"bios_list", &BIOS},           {"chassis_list", &CHASSIS},
        {"cpu_list", &PROCESSOR},       {"memory_module_list", &MEMORY_MODULE}, {"memory_device_set_list", &MEMORY_DEVICE},
    };
    try {
        OwnedRef result = new_dict();
        for (const Entry& entry : ENTRIES) {
            const RecordLayout& layout = *entry.layout;
            OwnedRef items = OwnedRef::checked(PyTuple_New(static_cast<Py_ssize_t>(layout.rendered + 1)));
            PyTuple_SET_ITEM(items.get(), 0, check(Py_BuildValue("(ss)", "smbios_type_id", "int")));
            for (std::size_t k = 0; k < layout.rendered; ++k)
                PyTuple_SET_ITEM(items.get(), static_cast<Py_ssize_t>(k + 1),
                                 check(Py_BuildValue("(ss)", layout.fields[k].name, kind_of(layout.fields[k]))));
            OwnedRef value = OwnedRef::checked(Py_BuildValue("(iO)", layout.type_id, items.get()));
            if (PyDict_SetItemString(result.get(), entry.list, value.get()) < 0) throw PyError();
        }
        return result.release();
    } catch (const PyError&) {
        return nullptr;
    }
}

PyMethodDef METHODS[] = {
    {"decode", decode, METH_O,
     "decode(blob, /)\n--\n\nThe decoded inventory of an SMBIOS blob (major version, minor version, table) as a dict."},
    {"rendered_layouts", rendered_layouts, METH_NOARGS,
     "rendered_layouts()\n--\n\n{list key: (type id, ((field name, kind), ...))} of the rendered inventory's records."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef MODULE = {
    PyModuleDef_HEAD_INIT,
    "brantel._inventory_decoder",
    "The decoded inventory: SMBIOS tables as Python dicts, in one native pass.",
    -1,
    METHODS,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool make_constants() {
    for (int k = 0; k < KEY_COUNT; ++k) {
        if (keys[k] != nullptr) continue;
        keys[k] = PyUnicode_InternFromString(KEY_TEXT[k]);
        if (keys[k] == nullptr) return false;
    }
    for (int t = 0; t < TEMPLATE_COUNT; ++t) {
        if (templates[t] != nullptr) continue;
        templates[t] = PyDict_New();
        if (templates[t] == nullptr) return false;
        for (KeyId id : TEMPLATE_KEYS[t])
            if (PyDict_SetItem(templates[t], key(id), Py_None) < 0) return false;
    }
    for (NameObjects* table : ALL_NAMES) {
        if (!table->objects.empty()) continue;
        table->objects.assign(table->table.count, nullptr);
        for (std::size_t k = 0; k < table->table.count; ++k) {
            if (table->table.names[k] == nullptr) continue;
            table->objects[k] = PyUnicode_InternFromString(table->table.names[k]);
            if (table->objects[k] == nullptr) return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace brantel::inventory

PyMODINIT_FUNC PyInit__inventory_decoder(void) {
    try {
        if (!brantel::inventory::make_constants()) return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return PyModule_Create(&brantel::inventory::MODULE);
}
