// Runtime errors: the numbers scripts know them by, their standard texts, and the one way a
// procedure raises a failure towards its caller (an HRESULT plus the thread's error information).
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

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
// for other HRESULTs.
std::wstring StandardDescription(HRESULT hr);

// Leaves error information (description, source) for the caller and returns hr, so that a
// procedure can `return Raise(...)`. An empty description takes the standard text; an empty
// source takes the project name.
HRESULT Raise(HRESULT hr, std::wstring_view description = {}, std::wstring_view source = {});
HRESULT Raise(RtError error, std::wstring_view description = {});

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
// and fills the gaps with the standard text and the project name.
Failure TakeFailure(HRESULT hr);

// Makes a failure the thread's error information again (for the caller to read) and returns its hr.
HRESULT Rethrow(const Failure &failure);

// Runs a body that may run out of memory: the allocation failure becomes error 7 instead of an
// exception crossing a COM boundary.
template <class Body>
HRESULT Guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return Raise(RtError::OutOfMemory);
    }
}

} // namespace rt

namespace rt {
// The platform's last error after the most recent platform call on this thread, as the error
// object reports it.
void RecordLastDllError(DWORD error);
DWORD LastDllError();
} // namespace rt
