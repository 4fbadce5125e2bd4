// Source lines that traceback entries of the inventory functions show, in one
// place: the entry, its two walker functions, the per-type readers and the queries.
#pragma once

namespace brantel::inventory::lines {

// parse_windows_hardware_info
inline constexpr int ENTRY = 300;
inline constexpr int ENTRY_MAJOR_VERSION = 960;  // SMBIOS_major_version = win_smbios[0]
inline constexpr int ENTRY_MINOR_VERSION = 961;  // SMBIOS_minor_version = win_smbios[1]
inline constexpr int ENTRY_WALK = 963;           // parse_smbios(SMBIOS_table_data, ...)
inline constexpr int ENTRY_GUID = 964;           // system_info['system_guid'] = guid.decode('utf-8')
inline constexpr int ENTRY_RENDER = 966;         // the loop that builds final_str
inline constexpr int ENTRY_RETURN = 975;         // return final_str.encode('utf-8')

// string_from_position: both the list index and the decode are on this line.
inline constexpr int STRING_FROM_POSITION_LOOKUP = 552;

// parse_smbios
inline constexpr int WALK_STRING_SET_END = 566;  // raise ValueError("Couldn't find end of text strings!")
// The first field read of each per-type reader; field k of a layout is read on
// line READ_<TYPE> + k.
inline constexpr int READ_BIOS = 571;
inline constexpr int READ_SYSTEM = 576;
inline constexpr int READ_BASEBOARD = 585;
inline constexpr int READ_CHASSIS = 601;
inline constexpr int READ_PROCESSOR = 631;
inline constexpr int READ_MEMORY_MODULE = 666;
inline constexpr int READ_MEMORY_DEVICE = 681;

// get_populated_cpus
inline constexpr int POPULATED_CPUS = 1010;
inline constexpr int POPULATED_CPUS_LOOP = 1011;    // for cpu in cpu_list:
inline constexpr int POPULATED_CPUS_SPLIT = 1012;   // cpu_items = cpu.split('\x02')
inline constexpr int POPULATED_CPUS_STATUS = 1013;  // cpu_status = bin(int(cpu_items[8]))[2:].zfill(8)[::-1]
inline constexpr int POPULATED_CPUS_APPEND = 1015;  // populated_cpu_list.append(cpu_items)

// get_memory_devices
inline constexpr int MEMORY_DEVICES = 1030;
inline constexpr int MEMORY_DEVICES_LOOP = 1033;      // for memory_device_set in memory_device_set_list:
inline constexpr int MEMORY_DEVICES_SETS = 1034;      // for memory_device in memory_device_set.split('\x04')[1:]:
inline constexpr int MEMORY_DEVICES_SPLIT = 1035;     // memory_device_items = memory_device.split('\x02')
inline constexpr int MEMORY_DEVICES_TUPLE = 1036;     // memory_device_structure_set.add((...))
inline constexpr int MEMORY_DEVICES_SIZE = 1037;      // size = int(memory_device_items[19])
inline constexpr int MEMORY_DEVICES_EXTENDED = 1039;  // memory_size += int(memory_device_items[20]) * 1024
inline constexpr int MEMORY_DEVICES_ADD = 1043;       // memory_size += ...
inline constexpr int MEMORY_DEVICES_RETURN = 1047;

// get_memory_modules
inline constexpr int MEMORY_MODULES = 1060;
inline constexpr int MEMORY_MODULES_LOOP = 1063;     // for memory_module in memory_module_list:
inline constexpr int MEMORY_MODULES_PIECES = 1064;   // pieces = memory_module.split('\x04')
inline constexpr int MEMORY_MODULES_SPLIT = 1068;    // memory_module_items = module.split('\x02')
inline constexpr int MEMORY_MODULES_SOCKET = 1069;   // memory_module_set.add(memory_module_items[2])
inline constexpr int MEMORY_MODULES_ENABLED = 1070;  // enabled = int(memory_module_items[6])
inline constexpr int MEMORY_MODULES_ADD = 1072;      // memory_size += 2 ** (enabled & 0x7F) * 1024
inline constexpr int MEMORY_MODULES_RETURN = 1073;

}  // namespace brantel::inventory::lines
