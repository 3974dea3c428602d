// Both architectures side by side on 64-bit Windows, as users install them: the release bundle's x64
// and x86 folders in one 64-bit prefix with its 32-bit side, each DLL registered by the regsvr32 of
// its own architecture (system32 for the 64-bit one, syswow64 for the 32-bit one).
//
// The program is built for both architectures. Each build checks what its own architecture's
// programs see (Registered.*, Unregistered.*). The 64-bit build also drives the sequences: here
// (SideBySide.*) it registers and unregisters the two DLLs in every order and, after each step,
// starts both architectures' builds of itself and both architectures' cscript to look; the
// installer packages have theirs (installer_test.cpp).
//
// Environment: drive.h; and ATOMTABLES_COMPONENT_FOLDER and ATOMTABLES_LIBRARY_FOLDER (where the
// component and the common library should come from, when not the bundle's folder of this
// architecture).
#include <cstdio>
#include <thread>

#include "AtomTables10.h"
#include "release/bundle_client.h"
#include "support/client.h"
#include "support/registry_snapshot.h"
#include "wow64/drive.h"

using namespace testing_support;
using namespace wow64;

namespace {

bool SamePath(const std::wstring &a, const std::wstring &b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// The folder this architecture's component (or common library) is registered from.
std::wstring Folder(const wchar_t *variable) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(variable, folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : bundle::LaneDir();
}

std::wstring LoadedFrom(const wchar_t *dll) {
    HMODULE module = GetModuleHandleW(dll);
    if (!module) return L"<not loaded>";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// A name no other run uses, so that the atom tables of earlier runs cannot answer for this one.
std::wstring UniqueName(const wchar_t *what) {
    return std::wstring(L"side by side ") + bundle::Lane() + L" " + what + L" " + std::to_wstring(GetCurrentProcessId()) +
           L" " + std::to_wstring(GetTickCount());
}

// An add, a read back and a delete through the vtable, as early-bound programs call.
void RoundTripThroughTheVtable(_clsQxAtomTables10A *tables, const wchar_t *what) {
    Bstr name(UniqueName(what));
    const std::wstring expected(name.View());
    LONG atom = 0;
    ASSERT_EQ(S_OK, tables->AddAtomAmts(name.Address(), &atom));
    ASSERT_LT(atom, 0) << "a string atom comes back negative";
    // Every pointer given: an omitted (null) in-out parameter cannot cross an apartment.
    SHORT number = static_cast<SHORT>(atom), size = 0, copied = 0;
    Bstr text;
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, text.Receive()));
    EXPECT_EQ(expected, std::wstring(text.View().substr(0, copied)));
    LONG status = -1;
    EXPECT_EQ(S_OK, tables->DeleteAtomAmts(&number, &status));
    EXPECT_EQ(0, status);
}

// --- What one architecture's programs see -------------------------------------------------------

TEST(Registered, CreatedByProgIdFromThisArchitecturesFolder) {
    Apartment apartment;
    MainClass tables(Binding::Late);
    ASSERT_TRUE(tables.Dispatch());
    Bstr name(UniqueName(L"late"));
    const std::wstring expected(name.View());
    const long atom = tables.Add(*name.Address());
    ASSERT_EQ(S_OK, tables.Status());
    ASSERT_LT(atom, 0);
    short copied = 0;
    const std::wstring text = tables.GetName(static_cast<short>(atom), nullptr, &copied);
    EXPECT_EQ(expected, text.substr(0, copied));
    EXPECT_EQ(0, tables.Delete(static_cast<short>(atom)));
    EXPECT_TRUE(SamePath(Folder(L"ATOMTABLES_COMPONENT_FOLDER") + L"\\AtomTables10.dll", LoadedFrom(L"AtomTables10.dll")))
        << Narrow(LoadedFrom(L"AtomTables10.dll"));
}

TEST(Registered, EarlyBoundThroughTheRegisteredTypeLibrary) {
    Apartment apartment;
    // The library as registered for this platform, and the interface as the library describes it.
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_AtomTables10, 1, 0, 0, &library));
    Bstr path;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_AtomTables10, 1, 0, 0, path.Receive()));
    EXPECT_TRUE(SamePath(Folder(L"ATOMTABLES_COMPONENT_FOLDER") + L"\\AtomTables10.dll", std::wstring(path.View()))) << Narrow(std::wstring(path.View()));
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID__clsQxAtomTables10A, &info));

    ComPtr<_clsQxAtomTables10A> tables;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAtomTables10A,
                                     reinterpret_cast<void **>(tables.GetAddressOf())));
    RoundTripThroughTheVtable(tables.Get(), L"early");
}

