#include "errors.h"

#include <algorithm>
#include <cwchar>

#include "module.h"
#include "owners.h"
#include "thread_context.h"

namespace rt {
namespace {

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

} // namespace

void RecordLastDllError(DWORD error) noexcept {
    if (ThreadContext *context = ThreadContext::Existing()) context->lastDllError = error;
}
DWORD LastDllError() noexcept {
    const ThreadContext *context = ThreadContext::Existing();
    return context ? context->lastDllError : 0;
}

long ErrNumberOf(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
    return static_cast<long>(hr);
}

StandardText::StandardText(HRESULT hr) noexcept {
    constexpr size_t capacity = sizeof text_ / sizeof text_[0];
    auto append = [&](std::wstring_view part) {
        const size_t n = std::min(part.size(), capacity - 1 - length_);
        wmemcpy(text_ + length_, part.data(), n);
        length_ += n;
    };
    text_[0] = 0;
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        const std::wstring_view text = RuntimeText(static_cast<unsigned short>(HRESULT_CODE(hr)));
        append(text.empty() ? L"Application-defined or object-defined error" : text);
    } else {
        wchar_t message[256];
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(hr), 0, message, 256, nullptr);
        while (n && (message[n - 1] == L'\n' || message[n - 1] == L'\r' || message[n - 1] == L' ' || message[n - 1] == L'.'))
            --n;
        if (n) {
            append(L"Automation error: ");
            append({message, n});
        } else {
            wchar_t number[16];
            wsprintfW(number, L"0x%08lX", static_cast<unsigned long>(hr));
            append(L"Automation error ");
            append(number);
        }
    }
    text_[length_] = 0;
}

std::wstring StandardDescription(HRESULT hr) { return std::wstring(StandardText(hr).View()); }

HRESULT Raise(HRESULT hr, std::wstring_view description, std::wstring_view source) noexcept {
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        // The texts are copied (a view need not end where the text does); a copy that cannot be made
        // leaves the standard text and the project name.
        const StandardText standard(hr);
        const Bstr text = description.empty() ? Bstr() : Bstr(description);
        const Bstr from = source.empty() ? Bstr() : Bstr(source);
        create->SetGUID(GUID_NULL);
        create->SetDescription(text.Allocated() ? text.Get() : const_cast<wchar_t *>(standard.Get()));
        create->SetSource(from.Allocated() ? from.Get() : const_cast<wchar_t *>(module::ProjectName().data()));
        create.As(&info);
    }
    // Without information of its own the failure must not carry an earlier one's.
    SetErrorInfo(0, info.Get());
    return hr;
}

HRESULT Raise(RtError error, std::wstring_view description) noexcept {
    return Raise(HresultOf(error), description);
}

HRESULT RuntimeFailure(HRESULT hr) noexcept { return hr == E_OUTOFMEMORY ? Raise(RtError::OutOfMemory) : hr; }

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

HRESULT Rethrow(const Failure &failure) noexcept {
    return Raise(failure.hr, failure.description, failure.source);
}

void KeptFailure::Keep(HRESULT hr) noexcept {
    hr_ = hr;
    if (info_) info_->Release();
    info_ = nullptr;
    if (GetErrorInfo(0, &info_) != S_OK) info_ = nullptr;
}

HRESULT KeptFailure::Restore() const noexcept {
    SetErrorInfo(0, info_);
    return hr_;
}

} // namespace rt
