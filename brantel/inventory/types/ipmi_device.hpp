// Type 38: IPMI Device Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/management.hpp"

namespace brantel::inventory::decoded {

constexpr std::uint8_t IPMI_MODIFIER = 0x10;
constexpr unsigned IPMI_SSIF = 0x04;

// The base address: bit 0 of the stored value says I/O (1) or memory (0)
// space and is no address bit; the modifier's bit 4 (where the structure has
// one) is the address's bit 0. For SSIF the field is the target's SMBus
// address and is given as stored.
inline PyObject* ipmi_base_address(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t stored = read_raw(s, row.offset, 8);
    if (s.bytes[0x04] == IPMI_SSIF) return integer(stored);
    const std::uint64_t low_bit = holds(s, IPMI_MODIFIER, 1) ? (s.bytes[IPMI_MODIFIER] >> 4) & 1 : 0;
    return integer((stored & ~std::uint64_t{1}) | low_bit);
}

inline PyObject* ipmi_base_address_space(Reader&, const Structure& s, const Row& row) {
    if (s.bytes[0x04] == IPMI_SSIF) return none();
    return PyUnicode_FromString(s.bytes[row.offset] & 1 ? "I/O" : "Memory");
}

// Interrupt polarity (modifier bit 1) and trigger mode (bit 0) mean something
// only where bit 3 says the interrupt information is given.
template <unsigned Bit>
PyObject* ipmi_interrupt_bit(Reader& reader, const Structure& s, const Row& row) {
    const unsigned modifier = s.bytes[row.offset];
    if ((modifier & 0x08) == 0) return none();
    return reader.name(*row.names, (modifier >> Bit) & 1);
}

inline constexpr Row IPMI_DEVICE_FIELDS[] = {
    enumeration("interface_type", "Interface Type", 0x04, 1, names::IPMI_INTERFACE_TYPE),
    version("specification_version", "IPMI Specification Revision", 0x05, 1),
    integer("i2c_target_address", "I2C Target Address", 0x06, 1),
    integer("nv_storage_device_address", "NV Storage Device Address", 0x07, 1).unknown(0xFF),
    custom("base_address", "Base Address", 0x08, 8, ipmi_base_address, Shape::Int),
    custom("base_address_space", nullptr, 0x08, 8, ipmi_base_address_space, Shape::Text),
    enumeration("register_spacing", "Register Spacing", 0x10, 1, names::IPMI_REGISTER_SPACING).masked(0xC0, 6),
    custom("interrupt_polarity", "Interrupt Polarity", 0x10, 1, ipmi_interrupt_bit<1>, Shape::Enum,
           &names::IPMI_INTERRUPT_POLARITY),
    custom("interrupt_trigger_mode", "Interrupt Trigger Mode", 0x10, 1, ipmi_interrupt_bit<0>, Shape::Enum,
           &names::IPMI_INTERRUPT_TRIGGER_MODE),
    integer("interrupt_number", "Interrupt Number", 0x11, 1).unknown(0),  // 0: none given
};
inline constexpr TypeRows IPMI_DEVICE_ROWS = rows(IPMI_DEVICE_FIELDS);

}  // namespace brantel::inventory::decoded
