// The decimal text of an integer, for the few numbers the runtime writes into keys, paths and
// messages. (std::to_wstring would bring the C runtime's whole wide printf into every DLL.)
#pragma once

#include <string>

namespace rt {

inline std::wstring Decimal(long long n) {
    wchar_t digits[24];
    size_t first = sizeof digits / sizeof *digits;
    unsigned long long rest = n < 0 ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    do {
        digits[--first] = static_cast<wchar_t>(L'0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (n < 0) digits[--first] = L'-';
    return std::wstring(digits + first, digits + sizeof digits / sizeof *digits);
}

} // namespace rt
