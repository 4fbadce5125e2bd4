// The module's public helper functions (sha1, base64_decode, chdir, getcwd).
#pragma once

#include "../toolkit/registry.hpp"

namespace brantel::ciphers {

SpecList helper_functions();  // in the order they are bound

}  // namespace brantel::ciphers
