// Reads the module's version resource.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

namespace rt::version {

// A string of the version block (language US English, Unicode: "040904B0"); empty when absent.
std::wstring String(std::wstring_view key);
// The fixed part: file version as major, minor, build, revision.
struct Numbers {
    WORD major = 0, minor = 0, build = 0, revision = 0;
    bool operator==(const Numbers &) const = default;
};
Numbers FileVersion();
// The same of any file (a DLL or program of either architecture, read as data); nothing when the
// file has no version resource or cannot be read.
std::optional<Numbers> FileVersion(const std::wstring &file);
// "major.minor.build.revision"
std::wstring Text(const Numbers &numbers);

} // namespace rt::version
