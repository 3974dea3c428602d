#include "message_box.h"

#include <string>

#include "errors.h"
#include "version_info.h"

namespace rt {

HRESULT MsgBox(std::wstring_view prompt, UINT style, std::optional<std::wstring_view> title, int *answer) {
    return Guarded([&] {
        // The platform reads both texts up to their first NUL.
        const std::wstring text(prompt);
        const std::wstring caption = title ? std::wstring(*title) : version::String(L"InternalName");
        SetLastError(ERROR_SUCCESS);
        const int result = MessageBoxW(GetActiveWindow(), text.c_str(), caption.c_str(), style);
        if (result <= 0) {
            const DWORD error = GetLastError();
            return Raise(error ? HRESULT_FROM_WIN32(error) : E_FAIL, L"The message box could not be shown");
        }
        if (answer) *answer = result;
        return S_OK;
    });
}

} // namespace rt
