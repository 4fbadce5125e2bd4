// One inventory: the walk over a structure table, which files every handled
// structure's text form under its list, and the rendering of the 24 keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "field_reader.hpp"
#include "walk_error.hpp"

namespace brantel::inventory {

class Inventory {
public:
    Inventory(std::uint8_t major_version, std::uint8_t minor_version) noexcept
        : major_version_(major_version), minor_version_(minor_version) {}

    // Walks the table once. Any error ends the walk; the inventory is then not
    // to be rendered. The table must outlive the inventory (text points into it).
    WalkError walk(const std::uint8_t* table, std::size_t size);

    // The rendered inventory with `guid` (strict UTF-8, checked by the caller)
    // under system_guid: its size, and the bytes written to `out`.
    std::size_t rendered_size(const std::uint8_t* guid, std::size_t guid_size) const noexcept;
    void render(char* out, const std::uint8_t* guid, std::size_t guid_size) const noexcept;

private:
    // The lists that records are appended to, each element preceded by U+0003.
    enum List { BASEBOARD_LIST, BIOS_LIST, CHASSIS_LIST, CPU_LIST, MEMORY_MODULE_LIST, LIST_COUNT };

    // A memory device's text form inside devices_, chained to the next device of its set.
    struct DeviceText {
        std::size_t begin, end;
        std::size_t next;  // NO_DEVICE at the end of the set
    };
    // A memory device set: its identifier (0-255, or NONE_ID) and its devices in table order.
    struct DeviceSet {
        unsigned id;
        std::size_t first, last;
    };
    static constexpr unsigned NONE_ID = 256;
    static constexpr std::size_t NO_DEVICE = static_cast<std::size_t>(-1);

    void read_structure(const Structure& s);
    void append_to(List list, const RecordLayout& layout, const Structure& s, std::size_t shift = 0);
    void read_system(const Structure& s);
    void read_chassis(const Structure& s);
    void read_memory_device(const Structure& s);

    template <typename Sink>
    void emit(Sink& sink, const std::uint8_t* guid, std::size_t guid_size) const noexcept;

    std::uint8_t major_version_;
    std::uint8_t minor_version_;
    Value system_[std::size(SYSTEM_FIELDS)];
    TextBuffer lists_[LIST_COUNT];
    TextBuffer devices_;
    std::vector<DeviceText> device_texts_;
    std::vector<DeviceSet> sets_;
    std::int16_t set_of_id_[NONE_ID + 1];
};

}  // namespace brantel::inventory
