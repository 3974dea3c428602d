// AtomTables10 from C++, late bound: the classes created by ProgID and called by name through
// IDispatch, as script hosts do. Needs no header of the component's.
//
// Arguments go in DISPPARAMS last to first. An argument the member should write back is passed
// by reference (VT_BYREF | VT_VARIANT pointing at the caller's VARIANT, as a script variable is);
// an omitted optional argument is VT_ERROR holding DISP_E_PARAMNOTFOUND. A member that fails makes
// Invoke return DISP_E_EXCEPTION, with the runtime error in EXCEPINFO.
// Build and run: see README.md beside this file.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

int checks = 0, failures = 0;

void Check(bool ok, const char *what) {
    ++checks;
    if (!ok) {
        ++failures;
        std::printf("FAIL %s\n", what);
    }
}

// A VARIANT that clears itself.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    Value(const Value &) = delete;
    Value &operator=(const Value &) = delete;
    ~Value() { VariantClear(&v); }
};

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}
// A string argument borrows the caller's BSTR: the caller frees it.
VARIANT String(BSTR value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = value;
    return v;
}
VARIANT ByRef(VARIANT *variable) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = variable;
    return v;
}
VARIANT Omitted() {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

// What one call gave back.
struct Outcome {
    HRESULT hr = E_FAIL;
    SCODE error = 0; // the failure the member raised, for DISP_E_EXCEPTION
    std::wstring description;
};

// Calls `name` with the arguments in their written order; the result goes to `result`.
Outcome Call(IDispatch *object, const wchar_t *name, WORD flags, std::initializer_list<VARIANT> args,
             VARIANT *result = nullptr) {
    Outcome outcome;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    outcome.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(outcome.hr)) return outcome;

    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::vector<VARIANT>(reversed.rbegin(), reversed.rend()).swap(reversed);
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    DISPID put = DISPID_PROPERTYPUT;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &put; // the value assigned is the named argument of a put
        params.cNamedArgs = 1;
    }
    EXCEPINFO exception{};
    UINT argError = 0;
    outcome.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &argError);
    if (outcome.hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        outcome.error = exception.scode;
        if (exception.bstrDescription) outcome.description = exception.bstrDescription;
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return outcome;
}

bool Succeeded(const Outcome &outcome, const char *what) {
    if (SUCCEEDED(outcome.hr)) return true;
    ++checks;
    ++failures;
    std::printf("FAIL %s: 0x%08lX 0x%08lX %ls\n", what, static_cast<unsigned long>(outcome.hr),
                static_cast<unsigned long>(outcome.error), outcome.description.c_str());
    return false;
}

constexpr WORD kMethod = DISPATCH_METHOD | DISPATCH_PROPERTYGET; // how scripts call a method for its result

HRESULT CreateByProgId(const wchar_t *progId, ComPtr<IDispatch> &object) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object);
    if (FAILED(hr)) {
        ++checks;
        ++failures;
        std::printf("FAIL creating %ls: 0x%08lX\n", progId, static_cast<unsigned long>(hr));
    }
    return hr;
}

void Atoms(IDispatch *tables, const wchar_t *add, const wchar_t *read, const wchar_t *remove, const wchar_t *text) {
    BSTR name = SysAllocString(text);
    Value atom;
    if (Succeeded(Call(tables, add, kMethod, {String(name)}, &atom.v), "adding a name")) {
        Check(V_VT(&atom.v) == VT_I4 && V_I4(&atom.v) < 0, "a string atom is a negative Long");

        // The size and the count as variables, passed by reference: both are written back. The
        // size 0 asks for the whole name and comes back as 255, the positions offered.
        Value size, copied, buffer;
        V_VT(&size.v) = VT_I2;
        V_I2(&size.v) = 0;
        V_VT(&copied.v) = VT_I2;
        V_I2(&copied.v) = 0;
        if (Succeeded(Call(tables, read, kMethod, {atom.v, ByRef(&size.v), ByRef(&copied.v)}, &buffer.v), "reading the name")) {
            const int count = V_VT(&copied.v) == VT_I2 ? V_I2(&copied.v) : 0;
            // At most the copied count, and never past the terminator: the count is of the name's
            // bytes in the ANSI code page, more than its characters where they take two bytes.
            std::wstring got = V_VT(&buffer.v) == VT_BSTR ? std::wstring(V_BSTR(&buffer.v), count > 0 ? count : 0) : L"";
            got = got.substr(0, got.find(L'\0'));
            std::printf("%ls: atom %ld is \"%ls\" (%d bytes)\n", add, V_I4(&atom.v), got.c_str(), count);
            Check(got == text, "cut at the copied count and the terminator, the result is the name");
            Check(V_VT(&size.v) == VT_I2 && V_I2(&size.v) == 255, "the size variable came back as 255");
            Check(V_VT(&buffer.v) == VT_BSTR && SysStringLen(V_BSTR(&buffer.v)) == 255, "the result is the whole buffer");
        }
        // The optional arguments left out.
        Value whole;
        if (Succeeded(Call(tables, read, kMethod, {atom.v, Omitted(), Omitted()}, &whole.v), "reading with no size"))
            Check(V_VT(&whole.v) == VT_BSTR && std::wstring(V_BSTR(&whole.v)) == text, "the name ends at its terminator");

        Value status;
        if (Succeeded(Call(tables, remove, kMethod, {atom.v}, &status.v), "deleting the atom"))
            Check(V_VT(&status.v) == VT_I4 && V_I4(&status.v) == 0, "deleted");
    }
    SysFreeString(name);
}

