// Type 43: TPM Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/firmware.hpp"

namespace brantel::inventory::decoded {

// Four ASCII characters; trailing NULs dropped, any byte outside printable
// ASCII (and the backslash) written as \xNN so that the text stays inert.
inline PyObject* tpm_vendor_id(Reader&, const Structure& s, const Row& row) {
    std::size_t size = 4;
    while (size > 0 && s.bytes[row.offset + size - 1] == 0) --size;
    char text[4 * 4 + 1];
    std::size_t out = 0;
    for (std::size_t k = 0; k < size; ++k) {
        const unsigned c = s.bytes[row.offset + k];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text[out++] = static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789abcdef";
            text[out++] = '\\', text[out++] = 'x', text[out++] = digits[c >> 4], text[out++] = digits[c & 0x0F];
        }
    }
    text[out] = '\0';
    return PyUnicode_FromString(text);
}

// Major 1: the firmware version is the revision of the TPM_VERSION bytes at
// 0x0A (revMajor at 0x0C, revMinor at 0x0D); major 2: the high and low words
// of firmware version 1. Other majors: null.
inline PyObject* tpm_firmware_version(Reader&, const Structure& s, const Row& row) {
    switch (s.bytes[0x08]) {
        case 1:
            return PyUnicode_FromFormat("%u.%u", unsigned{s.bytes[row.offset + 2]}, unsigned{s.bytes[row.offset + 3]});
        case 2: {
            const std::uint64_t v1 = read_raw(s, row.offset, 4);
            return PyUnicode_FromFormat("%u.%u", unsigned(v1 >> 16), unsigned(v1 & 0xFFFF));
        }
        default:
            return none();
    }
}

inline constexpr Row TPM_DEVICE_FIELDS[] = {
    custom("vendor_id", "Vendor ID", 0x04, 4, tpm_vendor_id, Shape::Text),
    version("specification_version", "Specification Version", 0x08, 2),
    custom("firmware_version", "Firmware Version", 0x0A, 4, tpm_firmware_version, Shape::Text),
    integer("firmware_version_1", nullptr, 0x0A, 4),
    integer("firmware_version_2", nullptr, 0x0E, 4),
    string("description", "Description", 0x12),
    bits("characteristics", "Characteristics", 0x13, 8, names::TPM_CHARACTERISTICS),
    integer("oem_defined", "OEM-defined", 0x1B, 4),
};
inline constexpr TypeRows TPM_DEVICE_ROWS = rows(TPM_DEVICE_FIELDS);

}  // namespace brantel::inventory::decoded
