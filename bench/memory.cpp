// Memory: the per-thread state of the component (its size, and what a thread's first use puts on
// the heap), and the process's private memory after many calls against after warm-up.
#include <windows.h>

#include <malloc.h>
#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "bench.h"
#include "modules/basQxAtomTables10A.h"
#include "runtime/errors.h"
#include "runtime/thread_context.h"

// --- Counting allocations ------------------------------------------------------------------------
// This program links the component's code (the same sources as the DLL), so its allocations go
// through the operator new below, which counts them on the one thread being watched.
namespace {
std::atomic<DWORD> g_watched{0};
size_t g_allocated = 0, g_blocks = 0, g_freed = 0;

void *Allocate(std::size_t size) {
    void *p = std::malloc(size ? size : 1);
    if (p && GetCurrentThreadId() == g_watched.load(std::memory_order_relaxed)) {
        g_allocated += size;
        ++g_blocks;
    }
    return p;
}
void Free(void *p) {
    if (!p) return;
    if (GetCurrentThreadId() == g_watched.load(std::memory_order_relaxed)) g_freed += _msize(p);
    std::free(p);
}
} // namespace

void *operator new(std::size_t size) {
    if (void *p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) {
    if (void *p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void operator delete(void *p) noexcept { Free(p); }
void operator delete[](void *p) noexcept { Free(p); }
void operator delete(void *p, std::size_t) noexcept { Free(p); }
void operator delete[](void *p, std::size_t) noexcept { Free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { Free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { Free(p); }

namespace bench {
namespace {

// The bytes in use in the C runtime's heap (every malloc and operator new of this program), or -1
// when the heap cannot be walked.
long long CrtHeapInUse() {
    _HEAPINFO entry{};
    long long used = 0;
    int status;
    while ((status = _heapwalk(&entry)) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) used += static_cast<long long>(entry._size);
    return status == _HEAPEND ? used : -1;
}

DWORD WINAPI FirstUse(void *out) {
    auto *results = static_cast<MemoryResults *>(out);
    const long long before = CrtHeapInUse();
    g_allocated = g_blocks = g_freed = 0;
    g_watched = GetCurrentThreadId();
    // What an instance and the atom members bring about on a new thread: the context (pinned by
    // the instance), the module's variables (the name buffer, the buddy slot), and the platform's
    // last error as every platform call records it.
    rt::ThreadContext &context = rt::ThreadContext::Current();
    context.Pin();
    basQxAtomTables10A::Thread();
    rt::RecordLastDllError(0);
    results->heapBytes = g_allocated;
    results->heapBlocks = g_blocks;
    const long long after = CrtHeapInUse();
    results->crtHeapGrowth = before >= 0 && after >= 0 ? after - before : -1;
    context.Unpin(); // the last pin: the context is discarded
    results->heapBytesLeft = g_allocated - g_freed;
    g_watched = 0;
    return 0;
}

SIZE_T PagefileUsage() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

// Ten calls: five local members through the vtable, the same five through Invoke.
void MixedCalls(Component &component, long long cycles) {
    _clsQxAtomTables10A *o = component.object.Get();
    IDispatch *d = component.dispatch.Get();
    static Bstr name(L"AtomTablesBench.Memory"), missing(L"AtomTablesBench.Memory.Missing");
    for (long long i = 0; i < cycles; ++i) {
        LONG r = 0;
        if (FAILED(o->AddAtomAmts(name.Address(), &r))) ++g_failures;
        short atom = static_cast<short>(r);
        if (FAILED(o->FindAtomAmts(name.Address(), &r))) ++g_failures;
        if (FAILED(o->FindAtomAmts(missing.Address(), &r))) ++g_failures;
        BSTR text = nullptr;
        if (FAILED(o->GetAtomNameAmts(&atom, nullptr, nullptr, &text))) ++g_failures;
        SysFreeString(text);
        if (FAILED(o->DeleteAtomAmts(&atom, &r))) ++g_failures;

        auto invoke = [&](DISPID id, VARIANTARG arg) {
            DISPPARAMS params{&arg, nullptr, 1, 0};
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO exception{};
            UINT argError = 0;
            if (FAILED(d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                 &params, &result, &exception, &argError)))
                ++g_failures;
            const LONG value = V_VT(&result) == VT_I4 ? V_I4(&result) : 0;
            VariantClear(&result);
            return value;
        };
        VARIANTARG byName, byAtom, byMissing;
        V_VT(&byName) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&byName) = name.Address();
        V_VT(&byMissing) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&byMissing) = missing.Address();
        atom = static_cast<short>(invoke(0x60030008, byName));
        V_VT(&byAtom) = VT_BYREF | VT_I2;
        V_I2REF(&byAtom) = &atom;
        invoke(0x6003000A, byName);
        invoke(0x6003000A, byMissing);
        invoke(0x6003000B, byAtom);
        invoke(0x60030009, byAtom);
    }
}

} // namespace

MemoryResults MeasureMemory(Component &component, bool quick) {
    MemoryResults results;
    results.contextSize = sizeof(rt::ThreadContext);
    results.variablesSize = sizeof(basQxAtomTables10A::Variables);
    HANDLE thread = CreateThread(nullptr, 0, FirstUse, &results, 0, nullptr);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }

    const long long cycles = quick ? 10000 : 100000; // ten calls each
    MixedCalls(component, 2000);
    results.afterWarmUp = PagefileUsage();
    MixedCalls(component, cycles);
    results.afterCalls = PagefileUsage();
    results.calls = cycles * 10;
    return results;
}

} // namespace bench
