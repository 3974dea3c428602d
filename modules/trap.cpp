#include "trap.h"

#include "basQxelCommonA.h"
#include "runtime/error_object.h"
#include "runtime/thread_context.h"

void Trap::Handle(HRESULT failed) noexcept {
    // Whatever goes wrong from here on is a failure during handling: it ends the procedure.
    const HRESULT hr = rt::Guarded([&]() -> HRESULT {
        const rt::Failure failure = rt::TakeFailure(failed);
        rt::ComPtr<IDispatch> app, error;
        HRESULT result = rt::ThreadContext::Current().App(&app);
        if (FAILED(result)) return result;
        result = rt::ErrorObject::Create(failure, &error);
        if (FAILED(result)) return result;
        rt::Bstr empty3(L""), source(Source()), empty6(L"");
        if (!source.Allocated()) return rt::Raise(rt::RtError::OutOfMemory);
        long zero5 = 0, zero7 = 0;
        return basQxelCommonA::ErrorHandlerMessageQx_Pro(app, error, empty3, source, zero5, empty6, zero7);
    });
    if (FAILED(hr)) {
        ended_ = true;
        escaped_.Keep(hr);
    }
}
