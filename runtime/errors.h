// Runtime errors: the numbers scripts know them by, their standard texts, and the one way a
// procedure raises a failure towards its caller (an HRESULT plus the thread's error information).
#pragma once

#include <string>
#include <string_view>

#include <windows.h>
#include <oaidl.h>

namespace rt {

// Runtime error numbers. As HRESULTs they carry facility CONTROL, which script hosts translate
// back into these numbers (Err.Number in VBScript).
enum class RtError : unsigned short {
    InvalidCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    TypeMismatch = 13,
    ObjectNotSet = 91,
    ResourceNotFound = 326,
    CantCreateObject = 429,
    NoSuchMember = 438,
    EntryPointNotFound = 453,
};

constexpr HRESULT HresultOf(RtError e) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned short>(e));
}

// The number a script sees for a failure: the runtime error number for facility CONTROL,
// the HRESULT itself otherwise.
long ErrNumberOf(HRESULT hr);

// The standard text of a failure: the runtime's own for its error numbers, the system's message
// for other HRESULTs. Made without the heap, so that it can describe running out of it.
class StandardText {
public:
    explicit StandardText(HRESULT hr) noexcept;
    const wchar_t *Get() const { return text_; }
    std::wstring_view View() const { return {text_, length_}; }

private:
    wchar_t text_[320];
    size_t length_ = 0;
};
std::wstring StandardDescription(HRESULT hr);

// Leaves error information (description, source) for the caller and returns hr, so that a
// procedure can `return Raise(...)`. An empty description takes the standard text; an empty
// source takes the project name. Never fails: without the memory for the information, the
// caller gets hr with less of it (or none), never the information of an earlier failure.
HRESULT Raise(HRESULT hr, std::wstring_view description = {}, std::wstring_view source = {}) noexcept;
HRESULT Raise(RtError error, std::wstring_view description = {}) noexcept;

// Everything known about a failure that has just happened on this thread.
struct Failure {
    HRESULT hr = S_OK;
    std::wstring description;
    std::wstring source;
    std::wstring helpFile;
    DWORD helpContext = 0;
    DWORD lastDllError = 0;
};

// Collects the failure hr: takes the thread's pending error information if there is some,
// and fills the gaps with the standard text and the project name. (Allocates: run it guarded.)
Failure TakeFailure(HRESULT hr);

// Makes a failure the thread's error information again (for the caller to read) and returns its hr.
HRESULT Rethrow(const Failure &failure) noexcept;

// A failure kept as it was raised (its HRESULT and the thread's error information, as an object)
// to be handed on later, without copying anything.
class KeptFailure {
public:
    KeptFailure() = default;
    KeptFailure(const KeptFailure &) = delete;
    KeptFailure &operator=(const KeptFailure &) = delete;
    ~KeptFailure() {
        if (info_) info_->Release();
    }

    // Takes the thread's error information for hr.
    void Keep(HRESULT hr) noexcept;
    // Makes it the thread's error information again and returns its hr.
    HRESULT Restore() const noexcept;

private:
    HRESULT hr_ = S_OK;
    IErrorInfo *info_ = nullptr; // owned
};

// How an entry point answers when it runs out of memory: as the runtime's error 7 with its error
// information (members of the classes and of the runtime's objects, IDispatch), or as plain
// E_OUTOFMEMORY (the COM plumbing: class factories, the exports, the loader's entry point).
enum class OutOfMemoryAs { RuntimeError, Plumbing };

// The guard of every entry point of the module, and of every piece that may run out of memory
// under one: the body's allocation failure (the only exception the project's code raises: the
// standard library's std::bad_alloc and its length errors) becomes an HRESULT here instead of an
// exception crossing a COM boundary, which would end the client's process. Members that trap
// their statements (modules/trap.h) guard each statement the same way.
template <OutOfMemoryAs As = OutOfMemoryAs::RuntimeError, class Body>
HRESULT Guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        if constexpr (As == OutOfMemoryAs::Plumbing)
            return E_OUTOFMEMORY;
        else
            return Raise(RtError::OutOfMemory);
    }
}
inline constexpr OutOfMemoryAs Plumbing = OutOfMemoryAs::Plumbing;

// The runtime's error for a failure a late-bound call or a creation met: E_OUTOFMEMORY is error 7
// (with its error information), anything else is hr as it is.
HRESULT RuntimeFailure(HRESULT hr) noexcept;

} // namespace rt

namespace rt {
// The platform's last error after the most recent platform call on this thread, as the error
// object reports it (kept in the thread's context: a thread without one keeps none).
void RecordLastDllError(DWORD error) noexcept;
DWORD LastDllError() noexcept;
} // namespace rt
