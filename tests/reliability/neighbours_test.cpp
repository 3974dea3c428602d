// Failing neighbours: the common library not installed, one of its classes missing or registered to
// a file that is gone or broken, its methods raising errors, or answering in ways a well-behaved
// library does not. In every case the component does what its contracts say (trapped failures are
// reported and the member returns its default; only a report that cannot be made reaches the
// client, as the member's error), keeps working for everything else, never crashes, and leaves
// nothing alive.
//
// (The platform's atom functions missing is the other neighbour: unit.core's PlatformBinding tests
// take each of the nine away in turn.)
//
// These tests change the common library's registration and put it back afterwards: nothing else
// may run meanwhile.
#include <cstdio>

#include <windows.h>
#include <tlhelp32.h>

#include "AtomTables10.h"
#include "support/allocation_faults.h"
#include "harness.h"
#include "support/expected.h"
#include "support/recording_library.h"

using namespace reliability;
using namespace testing_support;

namespace {

const wchar_t *const kHandler = RecordingLibrary::kErrorHandler;
const wchar_t *const kEnvironment = RecordingLibrary::kEnvironment;
const wchar_t *const kBedrock = RecordingLibrary::kBedrock;
const wchar_t *const kMain = L"AtomTables10.clsQxAtomTables10A";
const wchar_t *const kAtoms = L"AtomTables10.clsQxAmtsAtomsA";

using EntryPoint = HRESULT(WINAPI *)();

EntryPoint Export(HMODULE module, const char *name) {
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The journal's entries: the kind and the fields of each line (the time left out).
std::vector<std::vector<std::wstring>> Entries(const Journal &journal) {
    std::vector<std::vector<std::wstring>> entries;
    for (const std::wstring &line : journal.Lines()) {
        std::vector<std::wstring> fields;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (fields.size() > 1) entries.emplace_back(fields.begin() + 1, fields.end());
    }
    return entries;
}

// The reports in the journal from one source, as their error numbers.
std::vector<std::wstring> ReportNumbers(const Journal &journal, const std::wstring &source) {
    std::vector<std::wstring> numbers;
    for (const auto &entry : Entries(journal))
        if (entry.size() >= 3 && entry[0] == L"REPORT" && entry[1] == source) numbers.push_back(entry[2]);
    return numbers;
}

long Count(const Journal &journal, const wchar_t *kind) {
    long n = 0;
    for (const auto &entry : Entries(journal)) n += !entry.empty() && entry[0] == kind;
    return n;
}

std::wstring Guid(const GUID &guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// A read whose size cannot grow: a trapped overflow, which the member reports. What the client sees.
struct Seen {
    HRESULT hr = E_UNEXPECTED;        // Invoke's answer, or the vtable's
    HRESULT status = E_UNEXPECTED;    // the member's status
    std::wstring description;
    short size = 0;
    UINT length = 0; // of the result string
};

Seen OverflowLate(IDispatch *main) {
    Seen seen;
    seen.size = 32767;
    Call call = Method(main, L"GetAtomNameAmts", {I2(static_cast<short>(0xC000)), Ref(&seen.size)});
    seen.hr = call.hr;
    seen.status = call.hr == DISP_E_EXCEPTION ? call.scode : call.hr;
    seen.description = call.description;
    if (call.result.Type() == VT_BSTR) seen.length = SysStringLen(V_BSTR(call.result.Get()));
    return seen;
}

Seen OverflowEarly(IDispatch *main) {
    Seen seen;
    ComPtr<_clsQxAtomTables10A> tables;
    if (FAILED(ComPtr<IDispatch>(main).As(&tables))) return seen;
    seen.size = 32767;
    short atom = static_cast<short>(0xC000);
    Bstr result;
    seen.hr = seen.status = tables->GetAtomNameAmts(&atom, &seen.size, nullptr, result.Receive());
    if (FAILED(seen.hr)) seen.description = ErrorInfoDescription();
    seen.length = result.Length();
    return seen;
}

HRESULT AboutLate(IDispatch *main, long *result = nullptr) {
    Call call = Method(main, L"About");
    if (result && call.result.Type() == VT_I4) *result = V_I4(call.result.Get());
    return call.hr == DISP_E_EXCEPTION ? call.scode : call.hr;
}

// The plain members work whatever the library does: add, find, read back, delete; a string of
// the component's own; the buddy slot.
void ExpectPlainMembersWork(IDispatch *main) {
    ComPtr<_clsQxAtomTables10A> tables;
    ASSERT_EQ(S_OK, ComPtr<IDispatch>(main).As(&tables));
    Bstr name(L"Neighbours." + std::to_wstring(GetCurrentProcessId()));
    LONG atom = 0, found = 0, status = -1;
    ASSERT_EQ(S_OK, tables->AddAtomAmts(name.Address(), &atom));
    EXPECT_NE(0, atom);
    EXPECT_EQ(S_OK, tables->FindAtomAmts(name.Address(), &found));
    EXPECT_EQ(atom, found);
    short number = static_cast<short>(atom), copied = 0;
    Bstr text;
    EXPECT_EQ(S_OK, tables->GetAtomNameAmts(&number, nullptr, &copied, text.Receive()));
    EXPECT_EQ(static_cast<short>(name.Length()), copied);
    EXPECT_EQ(S_OK, tables->DeleteAtomAmts(&number, &status));
    EXPECT_EQ(0, status);
    LONG id = 121;
    EXPECT_EQ(S_OK, tables->get_GetProResStrings(&id, text.Receive()));
    EXPECT_GT(text.Length(), 0u);
    CountedObject buddy;
    EXPECT_EQ(S_OK, tables->putref_BuddyObjectGlobal(&buddy));
    ComPtr<IDispatch> parked;
    EXPECT_EQ(S_OK, tables->get_BuddyObjectGlobal(&parked));
    EXPECT_EQ(&buddy, parked.Get());
    parked.Reset();
    EXPECT_EQ(S_OK, tables->putref_BuddyObjectGlobal(nullptr));
    EXPECT_EQ(0, buddy.Held());
}

// Ends the surrogate processes (dllhost.exe) that COM started from this process, and says how many.
// A class whose file cannot be loaded in-process is asked of a local server too (CreateObject asks
// for either, as scripts do); 32-bit Wine then starts a surrogate for it, which stays, and which
// would keep this test's output open after it ended.
int EndSurrogates() {
    int ended = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(entry.szExeFile, L"dllhost.exe") != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        if (TerminateProcess(process, 0)) ++ended;
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return ended;
}

// The common library's own registration entry points, and the component's DllCanUnloadNow. Each
// test ends with nothing of the component alive and the library registered as before.
struct Neighbours : ::testing::Test {
    void SetUp() override {
        bedrock = LoadLibraryW(BedrockPath().c_str());
        ASSERT_TRUE(bedrock);
        registerLibrary = Export(bedrock, "DllRegisterServer");
        unregisterLibrary = Export(bedrock, "DllUnregisterServer");
        ASSERT_TRUE(registerLibrary && unregisterLibrary);
        component = LoadLibraryW(ComponentPath().c_str());
        ASSERT_TRUE(component);
        canUnloadNow = Export(component, "DllCanUnloadNow");
        ASSERT_TRUE(canUnloadNow);
    }
    void TearDown() override {
        if (canUnloadNow) {
            EXPECT_EQ(S_OK, canUnloadNow()) << "objects of the component are still alive";
        }
        if (registerLibrary) {
            EXPECT_EQ(S_OK, registerLibrary()) << "the common library registered again";
        }
        CLSID clsid;
        for (const wchar_t *progId : {kHandler, kEnvironment, kBedrock})
            EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &clsid)) << Narrow(progId);
        if (component) FreeLibrary(component);
        if (bedrock) FreeLibrary(bedrock);
    }

    // Takes one class of the library away: its ProgID and its class key.
    void RemoveClass(const wchar_t *progId) {
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        const std::wstring key = L"CLSID\\" + Guid(clsid);
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, progId));
        RegDeleteKeyW(HKEY_CLASSES_ROOT, progId);
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()));
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        EXPECT_NE(S_OK, CLSIDFromProgID(progId, &clsid)) << "the class is gone";
    }

    // Points one class of the library at another file.
    void RedirectClass(const wchar_t *progId, const std::wstring &file) {
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        const std::wstring key = L"CLSID\\" + Guid(clsid) + L"\\InprocServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, file.c_str(),
                                                 static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))));
    }

    HMODULE bedrock = nullptr, component = nullptr;
    EntryPoint registerLibrary = nullptr, unregisterLibrary = nullptr, canUnloadNow = nullptr;
};

} // namespace

