// The names of a leak, as the census's tests make one: a printf format with one %u (any width)
// stands for `count` names, numbered from 1. Shared by the leaky program, which adds them, and the
// tests, which know from it what the census must find.
#pragma once

#include <cwchar>
#include <string>
#include <vector>

namespace census {

struct LeakPattern {
    std::wstring format;
    unsigned count;
};

inline std::vector<std::wstring> LeakNames(const LeakPattern &pattern) {
    std::vector<std::wstring> names;
    for (unsigned i = 1; i <= pattern.count; ++i) {
        wchar_t name[300] = {};
        swprintf(name, 300, pattern.format.c_str(), i);
        names.push_back(name);
    }
    return names;
}

} // namespace census
