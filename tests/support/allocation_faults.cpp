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

std::atomic<long> g_target{0}, g_counted{0};
std::atomic<bool> g_fired{false};
std::atomic<int> g_paused{0};
BYTE *g_moduleStart = nullptr, *g_moduleEnd = nullptr;
std::atomic<unsigned long long> g_site{0};

// A hash of the return addresses on the stack that lie in the component (as offsets).
unsigned long long StackSite() {
    void *frames[24] = {};
    const USHORT count = RtlCaptureStackBackTrace(1, 24, frames, nullptr);
    unsigned long long hash = 1469598103934665603ULL;
    for (USHORT i = 0; i < count; ++i) {
        auto *address = static_cast<BYTE *>(frames[i]);
        if (address < g_moduleStart || address >= g_moduleEnd) continue;
        hash = (hash ^ static_cast<unsigned long long>(address - g_moduleStart)) * 1099511628211ULL;
    }
    return hash;
}

std::mutex g_lock; // guards the two sets below
std::unordered_set<void *> g_blocks;
std::unordered_set<void *> g_heldStrings, g_heldArrays;
std::atomic<bool> g_watching{false};
std::atomic<long> g_doubleFrees{0};

// The functions the component's imports were bound to.
struct Originals {
    decltype(&malloc) malloc_;
    decltype(&calloc) calloc_;
    decltype(&realloc) realloc_;
    decltype(&free) free_;
    decltype(&_strdup) strdup_;
    decltype(&TlsAlloc) tlsAlloc;
    decltype(&FormatMessageW) formatMessage;
    decltype(&CoCreateInstance) coCreateInstance;
    decltype(&CLSIDFromProgID) clsidFromProgId;
    decltype(&CreateErrorInfo) createErrorInfo;
    decltype(&CoRegisterInitializeSpy) registerSpy;
    decltype(&SysAllocString) sysAllocString;
    decltype(&SysAllocStringLen) sysAllocStringLen;
    decltype(&SysAllocStringByteLen) sysAllocStringByteLen;
    decltype(&SysFreeString) sysFreeString;
    decltype(&VariantChangeType) variantChangeType;
    decltype(&VariantChangeTypeEx) variantChangeTypeEx;
    decltype(&VariantCopy) variantCopy;
    decltype(&VariantCopyInd) variantCopyInd;
    decltype(&SafeArrayCreateVector) safeArrayCreateVector;
    decltype(&SafeArrayDestroy) safeArrayDestroy;
    decltype(&LoadTypeLibEx) loadTypeLibEx;
    decltype(&OleCreatePictureIndirect) createPicture;
} g_real;

void Keep(void *block) {
    if (!block) return;
    std::lock_guard<std::mutex> hold(g_lock);
    g_blocks.insert(block);
}
void Forget(void *block) {
    if (!block) return;
    std::lock_guard<std::mutex> hold(g_lock);
    g_blocks.erase(block);
}

void *__cdecl Malloc(size_t size) {
    if (FailNow()) return errno = ENOMEM, nullptr;
    void *block = g_real.malloc_(size);
    Keep(block);
    return block;
}
void *__cdecl Calloc(size_t count, size_t size) {
    if (FailNow()) return errno = ENOMEM, nullptr;
    void *block = g_real.calloc_(count, size);
    Keep(block);
    return block;
}
void *__cdecl Realloc(void *old, size_t size) {
    if (FailNow()) return errno = ENOMEM, nullptr;
    void *block = g_real.realloc_(old, size);
    if (block || size == 0) Forget(old);
    Keep(block);
    return block;
}
void __cdecl Free(void *block) {
    Forget(block);
    g_real.free_(block);
}
char *__cdecl Strdup(const char *text) {
    if (FailNow()) return errno = ENOMEM, nullptr;
    char *copy = g_real.strdup_(text);
    Keep(copy);
    return copy;
}

