// Type 25: System Power Controls.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"

namespace brantel::inventory::decoded {

// A BCD byte from Low to High; anything else (FFh included) null, as is a
// field the firmware does not set.
template <unsigned Low, unsigned High>
PyObject* bcd_in(Reader&, const Structure& s, const Row& row) {
    const unsigned raw = s.bytes[row.offset], tens = raw >> 4, units = raw & 0x0F;
    if (tens > 9 || units > 9) return none();
    const unsigned value = tens * 10 + units;
    return value < Low || value > High ? none() : integer(value);
}

inline constexpr Row SYSTEM_POWER_CONTROLS_FIELDS[] = {
    custom("next_scheduled_power_on_month", "Next Scheduled Power-on Month", 0x04, 1, bcd_in<1, 12>, Shape::Int),
    custom("next_scheduled_power_on_day_of_month", "Next Scheduled Power-on Day-of-month", 0x05, 1, bcd_in<1, 31>,
           Shape::Int),
    custom("next_scheduled_power_on_hour", "Next Scheduled Power-on Hour", 0x06, 1, bcd_in<0, 23>, Shape::Int),
    custom("next_scheduled_power_on_minute", "Next Scheduled Power-on Minute", 0x07, 1, bcd_in<0, 59>, Shape::Int),
    custom("next_scheduled_power_on_second", "Next Scheduled Power-on Second", 0x08, 1, bcd_in<0, 59>, Shape::Int),
};
inline constexpr TypeRows SYSTEM_POWER_CONTROLS_ROWS = rows(SYSTEM_POWER_CONTROLS_FIELDS);

}  // namespace brantel::inventory::decoded
