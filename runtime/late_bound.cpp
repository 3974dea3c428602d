#include "late_bound.h"

#include <string>
#include <vector>

#include "errors.h"

namespace rt {

HRESULT CreateObject(std::wstring_view progId, ComPtr<IDispatch> &object) {
    object.Reset();
    return Guarded([&] {
        const std::wstring name(progId);
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void **>(object.ReleaseAndGetAddressOf()));
        if (hr == E_OUTOFMEMORY) return RuntimeFailure(hr);
        if (FAILED(hr) || !object)
            return Raise(RtError::CantCreateObject, L"ActiveX component can't create object '" + name + L"'");
        return S_OK;
    });
}

namespace {

HRESULT InvokeByName(IDispatch *object, const wchar_t *name, WORD flags, std::span<VARIANT> args, VARIANT *result) {
    if (result) VariantInit(result);
    if (!object) return Raise(RtError::ObjectNotSet);
    return Guarded([&]() -> HRESULT {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (hr == E_OUTOFMEMORY) return RuntimeFailure(hr);
        if (FAILED(hr)) return Raise(RtError::NoSuchMember);

        // The dispatch convention lists arguments last to first.
        std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        Variant returned;
        EXCEPINFO exception{};
        UINT argError = 0;
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                            result ? result : returned.Get(), &exception, &argError);
        // A deferred fill-in completes the exception first: what it leaves in place and what it adds
        // are taken over together, each string once.
        if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        const Bstr source = Bstr::Attach(exception.bstrSource);
        const Bstr description = Bstr::Attach(exception.bstrDescription);
        const Bstr helpFile = Bstr::Attach(exception.bstrHelpFile);
        if (SUCCEEDED(hr)) return S_OK;
        if (hr == DISP_E_EXCEPTION) {
            HRESULT code = exception.scode ? exception.scode
                                           : (exception.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode)
                                                              : E_FAIL);
            return Raise(code, description.View(), source.View());
        }
        if (hr == E_OUTOFMEMORY) return RuntimeFailure(hr);
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) return Raise(RtError::NoSuchMember);
        if (hr == DISP_E_TYPEMISMATCH) return Raise(RtError::TypeMismatch);
        return Raise(hr);
    });
}

} // namespace

HRESULT CallMethod(IDispatch *object, const wchar_t *name, std::span<VARIANT> args, VARIANT *result) {
    return InvokeByName(object, name, DISPATCH_METHOD, args, result);
}

HRESULT GetProperty(IDispatch *object, const wchar_t *name, VARIANT *result) {
    return InvokeByName(object, name, DISPATCH_PROPERTYGET, {}, result);
}

} // namespace rt
