#include "ansi.h"

#include <climits>

#include "errors.h"

namespace rt::ansi {

HRESULT FromWide(std::wstring_view text, std::string &out) {
    out.clear();
    if (text.empty()) return S_OK;
    if (text.size() > static_cast<size_t>(INT_MAX / 2)) return Raise(RtError::OutOfMemory);
    const int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return Raise(HRESULT_FROM_WIN32(GetLastError()));
    out.resize(static_cast<size_t>(needed));
    if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr) !=
        needed) {
        out.clear();
        return Raise(HRESULT_FROM_WIN32(GetLastError()));
    }
    return S_OK;
}

HRESULT ToWide(std::string_view bytes, std::wstring &out) {
    out.clear();
    if (bytes.empty()) return S_OK;
    if (bytes.size() > static_cast<size_t>(INT_MAX / 2)) return Raise(RtError::OutOfMemory);
    const int length = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return Raise(HRESULT_FROM_WIN32(GetLastError()));
    out.resize(static_cast<size_t>(needed));
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), needed) != needed) {
        out.clear();
        return Raise(HRESULT_FROM_WIN32(GetLastError()));
    }
    return S_OK;
}

} // namespace rt::ansi
