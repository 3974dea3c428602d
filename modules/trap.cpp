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
        // This component leaves the message, options, extra text and context of a report empty.
        rt::Bstr message(L""), source(Source()), extra(L"");
        if (!source.Allocated()) return rt::Raise(rt::RtError::OutOfMemory);
        long options = 0, context = 0;
        return basQxelCommonA::ErrorHandlerMessageQx_Pro(app, error, message, source, options, extra, context);
    });
    if (FAILED(hr)) {
        ended_ = true;
        escaped_.Keep(hr);
    }
}
