#include "classes.h"

#include <string>

#include "journal.h"
#include "runtime/late_bound.h"
#include "runtime/message_box.h"

namespace {

std::wstring Text(IDispatch *object, const wchar_t *name) {
    rt::Variant value, text;
    if (FAILED(rt::GetProperty(object, name, value.Get()))) return {};
    if (FAILED(VariantChangeType(text.Get(), value.Get(), 0, VT_BSTR))) return {};
    return std::wstring(V_BSTR(text.Get()), SysStringLen(V_BSTR(text.Get())));
}

} // namespace

HRESULT clsQxBedrock10A::AppAboutQxel(IDispatch *oApp, VARIANT *result) {
    if (result) VariantInit(result);
    return rt::Guarded([&] {
        const std::wstring title = Text(oApp, L"Title");
        const std::wstring version = Text(oApp, L"Major") + L"." + Text(oApp, L"Minor") + L"." + Text(oApp, L"Revision");
        bedrock::journal::Write(L"ABOUT", {title, version});
        std::wstring text = title + L"\nVersion " + version;
        for (const wchar_t *key : {L"Comments", L"LegalCopyright", L"CompanyName"}) {
            std::wstring line = Text(oApp, key);
            if (!line.empty()) text += L"\n" + line;
        }
        // On a machine without a display there is nothing to show; that is not the caller's failure.
        if (FAILED(rt::MsgBox(text, MB_OK | MB_ICONINFORMATION, L"About " + title, nullptr))) SetErrorInfo(0, nullptr);
        return S_OK;
    });
}
