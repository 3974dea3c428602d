#include "basQxelCommonA.h"

#include "runtime/arguments.h"
#include "runtime/late_bound.h"
#include "runtime/thread_context.h"
#include "trap.h"

namespace basQxelCommonA {
using namespace rt::arg;

HRESULT ErrorHandlerMessageQx_Pro(rt::ComPtr<IDispatch> &oApp, rt::ComPtr<IDispatch> &oErr, rt::Bstr &sMessage,
                                  rt::Bstr &sSource, long &lOptions, rt::Bstr &sExtra, long &lContext,
                                  const VARIANT *vReserved) {
    rt::ComPtr<IDispatch> handler;
    HRESULT hr = rt::CreateObject(kErrorHandlerProgId, handler);
    if (FAILED(hr)) return hr;

    VARIANT args[] = {
        Ref(oApp.GetAddressOf()), Ref(oErr.GetAddressOf()), Ref(sMessage.Address()),
        Ref(sSource.Address()),   Ref(&lOptions),           Ref(sExtra.Address()),
        Ref(&lContext),           vReserved ? *vReserved : Missing(),
    };
    rt::Variant ignored;
    return rt::CallMethod(handler.Get(), L"ErrorHandlerMessageQx", args, ignored.Get());
}

HRESULT EnsureQxEnvironmentStatus_Pro() {
    Trap trap(kIdentityCode, L"EnsureQxEnvironmentStatus_Pro");
    rt::ComPtr<IDispatch> environment;

    trap.Run([&] { return rt::CreateObject(kEnvironmentProgId, environment); });
    trap.Run([&] {
        VARIANT args[] = {Bool(true), Short(99)};
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
        VARIANT args[] = {Object(app.Get())};
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
