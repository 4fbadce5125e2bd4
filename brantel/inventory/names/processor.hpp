// Names of the processor structure's codes (type 4).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// CPU status (bits 2:0 of the status byte); 0 (Unknown) reads null.
inline constexpr CodeName PROCESSOR_STATE_ROWS[] = {
    {0x01, "Enabled"},
    {0x02, "Disabled By User"},
    {0x03, "Disabled By BIOS"},
    {0x04, "Idle"},
    {0x07, "Other"},
};
inline constexpr NameTable PROCESSOR_STATES = name_table(PROCESSOR_STATE_ROWS);

}  // namespace brantel::inventory::decoded
