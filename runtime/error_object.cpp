#include "error_object.h"

namespace rt {
namespace {

HRESULT Out(BSTR *result, const std::wstring &text) {
    if (!result) return E_POINTER;
    *result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *result ? S_OK : Raise(RtError::OutOfMemory);
}

HRESULT Out(long *result, long value) {
    if (!result) return E_POINTER;
    *result = value;
    return S_OK;
}

} // namespace

HRESULT ErrorObject::Create(const Failure &failure, ComPtr<IDispatch> *out) {
    return Guarded([&] {
        ErrorObject *error = nullptr;
        HRESULT hr = CreateInstance(&error);
        if (FAILED(hr)) return RuntimeFailure(hr);
        Adopt(*out, static_cast<_ErrObject *>(error));
        error->failure_ = failure;
        return S_OK;
    });
}

HRESULT ErrorObject::get_Number(long *result) { return Guarded([&] { return Out(result, ErrNumberOf(failure_.hr)); }); }
HRESULT ErrorObject::get_Description(BSTR *result) { return Guarded([&] { return Out(result, failure_.description); }); }
HRESULT ErrorObject::get_Source(BSTR *result) { return Guarded([&] { return Out(result, failure_.source); }); }
HRESULT ErrorObject::get_HelpFile(BSTR *result) { return Guarded([&] { return Out(result, failure_.helpFile); }); }
HRESULT ErrorObject::get_HelpContext(long *result) {
    return Guarded([&] { return Out(result, static_cast<long>(failure_.helpContext)); });
}
HRESULT ErrorObject::get_LastDllError(long *result) {
    return Guarded([&] { return Out(result, static_cast<long>(failure_.lastDllError)); });
}

} // namespace rt
