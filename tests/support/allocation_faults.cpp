#include "allocation_faults.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include "client.h"

namespace testing_support::faults {
namespace {

std::atomic<long> g_target{0}, g_counted{0}, g_doubleFrees{0};
std::atomic<int> g_paused{0};
std::atomic<bool> g_fired{false}, g_watching{false};
std::atomic<unsigned long long> g_site{0};
BYTE *g_moduleStart = nullptr, *g_moduleEnd = nullptr;
std::mutex g_lock; // guards the sets
std::unordered_set<void *> g_blocks, g_heldStrings, g_heldArrays;

// The function each hook's import entry was bound to, keyed by the hook.
template <auto Hook>
decltype(Hook) g_real = nullptr;

void Track(void *block, bool keep) {
    if (!block) return;
    std::lock_guard<std::mutex> hold(g_lock);
    if (keep)
        g_blocks.insert(block);
    else
        g_blocks.erase(block);
}

void HoldBack(std::unordered_set<void *> &held, void *freed) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!held.insert(freed).second) ++g_doubleFrees;
}

void *__cdecl Malloc(size_t n) {
    void *block = FailNow() ? (errno = ENOMEM, nullptr) : g_real<&Malloc>(n);
    return Track(block, true), block;
}
void *__cdecl Calloc(size_t count, size_t n) {
    void *block = FailNow() ? (errno = ENOMEM, nullptr) : g_real<&Calloc>(count, n);
    return Track(block, true), block;
}
void *__cdecl Realloc(void *old, size_t n) {
    if (FailNow()) return errno = ENOMEM, nullptr;
    void *block = g_real<&Realloc>(old, n);
    if (block || n == 0) Track(old, false);
    return Track(block, true), block;
}
void __cdecl Free(void *block) { Track(block, false), g_real<&Free>(block); }
char *__cdecl Strdup(const char *text) {
    char *copy = FailNow() ? (errno = ENOMEM, nullptr) : g_real<&Strdup>(text);
    return Track(copy, true), copy;
}
DWORD WINAPI FailingTlsAlloc() {
    return FailNow() ? (SetLastError(ERROR_NOT_ENOUGH_MEMORY), TLS_OUT_OF_INDEXES) : g_real<&FailingTlsAlloc>();
}
DWORD WINAPI FailingFormatMessage(DWORD flags, LPCVOID from, DWORD id, DWORD language, LPWSTR out, DWORD n, va_list *a) {
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && FailNow()) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 0;
    return g_real<&FailingFormatMessage>(flags, from, id, language, out, n, a);
}
HRESULT WINAPI FailingCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *out) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingCreateInstance>(clsid, outer, context, riid, out);
}
HRESULT WINAPI FailingClsidFromProgId(LPCOLESTR progId, LPCLSID clsid) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingClsidFromProgId>(progId, clsid);
}
HRESULT WINAPI FailingCreateErrorInfo(ICreateErrorInfo **out) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingCreateErrorInfo>(out);
}
HRESULT WINAPI FailingRegisterSpy(IInitializeSpy *spy, ULARGE_INTEGER *cookie) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingRegisterSpy>(spy, cookie);
}
BSTR WINAPI FailingAllocStringLen(const OLECHAR *text, UINT n) {
    return FailNow() ? nullptr : g_real<&FailingAllocStringLen>(text, n);
}
void WINAPI WatchedFreeString(BSTR text) {
    if (text && g_watching) return HoldBack(g_heldStrings, text);
    g_real<&WatchedFreeString>(text);
}
HRESULT WINAPI FailingChangeType(VARIANTARG *out, VARIANTARG *in, USHORT flags, VARTYPE type) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingChangeType>(out, in, flags, type);
}
HRESULT WINAPI FailingCopyInd(VARIANT *out, VARIANTARG *in) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingCopyInd>(out, in);
}
SAFEARRAY *WINAPI FailingCreateVector(VARTYPE type, LONG lower, ULONG n) {
    return FailNow() ? nullptr : g_real<&FailingCreateVector>(type, lower, n);
}
HRESULT WINAPI WatchedDestroy(SAFEARRAY *array) {
    if (array && g_watching) return HoldBack(g_heldArrays, array), S_OK;
    return g_real<&WatchedDestroy>(array);
}
HRESULT WINAPI FailingLoadTypeLib(LPCOLESTR path, REGKIND kind, ITypeLib **out) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingLoadTypeLib>(path, kind, out);
}
HRESULT WINAPI FailingCreatePicture(LPPICTDESC desc, REFIID riid, BOOL own, LPVOID *out) {
    return FailNow() ? E_OUTOFMEMORY : g_real<&FailingCreatePicture>(desc, riid, own, out);
}