TEST(Registered, CalledFromAnotherApartmentThroughTheTypeLibraryMarshaler) {
    Apartment apartment;
    ComPtr<_clsQxAtomTables10A> tables;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAtomTables10A,
                                     reinterpret_cast<void **>(tables.GetAddressOf())));
    IStream *stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID__clsQxAtomTables10A, tables.Get(), &stream));

    // A thread of the multithreaded apartment gets a proxy; this thread's apartment serves the calls
    // while it waits.
    HRESULT unmarshalled = E_UNEXPECTED;
    bool proxy = false;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(done);
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<_clsQxAtomTables10A> remote;
            unmarshalled = CoGetInterfaceAndReleaseStream(stream, IID__clsQxAtomTables10A,
                                                          reinterpret_cast<void **>(remote.GetAddressOf()));
            if (SUCCEEDED(unmarshalled)) {
                ComPtr<IUnknown> a, b;
                remote.As(&a);
                tables.As(&b);
                proxy = a.Get() != b.Get();
                RoundTripThroughTheVtable(remote.Get(), L"marshalled");
            }
        }
        CoUninitialize();
        SetEvent(done);
    });
    while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    other.join();
    CloseHandle(done);
    ASSERT_EQ(S_OK, unmarshalled);
    EXPECT_TRUE(proxy) << "the other apartment calls through a proxy";
}

TEST(Registered, ReportsReachThisArchitecturesCommonLibrary) {
    Apartment apartment;
    wchar_t journal[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"QXBEDROCK10_LOG", journal, MAX_PATH), 0u);
    auto reports = [&] {
        const std::string text = bundle::ReadFile(journal);
        size_t count = 0;
        for (size_t at = text.find("czAtomTables.GetAtomNameAmts"); at != std::string::npos;
             at = text.find("czAtomTables.GetAtomNameAmts", at + 1))
            ++count;
        return count;
    };
    const size_t before = reports();
    MainClass tables(Binding::Early);
    ASSERT_TRUE(tables.Vtable());
    short size = 32767; // cannot grow by one: the overflow is reported, and the read goes on
    tables.GetName(1, &size);
    EXPECT_EQ(S_OK, tables.Status());
    EXPECT_EQ(before + 1, reports());
    EXPECT_TRUE(SamePath(Folder(L"ATOMTABLES_LIBRARY_FOLDER") + L"\\QxBedrock10.dll", LoadedFrom(L"QxBedrock10.dll")))
        << "the report went to " << Narrow(LoadedFrom(L"QxBedrock10.dll"));
}

TEST(Unregistered, TheClassIsUnknownToThisArchitecture) {
    Apartment apartment;
    ComPtr<IUnknown> object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(object.GetAddressOf())));
    ComPtr<IDispatch> byProgId;
    EXPECT_NE(S_OK, TryCreate(L"AtomTables10.clsQxAtomTables10A", byProgId));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"AtomTables10.dll"));
}

// --- The sequence, driven by the 64-bit build -------------------------------------------------

std::wstring Dll(const std::wstring &lane, const wchar_t *name) { return bundle::Root() + L"\\" + lane + L"\\" + name; }

struct Step {
    enum { Register, Unregister } what;
    const wchar_t *lane;
};

void PrintTo(const Step &step, std::ostream *out) {
    *out << (step.what == Step::Register ? "register " : "unregister ") << Narrow(step.lane);
}

