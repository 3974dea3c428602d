#include "classes.h"

#include <string>

#include "journal.h"
#include "runtime/late_bound.h"

namespace {

// A property of the error object as text; what cannot be read shows as empty.
std::wstring Text(IDispatch *object, const wchar_t *name) {
    rt::Variant value, text;
    if (FAILED(rt::GetProperty(object, name, value.Get()))) return {};
    if (FAILED(VariantChangeType(text.Get(), value.Get(), 0, VT_BSTR))) return {};
    return std::wstring(V_BSTR(text.Get()), SysStringLen(V_BSTR(text.Get())));
}

} // namespace

HRESULT clsQxelErrorHandlerA::ErrorHandlerMessageQx(IDispatch **, IDispatch **oErr, BSTR *, BSTR *sSource, LONG *,
                                                    BSTR *, LONG *, VARIANT, VARIANT *result) {
    if (result) VariantInit(result);
    return rt::Guarded([&] {
        IDispatch *error = oErr ? *oErr : nullptr;
        const std::wstring source = sSource && *sSource ? std::wstring(*sSource, SysStringLen(*sSource)) : L"";
        bedrock::journal::Write(L"REPORT", {source, Text(error, L"Number"), Text(error, L"Description")});
        // Nothing to hand back: callers rely on no result.
        SetErrorInfo(0, nullptr);
        return S_OK;
    });
}
