#include "basQxelCommonA.h"

#include "runtime/late_bound.h"
#include "runtime/thread_context.h"
#include "trap.h"

namespace basQxelCommonA {
namespace {

VARIANT ByRef(IDispatch **object) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&v) = object;
    return v;
}
VARIANT ByRef(BSTR *text) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = text;
    return v;
}
VARIANT ByRef(long *number) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = number;
    return v;
}

} // namespace

HRESULT ErrorHandlerMessageQx_Pro(rt::ComPtr<IDispatch> &oApp, rt::ComPtr<IDispatch> &oErr, rt::Bstr &sArg3,
                                  rt::Bstr &sSource, long &lArg5, rt::Bstr &sArg6, long &lArg7,
                                  const VARIANT *v8) {
    rt::ComPtr<IDispatch> handler;
    HRESULT hr = rt::CreateObject(kErrorHandlerProgId, handler);
    if (FAILED(hr)) return hr;

    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    VARIANT args[] = {
        ByRef(oApp.GetAddressOf()), ByRef(oErr.GetAddressOf()), ByRef(sArg3.Address()),
        ByRef(sSource.Address()),   ByRef(&lArg5),              ByRef(sArg6.Address()),
        ByRef(&lArg7),              v8 ? *v8 : missing,
    };
    rt::Variant ignored;
    return rt::CallMethod(handler.Get(), L"ErrorHandlerMessageQx", args, ignored.Get());
}

HRESULT EnsureQxEnvironmentStatus_Pro() {
    Trap trap(kIdentityCode, L"EnsureQxEnvironmentStatus_Pro");
    rt::ComPtr<IDispatch> environment;

    trap.Run([&] { return rt::CreateObject(kEnvironmentProgId, environment); });
    trap.Run([&] {
        VARIANT args[2];
        V_VT(&args[0]) = VT_BOOL;
        V_BOOL(&args[0]) = VARIANT_TRUE;
        V_VT(&args[1]) = VT_I2;
        V_I2(&args[1]) = 99;
        rt::Variant ignored;
        return rt::CallMethod(environment.Get(), L"EnsureQxEnvironmentStatus", args, ignored.Get());
    });
    trap.Run([&] {
        environment.Reset();
        return S_OK;
    });
    return trap.Result();
}

HRESULT AppAboutQxel_Pro() {
    Trap trap(kIdentityCode, L"AppAboutQxel_Pro");
    rt::ComPtr<IDispatch> bedrock;

    trap.Run([&] { return rt::CreateObject(kBedrockProgId, bedrock); });
    trap.Run([&] {
        rt::ComPtr<IDispatch> app;
        HRESULT hr = rt::ThreadContext::Current().App(&app);
        if (FAILED(hr)) return hr;
        VARIANT args[1];
        V_VT(&args[0]) = VT_DISPATCH;
        V_DISPATCH(&args[0]) = app.Get();
        rt::Variant ignored;
        return rt::CallMethod(bedrock.Get(), L"AppAboutQxel", args, ignored.Get());
    });
    trap.Run([&] {
        bedrock.Reset();
        return S_OK;
    });
    return trap.Result();
}

} // namespace basQxelCommonA
