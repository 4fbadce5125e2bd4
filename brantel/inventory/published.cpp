// What the inventory publishes in brantel._sysprobe_internal.
#include <iterator>

#include "../toolkit/registry.hpp"
#include "published.hpp"

namespace brantel::inventory {

SpecList published_functions() {
    static const FunctionSpec* const FUNCTIONS[] = {
        &PARSE_WINDOWS_HARDWARE_INFO,
        &GET_POPULATED_CPUS,
        &GET_MEMORY_DEVICES,
        &GET_MEMORY_MODULES,
    };
    return SpecList{FUNCTIONS, static_cast<Py_ssize_t>(std::size(FUNCTIONS))};
}

}  // namespace brantel::inventory
