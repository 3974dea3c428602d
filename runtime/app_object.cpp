#include "app_object.h"

#include "errors.h"
#include "module.h"
#include "version_info.h"

namespace rt {
namespace {

HRESULT Out(BSTR *result, std::wstring_view text) {
    if (!result) return E_POINTER;
    *result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *result ? S_OK : Raise(RtError::OutOfMemory);
}

HRESULT Out(short *result, WORD value) {
    if (!result) return E_POINTER;
    *result = static_cast<short>(value);
    return S_OK;
}

std::wstring_view FileName() {
    std::wstring_view path = module::FilePath();
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

} // namespace

HRESULT AppObject::Create(ComPtr<IDispatch> *out) {
    AppObject *app = nullptr;
    HRESULT hr = CreateInstance(&app);
    if (FAILED(hr)) return hr;
    Adopt(*out, static_cast<_App *>(app));
    return S_OK;
}

HRESULT AppObject::get_Title(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"InternalName")); }); }

HRESULT AppObject::get_EXEName(BSTR *result) {
    return Guarded([&] {
        std::wstring_view name = FileName();
        size_t dot = name.find_last_of(L'.');
        return Out(result, dot == std::wstring_view::npos ? name : name.substr(0, dot));
    });
}

HRESULT AppObject::get_Path(BSTR *result) {
    return Guarded([&] {
        std::wstring_view path = module::FilePath();
        size_t slash = path.find_last_of(L"\\/");
        return Out(result, slash == std::wstring_view::npos ? std::wstring_view() : path.substr(0, slash));
    });
}

HRESULT AppObject::get_Major(short *result) { return Guarded([&] { return Out(result, version::FileVersion().major); }); }
HRESULT AppObject::get_Minor(short *result) { return Guarded([&] { return Out(result, version::FileVersion().minor); }); }
HRESULT AppObject::get_Revision(short *result) { return Guarded([&] { return Out(result, version::FileVersion().revision); }); }

HRESULT AppObject::get_CompanyName(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"CompanyName")); }); }
HRESULT AppObject::get_FileDescription(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"FileDescription")); }); }
HRESULT AppObject::get_LegalCopyright(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"LegalCopyright")); }); }
HRESULT AppObject::get_LegalTrademarks(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"LegalTrademarks")); }); }
HRESULT AppObject::get_ProductName(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"ProductName")); }); }
HRESULT AppObject::get_Comments(BSTR *result) { return Guarded([&] { return Out(result, version::String(L"Comments")); }); }

HRESULT AppObject::get_ThreadID(long *result) {
    return Guarded([&] {
        if (!result) return E_POINTER;
        *result = static_cast<long>(threadId_);
        return S_OK;
    });
}

} // namespace rt
