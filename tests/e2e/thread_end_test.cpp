// A thread's end and the client's object parked in its buddy slot: the component lets go of it
// once, on that thread, while the thread's apartment still works, and never under the loader lock
// (where the client's Release could deadlock the process), whichever way the thread ends.
#include <atomic>
#include <functional>

#include <winternl.h>

#include "AtomTables10.h"
#include "support/client.h"

using namespace testing_support;

namespace {

// The loader lock: the critical section the PEB points to (its LoaderLock field), which the loader
// holds while it calls DllMain and TLS callbacks.
const RTL_CRITICAL_SECTION *TheLoaderLock() {
    using Query = NTSTATUS(NTAPI *)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return nullptr;
    auto *peb = reinterpret_cast<BYTE *>(info.PebBaseAddress);
    return *reinterpret_cast<RTL_CRITICAL_SECTION **>(peb + (sizeof(void *) == 8 ? 0x110 : 0xA0));
}
const RTL_CRITICAL_SECTION *const g_loaderLock = TheLoaderLock();

bool LoaderLockHeld() {
    return g_loaderLock &&
           g_loaderLock->OwningThread == reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

bool ApartmentAlive() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return CoGetApartmentType(&type, &qualifier) == S_OK;
}

// What Release saw when the component let go of its reference.
struct Letting {
    int count = 0;
    bool underLoaderLock = false;
    bool apartmentAlive = false;
    DWORD thread = 0;
};

// The client's object: an IDispatch that records the release of every reference besides its
// creator's.
class Parked final : public IDispatch {
public:
    Letting letting;
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch) return *object = nullptr, E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const long left = --references_;
        if (left == 1) {
            ++letting.count;
            letting.underLoaderLock = LoaderLockHeld();
            letting.apartmentAlive = ApartmentAlive();
            letting.thread = GetCurrentThreadId();
        }
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    long Held() const { return references_ - 1; }

private:
    std::atomic<long> references_{1};
};

// The thread's instance, when it is kept until the thread ends: released by the C++ runtime's
// thread-local storage, under the loader lock.
struct KeptUntilThreadEnds {
    ComPtr<_clsQxAtomTables10A> instance;
    bool *releasedUnderLoaderLock = nullptr;
    ~KeptUntilThreadEnds() {
        if (!instance) return;
        *releasedUnderLoaderLock = LoaderLockHeld();
        instance.Reset();
    }
};
thread_local KeptUntilThreadEnds t_kept;

enum class Instances { ReleasedFirst, KeptUntilTheEnd, ReleasedAfterUninitialize, Leaked };

struct Ending {
    const char *name;
    Instances instances;
    bool uninitialize; // the thread uninitializes its apartment
    int releases;      // how often the component lets go of the object (0: it cannot safely)
};

const Ending kEndings[] = {
    {"instances released first", Instances::ReleasedFirst, true, 1},
    {"instances kept until the thread ends (its thread-local storage)", Instances::KeptUntilTheEnd, true, 1},
    {"CoUninitialize with the slot still full, instances released afterwards", Instances::ReleasedAfterUninitialize,
     true, 1},
    {"instances leaked for good", Instances::Leaked, true, 1},
    // No safe point is left: its apartment is never uninitialized, and the thread's end runs under
    // the loader lock. The object stays, as the apartment's own objects do.
    {"instances kept until the thread ends, the apartment never uninitialized", Instances::KeptUntilTheEnd, false, 0},
};

DWORD WINAPI RunEnding(void *argument) {
    auto *run = static_cast<std::function<void()> *>(argument);
    (*run)();
    return 0;
}

} // namespace

TEST(ThreadEnd, TheParkedObjectIsReleasedAtASafePoint) {
    ASSERT_TRUE(g_loaderLock) << "the loader lock cannot be found";
    EXPECT_FALSE(LoaderLockHeld());
    for (const Ending &ending : kEndings) {
        SCOPED_TRACE(ending.name);
        Parked parked;
        DWORD worker = 0;
        bool keptReleasedUnderLoaderLock = false;
        std::function<void()> body = [&] {
            worker = GetCurrentThreadId();
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            ComPtr<IDispatch> object = Create(L"AtomTables10.clsQxAtomTables10A");
            ComPtr<_clsQxAtomTables10A> tables;
            ASSERT_EQ(S_OK, object.As(&tables));
            object.Reset();
            ASSERT_EQ(S_OK, tables->putref_BuddyObjectGlobal(&parked));
            switch (ending.instances) {
            case Instances::ReleasedFirst: tables.Reset(); break;
            case Instances::KeptUntilTheEnd:
                t_kept.instance = tables;
                t_kept.releasedUnderLoaderLock = &keptReleasedUnderLoaderLock;
                tables.Reset();
                break;
            case Instances::ReleasedAfterUninitialize:
            case Instances::Leaked: break;
            }
            if (ending.uninitialize) CoUninitialize();
            if (ending.instances == Instances::ReleasedAfterUninitialize) tables.Reset();
            if (ending.instances == Instances::Leaked) static_cast<void>(tables.Detach());
        };
        HANDLE thread = CreateThread(nullptr, 0, RunEnding, &body, 0, nullptr);
        ASSERT_TRUE(thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);

        if (ending.instances == Instances::KeptUntilTheEnd) {
            EXPECT_TRUE(keptReleasedUnderLoaderLock) << "the thread's end ran the release under the loader lock";
        }
        EXPECT_EQ(ending.releases, parked.letting.count);
        EXPECT_EQ(1 - ending.releases, parked.Held());
        if (parked.letting.count == 0) continue;
        EXPECT_FALSE(parked.letting.underLoaderLock) << "released under the loader lock";
        EXPECT_TRUE(parked.letting.apartmentAlive) << "released after its apartment had gone";
        EXPECT_EQ(worker, parked.letting.thread) << "released on another thread";
    }
}
