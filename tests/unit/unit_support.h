// What the unit tests share: instances of the component's classes made in-process, a replaceable
// lookup of the platform's atom functions, and what a failed call left for its caller.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "AtomTables10.h"
#include "classes/clsQxAtomTables10A.h"
#include "support/expected.h"
#include "support/recording_library.h"

namespace unit {

// The numbers and texts every test expects (support/expected.h).
using testing_support::RuntimeError;
using testing_support::kCantCreate;
using testing_support::kEntryPointNotFound;
using testing_support::kInvalidCall;
using testing_support::kLengthPrompt;
using testing_support::kLengthTitle;
using testing_support::kOverflow;
using testing_support::kResourceNotFound;
namespace dispid = testing_support::dispid;

using rt::Bstr;
using rt::ComPtr;
using rt::Variant;

// A new instance of the main class, made directly (no class factory, no registration).
ComPtr<_clsQxAtomTables10A> NewTables();
// The same instance's IDispatch.
ComPtr<IDispatch> DispatchOf(const ComPtr<_clsQxAtomTables10A> &tables);

// While it exists, the component looks up the platform's atom functions through this object:
// kernel32's functions, except `unbound` (when given), which cannot be found. It counts the
// lookups per name. Its end puts kernel32's lookup back.
class PlatformLookup {
public:
    explicit PlatformLookup(const char *unbound = nullptr);
    PlatformLookup(const PlatformLookup &) = delete;
    PlatformLookup &operator=(const PlatformLookup &) = delete;
    ~PlatformLookup();

    int Lookups(const std::string &name) const;

private:
    static FARPROC Resolve(const char *name);
};

// What a failing call left on the thread for its caller (the thread's error information).
struct Raised {
    std::wstring description;
    std::wstring source;
    bool present = false;
};
Raised TakeRaised();

// A numeric property of an automation object (read late-bound), or LONG_MIN when it cannot be read.
long NumberProperty(IDispatch *object, const wchar_t *name);


std::wstring Text(BSTR value);

} // namespace unit
