// Both architectures side by side on 64-bit Windows, as users install them: the release bundle's x64
// and x86 folders in one 64-bit prefix with its 32-bit side, each DLL registered by the regsvr32 of
// its own architecture (system32 for the 64-bit one, syswow64 for the 32-bit one).
//
// The program is built for both architectures. Each build checks what its own architecture's
// programs see (Registered.*, Unregistered.*). The 64-bit build also drives the whole sequence
// (SideBySide.*): it registers and unregisters the two DLLs in every order and, after each step,
// starts both architectures' builds of itself and both architectures' cscript to look.
//
// Environment: ATOMTABLES_BUNDLE (the unpacked bundle), ATOMTABLES_WORK (a scratch folder),
// ATOMTABLES_SIDE_BY_SIDE_x64 / _x86 (each architecture's build of this program) and
// ATOMTABLES_SIDE_BY_SIDE_VBS (the script both cscripts run), all in Windows form.
#include <cstdio>
#include <thread>

#include "AtomTables10.h"
#include "release/bundle_client.h"
#include "support/client.h"
#include "support/registry_snapshot.h"

using namespace testing_support;

namespace {

bool SamePath(const std::wstring &a, const std::wstring &b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring LoadedFrom(const wchar_t *dll) {
    HMODULE module = GetModuleHandleW(dll);
    if (!module) return L"<not loaded>";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

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
    EXPECT_TRUE(SamePath(bundle::LaneDir() + L"\\AtomTables10.dll", LoadedFrom(L"AtomTables10.dll")))
        << Narrow(LoadedFrom(L"AtomTables10.dll"));
}

TEST(Registered, EarlyBoundThroughTheRegisteredTypeLibrary) {
    Apartment apartment;
    // The library as registered for this platform, and the interface as the library describes it.
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_AtomTables10, 1, 0, 0, &library));
    Bstr path;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_AtomTables10, 1, 0, 0, path.Receive()));
    EXPECT_TRUE(SamePath(bundle::LaneDir() + L"\\AtomTables10.dll", std::wstring(path.View()))) << Narrow(std::wstring(path.View()));
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
    EXPECT_TRUE(SamePath(bundle::LaneDir() + L"\\QxBedrock10.dll", LoadedFrom(L"QxBedrock10.dll")))
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

std::wstring Environment(const wchar_t *name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

const wchar_t *const kLanes[] = {L"x64", L"x86"};

// A system program of one architecture: system32 holds the 64-bit ones, syswow64 the 32-bit ones.
std::wstring SystemProgram(const std::wstring &lane, const wchar_t *name) {
    wchar_t folder[MAX_PATH] = {};
    if (lane == L"x64") {
        GetSystemDirectoryW(folder, MAX_PATH);
    } else {
        GetSystemWow64DirectoryW(folder, MAX_PATH);
    }
    return std::wstring(folder) + L"\\" + name;
}

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

    // Runs one architecture's build of this program on the tests for what it should see.
    static void Look(const std::wstring &lane, bool registered, const std::string &when) {
        const std::wstring journal = bundle::WorkDir() + L"\\QxBedrock10-" + lane + L".log";
        SetEnvironmentVariableW(L"QXBEDROCK10_LOG", journal.c_str());
        const bundle::Run run = bundle::RunProgram(Environment((L"ATOMTABLES_SIDE_BY_SIDE_" + lane).c_str()),
                                                   registered ? L"--gtest_filter=Registered.*"
                                                              : L"--gtest_filter=Unregistered.*");
        EXPECT_EQ(0u, run.exitCode) << "the " << Narrow(lane) << " client " << when << ":\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(registered ? "[  PASSED  ] 4 tests." : "[  PASSED  ] 1 test."))
            << "the " << Narrow(lane) << " client ran its tests " << when << ":\n" << run.output;
    }

    // The same architecture's cscript runs the side-by-side script, which finds its own DLL.
    static void LookFromScript(const std::wstring &lane, const std::string &when) {
        const bundle::Run run = bundle::RunProgram(SystemProgram(lane, L"cscript.exe"),
                                                   L"//nologo " + bundle::Quoted(Environment(L"ATOMTABLES_SIDE_BY_SIDE_VBS")) +
                                                       L" " + lane);
        EXPECT_EQ(0u, run.exitCode) << Narrow(lane) << " cscript " << when << ":\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find("checks passed")) << run.output;
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
        for (const wchar_t *lane : kLanes) Look(lane, registered[lane], done);
        // Both script hosts once both are registered, and the one left after an unregistration
        // (where shared keys used to go with the other architecture).
        const bool both = registered[L"x64"] && registered[L"x86"];
        const bool one = registered[L"x64"] != registered[L"x86"];
        if (changed && (both || (one && step.what == Step::Unregister)))
            for (const wchar_t *lane : kLanes)
                if (registered[lane]) LookFromScript(lane, done);
    }
    const Snapshot after = WholeClasses();
    EXPECT_EQ(*before_, after) << "both views of the classes registry after " << Describe(GetParam()) << ":\n"
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
