#include "errors.h"

#include "module.h"
#include "owners.h"
#include "thread_slot.h"

namespace rt {
namespace {

// The last platform error of the thread, as the error object reports it.
struct LastDllErrorTag;
ThreadSlot<LastDllErrorTag> &LastDllErrorSlot() {
    static ThreadSlot<LastDllErrorTag> slot;
    return slot;
}

std::wstring_view RuntimeText(unsigned short number) {
    switch (static_cast<RtError>(number)) {
    case RtError::InvalidCall: return L"Invalid procedure call or argument";
    case RtError::Overflow: return L"Overflow";
    case RtError::OutOfMemory: return L"Out of memory";
    case RtError::TypeMismatch: return L"Type mismatch";
    case RtError::ObjectNotSet: return L"Object variable or With block variable not set";
    case RtError::ResourceNotFound: return L"Resource not found";
    case RtError::CantCreateObject: return L"ActiveX component can't create object";
    case RtError::NoSuchMember: return L"Object doesn't support this property or method";
    case RtError::EntryPointNotFound: return L"Can't find DLL entry point";
    }
    return {};
}

std::wstring SystemMessage(HRESULT hr) {
    wchar_t *text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&text), 0,
                             nullptr);
    std::wstring message;
    if (n && text) {
        message.assign(text, n);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                    message.back() == L' ' || message.back() == L'.'))
            message.pop_back();
    }
    LocalFree(text);
    return message;
}

} // namespace

void RecordLastDllError(DWORD error) {
    LastDllErrorSlot().Set(reinterpret_cast<void *>(static_cast<ULONG_PTR>(error)));
}
DWORD LastDllError() { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(LastDllErrorSlot().Get())); }

long ErrNumberOf(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
    return static_cast<long>(hr);
}

std::wstring StandardDescription(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        std::wstring_view text = RuntimeText(static_cast<unsigned short>(HRESULT_CODE(hr)));
        if (!text.empty()) return std::wstring(text);
        return L"Application-defined or object-defined error";
    }
    std::wstring message = SystemMessage(hr);
    if (message.empty()) {
        wchar_t number[16];
        wsprintfW(number, L"0x%08lX", static_cast<unsigned long>(hr));
        return L"Automation error " + std::wstring(number);
    }
    return L"Automation error: " + message;
}

HRESULT Raise(HRESULT hr, std::wstring_view description, std::wstring_view source) {
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        std::wstring text = description.empty() ? StandardDescription(hr) : std::wstring(description);
        std::wstring from(source.empty() ? module::ProjectName() : source);
        create->SetGUID(GUID_NULL);
        create->SetDescription(text.data());
        create->SetSource(from.data());
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    }
    return hr;
}

HRESULT Raise(RtError error, std::wstring_view description) {
    return Raise(HresultOf(error), description);
}

Failure TakeFailure(HRESULT hr) {
    Failure failure;
    failure.hr = hr;
    failure.lastDllError = LastDllError();
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        Bstr text, source, helpFile;
        if (SUCCEEDED(info->GetDescription(text.Receive()))) failure.description = text.View();
        if (SUCCEEDED(info->GetSource(source.Receive()))) failure.source = source.View();
        if (SUCCEEDED(info->GetHelpFile(helpFile.Receive()))) failure.helpFile = helpFile.View();
        info->GetHelpContext(&failure.helpContext);
    }
    if (failure.description.empty()) failure.description = StandardDescription(hr);
    if (failure.source.empty()) failure.source = module::ProjectName();
    return failure;
}

HRESULT Rethrow(const Failure &failure) {
    return Raise(failure.hr, failure.description, failure.source);
}

} // namespace rt