TEST_F(Neighbours, TheLibraryNotInstalled) {
    Journal journal(L"reliability-neighbours.log");
    ASSERT_EQ(S_OK, unregisterLibrary());
    CLSID clsid;
    ASSERT_NE(S_OK, CLSIDFromProgID(kHandler, &clsid)) << "the library is unregistered";
    {
        ComPtr<IDispatch> main = Create(kMain);
        ASSERT_TRUE(main);

        // The overflow cannot be reported: the reporter's failure is what the caller gets.
        for (const Seen &seen : {OverflowLate(main.Get()), OverflowEarly(main.Get())}) {
            EXPECT_EQ(kCantCreate, seen.status);
            EXPECT_NE(std::wstring::npos, seen.description.find(kHandler)) << Narrow(seen.description);
            EXPECT_EQ(32767, seen.size);
        }
        EXPECT_EQ(DISP_E_EXCEPTION, OverflowLate(main.Get()).hr);

        // About: the library's class cannot be created, and that cannot be reported either.
        EXPECT_EQ(kCantCreate, AboutLate(main.Get()));
        ComPtr<_clsQxAtomTables10A> tables;
        ASSERT_EQ(S_OK, main.As(&tables));
        LONG result = -1;
        EXPECT_EQ(kCantCreate, tables->About(&result));
        EXPECT_NE(std::wstring::npos, ErrorInfoDescription().find(kHandler));

        // clsQxAmtsAtomsA cannot ensure the environment, nor report that: it cannot be created.
        ComPtr<IDispatch> atoms;
        EXPECT_EQ(kCantCreate, TryCreate(kAtoms, atoms));
        EXPECT_FALSE(atoms);
        for (const wchar_t *placeholder : {L"AtomTables10.clsQxAmtsGeneralA", L"AtomTables10.clsQxAmtsAdvancedA"})
            EXPECT_EQ(S_OK, TryCreate(placeholder, atoms)) << Narrow(placeholder);
        atoms.Reset();

        ExpectPlainMembersWork(main.Get());
    }
    EXPECT_TRUE(Entries(journal).empty()) << "no library, no journal";
}

