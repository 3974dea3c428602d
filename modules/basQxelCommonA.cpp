#include "basQxelCommonA.h"

#include "runtime/arguments.h"
#include "runtime/late_bound.h"
#include "runtime/thread_context.h"
#include "trap.h"

namespace basQxelCommonA {
using namespace rt::arg;

HRESULT ErrorHandlerMessageQx_Pro(rt::ComPtr<IDispatch> &oApp, rt::ComPtr<IDispatch> &oErr, rt::Bstr &sArg3,
                                  rt::Bstr &sSource, long &lArg5, rt::Bstr &sArg6, long &lArg7,
                                  const VARIANT *v8) {
    rt::ComPtr<IDispatch> handler;
    HRESULT hr = rt::CreateObject(kErrorHandlerProgId, handler);
    if (FAILED(hr)) return hr;

    VARIANT args[] = {
        Ref(oApp.GetAddressOf()), Ref(oErr.GetAddressOf()), Ref(sArg3.Address()),
        Ref(sSource.Address()),   Ref(&lArg5),              Ref(sArg6.Address()),
        Ref(&lArg7),              v8 ? *v8 : Missing(),
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
