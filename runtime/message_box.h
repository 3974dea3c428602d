// The runtime's modal message box.
#pragma once

#include <optional>
#include <string_view>

#include <windows.h>

namespace rt {

// Shows a modal message box and waits for its answer. Without a title of its own the box carries
// the application's title (its InternalName). A box that cannot be shown (no display, for one)
// is a failure of the caller's statement.
HRESULT MsgBox(std::wstring_view prompt, UINT style, std::optional<std::wstring_view> title, int *answer);

} // namespace rt