DWORD WINAPI FailingTlsAlloc() {
    if (FailNow()) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), TLS_OUT_OF_INDEXES;
    return g_real.tlsAlloc();
}
DWORD WINAPI FailingFormatMessage(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size,
                                  va_list *args) {
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && FailNow()) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 0;
    return g_real.formatMessage(flags, source, id, language, buffer, size, args);
}
HRESULT WINAPI FailingCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *out) {
    if (FailNow()) return out && (*out = nullptr), E_OUTOFMEMORY;
    return g_real.coCreateInstance(clsid, outer, context, riid, out);
}
HRESULT WINAPI FailingClsidFromProgId(LPCOLESTR progId, LPCLSID clsid) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.clsidFromProgId(progId, clsid);
}
HRESULT WINAPI FailingCreateErrorInfo(ICreateErrorInfo **out) {
    if (FailNow()) return out && (*out = nullptr), E_OUTOFMEMORY;
    return g_real.createErrorInfo(out);
}
HRESULT WINAPI FailingRegisterSpy(IInitializeSpy *spy, ULARGE_INTEGER *cookie) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.registerSpy(spy, cookie);
}
BSTR WINAPI FailingSysAllocString(const OLECHAR *text) {
    return FailNow() ? nullptr : g_real.sysAllocString(text);
}
BSTR WINAPI FailingSysAllocStringLen(const OLECHAR *text, UINT length) {
    return FailNow() ? nullptr : g_real.sysAllocStringLen(text, length);
}
BSTR WINAPI FailingSysAllocStringByteLen(LPCSTR text, UINT length) {
    return FailNow() ? nullptr : g_real.sysAllocStringByteLen(text, length);
}
// Holds a freed string or array back while watching; counts it when it was held back before.
void HoldBack(std::unordered_set<void *> &held, void *freed) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!held.insert(freed).second) ++g_doubleFrees;
}
void WINAPI WatchedSysFreeString(BSTR text) {
    if (text && g_watching) return HoldBack(g_heldStrings, text);
    g_real.sysFreeString(text);
}
HRESULT WINAPI FailingVariantChangeType(VARIANTARG *out, VARIANTARG *in, USHORT flags, VARTYPE type) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.variantChangeType(out, in, flags, type);
}
HRESULT WINAPI FailingVariantChangeTypeEx(VARIANTARG *out, VARIANTARG *in, LCID lcid, USHORT flags,
                                          VARTYPE type) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.variantChangeTypeEx(out, in, lcid, flags, type);
}
HRESULT WINAPI FailingVariantCopy(VARIANTARG *out, VARIANTARG *in) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.variantCopy(out, in);
}
HRESULT WINAPI FailingVariantCopyInd(VARIANT *out, VARIANTARG *in) {
    if (FailNow()) return E_OUTOFMEMORY;
    return g_real.variantCopyInd(out, in);
}
HRESULT WINAPI WatchedSafeArrayDestroy(SAFEARRAY *array) {
    if (array && g_watching) return HoldBack(g_heldArrays, array), S_OK;
    return g_real.safeArrayDestroy(array);
}
SAFEARRAY *WINAPI FailingSafeArrayCreateVector(VARTYPE type, LONG lower, ULONG count) {
    return FailNow() ? nullptr : g_real.safeArrayCreateVector(type, lower, count);
}
HRESULT WINAPI FailingLoadTypeLibEx(LPCOLESTR path, REGKIND kind, ITypeLib **out) {
    if (FailNow()) return out && (*out = nullptr), E_OUTOFMEMORY;
    return g_real.loadTypeLibEx(path, kind, out);
}
HRESULT WINAPI FailingCreatePicture(LPPICTDESC desc, REFIID riid, BOOL own, LPVOID *out) {
    if (FailNow()) return out && (*out = nullptr), E_OUTOFMEMORY;
    return g_real.createPicture(desc, riid, own, out);
}

struct Redirect {
    const char *name;
    void *replacement;
    void **original; // where the function the entry was bound to is kept
};

template <class F>
Redirect To(const char *name, F *replacement, F *&original) {
    return {name, reinterpret_cast<void *>(replacement), reinterpret_cast<void **>(&original)};
}

