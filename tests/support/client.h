// What the tests' C++ clients share: the COM apartment, creation by ProgID, late-bound calls with
// everything a caller can see (result, exception information, argument error), values to pass,
// and a watcher that sees and dismisses message boxes.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/owners.h"

namespace testing_support {

using rt::Bstr;
using rt::ComPtr;
using rt::Variant;

// Paths the build passes in (Windows form).
std::wstring ComponentPath();
std::wstring BedrockPath();

// The calling thread in a single-threaded apartment for the life of the object.
class Apartment {
public:
    Apartment();
    Apartment(const Apartment &) = delete;
    Apartment &operator=(const Apartment &) = delete;
    ~Apartment();

private:
    HRESULT hr_;
};

// A new instance of the class registered under progId, as IDispatch (fails the test if it cannot).
ComPtr<IDispatch> Create(const wchar_t *progId);
// The same, reporting the creation's HRESULT instead.
HRESULT TryCreate(const wchar_t *progId, ComPtr<IDispatch> &object);

DISPID IdOf(IDispatch *object, const wchar_t *name);

// Everything a late-bound caller sees of one call.
struct Call {
    HRESULT hr = E_UNEXPECTED;
    Variant result;
    SCODE scode = 0;
    std::wstring description;
    std::wstring source;
    UINT argError = 0xFFFFFFFF;
};

// Invokes `id` with the arguments in call order (first argument first), like a script.
Call Invoke(IDispatch *object, DISPID id, WORD flags, std::vector<VARIANT> args = {},
            std::vector<DISPID> named = {});
Call Invoke(IDispatch *object, const wchar_t *name, WORD flags, std::vector<VARIANT> args = {});
// A method call as VBScript makes it when the result is used (method | property get).
Call Method(IDispatch *object, const wchar_t *name, std::vector<VARIANT> args = {});

// Values to pass. The returned VARIANTs do not own anything: the caller keeps what they point at.
VARIANT I2(short value);
VARIANT I4(long value);
VARIANT Str(BSTR value); // by value, borrowed
VARIANT Obj(IDispatch *value);
VARIANT Missing();
VARIANT Ref(short *value);
VARIANT Ref(long *value);
VARIANT Ref(BSTR *value);
VARIANT Ref(VARIANT *value); // a script variable

std::wstring Text(BSTR value);
std::wstring Text(const Variant &value);

// One message box as the watcher saw it.
struct Box {
    std::wstring caption;
    std::wstring text;
    bool informationIcon = false; // has an icon
    bool cancelButton = false;
};

// Sees every message box the calling thread shows while it exists, records it and presses OK.
class BoxWatcher {
public:
    BoxWatcher();
    BoxWatcher(const BoxWatcher &) = delete;
    BoxWatcher &operator=(const BoxWatcher &) = delete;
    ~BoxWatcher();
    const std::vector<Box> &Boxes() const;

private:
    HHOOK hook_;
};

// True when message boxes can be shown (a display is there).
bool HaveDisplay();

} // namespace testing_support
