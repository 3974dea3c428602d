// The names of a leak: a printf format with one %u stands for `count` names, numbered from 1. The
// leaky program adds them; the tests know from the same pattern what the census must find.
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
