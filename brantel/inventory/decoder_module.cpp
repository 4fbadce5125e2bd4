// brantel._inventory_decoder: the decoded inventory (brantel.decode) and the
// descriptions of its rows and of the rendered inventory's records.
//
// The module imports nothing when it loads, so the command line can use it
// without loading the module frame and the standard modules that comes with.
// Where the rendered inventory refuses a table (a string set with no end, a
// string number past the set, a string that is not UTF-8) the decoded one
// goes on and says so in its warnings, as a peer decoder would.
#include <Python.h>

#include <cstdint>
#include <iterator>
#include <new>

#include "../toolkit/errors.hpp"
#include "../toolkit/refs.hpp"
#include "decoded_types.hpp"
#include "decoded_values.hpp"
#include "decoder.hpp"
#include "record_layouts.hpp"

namespace brantel::inventory {
namespace {

PyObject* decode_blob(PyObject* blob, bool with_probe, const decoded::TypeSet* only = nullptr) {
    Py_buffer view;
    if (PyObject_GetBuffer(blob, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result = nullptr;
    const auto* data = static_cast<const std::uint8_t*>(view.buf);
    const auto size = static_cast<std::size_t>(view.len);
    if (size < 2)
        PyErr_Format(PyExc_ValueError,
                     "an SMBIOS blob starts with its major and minor version bytes; this one has %zu byte%s", size,
                     size == 1 ? "" : "s");
    else
        result = decoded::decode_table(data[0], data[1], data + 2, size - 2, with_probe, only);
    PyBuffer_Release(&view);
    return result;
}

PyObject* decode(PyObject*, PyObject* blob) { return decode_blob(blob, false); }
PyObject* probe(PyObject*, PyObject* blob) { return decode_blob(blob, true); }

PyObject* decode_types(PyObject*, PyObject* args) {
    PyObject* blob = nullptr;
    PyObject* types = nullptr;
    if (!PyArg_ParseTuple(args, "OO:decode_types", &blob, &types)) return nullptr;
    decoded::TypeSet only;
    OwnedRef iterator = OwnedRef::steal(PyObject_GetIter(types));
    if (!iterator) return nullptr;
    while (PyObject* item = PyIter_Next(iterator.get())) {
        const long type = PyLong_AsLong(item);
        Py_DECREF(item);
        if (type == -1 && PyErr_Occurred()) return nullptr;
        if (type < 0 || type > 255) {
            PyErr_Format(PyExc_ValueError, "a structure type is a number from 0 to 255, not %ld", type);
            return nullptr;
        }
        only.set(static_cast<std::size_t>(type));
    }
    if (PyErr_Occurred()) return nullptr;
    return decode_blob(blob, false, &only);
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
        OwnedRef result = OwnedRef::checked(PyDict_New());
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

// --- the decoded rows, for the schema, the text report and the peer comparison ---

const char* const KIND_NAMES[] = {"integer", "string", "enum", "bits", "flag", "size", "speed", "voltage", "handle",
                                  "bus_address", "uuid", "hex", "string_list", "version", "custom"};
const char* const SHAPE_NAMES[] = {"int", "text", "bool", "enum", "int_list", "text_list", "int_or_int_list",
                                   "records", "signed_int"};
static_assert(std::size(KIND_NAMES) == static_cast<std::size_t>(decoded::Kind::Custom) + 1);
static_assert(std::size(SHAPE_NAMES) == static_cast<std::size_t>(decoded::Shape::SignedInt) + 1);

void set(PyObject* dict, const char* key, PyObject* value) {
    OwnedRef owned = OwnedRef::checked(value);
    check_status(PyDict_SetItemString(dict, key, owned.get()));
}

PyObject* text_or_none(const char* text) {
    if (text == nullptr) Py_RETURN_NONE;
    return PyUnicode_FromString(text);
}

PyObject* describe_rows(const decoded::Row* rows, std::size_t count) {
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; k < count; ++k) {
        const decoded::Row& row = rows[k];
        OwnedRef item = OwnedRef::checked(PyDict_New());
        set(item.get(), "key", PyUnicode_FromString(row.key));
        set(item.get(), "label", text_or_none(row.label));
        set(item.get(), "kind", PyUnicode_FromString(KIND_NAMES[static_cast<int>(row.kind)]));
        set(item.get(), "shape", PyUnicode_FromString(SHAPE_NAMES[static_cast<int>(row.shape)]));
        set(item.get(), "offset", PyLong_FromLong(row.offset));
        set(item.get(), "width", PyLong_FromLong(row.width));
        set(item.get(), "guard", PyLong_FromLong(row.guard));
        set(item.get(), "unit", PyLong_FromUnsignedLongLong(row.unit));
        set(item.get(), "after_items", PyBool_FromLong(row.shifted));
        if (row.names != nullptr) {
            OwnedRef names = OwnedRef::checked(PyList_New(0));
            for (std::size_t n = 0; n < row.names->count; ++n) {
                OwnedRef name = OwnedRef::checked(PyUnicode_FromString(row.names->rows[n].name));
                check_status(PyList_Append(names.get(), name.get()));
            }
            set(item.get(), "names", names.release());
        } else {
            set(item.get(), "names", text_or_none(nullptr));
        }
        check_status(PyList_Append(list.get(), item.get()));
    }
    return list.release();
}

// Every type 0-46: {"type", "key", "title", "place", "decoded", "rows", "items"}.
PyObject* layouts(PyObject*, PyObject*) {
    return at_boundary(
        []() -> PyObject* {
            OwnedRef result = OwnedRef::checked(PyList_New(0));
            for (const decoded::TypeEntry* entry = decoded::registry_begin(); entry != decoded::registry_end();
                 ++entry) {
                const decoded::TypeRows& rows = *entry->rows;
                OwnedRef item = OwnedRef::checked(PyDict_New());
                set(item.get(), "type", PyLong_FromLong(entry->type));
                set(item.get(), "key", PyUnicode_FromString(entry->key));
                set(item.get(), "title", PyUnicode_FromString(entry->title));
                set(item.get(), "place",
                    PyUnicode_FromString(entry->place == decoded::Place::List ? "list" : "singleton"));
                set(item.get(), "decoded", PyBool_FromLong(rows.rows != nullptr));
                set(item.get(), "rows", describe_rows(rows.rows, rows.count));
                if (rows.items != nullptr && rows.items->key != nullptr) {
                    const decoded::Items& items = *rows.items;
                    OwnedRef rule = OwnedRef::checked(PyDict_New());
                    set(rule.get(), "key", PyUnicode_FromString(items.key));
                    set(rule.get(), "label", text_or_none(items.label));
                    set(rule.get(), "rows", describe_rows(items.rows, items.count));
                    set(item.get(), "items", rule.release());
                } else {
                    set(item.get(), "items", text_or_none(nullptr));
                }
                check_status(PyList_Append(result.get(), item.get()));
            }
            return result.release();
        },
        static_cast<PyObject*>(nullptr));
}

PyMethodDef METHODS[] = {
    {"decode", decode, METH_O,
     "decode(blob, /)\n--\n\nThe decoded inventory of an SMBIOS blob (major version, minor version, table) as a dict."},
    {"decode_types", decode_types, METH_VARARGS,
     "decode_types(blob, types, /)\n--\n\ndecode(), reading only the structures whose type is in types; the "
     "others are left out of the lists, the totals and the warnings."},
    {"rendered_layouts", rendered_layouts, METH_NOARGS,
     "rendered_layouts()\n--\n\n{list key: (type id, ((field name, kind), ...))} of the rendered inventory's records."},
    {"layouts", layouts, METH_NOARGS,
     "layouts()\n--\n\nThe decoded inventory's rows: one dict per structure type 0-46 (key, title, place, rows, items)."},
    {"_probe", probe, METH_O,
     "_probe(blob, /)\n--\n\ndecode(), with type 200 read by a row of every value kind into 'probes' (for tests)."},
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

}  // namespace
}  // namespace brantel::inventory

PyMODINIT_FUNC PyInit__inventory_decoder(void) {
    if (!brantel::inventory::decoded::prepare_decoder()) return nullptr;
    return PyModule_Create(&brantel::inventory::MODULE);
}
