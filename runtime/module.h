// The identity of the module (DLL) the runtime is linked into: its instance handle, which holds the
// resources, and the project name that runtime errors carry as their source.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace rt::module {

// Called once from DllMain (or a test's main) before anything else of the runtime is used.
void Init(HINSTANCE instance, std::wstring_view projectName);

HINSTANCE Instance();
std::wstring_view ProjectName();
// The full path of the module file.
const std::wstring &FilePath();

} // namespace rt::module
