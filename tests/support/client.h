// What the tests' C++ clients share: the COM apartment, creation by ProgID, late-bound calls with
// everything a caller can see (result, exception information, argument error), values to pass,
// and a watcher that sees and dismisses message boxes.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/arguments.h"
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

// Values to pass (the runtime's builders, under short names). The VARIANTs do not own anything: the
// caller keeps what they point at. Ref(VARIANT *) is how a script passes a variable.
inline VARIANT I2(short value) { return rt::arg::Short(value); }
inline VARIANT I4(LONG value) { return rt::arg::Long(value); }
inline VARIANT Str(BSTR value) { return rt::arg::String(value); }
inline VARIANT Obj(IDispatch *value) { return rt::arg::Object(value); }
using rt::arg::Missing;
using rt::arg::Ref;

std::wstring Text(BSTR value);
std::wstring Text(const Variant &value);

// Text in the ANSI code page, as the platform's ...A functions take and give it, and back (every
// character and byte converted, NULs too).
std::string ToAnsi(const std::wstring &text);
std::wstring FromAnsi(const std::string &bytes);

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

// ---------------------------------------------------------------------------------------------
// The main class through either binding, and small tools for identity and threads.
// ---------------------------------------------------------------------------------------------
#include <functional>

#include "AtomTables10.h"

namespace testing_support {

// How a client reaches the members: late (IDispatch::Invoke by name, as scripts do) or early
// (the vtable of _clsQxAtomTables10A).
enum class Binding { Late, Early };
std::string BindingName(const ::testing::TestParamInfo<Binding> &info);

// A new instance of clsQxAtomTables10A used through one binding. Every call leaves the member's
// status in Status(): S_OK, or the member's failure (for late binding the scode of
// DISP_E_EXCEPTION, or Invoke's own failure). Parameters passed by reference are the caller's own
// variables, so whatever the member writes back is seen in them.
class MainClass {
public:
    explicit MainClass(Binding binding);

    Binding binding() const { return binding_; }
    IDispatch *Dispatch() const { return dispatch_.Get(); }
    _clsQxAtomTables10A *Vtable() const { return vtable_.Get(); }
    HRESULT Status() const { return status_; }

    long InitAtomTable(short &size);
    long Add(BSTR &name, bool global = false);
    long Find(BSTR &name, bool global = false);
    long Delete(short atom, bool global = false);
    // A null size or count is omitted.
    std::wstring GetName(short atom, short *size = nullptr, short *copied = nullptr, bool global = false);

private:
    long NameCall(const wchar_t *name, BSTR &text, const std::function<HRESULT(BSTR *, LONG *)> &early);
    HRESULT Settle(Call &call);

    Binding binding_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<_clsQxAtomTables10A> vtable_;
    HRESULT status_ = S_OK;
};

// COM identity: both pointers name the same object (compared through IUnknown).
bool SameObject(IUnknown *a, IUnknown *b);

// The description of the error information left on the calling thread (empty when there is none).
std::wstring ErrorInfoDescription();

// An object of the test's own: an IDispatch (or, with dispatchable = false, an IUnknown that
// refuses IDispatch) that counts the references others hold on it and the calls it receives.
// It is never deleted while the test runs (Leaked() stays readable); the creator's reference is
// not counted.
class CountedObject : public IDispatch {
public:
    explicit CountedObject(bool dispatchable = true) : dispatchable_(dispatchable) {}
    virtual ~CountedObject() = default;
    CountedObject(const CountedObject &) = delete;
    CountedObject &operator=(const CountedObject &) = delete;

    // References held by anyone but the creator.
    long Held() const { return references_.load() - 1; }
    // Calls of GetTypeInfo, GetIDsOfNames or Invoke it has received.
    long Calls() const { return calls_.load(); }
    IDispatch *Dispatch() { return this; }
    IUnknown *Unknown() { return this; }

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references_); }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT count, LCID, DISPID *ids) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *result, EXCEPINFO *, UINT *) override;

private:
    bool dispatchable_;
    std::atomic<long> references_{1};
    std::atomic<long> calls_{0};
};

// Runs body on a new thread in a single-threaded apartment of its own and waits for it to end.
void OnOtherThread(const std::function<void()> &body);

} // namespace testing_support