TEST_F(Neighbours, OneClassOfTheLibraryMissing) {
    BoxWatcher watcher; // the library's About box, when it can show one
    for (const wchar_t *missing : {kHandler, kEnvironment, kBedrock}) {
        SCOPED_TRACE(Narrow(missing) + " missing");
        Journal journal(L"reliability-neighbours.log");
        RemoveClass(missing);
        {
            ComPtr<IDispatch> main = Create(kMain);
            ASSERT_TRUE(main);

            const Seen overflow = OverflowLate(main.Get());
            if (missing == kHandler) {
                EXPECT_EQ(kCantCreate, overflow.status) << "the report cannot be made";
                EXPECT_NE(std::wstring::npos, overflow.description.find(kHandler));
            } else {
                EXPECT_EQ(S_OK, overflow.hr) << "reported, and the read went on";
                EXPECT_EQ(255u, overflow.length);
                EXPECT_EQ((std::vector<std::wstring>{L"6"}), ReportNumbers(journal, L"czAtomTables.GetAtomNameAmts"));
            }
            EXPECT_EQ(32767, overflow.size);

            // About: only its own class missing makes it report (creation, then the call on no
            // object), and it still returns 0.
            long about = -1;
            EXPECT_EQ(S_OK, AboutLate(main.Get(), &about));
            EXPECT_EQ(0, about);
            if (missing == kBedrock) {
                EXPECT_EQ((std::vector<std::wstring>{L"429", L"91"}),
                          ReportNumbers(journal, L"basQxelCommonA.AppAboutQxel_Pro"));
                EXPECT_EQ(0, Count(journal, L"ABOUT"));
            } else {
                EXPECT_EQ(1, Count(journal, L"ABOUT"));
            }

            // clsQxAmtsAtomsA: created in every case; the environment's absence is reported twice.
            ComPtr<IDispatch> atoms;
            EXPECT_EQ(S_OK, TryCreate(kAtoms, atoms));
            if (missing == kEnvironment) {
                EXPECT_EQ((std::vector<std::wstring>{L"429", L"91"}),
                          ReportNumbers(journal, L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro"));
                EXPECT_EQ(0, Count(journal, L"ENVIRONMENT"));
            } else {
                EXPECT_EQ(1, Count(journal, L"ENVIRONMENT"));
            }
            atoms.Reset();
            ExpectPlainMembersWork(main.Get());
        }
        EXPECT_EQ(S_OK, canUnloadNow());
        ASSERT_EQ(S_OK, registerLibrary());
    }
}

TEST_F(Neighbours, TheErrorHandlerRegisteredToAFileThatIsGoneOrBroken) {
    // A file that is no DLL, written into the test's folder.
    wchar_t folder[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring notALibrary = std::wstring(folder, n) + L"\\reliability-not-a-library.dll";
    {
        HANDLE file = CreateFileW(notALibrary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, "not a library\r\n", 15, &written, nullptr);
        CloseHandle(file);
    }
    wchar_t system[MAX_PATH];
    const UINT s = GetSystemDirectoryW(system, MAX_PATH);
    const std::pair<const char *, std::wstring> files[] = {
        {"a file that does not exist", std::wstring(folder, n) + L"\\reliability-no-such-library.dll"},
        {"a file that is no DLL", notALibrary},
        {"a DLL without class objects", std::wstring(system, s) + L"\\version.dll"},
        {"a DLL that serves other classes", ComponentPath()},
    };
    for (const auto &[what, file] : files) {
        SCOPED_TRACE(what);
        const DWORD start = GetTickCount();
        RedirectClass(kHandler, file);
        {
            ComPtr<IDispatch> main = Create(kMain);
            ASSERT_TRUE(main);
            const Seen late = OverflowLate(main.Get()), early = OverflowEarly(main.Get());
            EXPECT_EQ(kCantCreate, late.status);
            EXPECT_EQ(kCantCreate, early.status);
            EXPECT_NE(std::wstring::npos, late.description.find(kHandler));
            ExpectPlainMembersWork(main.Get());
        }
        EXPECT_EQ(S_OK, canUnloadNow());
        ASSERT_EQ(S_OK, registerLibrary());
        const int surrogates = EndSurrogates();
        std::printf("neighbours: the error handler's file is %s: %lu ms, %d surrogate processes started by COM\n",
                    what, GetTickCount() - start, surrogates);
    }
    DeleteFileW(notALibrary.c_str());
}

TEST_F(Neighbours, TheLibraryRaisesErrors) {
    const std::pair<SCODE, const wchar_t *> errors[] = {
        {kInvalidCall, L"Invalid procedure call or argument"},
        {E_FAIL, L"Unspecified error"},
        {E_OUTOFMEMORY, L"Out of memory"},
        {DISP_E_TYPEMISMATCH, L"Type mismatch"},
        {MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x1234), L""},
    };
    for (const auto &[code, text] : errors) {
        SCOPED_TRACE(Hex(static_cast<unsigned long>(code)));
        RecordingLibrary library;
        ComPtr<IDispatch> main = Create(kMain);
        ASSERT_TRUE(main);

        // The error handler raising: the report failed, and that is the member's error.
        library.Raise(L"ErrorHandlerMessageQx", code, text);
        const Seen seen = OverflowLate(main.Get());
        EXPECT_EQ(DISP_E_EXCEPTION, seen.hr);
        EXPECT_EQ(code, seen.status);
        if (*text) {
            EXPECT_EQ(text, seen.description);
        }
        EXPECT_EQ(1u, library.CallsTo(L"ErrorHandlerMessageQx").size());
        EXPECT_EQ(0, library.Alive());
        library.Clear();
        library.Behave(L"ErrorHandlerMessageQx");

        // The environment or About raising: reported once, and nothing reaches the caller.
        library.Raise(L"EnsureQxEnvironmentStatus", code, text);
        library.Raise(L"AppAboutQxel", code, text);
        ComPtr<IDispatch> atoms;
        EXPECT_EQ(S_OK, TryCreate(kAtoms, atoms));
        long about = -1;
        EXPECT_EQ(S_OK, AboutLate(main.Get(), &about));
        EXPECT_EQ(0, about);
        const auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
        ASSERT_EQ(2u, reports.size());
        EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", reports[0].args[3].text);
        EXPECT_EQ(L"basQxelCommonA.AppAboutQxel_Pro", reports[1].args[3].text);
        const long number = HRESULT_FACILITY(code) == FACILITY_CONTROL ? HRESULT_CODE(code) : static_cast<long>(code);
        for (const RecordedCall &report : reports) EXPECT_EQ(number, report.args[1].errNumber);
        atoms.Reset();
        main.Reset();
        library.Clear();
        EXPECT_EQ(0, library.Alive());
    }
}

TEST_F(Neighbours, TheLibraryAnswersOddly) {
    struct Case {
        const char *name;
        Oddity oddity;
        HRESULT code;
        bool fails; // a failure of the call itself
    };
    const Case cases[] = {
        {"a string as result", Oddity::ResultString, S_OK, false},
        {"an object as result", Oddity::ResultObject, S_OK, false},
        {"S_FALSE", Oddity::SuccessCode, S_OK, false},
        {"its arguments rewritten", Oddity::RewriteArguments, S_OK, false},
        {"E_UNEXPECTED without exception", Oddity::PlainFailure, E_UNEXPECTED, true},
        {"DISP_E_BADPARAMCOUNT", Oddity::PlainFailure, DISP_E_BADPARAMCOUNT, true},
        {"DISP_E_MEMBERNOTFOUND", Oddity::PlainFailure, DISP_E_MEMBERNOTFOUND, true},
        {"DISP_E_TYPEMISMATCH", Oddity::PlainFailure, DISP_E_TYPEMISMATCH, true},
        {"an empty exception", Oddity::EmptyException, S_OK, true},
        {"an exception with wCode only", Oddity::WCodeOnly, S_OK, true},
        {"an exception filled in later", Oddity::DeferredFillIn, RuntimeError(9), true},
        {"an exception filled in later around its source", Oddity::DeferredFillInKeepingSource,
         RuntimeError(9), true},
        {"the method unknown by name", Oddity::UnknownName, S_OK, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CountedObject handedOut;
        {
            RecordingLibrary library;
            ComPtr<IDispatch> main = Create(kMain);
            ASSERT_TRUE(main);
            // Every string the component frees is held back meanwhile: one freed twice is counted.
            ASSERT_TRUE(faults::Attach());
            faults::WatchFrees(true);

            // From the error handler: what it answers decides only whether the report was made.
            library.Misbehave(L"ErrorHandlerMessageQx", c.oddity, c.code, &handedOut);
            for (const Seen &seen : {OverflowLate(main.Get()), OverflowEarly(main.Get())}) {
                EXPECT_EQ(32767, seen.size);
                if (!c.fails) {
                    EXPECT_EQ(S_OK, seen.hr) << "the report was made; the read went on";
                    EXPECT_EQ(255u, seen.length);
                    continue;
                }
                EXPECT_TRUE(FAILED(seen.status)) << "the report failed: that is the member's error";
                EXPECT_NE(kOverflow, seen.status) << "the first failure is not what the caller gets";
                EXPECT_FALSE(seen.description.empty());
                if (c.oddity == Oddity::DeferredFillIn || c.oddity == Oddity::DeferredFillInKeepingSource) {
                    EXPECT_EQ(c.code, seen.status);
                    EXPECT_EQ(L"Filled in later by RecordingLibrary", seen.description);
                }
                if (c.oddity == Oddity::WCodeOnly) {
                    EXPECT_EQ(RuntimeError(1000), seen.status);
                }
                if (c.oddity == Oddity::PlainFailure && c.code == E_UNEXPECTED) {
                    EXPECT_EQ(c.code, seen.status);
                }
            }
            EXPECT_EQ(c.oddity == Oddity::UnknownName ? 0u : 2u, library.CallsTo(L"ErrorHandlerMessageQx").size());
            library.Clear();
            EXPECT_EQ(0, library.Alive());
            EXPECT_EQ(1, handedOut.Held()) << "what the library handed over was released (it keeps one itself)";

            // From the environment and About: whatever they answer, the caller sees success; a
            // failure is reported once.
            library.Behave(L"ErrorHandlerMessageQx");
            library.Misbehave(L"EnsureQxEnvironmentStatus", c.oddity, c.code, &handedOut);
            library.Misbehave(L"AppAboutQxel", c.oddity, c.code, &handedOut);
            ComPtr<IDispatch> atoms;
            EXPECT_EQ(S_OK, TryCreate(kAtoms, atoms));
            long about = -1;
            EXPECT_EQ(S_OK, AboutLate(main.Get(), &about));
            EXPECT_EQ(0, about);
            const auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
            ASSERT_EQ(c.fails ? 2u : 0u, reports.size());
            if (c.fails) {
                EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", reports[0].args[3].text);
                EXPECT_EQ(L"basQxelCommonA.AppAboutQxel_Pro", reports[1].args[3].text);
            }
            atoms.Reset();
            main.Reset();
            library.Clear();
            EXPECT_EQ(0, library.Alive());
            faults::WatchFrees(false);
            EXPECT_EQ(0, faults::DoubleFrees()) << "strings freed twice";
        }
        EXPECT_EQ(0, handedOut.Held()) << "what the library handed over was released";
        EXPECT_EQ(S_OK, canUnloadNow());
    }
}

TEST_F(Neighbours, TheLibrarysClassesCreatedOddly) {
    for (const OddCreation how : {OddCreation::WithoutDispatch, OddCreation::Nothing}) {
        SCOPED_TRACE(how == OddCreation::Nothing ? "no instance" : "an instance without IDispatch");
        RecordingLibrary library;
        ComPtr<IDispatch> main = Create(kMain);
        ASSERT_TRUE(main);

        library.CreateOddly(kHandler, how);
        for (const Seen &seen : {OverflowLate(main.Get()), OverflowEarly(main.Get())}) {
            EXPECT_EQ(kCantCreate, seen.status) << "the report cannot be made";
            EXPECT_EQ(32767, seen.size);
        }
        EXPECT_EQ(S_OK, AboutLate(main.Get())) << "About's own class is fine: nothing to report";

        library.CreateNormally(kHandler);
        library.CreateOddly(kEnvironment, how);
        library.CreateOddly(kBedrock, how);
        library.Clear();
        ComPtr<IDispatch> atoms;
        EXPECT_EQ(S_OK, TryCreate(kAtoms, atoms));
        long about = -1;
        EXPECT_EQ(S_OK, AboutLate(main.Get(), &about));
        EXPECT_EQ(0, about);
        const auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
        ASSERT_EQ(4u, reports.size()) << "creation, then the call on no object, for each";
        EXPECT_EQ(429, reports[0].args[1].errNumber);
        EXPECT_EQ(91, reports[1].args[1].errNumber);
        EXPECT_EQ(L"basQxelCommonA.AppAboutQxel_Pro", reports[3].args[3].text);
        atoms.Reset();
        main.Reset();
        library.Clear();
        EXPECT_EQ(0, library.Alive());
    }
}
