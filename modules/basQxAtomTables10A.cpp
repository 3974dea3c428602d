#include "basQxAtomTables10A.h"

#include <atomic>
#include <string>

#include "runtime/errors.h"
#include "runtime/thread_context.h"

namespace basQxAtomTables10A {
namespace {

constexpr wchar_t kLibrary[] = L"kernel32";

FARPROC FromKernel32(const char *name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

std::atomic<Resolver> g_resolver{&FromKernel32};
// Bumped whenever the resolver changes, so that addresses found through the old one are dropped.
std::atomic<unsigned> g_generation{0};

// One platform function: its name and the address found for it.
template <class Signature>
class Binding {
public:
    explicit constexpr Binding(const char *name) : name_(name) {}

    HRESULT Get(Signature *&function) {
        const unsigned generation = g_generation.load();
        if (generation_.load() != generation || !address_.load()) {
            address_.store(g_resolver.load()(name_));
            generation_.store(generation);
        }
        function = reinterpret_cast<Signature *>(reinterpret_cast<void *>(address_.load()));
        if (function) return S_OK;
        rt::RecordLastDllError(ERROR_PROC_NOT_FOUND);
        std::wstring entry(name_, name_ + std::char_traits<char>::length(name_));
        return rt::Raise(rt::RtError::EntryPointNotFound,
                         L"Can't find DLL entry point " + entry + L" in " + kLibrary);
    }

private:
    const char *name_;
    std::atomic<FARPROC> address_{nullptr};
    std::atomic<unsigned> generation_{0};
};

Binding<BOOL WINAPI(DWORD)> g_initAtomTable("InitAtomTable");
Binding<ATOM WINAPI(LPCSTR)> g_addAtomA("AddAtomA");
Binding<ATOM WINAPI(ATOM)> g_deleteAtom("DeleteAtom");
Binding<ATOM WINAPI(LPCSTR)> g_findAtomA("FindAtomA");
Binding<UINT WINAPI(ATOM, LPSTR, int)> g_getAtomNameA("GetAtomNameA");
Binding<ATOM WINAPI(LPCSTR)> g_globalAddAtomA("GlobalAddAtomA");
Binding<ATOM WINAPI(ATOM)> g_globalDeleteAtom("GlobalDeleteAtom");
Binding<ATOM WINAPI(LPCSTR)> g_globalFindAtomA("GlobalFindAtomA");
Binding<UINT WINAPI(ATOM, LPSTR, int)> g_globalGetAtomNameA("GlobalGetAtomNameA");

// Calls a bound function and records the platform's last error, as the error object reports it.
template <class Signature, class Result, class... Args>
HRESULT Call(Binding<Signature> &binding, Result &result, Args... args) {
    Signature *function = nullptr;
    HRESULT hr = binding.Get(function);
    if (FAILED(hr)) return hr;
    SetLastError(ERROR_SUCCESS);
    result = function(args...);
    rt::RecordLastDllError(GetLastError());
    return S_OK;
}

} // namespace

Variables &Thread() { return rt::ThreadContext::Current().Get<Variables>(); }

HRESULT InitAtomTable(DWORD size, BOOL &result) { return Call(g_initAtomTable, result, size); }
HRESULT AddAtomA(LPCSTR name, ATOM &result) { return Call(g_addAtomA, result, name); }
HRESULT DeleteAtom(ATOM atom, ATOM &result) { return Call(g_deleteAtom, result, atom); }
HRESULT FindAtomA(LPCSTR name, ATOM &result) { return Call(g_findAtomA, result, name); }
HRESULT GetAtomNameA(ATOM atom, LPSTR buffer, int size, UINT &result) {
    return Call(g_getAtomNameA, result, atom, buffer, size);
}
HRESULT GlobalAddAtomA(LPCSTR name, ATOM &result) { return Call(g_globalAddAtomA, result, name); }
HRESULT GlobalDeleteAtom(ATOM atom, ATOM &result) { return Call(g_globalDeleteAtom, result, atom); }
HRESULT GlobalFindAtomA(LPCSTR name, ATOM &result) { return Call(g_globalFindAtomA, result, name); }
HRESULT GlobalGetAtomNameA(ATOM atom, LPSTR buffer, int size, UINT &result) {
    return Call(g_globalGetAtomNameA, result, atom, buffer, size);
}

void SetResolver(Resolver resolver) {
    g_resolver.store(resolver ? resolver : &FromKernel32);
    g_generation.fetch_add(1);
}

} // namespace basQxAtomTables10A