std::string Describe(const std::vector<Step> &steps) {
    std::string text;
    for (const Step &step : steps)
        text += std::string(text.empty() ? "" : ", ") + (step.what == Step::Register ? "register " : "unregister ") +
                Narrow(step.lane);
    return text;
}

class SideBySide : public ::testing::TestWithParam<std::vector<Step>> {
protected:
    static void SetUpTestSuite() {
        if (sizeof(void *) != 8) return;
        before_ = new Snapshot(WholeClasses());
    }
    static void TearDownTestSuite() {
        delete before_;
        before_ = nullptr;
    }
    void SetUp() override {
        if (sizeof(void *) != 8) GTEST_SKIP() << "the 64-bit build drives the sequence";
        ASSERT_GT(before_->size(), 100u) << "the prefix's classes were read";
    }

    // regsvr32 of the DLL's own architecture, as the bundle's README says; both the component and
    // its common library, the library first in and last out.
    static DWORD Regsvr32(const Step &step) {
        const std::wstring regsvr32 = SystemProgram(step.lane, L"regsvr32.exe");
        const std::wstring component = bundle::Quoted(Dll(step.lane, L"AtomTables10.dll"));
        const std::wstring library = bundle::Quoted(Dll(step.lane, L"QxBedrock10.dll"));
        return bundle::RunProgram(regsvr32, step.what == Step::Register ? L"/s " + library + L" " + component
                                                                        : L"/u /s " + component + L" " + library)
            .exitCode;
    }

    static Snapshot *before_;
};
Snapshot *SideBySide::before_ = nullptr;

TEST_P(SideBySide, EachArchitectureKeepsWorkingWhateverTheOtherDoes) {
    std::map<std::wstring, bool> registered{{L"x64", false}, {L"x86", false}};
    std::string done;
    for (const Step &step : GetParam()) {
        done += std::string(done.empty() ? "after " : ", ") + (step.what == Step::Register ? "register " : "unregister ") +
                Narrow(step.lane);
        ASSERT_EQ(0u, Regsvr32(step)) << done;
        const bool changed = registered[step.lane] != (step.what == Step::Register);
        registered[step.lane] = step.what == Step::Register;
        for (const wchar_t *lane : kLanes) EXPECT_TRUE(LookFromClient(lane, registered[lane], done));
        // Both script hosts once both are registered, and the one left after an unregistration
        // (where shared keys used to go with the other architecture).
        const bool both = registered[L"x64"] && registered[L"x86"];
        const bool one = registered[L"x64"] != registered[L"x86"];
        if (changed && (both || (one && step.what == Step::Unregister))) {
            for (const wchar_t *lane : kLanes) {
                if (registered[lane]) {
                    EXPECT_TRUE(LookFromScript(lane, bundle::Root() + L"\\" + lane, done));
                }
            }
        }
    }
    const Snapshot after = WholeClasses();
    EXPECT_TRUE(*before_ == after) << "both views of the classes registry after " << Describe(GetParam()) << ":\n"
                               << Diff(*before_, after);
}

const Step kRegister64{Step::Register, L"x64"}, kRegister32{Step::Register, L"x86"};
const Step kUnregister64{Step::Unregister, L"x64"}, kUnregister32{Step::Unregister, L"x86"};

INSTANTIATE_TEST_SUITE_P(
    EveryOrder, SideBySide,
    ::testing::Values(std::vector<Step>{kRegister32, kRegister64, kUnregister32, kUnregister64},
                      std::vector<Step>{kRegister32, kRegister64, kUnregister64, kUnregister32},
                      std::vector<Step>{kRegister64, kRegister32, kUnregister64, kUnregister32},
                      std::vector<Step>{kRegister64, kRegister32, kUnregister32, kUnregister64},
                      // Again and again: registering twice, and unregistering what is already gone.
                      std::vector<Step>{kRegister64, kRegister64, kRegister32, kRegister32, kUnregister32, kUnregister32,
                                        kUnregister64, kUnregister64}),
    [](const ::testing::TestParamInfo<std::vector<Step>> &info) { return "order" + std::to_string(info.index); });

} // namespace
