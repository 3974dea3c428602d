// Reads the module's version resource.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace rt::version {

// A string of the version block (language US English, Unicode: "040904B0"); empty when absent.
std::wstring String(std::wstring_view key);
// The fixed part: file version as major, minor, build, revision.
struct Numbers {
    WORD major = 0, minor = 0, build = 0, revision = 0;
};
Numbers FileVersion();

} // namespace rt::version
