// The registry of structure types: for each type 0-46, in numeric order, its
// list key (or singleton key), its title and its rows (types/*.hpp). A type
// whose rows are NOT_DECODED gives generic records in other_structures.
#include "decoded_types.hpp"

#include <cstddef>
#include <iterator>

#include "record_layouts.hpp"

#include "types/bios.hpp"
#include "types/system.hpp"
#include "types/baseboard.hpp"
#include "types/chassis.hpp"
#include "types/processor.hpp"
#include "types/memory_controller.hpp"
#include "types/memory_module.hpp"
#include "types/cache.hpp"
#include "types/port_connector.hpp"
#include "types/system_slot.hpp"
#include "types/onboard_device_group.hpp"
#include "types/oem_strings.hpp"
#include "types/system_configuration_options.hpp"
#include "types/bios_language.hpp"
#include "types/group_association.hpp"
#include "types/system_event_log.hpp"
#include "types/physical_memory_array.hpp"
#include "types/memory_device.hpp"
#include "types/memory_error_32_bit.hpp"
#include "types/memory_array_mapped_address.hpp"
#include "types/memory_device_mapped_address.hpp"
#include "types/pointing_device.hpp"
#include "types/portable_battery.hpp"
#include "types/system_reset.hpp"
#include "types/hardware_security.hpp"
#include "types/system_power_controls.hpp"
#include "types/voltage_probe.hpp"
#include "types/cooling_device.hpp"
#include "types/temperature_probe.hpp"
#include "types/electrical_current_probe.hpp"
#include "types/out_of_band_remote_access.hpp"
#include "types/boot_integrity_services.hpp"
#include "types/system_boot.hpp"
#include "types/memory_error_64_bit.hpp"
#include "types/management_device.hpp"
#include "types/management_device_component.hpp"
#include "types/management_device_threshold_data.hpp"
#include "types/memory_channel.hpp"
#include "types/ipmi_device.hpp"
#include "types/system_power_supply.hpp"
#include "types/additional_information.hpp"
#include "types/onboard_device_extended.hpp"
#include "types/management_controller_host_interface.hpp"
#include "types/tpm_device.hpp"
#include "types/processor_additional_information.hpp"
#include "types/firmware_inventory.hpp"
#include "types/string_property.hpp"

