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

// Ways a library can answer that a well-behaved one does not (see RecordingLibrary::Misbehave).
enum class Oddity {
    ResultString,     // sets the call's result to a string of its own
    ResultObject,     // sets the call's result to the object given to Misbehave
    SuccessCode,      // answers S_FALSE
    PlainFailure,     // answers the code given to Misbehave, with nothing in EXCEPINFO
    EmptyException,   // answers DISP_E_EXCEPTION with nothing in EXCEPINFO
    WCodeOnly,        // answers DISP_E_EXCEPTION with wCode 1000 and no scode
    DeferredFillIn,   // answers DISP_E_EXCEPTION whose EXCEPINFO a deferred fill-in completes (with the code)
    DeferredFillInKeepingSource, // the same, with the source set at once and left in place by the fill-in
    RewriteArguments, // writes into every argument passed by reference: strings replaced, numbers
                      // changed, objects released and replaced by the object given to Misbehave
    UnknownName,      // GetIDsOfNames does not know the method
};

// Ways creating a class can go wrong besides failing outright (see RecordingLibrary::CreateOddly).
enum class OddCreation {
    WithoutDispatch, // the instance refuses IDispatch
    Nothing,         // the factory answers S_OK and hands out no instance
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
    // The method answers oddly (the call is recorded first). `code` is the failure PlainFailure and
    // DeferredFillIn answer with; `object` the one ResultObject and RewriteArguments hand out.
    void Misbehave(const std::wstring &method, Oddity oddity, HRESULT code = E_UNEXPECTED, IDispatch *object = nullptr);
    void CreateOddly(const std::wstring &progId, OddCreation how);
    // Every GetIDsOfNames and Invoke first asks `fault` (when set); true makes it fail with
    // E_OUTOFMEMORY, as a call that could not get its memory.
    void FailWhen(bool (*fault)());
    // Undoes Raise and Misbehave for a method, CreateOddly and FailCreation for a class.
    void Behave(const std::wstring &method);
    void CreateNormally(const std::wstring &progId);

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
