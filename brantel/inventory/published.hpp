// The inventory's function descriptions, defined by the files that hold their bodies.
#pragma once

#include "../toolkit/function.hpp"

namespace brantel::inventory {

extern const FunctionSpec PARSE_WINDOWS_HARDWARE_INFO;
extern const FunctionSpec GET_POPULATED_CPUS;
extern const FunctionSpec GET_MEMORY_DEVICES;
extern const FunctionSpec GET_MEMORY_MODULES;

}  // namespace brantel::inventory
