// A thread's end and the client's object parked in its buddy slot: the component lets go of it
// once, on that thread, while the thread's apartment still works, and never under the loader lock
// (where the client's Release could deadlock the process), whichever way the thread ends.
#include <functional>

#include <winternl.h>

#include "AtomTables10.h"
#include "reliability/harness.h"

using namespace testing_support;

namespace {

// The loader lock, which the loader holds while it calls DllMain and TLS callbacks: the critical
// section the PEB's LoaderLock field points to.
const RTL_CRITICAL_SECTION *TheLoaderLock() {
    using Query = NTSTATUS(NTAPI *)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return nullptr;
    return *reinterpret_cast<RTL_CRITICAL_SECTION **>(reinterpret_cast<BYTE *>(info.PebBaseAddress) +
                                                      (sizeof(void *) == 8 ? 0x110 : 0xA0));
}
const RTL_CRITICAL_SECTION *const g_loaderLock = TheLoaderLock();
bool LoaderLockHeld() {
    return g_loaderLock && g_loaderLock->OwningThread == ULongToHandle(GetCurrentThreadId());
}

// Where the component let go of its reference to the client's object.
struct Letting {
    int count = 0;
    bool underLoaderLock = false, apartmentAlive = false;
    DWORD thread = 0;
} g_letting;
bool g_keptReleasedUnderLoaderLock = false;

// The client's object: it records its release down to its creator's reference.
class Parked final : public CountedObject {
public:
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = CountedObject::Release();
        if (left != 1) return left;
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        g_letting = {g_letting.count + 1, LoaderLockHeld(), CoGetApartmentType(&type, &qualifier) == S_OK,
                     GetCurrentThreadId()};
        return left;
    }
};

// The thread's instance, when it is kept until the thread ends: released by the C++ runtime's
// thread-local storage, under the loader lock.
struct KeptUntilThreadEnds {
    ComPtr<_clsQxAtomTables10A> instance;
    ~KeptUntilThreadEnds() {
        if (instance) g_keptReleasedUnderLoaderLock = LoaderLockHeld();
    }
};
thread_local KeptUntilThreadEnds t_kept;

enum class Instances { ReleasedFirst, KeptUntilTheEnd, ReleasedAfterUninitialize, Leaked };
struct Ending {
    const char *name;
    Instances instances;
    bool uninitialize; // the thread uninitializes its apartment
    int releases;      // 0: no safe point is left (its apartment is never uninitialized), the object stays
};
const Ending kEndings[] = {
    {"instances released first", Instances::ReleasedFirst, true, 1},
    {"instances kept until the thread ends (its thread-local storage)", Instances::KeptUntilTheEnd, true, 1},
    {"CoUninitialize with the slot still full, instances released afterwards", Instances::ReleasedAfterUninitialize, true, 1},
    {"instances leaked", Instances::Leaked, true, 1},
    {"instances kept until the thread ends, the apartment never uninitialized", Instances::KeptUntilTheEnd, false, 0},
};

// A plain Windows thread (its thread-local storage ends in the loader's thread-detach callbacks).
DWORD WINAPI RunBody(void *body) {
    (*static_cast<const std::function<void()> *>(body))();
    return 0;
}
void OnPlainThread(const std::function<void()> &body) {
    HANDLE thread = CreateThread(nullptr, 0, RunBody, const_cast<std::function<void()> *>(&body), 0, nullptr);
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

} // namespace

TEST(ThreadEnd, TheParkedObjectIsReleasedAtASafePoint) {
    ASSERT_TRUE(g_loaderLock) << "the loader lock cannot be found";
    EXPECT_FALSE(LoaderLockHeld());
    for (const Ending &ending : kEndings) {
        SCOPED_TRACE(ending.name);
        Parked parked;
        g_letting = {};
        g_keptReleasedUnderLoaderLock = false;
        DWORD worker = 0;
        OnPlainThread([&] {
            worker = GetCurrentThreadId();
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            ComPtr<_clsQxAtomTables10A> tables;
            ASSERT_EQ(S_OK, Create(L"AtomTables10.clsQxAtomTables10A").As(&tables));
            ASSERT_EQ(S_OK, tables->putref_BuddyObjectGlobal(parked.Dispatch()));
            if (ending.instances == Instances::ReleasedFirst) tables.Reset();
            if (ending.instances == Instances::KeptUntilTheEnd) t_kept.instance.Swap(tables);
            if (ending.uninitialize) CoUninitialize();
            if (ending.instances == Instances::Leaked) static_cast<void>(tables.Detach());
        });

        if (ending.instances == Instances::KeptUntilTheEnd) {
            EXPECT_TRUE(g_keptReleasedUnderLoaderLock) << "the thread's end ran the release under the loader lock";
        }
        EXPECT_EQ(ending.releases, g_letting.count);
        EXPECT_EQ(1 - ending.releases, parked.Held());
        if (g_letting.count == 0) continue;
        EXPECT_FALSE(g_letting.underLoaderLock) << "released under the loader lock";
        EXPECT_TRUE(g_letting.apartmentAlive) << "released after its apartment had gone";
        EXPECT_EQ(worker, g_letting.thread) << "released on another thread";
    }
}
