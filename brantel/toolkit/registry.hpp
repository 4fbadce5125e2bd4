// The functions each subsystem publishes in brantel._sysprobe_internal.
#pragma once

#include "function.hpp"

namespace brantel {

struct SpecList {
    const FunctionSpec* const* items;
    Py_ssize_t count;
};

namespace inventory {
SpecList published_functions();  // the inventory entry and the three queries
}

namespace ciphers {
SpecList published_services();  // urandom and the AES/RSA services
}

}  // namespace brantel
