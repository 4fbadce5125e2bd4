// Names of the processor additional information structure's codes (type 44).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// Processor-specific block: the processor architecture type (0 reserved).
inline constexpr CodeName PROCESSOR_ARCHITECTURE_TYPES_ROWS[] = {
    {0x01, "IA32 (x86)"},
    {0x02, "x64 (x86-64, Intel64, AMD64, EM64T)"},
    {0x03, "Intel Itanium architecture"},
    {0x04, "32-bit ARM (Aarch32)"},
    {0x05, "64-bit ARM (Aarch64)"},
    {0x06, "32-bit RISC-V (RV32)"},
    {0x07, "64-bit RISC-V (RV64)"},
    {0x08, "128-bit RISC-V (RV128)"},
    {0x09, "32-bit LoongArch (LoongArch32)"},
    {0x0A, "64-bit LoongArch (LoongArch64)"},
};
inline constexpr NameTable PROCESSOR_ARCHITECTURE_TYPES = name_table(PROCESSOR_ARCHITECTURE_TYPES_ROWS);

}  // namespace brantel::inventory::decoded