namespace brantel::inventory::decoded {

namespace {
// clang-format off
constexpr TypeEntry REGISTRY[] = {
    {0, "bios", "BIOS Information", Place::Singleton, &BIOS_ROWS},
    {1, "system", "System Information", Place::Singleton, &SYSTEM_ROWS},
    {2, "baseboards", "Baseboard (or Module) Information", Place::List, &BASEBOARD_ROWS},
    {3, "chassis", "System Enclosure or Chassis", Place::List, &CHASSIS_ROWS},
    {4, "processors", "Processor Information", Place::List, &PROCESSOR_ROWS},
    {5, "memory_controllers", "Memory Controller Information", Place::List, &MEMORY_CONTROLLER_ROWS},
    {6, "memory_modules", "Memory Module Information", Place::List, &MEMORY_MODULE_ROWS},
    {7, "caches", "Cache Information", Place::List, &CACHE_ROWS},
    {8, "port_connectors", "Port Connector Information", Place::List, &PORT_CONNECTOR_ROWS},
    {9, "system_slots", "System Slots", Place::List, &SYSTEM_SLOT_ROWS},
    {10, "onboard_device_groups", "On Board Devices Information", Place::List, &ONBOARD_DEVICE_GROUP_ROWS},
    {11, "oem_strings", "OEM Strings", Place::List, &OEM_STRINGS_ROWS},
    {12, "system_configuration_options", "System Configuration Options", Place::List, &SYSTEM_CONFIGURATION_OPTIONS_ROWS},
    {13, "bios_languages", "BIOS Language Information", Place::List, &BIOS_LANGUAGE_ROWS},
    {14, "group_associations", "Group Associations", Place::List, &GROUP_ASSOCIATION_ROWS},
    {15, "system_event_logs", "System Event Log", Place::List, &SYSTEM_EVENT_LOG_ROWS},
    {16, "physical_memory_arrays", "Physical Memory Array", Place::List, &PHYSICAL_MEMORY_ARRAY_ROWS},
    {17, "memory_devices", "Memory Device", Place::List, &MEMORY_DEVICE_ROWS},
    {18, "memory_errors_32_bit", "32-Bit Memory Error Information", Place::List, &MEMORY_ERROR_32_BIT_ROWS},
    {19, "memory_array_mapped_addresses", "Memory Array Mapped Address", Place::List, &MEMORY_ARRAY_MAPPED_ADDRESS_ROWS},
    {20, "memory_device_mapped_addresses", "Memory Device Mapped Address", Place::List, &MEMORY_DEVICE_MAPPED_ADDRESS_ROWS},
    {21, "pointing_devices", "Built-in Pointing Device", Place::List, &POINTING_DEVICE_ROWS},
    {22, "portable_batteries", "Portable Battery", Place::List, &PORTABLE_BATTERY_ROWS},
    {23, "system_resets", "System Reset", Place::List, &SYSTEM_RESET_ROWS},
    {24, "hardware_security", "Hardware Security", Place::List, &HARDWARE_SECURITY_ROWS},
    {25, "system_power_controls", "System Power Controls", Place::List, &SYSTEM_POWER_CONTROLS_ROWS},
    {26, "voltage_probes", "Voltage Probe", Place::List, &VOLTAGE_PROBE_ROWS},
    {27, "cooling_devices", "Cooling Device", Place::List, &COOLING_DEVICE_ROWS},
    {28, "temperature_probes", "Temperature Probe", Place::List, &TEMPERATURE_PROBE_ROWS},
    {29, "electrical_current_probes", "Electrical Current Probe", Place::List, &ELECTRICAL_CURRENT_PROBE_ROWS},
    {30, "out_of_band_remote_access", "Out-of-Band Remote Access", Place::List, &OUT_OF_BAND_REMOTE_ACCESS_ROWS},
    {31, "boot_integrity_services", "Boot Integrity Services (BIS) Entry Point", Place::List, &BOOT_INTEGRITY_SERVICES_ROWS},
    {32, "system_boot", "System Boot Information", Place::List, &SYSTEM_BOOT_ROWS},
    {33, "memory_errors_64_bit", "64-Bit Memory Error Information", Place::List, &MEMORY_ERROR_64_BIT_ROWS},
    {34, "management_devices", "Management Device", Place::List, &MANAGEMENT_DEVICE_ROWS},
    {35, "management_device_components", "Management Device Component", Place::List, &MANAGEMENT_DEVICE_COMPONENT_ROWS},
    {36, "management_device_threshold_data", "Management Device Threshold Data", Place::List, &MANAGEMENT_DEVICE_THRESHOLD_DATA_ROWS},
    {37, "memory_channels", "Memory Channel", Place::List, &MEMORY_CHANNEL_ROWS},
    {38, "ipmi_devices", "IPMI Device Information", Place::List, &IPMI_DEVICE_ROWS},
    {39, "power_supplies", "System Power Supply", Place::List, &SYSTEM_POWER_SUPPLY_ROWS},
    {40, "additional_information", "Additional Information", Place::List, &ADDITIONAL_INFORMATION_ROWS},
    {41, "onboard_devices", "Onboard Devices Extended Information", Place::List, &ONBOARD_DEVICE_EXTENDED_ROWS},
    {42, "management_controller_host_interfaces", "Management Controller Host Interface", Place::List, &MANAGEMENT_CONTROLLER_HOST_INTERFACE_ROWS},
    {43, "tpm_devices", "TPM Device", Place::List, &TPM_DEVICE_ROWS},
    {44, "processor_additional_information", "Processor Additional Information", Place::List, &PROCESSOR_ADDITIONAL_INFORMATION_ROWS},
    {45, "firmware_inventory", "Firmware Inventory Information", Place::List, &FIRMWARE_INVENTORY_ROWS},
    {46, "string_properties", "String Property", Place::List, &STRING_PROPERTY_ROWS},
};
// clang-format on

constexpr bool in_type_order() {
    for (std::size_t k = 0; k < std::size(REGISTRY); ++k)
        if (REGISTRY[k].type != k) return false;
    return true;
}
static_assert(in_type_order(), "one registry line per type, in numeric order");
static_assert(std::size(REGISTRY) == LAST_DEFINED_TYPE + 1);
}  // namespace

// --- one home for every offset: the rendered inventory's rows that name a fact
// of the decoded tables sit where the decoded row does, with the same width ---

constexpr bool same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// (No pointer comparisons: gcc's sanitizer builds refuse them in constant expressions.)
constexpr bool same_place(const RecordLayout& layout, const char* field, const TypeRows& rows, const char* key) {
    for (std::size_t k = 0; k < layout.count; ++k) {
        if (!same_text(layout.fields[k].name, field)) continue;
        for (std::size_t j = 0; j < rows.count; ++j)
            if (same_text(rows.rows[j].key, key))
                return layout.fields[k].offset == rows.rows[j].offset && layout.fields[k].width == rows.rows[j].width;
    }
    return false;
}

struct SharedFact {
    const RecordLayout* layout;
    const char* field;
    const TypeRows* rows;
    const char* key;
};

// clang-format off
constexpr SharedFact SHARED_FACTS[] = {
    {&BIOS, "bios_vendor", &BIOS_ROWS, "vendor"},
    {&SYSTEM, "system_manufacturer", &SYSTEM_ROWS, "manufacturer"},
    {&SYSTEM, "system_product_name", &SYSTEM_ROWS, "product"},
    {&SYSTEM, "system_serial_number", &SYSTEM_ROWS, "serial_number"},
    {&SYSTEM, "system_uuid", &SYSTEM_ROWS, "uuid"},
    {&SYSTEM, "system_uuid", &SYSTEM_ROWS, "uuid_stored"},
    {&SYSTEM, "system_sku_number", &SYSTEM_ROWS, "sku"},
    {&SYSTEM, "system_family", &SYSTEM_ROWS, "family"},
    {&BASEBOARD, "baseboard_manufacturer", &BASEBOARD_ROWS, "manufacturer"},
    {&BASEBOARD, "baseboard_product", &BASEBOARD_ROWS, "product"},
    {&BASEBOARD, "baseboard_version", &BASEBOARD_ROWS, "version"},
    {&BASEBOARD, "baseboard_serial_number", &BASEBOARD_ROWS, "serial_number"},
    {&BASEBOARD, "baseboard_board_type", &BASEBOARD_ROWS, "type"},
    {&BASEBOARD, "baseboard_chassis_handle", &BASEBOARD_ROWS, "chassis_handle"},
    {&BASEBOARD, "baseboard_number_of_contained_object_handles", &BASEBOARD_ROWS, "number_of_contained_object_handles"},
    {&CHASSIS, "chassis_manufacturer", &CHASSIS_ROWS, "manufacturer"},
    {&CHASSIS, "chassis_type", &CHASSIS_ROWS, "type"},
    {&CHASSIS, "chassis_version", &CHASSIS_ROWS, "version"},
    {&CHASSIS, "chassis_serial_number", &CHASSIS_ROWS, "serial_number"},
    {&CHASSIS, "chassis_asset_tag", &CHASSIS_ROWS, "asset_tag"},
    {&CHASSIS, "chassis_sku_number", &CHASSIS_ROWS, "sku"},
    {&CHASSIS, "chassis_oem_defined", &CHASSIS_ROWS, "oem_defined"},
    {&CHASSIS, "chassis_height", &CHASSIS_ROWS, "height_u"},
    {&PROCESSOR, "cpu_socket_designation", &PROCESSOR_ROWS, "socket"},
    {&PROCESSOR, "cpu_manufacturer", &PROCESSOR_ROWS, "manufacturer"},
    {&PROCESSOR, "cpu_max_speed", &PROCESSOR_ROWS, "max_speed_mhz"},
    {&PROCESSOR, "cpu_status", &PROCESSOR_ROWS, "status"},
    {&PROCESSOR, "cpu_serial_number", &PROCESSOR_ROWS, "serial_number"},
    {&PROCESSOR, "cpu_part_number", &PROCESSOR_ROWS, "part_number"},
    {&PROCESSOR, "cpu_core_count", &PROCESSOR_ROWS, "core_count"},
    {&PROCESSOR, "cpu_core_enabled", &PROCESSOR_ROWS, "core_enabled"},
    {&PROCESSOR, "cpu_thread_count", &PROCESSOR_ROWS, "thread_count"},
    {&PROCESSOR, "cpu_upgrade", &PROCESSOR_ROWS, "upgrade"},
    {&PROCESSOR, "cpu_voltage", &PROCESSOR_ROWS, "voltage_mv"},
    {&PROCESSOR, "cpu_asset_tag", &PROCESSOR_ROWS, "asset_tag"},
    {&PROCESSOR, "cpu_thread_enabled", &PROCESSOR_ROWS, "thread_enabled"},
    {&PROCESSOR, "cpu_l1_cache_handle", &PROCESSOR_ROWS, "l1_cache_handle"},
    {&PROCESSOR, "cpu_l2_cache_handle", &PROCESSOR_ROWS, "l2_cache_handle"},
    {&PROCESSOR, "cpu_l3_cache_handle", &PROCESSOR_ROWS, "l3_cache_handle"},
    {&MEMORY_MODULE, "mm_socket_designation", &MEMORY_MODULE_ROWS, "socket"},
    {&MEMORY_MODULE, "mm_installed_size", &MEMORY_MODULE_ROWS, "installed_size_bytes"},
    {&MEMORY_MODULE, "mm_enabled_size", &MEMORY_MODULE_ROWS, "enabled_size_bytes"},
    {&MEMORY_DEVICE, "md_form_factor", &MEMORY_DEVICE_ROWS, "form_factor"},
    {&MEMORY_DEVICE, "md_device_set_id", &MEMORY_DEVICE_ROWS, "set"},
    {&MEMORY_DEVICE, "md_device_locator", &MEMORY_DEVICE_ROWS, "locator"},
    {&MEMORY_DEVICE, "md_bank_locator", &MEMORY_DEVICE_ROWS, "bank_locator"},
    {&MEMORY_DEVICE, "md_memory_type", &MEMORY_DEVICE_ROWS, "type"},
    {&MEMORY_DEVICE, "md_max_speed", &MEMORY_DEVICE_ROWS, "speed_mts"},
    {&MEMORY_DEVICE, "md_manufacturer", &MEMORY_DEVICE_ROWS, "manufacturer"},
    {&MEMORY_DEVICE, "md_serial_number", &MEMORY_DEVICE_ROWS, "serial_number"},
    {&MEMORY_DEVICE, "md_part_number", &MEMORY_DEVICE_ROWS, "part_number"},
    {&MEMORY_DEVICE, "md_attributes", &MEMORY_DEVICE_ROWS, "rank"},
    {&MEMORY_DEVICE, "md_size", &MEMORY_DEVICE_ROWS, "size_bytes"},
};
// clang-format on

constexpr bool shared_facts_agree() {
    for (const SharedFact& fact : SHARED_FACTS)
        if (!same_place(*fact.layout, fact.field, *fact.rows, fact.key)) return false;
    return true;
}
static_assert(shared_facts_agree(), "a rendered row and the decoded row of the same fact disagree on offset or width");

const TypeEntry* type_entry(unsigned type) noexcept {
    return type < std::size(REGISTRY) ? &REGISTRY[type] : nullptr;
}

const TypeEntry* registry_begin() noexcept { return REGISTRY; }
const TypeEntry* registry_end() noexcept { return REGISTRY + std::size(REGISTRY); }

}  // namespace brantel::inventory::decoded
