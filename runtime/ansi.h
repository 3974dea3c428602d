// The one place that converts between automation (UTF-16) strings and the system ANSI code page,
// as the platform's ...A entry points need them. Characters the code page cannot represent become
// its default substitute; embedded NULs are kept.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace rt::ansi {

// Converts text to the ANSI code page. On failure returns a raised error (and leaves out empty).
HRESULT FromWide(std::wstring_view text, std::string &out);

// Converts ANSI bytes back to UTF-16. On failure returns a raised error (and leaves out empty).
HRESULT ToWide(std::string_view bytes, std::wstring &out);

} // namespace rt::ansi
