// An in-process stand-in for the common library that records every call exactly as it arrives.
//
// While a RecordingLibrary exists, the common library's three ProgIDs resolve to it in the
// calling thread's apartment: it registers class objects (CoRegisterClassObject) under the CLSIDs
// those ProgIDs name, and COM finds registered class objects before the registered DLL. Tests can
// make a class fail to be created, or a method raise an error, and then see what the component did.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "client.h"

namespace testing_support {

// One argument as the library received it (before any coercion).
struct RecordedArg {
    VARTYPE vt = VT_EMPTY;  // as passed, including VT_BYREF
    std::wstring text;      // strings (by value or by reference)
    long number = 0;        // 16- and 32-bit integers, Booleans (-1 for True)
    SCODE scode = 0;        // VT_ERROR
    ComPtr<IDispatch> object; // objects (by value or by reference)
    // For objects that look like an error object: what they describe.
    long errNumber = 0;
    std::wstring errDescription;
};

struct RecordedCall {
    std::wstring progId;
    std::wstring method;
    WORD flags = 0;
    std::vector<RecordedArg> args; // in call order (first argument first)
};

class RecordingLibrary {
public:
    static constexpr const wchar_t *kErrorHandler = L"QxBedrock10.clsQxelErrorHandlerA";
    static constexpr const wchar_t *kEnvironment = L"QxBedrock10.clsQxelEnvironmentA";
    static constexpr const wchar_t *kBedrock = L"QxBedrock10.clsQxBedrock10A";

    RecordingLibrary();
    RecordingLibrary(const RecordingLibrary &) = delete;
    RecordingLibrary &operator=(const RecordingLibrary &) = delete;
    ~RecordingLibrary();

    // Creating the class fails with hr (REGDB_E_CLASSNOTREG: as if it were not installed).
    void FailCreation(const std::wstring &progId, HRESULT hr = REGDB_E_CLASSNOTREG);
    // The method raises: Invoke returns DISP_E_EXCEPTION with this code and description.
    void Raise(const std::wstring &method, SCODE code, const std::wstring &description);

    const std::vector<RecordedCall> &Calls() const;
    std::vector<RecordedCall> CallsTo(const std::wstring &method) const;
    // Instances created, per ProgID.
    int Creations(const std::wstring &progId) const;
    // Instances still alive.
    int Alive() const;
    void Clear();

    struct State; // shared with the recorded objects

private:
    State *state_;
    std::vector<DWORD> cookies_;
};

} // namespace testing_support
