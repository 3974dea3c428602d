// AtomTables10 from C++, early bound: the classes created by CLSID and called through the vtable of
// their interfaces, as declared in AtomTables10.h (generated from the type library).
//
// Every member returns an HRESULT and hands its result back through its last parameter. In-out
// parameters are pointers to the caller's variables; an optional one may be a null pointer.
// Build and run: see README.md beside this file.
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "AtomTables10.h"

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

// A failed call: its HRESULT and the description the component left in the error information.
bool Succeeded(HRESULT hr, const char *what) {
    if (SUCCEEDED(hr)) return true;
    std::wstring description;
    IErrorInfo *info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK) {
        BSTR text = nullptr;
        if (SUCCEEDED(info->GetDescription(&text)) && text) description = text;
        SysFreeString(text);
        info->Release();
    }
    ++checks;
    ++failures;
    std::printf("FAIL %s: 0x%08lX %ls\n", what, static_cast<unsigned long>(hr), description.c_str());
    return false;
}

// A BSTR owned for the length of a scope. The atom members take names in-out: they may free the
// string passed and put another one in its place, so the holder always frees what it holds last.
struct Text {
    BSTR value;
    explicit Text(const wchar_t *text = L"") : value(SysAllocString(text)) {}
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    ~Text() { SysFreeString(value); }
    // The name in a name reader's result: at most `copied` characters, and never past the
    // terminator. The count is of the name's bytes in the system's ANSI code page, which in code
    // pages of two-byte characters (932, 936, 949) are more than its characters.
    std::wstring Name(int copied) const {
        const std::wstring head(value, copied > 0 ? std::min<size_t>(static_cast<size_t>(copied), SysStringLen(value)) : 0);
        return head.substr(0, head.find(L'\0'));
    }
};

void LocalTable(_clsQxAtomTables10A *tables) {
    Text name(L"example.local.cpp");
    LONG atom = 0, found = 0, status = -1;
    if (!Succeeded(tables->AddAtomAmts(&name.value, &atom), "AddAtomAmts")) return;
    Check(atom < 0, "a string atom is negative");

    Text upper(L"EXAMPLE.LOCAL.CPP");
    if (Succeeded(tables->FindAtomAmts(&upper.value, &found), "FindAtomAmts"))
        Check(found == atom, "names are found whatever their case");

    // The atom goes back as the 16-bit value it is. The result is the whole 255-character name
    // buffer; the copied count says how much of it is the name. The size is left out (null).
    SHORT number = static_cast<SHORT>(atom), copied = 0;
    Text buffer(nullptr);
    if (Succeeded(tables->GetAtomNameAmts(&number, nullptr, &copied, &buffer.value), "GetAtomNameAmts")) {
        std::printf("local atom %ld is \"%ls\" (%d bytes)\n", atom, buffer.Name(copied).c_str(), copied);
        Check(SysStringLen(buffer.value) == 255, "the result is the whole buffer");
        Check(buffer.Name(copied) == L"example.local.cpp", "cut at the copied count and the terminator, it is the name");
    }

    // A size is rewritten to the positions offered, the terminator included: 4 becomes 5.
    SHORT size = 4;
    Text part(nullptr);
    if (Succeeded(tables->GetAtomNameAmts(&number, &size, &copied, &part.value), "GetAtomNameAmts with a size"))
        Check(size == 5 && copied == 4 && part.Name(copied) == L"exam", "a size of 4 reads 4 characters");

    if (Succeeded(tables->DeleteAtomAmts(&number, &status), "DeleteAtomAmts")) Check(status == 0, "deleted");
    if (Succeeded(tables->FindAtomAmts(&name.value, &found), "FindAtomAmts after the delete"))
        Check(found == 0, "a deleted name is not found");
}

void GlobalTable(_clsQxAtomTables10A *tables) {
    const std::wstring text = L"AtomTables10 example " + std::to_wstring(GetTickCount());
    Text name(text.c_str());
    LONG atom = 0, found = 0, status = -1;
    if (!Succeeded(tables->GlobalAddAtomAmts(&name.value, &atom), "GlobalAddAtomAmts")) return;
    SHORT number = static_cast<SHORT>(atom), copied = 0;
    Text buffer(nullptr);
    if (Succeeded(tables->GlobalGetAtomNameAmts(&number, nullptr, &copied, &buffer.value), "GlobalGetAtomNameAmts")) {
        std::printf("global atom %ld is \"%ls\"\n", atom, buffer.Name(copied).c_str());
        Check(buffer.Name(copied) == text, "the global name reads back");
    }
    if (Succeeded(tables->GlobalFindAtomAmts(&name.value, &found), "GlobalFindAtomAmts"))
        Check(found == atom, "the global name is found");
    if (Succeeded(tables->GlobalDeleteAtomAmts(&number, &status), "GlobalDeleteAtomAmts"))
        Check(status == 0, "the global atom is deleted");
}

// Two objects are the same when they answer IUnknown with the same pointer.
bool SameObject(IUnknown *a, IUnknown *b) {
    ComPtr<IUnknown> x, y;
    if (!a || !b) return a == b;
    return SUCCEEDED(a->QueryInterface(IID_PPV_ARGS(&x))) && SUCCEEDED(b->QueryInterface(IID_PPV_ARGS(&y))) &&
           x.Get() == y.Get();
}

void BuddySlot(_clsQxAtomTables10A *tables) {
    ComPtr<_clsQxAtomTables10A> second;
    ComPtr<IDispatch> parked;
    if (!Succeeded(CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER,
                                    IID__clsQxAtomTables10A, &second), "creating a second instance") ||
        !Succeeded(CoCreateInstance(CLSID_clsQxAmtsGeneralA, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    &parked), "creating an object to park"))
        return;
    if (!Succeeded(tables->putref_BuddyObjectGlobal(parked.Get()), "parking an object")) return;
    ComPtr<IDispatch> seen;
    if (Succeeded(second->get_BuddyObjectGlobal(&seen), "reading the slot through the second instance"))
        Check(SameObject(seen.Get(), parked.Get()), "both instances see the same object");
    std::printf("the second instance sees the object parked through the first: %s\n",
                SameObject(seen.Get(), parked.Get()) ? "yes" : "no");
    if (Succeeded(second->putref_BuddyObjectGlobal(nullptr), "emptying the slot")) {
        ComPtr<IDispatch> empty;
        if (Succeeded(tables->get_BuddyObjectGlobal(&empty), "reading the empty slot"))
            Check(!empty, "emptied through the second instance");
    }
}

void ResourceStrings(_clsQxAtomTables10A *tables) {
    LONG id = 121;
    Text text(nullptr);
    if (Succeeded(tables->get_GetProResStrings(&id, &text.value), "string 121")) {
        std::printf("string 121: %ls\n", text.value);
        Check(std::wstring(text.value) == L"Length of this atom should not exceed 255.", "string 121");
    }
    // A missing resource fails with runtime error 326 in facility CONTROL, and a description.
    id = 100;
    Text missing(nullptr);
    const HRESULT hr = tables->get_GetProResStrings(&id, &missing.value);
    std::printf("string 100: 0x%08lX\n", static_cast<unsigned long>(hr));
    Check(hr == MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 326), "a missing string is error 326");
}

} // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    {
        ComPtr<_clsQxAtomTables10A> tables;
        if (Succeeded(CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER,
                                       IID__clsQxAtomTables10A, &tables), "creating clsQxAtomTables10A")) {
            LocalTable(tables.Get());
            GlobalTable(tables.Get());
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