struct Redirect {
    const char *name;
    void *hook;
    void **real;
};
template <auto Hook>
Redirect To(const char *name) {
    return {name, reinterpret_cast<void *>(Hook), reinterpret_cast<void **>(&g_real<Hook>)};
}
const Redirect kFrees[] = {To<&WatchedFreeString>("SysFreeString"), To<&WatchedDestroy>("SafeArrayDestroy")};
const Redirect kAllocations[] = {
    To<&Malloc>("malloc"), To<&Calloc>("calloc"), To<&Realloc>("realloc"), To<&Free>("free"), To<&Strdup>("_strdup"),
    To<&FailingTlsAlloc>("TlsAlloc"), To<&FailingFormatMessage>("FormatMessageW"),
    To<&FailingCreateInstance>("CoCreateInstance"), To<&FailingClsidFromProgId>("CLSIDFromProgID"),
    To<&FailingCreateErrorInfo>("CreateErrorInfo"), To<&FailingRegisterSpy>("CoRegisterInitializeSpy"),
    To<&FailingAllocStringLen>("SysAllocStringLen"), To<&FailingChangeType>("VariantChangeType"),
    To<&FailingCopyInd>("VariantCopyInd"), To<&FailingCreateVector>("SafeArrayCreateVector"),
    To<&FailingLoadTypeLib>("LoadTypeLibEx"), To<&FailingCreatePicture>("OleCreatePictureIndirect"),
    kFrees[0], kFrees[1]};

// Points the module's import entries of these names at their hooks.
template <size_t N>
bool RedirectImports(HMODULE module, const Redirect (&redirects)[N]) {
    auto *base = reinterpret_cast<BYTE *>(module);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    int wanted = 0, redirected = 0;
    for (auto *dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports); dll->Name; ++dll) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + (dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk));
        auto *slot = reinterpret_cast<void **>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char *name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name;
            for (const Redirect &r : redirects) {
                if (std::strcmp(name, r.name) != 0) continue;
                ++wanted;
                if (*slot != r.hook) *r.real = *slot;
                DWORD protection = 0;
                if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) break;
                *slot = r.hook;
                VirtualProtect(slot, sizeof *slot, protection, &protection);
                ++redirected;
            }
        }
    }
    return wanted > 0 && redirected == wanted;
}

unsigned long long StackSite() {
    void *frames[24] = {};
    const USHORT count = RtlCaptureStackBackTrace(1, 24, frames, nullptr);
    unsigned long long hash = 1469598103934665603ULL;
    for (USHORT i = 0; i < count; ++i) {
        auto *address = static_cast<BYTE *>(frames[i]);
        if (address >= g_moduleStart && address < g_moduleEnd)
            hash = (hash ^ static_cast<unsigned long long>(address - g_moduleStart)) * 1099511628211ULL;
    }
    return hash;
}

} // namespace

bool Attach() {
    HMODULE module = GetModuleHandleW(ComponentPath().c_str());
    if (!module) return false;
    g_moduleStart = reinterpret_cast<BYTE *>(module);
    g_moduleEnd = g_moduleStart + reinterpret_cast<const IMAGE_NT_HEADERS *>(
                                      g_moduleStart + reinterpret_cast<IMAGE_DOS_HEADER *>(module)->e_lfanew)
                                      ->OptionalHeader.SizeOfImage;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_blocks.clear();
    }
    return RedirectImports(module, kAllocations);
}

bool AttachFreeWatch(HMODULE module) { return RedirectImports(module, kFrees); }

void Arm(long n) {
    g_fired = false;
    g_counted = 0;
    g_target = n;
}
void Disarm() { g_target = 0; }
bool Fired() { return g_fired; }
long Counted() { return g_counted; }
unsigned long long FiredSite() { return g_site; }

bool FailNow() {
    const long target = g_target;
    if (target <= 0 || g_paused > 0 || ++g_counted != target) return false;
    g_fired = true;
    g_site = StackSite();
    return true;
}

Paused::Paused() { ++g_paused; }
Paused::~Paused() { --g_paused; }

long LiveBlocks() {
    std::lock_guard<std::mutex> hold(g_lock);
    return static_cast<long>(g_blocks.size());
}

void WatchFrees(bool on) {
    if (on) g_doubleFrees = 0;
    g_watching = on;
    if (on) return;
    std::unordered_set<void *> strings, arrays;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        strings.swap(g_heldStrings);
        arrays.swap(g_heldArrays);
    }
    for (void *text : strings) g_real<&WatchedFreeString>(static_cast<BSTR>(text));
    for (void *array : arrays) g_real<&WatchedDestroy>(static_cast<SAFEARRAY *>(array));
}

long DoubleFrees() { return g_doubleFrees; }

long Sweep(const std::function<void(long n)> &once, long first) {
    for (long n = first;; ++n) {
        once(n);
        Disarm();
        if (!Fired()) return n - 1;
    }
}

} // namespace testing_support::faults
