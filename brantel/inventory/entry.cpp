// parse_windows_hardware_info: the inventory entry. Takes the blob apart, walks
// its table, decodes the GUID and returns the rendered inventory as bytes.
#include <cstdint>
#include <iterator>

#include "../toolkit/errors.hpp"
#include "../toolkit/refs.hpp"
#include "../toolkit/traceback.hpp"
#include "inventory.hpp"
#include "published.hpp"
#include "source_lines.hpp"
#include "utf8.hpp"

namespace brantel::inventory {

namespace {

// Sets the Python error for a failed walk and adds the entries of the inner
// calls (string_from_position inside parse_smbios), innermost first, so the
// traceback reads like the nested calls; then throws.
[[noreturn]] void raise_walk_error(Call& call, const WalkError& error) {
    bool in_string_lookup = true;
    switch (error.kind) {
        case WalkError::Kind::NoStringSetEnd:
            PyErr_SetString(PyExc_ValueError, "Couldn't find end of text strings!");
            in_string_lookup = false;
            break;
        case WalkError::Kind::NoStringEntry:
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            break;
        case WalkError::Kind::StringNotUtf8: {
            // The interpreter's own decoder words the message and fills the
            // exception's attributes.
            OwnedRef decoded = OwnedRef::steal(PyUnicode_DecodeUTF8(
                reinterpret_cast<const char*>(error.text), static_cast<Py_ssize_t>(error.text_size), "strict"));
            if (decoded) PyErr_SetString(PyExc_SystemError, "string accepted by the decoder was refused");
            break;
        }
        case WalkError::Kind::None:
            PyErr_SetString(PyExc_SystemError, "walk failed without an error");
            in_string_lookup = false;
            break;
    }
    if (in_string_lookup)
        add_traceback_entry("brantel.brantel_sysprobe.string_from_position", lines::STRING_FROM_POSITION_LOOKUP,
                            call.globals());
    add_traceback_entry("brantel.brantel_sysprobe.parse_smbios", error.walker_line, call.globals());
    throw PyError();
}

PyObject* parse_windows_hardware_info(Call& call, PyObject* const* args) {
    PyObject* win_smbios = args[0];
    PyObject* guid = args[1];

    call.at(lines::ENTRY_MAJOR_VERSION);
    if (win_smbios == Py_None) raise(PyExc_TypeError, "'NoneType' object is not subscriptable");
    const Py_ssize_t blob_size = PyBytes_GET_SIZE(win_smbios);
    if (blob_size < 1) raise(PyExc_IndexError, "index out of range");
    call.at(lines::ENTRY_MINOR_VERSION);
    if (blob_size < 2) raise(PyExc_IndexError, "index out of range");
    const auto* blob = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(win_smbios));

    call.at(lines::ENTRY_WALK);
    Inventory inventory(blob[0], blob[1]);
    if (const WalkError error = inventory.walk(blob + 2, static_cast<std::size_t>(blob_size - 2)))
        raise_walk_error(call, error);

    // The GUID is looked at only after the walk, so walk errors come first.
    call.at(lines::ENTRY_GUID);
    if (guid == Py_None) raise(PyExc_AttributeError, "'NoneType' object has no attribute 'decode'");
    const auto* guid_text = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(guid));
    const auto guid_size = static_cast<std::size_t>(PyBytes_GET_SIZE(guid));
    if (!is_strict_utf8(guid_text, guid_size)) {
        OwnedRef::checked(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(guid), PyBytes_GET_SIZE(guid), "strict"));
        raise(PyExc_SystemError, "GUID accepted by the decoder was refused");
    }

    call.at(lines::ENTRY_RENDER);
    const std::size_t size = inventory.rendered_size(guid_text, guid_size);
    OwnedRef result = OwnedRef::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    inventory.render(PyBytes_AS_STRING(result.get()), guid_text, guid_size);
    return result.release();
}

const Param PARAMS[] = {
    {"win_smbios", "bytes", TypeCheck::Bytes},
    {"guid", "bytes", TypeCheck::Bytes},
};

const char* const LOCALS[] = {
    "system_info",
    "bios_info",
    "chassis_info",
    "chassis_contained_element",
    "baseboard_info",
    "cpu_info",
    "memory_module_info",
    "memory_device_set_info",
    "memory_device_info",
    "string_from_position",
    "parse_smbios",
    "SMBIOS_major_version",
    "SMBIOS_minor_version",
    "SMBIOS_table_data",
    "final_str",
    "key",
    "value",
    "str_value",
    "element",
};

}  // namespace

const FunctionSpec PARSE_WINDOWS_HARDWARE_INFO = {
    "parse_windows_hardware_info",
    lines::ENTRY,
    CallForm::PosOrKw,
    PARAMS,
    static_cast<Py_ssize_t>(std::size(PARAMS)),
    "bytes",
    LOCALS,
    static_cast<Py_ssize_t>(std::size(LOCALS)),
    nullptr,
    parse_windows_hardware_info,
};

}  // namespace brantel::inventory