std::vector<Redirect> Redirects() {
    return {
        To("malloc", &Malloc, g_real.malloc_),
        To("calloc", &Calloc, g_real.calloc_),
        To("realloc", &Realloc, g_real.realloc_),
        To("free", &Free, g_real.free_),
        To("_strdup", &Strdup, g_real.strdup_),
        To("TlsAlloc", &FailingTlsAlloc, g_real.tlsAlloc),
        To("FormatMessageW", &FailingFormatMessage, g_real.formatMessage),
        To("CoCreateInstance", &FailingCoCreateInstance, g_real.coCreateInstance),
        To("CLSIDFromProgID", &FailingClsidFromProgId, g_real.clsidFromProgId),
        To("CreateErrorInfo", &FailingCreateErrorInfo, g_real.createErrorInfo),
        To("CoRegisterInitializeSpy", &FailingRegisterSpy, g_real.registerSpy),
        To("SysAllocString", &FailingSysAllocString, g_real.sysAllocString),
        To("SysAllocStringLen", &FailingSysAllocStringLen, g_real.sysAllocStringLen),
        To("SysAllocStringByteLen", &FailingSysAllocStringByteLen, g_real.sysAllocStringByteLen),
        To("SysFreeString", &WatchedSysFreeString, g_real.sysFreeString),
        To("VariantChangeType", &FailingVariantChangeType, g_real.variantChangeType),
        To("VariantChangeTypeEx", &FailingVariantChangeTypeEx, g_real.variantChangeTypeEx),
        To("VariantCopy", &FailingVariantCopy, g_real.variantCopy),
        To("VariantCopyInd", &FailingVariantCopyInd, g_real.variantCopyInd),
        To("SafeArrayCreateVector", &FailingSafeArrayCreateVector, g_real.safeArrayCreateVector),
        To("SafeArrayDestroy", &WatchedSafeArrayDestroy, g_real.safeArrayDestroy),
        To("LoadTypeLibEx", &FailingLoadTypeLibEx, g_real.loadTypeLibEx),
        To("OleCreatePictureIndirect", &FailingCreatePicture, g_real.createPicture),
    };
}

// Redirects the entries of the module's import table named in `redirects`.
bool RedirectImports(HMODULE module, const std::vector<Redirect> &redirects) {
    auto *base = reinterpret_cast<BYTE *>(module);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    if (module == GetModuleHandleW(ComponentPath().c_str())) {
        g_moduleStart = base;
        g_moduleEnd = base + nt->OptionalHeader.SizeOfImage;
    }
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int redirected = 0, wanted = 0;
    for (auto *dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); dll->Name; ++dll) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + (dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk));
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char *name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name;
            for (const Redirect &r : redirects) {
                if (std::strcmp(name, r.name) != 0) continue;
                ++wanted;
                auto *slot = reinterpret_cast<void **>(&slots->u1.Function);
                if (*slot != r.replacement) *r.original = *slot;
                DWORD protection = 0;
                if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) break;
                *slot = r.replacement;
                VirtualProtect(slot, sizeof *slot, protection, &protection);
                ++redirected;
                break;
            }
        }
    }
    return wanted > 0 && redirected == wanted;
}

} // namespace

bool Attach() {
    HMODULE module = GetModuleHandleW(ComponentPath().c_str());
    if (!module) return false;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_blocks.clear();
    }
    return RedirectImports(module, Redirects());
}

bool AttachFreeWatch(HMODULE module) {
    std::vector<Redirect> frees;
    for (const Redirect &r : Redirects())
        if (std::strcmp(r.name, "SysFreeString") == 0 || std::strcmp(r.name, "SafeArrayDestroy") == 0) frees.push_back(r);
    return RedirectImports(module, frees);
}

void Arm(long n) {
    g_fired = false;
    g_counted = 0;
    g_target = n;
}

void Disarm() { g_target = 0; }
bool Fired() { return g_fired; }
unsigned long long FiredSite() { return g_site; }
long Counted() { return g_counted; }

bool FailNow() {
    const long target = g_target;
    if (target <= 0 || g_paused > 0) return false;
    if (++g_counted != target) return false;
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
    g_watching = on;
    if (on) {
        g_doubleFrees = 0;
        return;
    }
    std::unordered_set<void *> strings, arrays;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        strings.swap(g_heldStrings);
        arrays.swap(g_heldArrays);
    }
    for (void *text : strings) g_real.sysFreeString(static_cast<BSTR>(text));
    for (void *array : arrays) g_real.safeArrayDestroy(static_cast<SAFEARRAY *>(array));
}

long DoubleFrees() { return g_doubleFrees; }

long Sweep(const std::function<void(long n)> &once, long first) {
    constexpr long kMostSites = 100000; // a run that never ends its allocations is a failure of its own
    for (long n = first; n <= kMostSites; ++n) {
        once(n);
        Disarm();
        if (!Fired()) return n - 1;
    }
    return kMostSites;
}

} // namespace testing_support::faults
