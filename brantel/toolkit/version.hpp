// The load-time comparison of the compile-time and run-time interpreter versions.
#pragma once

namespace brantel {

// Whether "X.Y" versions agree the way the load check compares them: only the
// first and third characters, so "3.7" and "3.70" agree and "3.11" and "3.1"
// agree too. Kept exactly so; stored expectations depend on the warning.
inline bool versions_agree(const char* compiled, const char* running) noexcept {
    auto at = [](const char* s, int i) -> char {
        for (int k = 0; k < i; ++k)
            if (s[k] == '\0') return '\0';
        return s[i];
    };
    return at(compiled, 0) == at(running, 0) && at(compiled, 2) == at(running, 2);
}

}  // namespace brantel