void BuddySlot(IDispatch *tables) {
    ComPtr<IDispatch> second, parked;
    if (FAILED(CreateByProgId(L"AtomTables10.clsQxAtomTables10A", second)) ||
        FAILED(CreateByProgId(L"AtomTables10.clsQxAmtsGeneralA", parked)))
        return;
    VARIANT object;
    VariantInit(&object);
    V_VT(&object) = VT_DISPATCH;
    V_DISPATCH(&object) = parked.Get(); // borrowed: the call takes its own reference
    if (!Succeeded(Call(tables, L"BuddyObjectGlobal", DISPATCH_PROPERTYPUTREF, {object}), "parking an object")) return;
    Value seen;
    if (Succeeded(Call(second.Get(), L"BuddyObjectGlobal", DISPATCH_PROPERTYGET, {}, &seen.v), "reading the slot")) {
        const bool same = V_VT(&seen.v) == VT_DISPATCH && V_DISPATCH(&seen.v) == parked.Get();
        std::printf("the second instance sees the object parked through the first: %s\n", same ? "yes" : "no");
        Check(same, "both instances see the same object");
    }
    V_DISPATCH(&object) = nullptr; // Nothing empties the slot
    Succeeded(Call(second.Get(), L"BuddyObjectGlobal", DISPATCH_PROPERTYPUTREF, {object}), "emptying the slot");
}

void ResourceStrings(IDispatch *tables) {
    Value text;
    if (Succeeded(Call(tables, L"GetProResStrings", DISPATCH_PROPERTYGET, {Long(121)}, &text.v), "string 121")) {
        std::printf("string 121: %ls\n", V_VT(&text.v) == VT_BSTR ? V_BSTR(&text.v) : L"?");
        Check(V_VT(&text.v) == VT_BSTR && std::wstring(V_BSTR(&text.v)) == L"Length of this atom should not exceed 255.",
              "string 121");
    }
    Value missing;
    const Outcome outcome = Call(tables, L"GetProResStrings", DISPATCH_PROPERTYGET, {Long(100)}, &missing.v);
    std::printf("string 100: 0x%08lX, error 0x%08lX: %ls\n", static_cast<unsigned long>(outcome.hr),
                static_cast<unsigned long>(outcome.error), outcome.description.c_str());
    Check(outcome.hr == DISP_E_EXCEPTION && outcome.error == MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 326),
          "a missing string is runtime error 326");
}

} // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    {
        ComPtr<IDispatch> tables;
        if (SUCCEEDED(CreateByProgId(L"AtomTables10.clsQxAtomTables10A", tables))) {
            Atoms(tables.Get(), L"AddAtomAmts", L"GetAtomNameAmts", L"DeleteAtomAmts", L"example.local.late");
            const std::wstring global = L"AtomTables10 example " + std::to_wstring(GetTickCount());
            Atoms(tables.Get(), L"GlobalAddAtomAmts", L"GlobalGetAtomNameAmts", L"GlobalDeleteAtomAmts", global.c_str());
            BuddySlot(tables.Get());
            ResourceStrings(tables.Get());
        }
    }
    CoUninitialize();
    if (failures == 0) {
        std::printf("all %d checks passed\n", checks);
        return 0;
    }
    std::printf("%d of %d checks failed\n", failures, checks);
    return 1;
}
