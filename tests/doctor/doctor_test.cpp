// The installation doctor against installations broken on purpose, the way they break for users:
// one table of cases, each made in a fresh registration (regsvr32 from the release bundle, or the
// installer packages) and undone after. For each: the doctor names the expected problem and exits
// with 1, running the commands it prints makes it report healthy again, and a run of the doctor
// changes nothing (both registry views and the installation's folders are as they were).
//
// Run by the wow64 lane (64-bit Windows with its 32-bit side: the 64-bit build) and the x86 lane
// (32-bit Windows), each in a prefix it shares with other tests. Environment: ATOMTABLES_BUNDLE
// (the unpacked bundle) and ATOMTABLES_WORK (a scratch folder), Windows paths.
#include <cstdio>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "AtomTables10.h"
#include "QxBedrock10.h"
#include "release/bundle_client.h"
#include "support/client.h"
#include "support/registry_snapshot.h"

using namespace testing_support;

namespace {

std::wstring Wide(const std::string &text) { return {text.begin(), text.end()}; }
std::string Narrow(const std::wstring &text) { return {text.begin(), text.end()}; }
std::wstring Guid(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

bool TwoViews() { return sizeof(void *) == 8; }

// One side of the installation: a registry view, the architecture whose programs see it, and the
// doctor's name for it.
struct Side {
    std::string prefix;
    REGSAM view;
    std::wstring lane;
};
// The side each case breaks first: on 64-bit Windows the 64-bit one; and the 32-bit side, which on
// 32-bit Windows is the only one.
Side Primary() { return TwoViews() ? Side{"x64", KEY_WOW64_64KEY, L"x64"} : Side{"x86", 0, L"x86"}; }
Side Secondary() { return TwoViews() ? Side{"wow64-32", KEY_WOW64_32KEY, L"x86"} : Side{"x86", 0, L"x86"}; }
std::vector<Side> Sides() { return TwoViews() ? std::vector<Side>{Primary(), Secondary()} : std::vector<Side>{Primary()}; }
std::wstring OtherLane(const std::wstring &lane) { return lane == L"x64" ? L"x86" : L"x64"; }

std::wstring SystemProgram(const std::wstring &lane, const wchar_t *name) {
    wchar_t folder[MAX_PATH] = {};
    if (TwoViews() && lane == L"x86") GetSystemWow64DirectoryW(folder, MAX_PATH);
    else GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}
DWORD Regsvr32(const std::wstring &lane, const std::wstring &arguments) {
    return bundle::RunProgram(SystemProgram(lane, L"regsvr32.exe"), L"/s " + arguments).exitCode;
}
std::wstring BundleFile(const std::wstring &lane, const wchar_t *name) { return bundle::Root() + L"\\" + lane + L"\\" + name; }

std::wstring ProgramFiles(const std::wstring &lane) {
    wchar_t folder[MAX_PATH] = {};
    GetEnvironmentVariableW(!TwoViews() ? L"ProgramFiles" : lane == L"x64" ? L"ProgramW6432" : L"ProgramFiles(x86)", folder,
                            MAX_PATH);
    return folder;
}
std::wstring ProductFolder(const std::wstring &lane) { return ProgramFiles(lane) + L"\\AtomTables10"; }

std::wstring Package(const wchar_t *product) {
    const std::wstring pattern = bundle::Root() + L"\\installers\\" + product + L"-*-" + (TwoViews() ? L"x64" : L"x86") + L".msi";
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    EXPECT_NE(INVALID_HANDLE_VALUE, search) << Narrow(pattern);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return bundle::Root() + L"\\installers\\" + found.cFileName;
}
DWORD Msiexec(const std::wstring &arguments) {
    return bundle::RunProgram(SystemProgram(L"x64", L"msiexec.exe"), arguments + L" /qn").exitCode;
}

// --- The doctor's output -------------------------------------------------------------------------

struct Line {
    bool ok = false;
    std::string id, text, fix;
};
struct DoctorRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
    std::vector<Line> lines;
    double seconds = 0;
    // The finding of a check, whatever it found.
    const Line *Find(const std::string &check) const {
        for (const Line &line : lines)
            if (line.id == check || line.id.rfind(check + ".", 0) == 0) return &line;
        return nullptr;
    }
    std::vector<std::string> Fixes() const {
        std::vector<std::string> fixes;
        for (const Line &line : lines)
            if (!line.ok && !line.fix.empty() && std::find(fixes.begin(), fixes.end(), line.fix) == fixes.end())
                fixes.push_back(line.fix);
        return fixes;
    }
};

// Runs the doctor and checks the form of what it printed: one line per finding with a unique
// identifier, a summary that counts them.
DoctorRun RunDoctor(const std::wstring &doctor, const std::wstring &arguments = {}) {
    DoctorRun run;
    const ULONGLONG start = GetTickCount64();
    const bundle::Run ran = bundle::RunProgram(doctor, arguments);
    run.seconds = static_cast<double>(GetTickCount64() - start) / 1000;
    run.exitCode = ran.exitCode;
    run.output = ran.output;
    if (!arguments.empty()) return run;
    static const std::regex finding("^(OK|PROBLEM) +([a-z0-9-]+(\\.[a-z0-9-]+)+): (.+?)(  Fix: (.+))?\r?$");
    static const std::regex summary("^Summary: (healthy, all ([0-9]+) checks OK|([0-9]+) problems? in ([0-9]+) checks)");
    std::set<std::string> ids;
    size_t problems = 0;
    bool summarized = false;
    size_t start_of_line = 0;
    while (start_of_line < run.output.size()) {
        size_t end = run.output.find('\n', start_of_line);
        if (end == std::string::npos) end = run.output.size();
        const std::string text = run.output.substr(start_of_line, end - start_of_line);
        start_of_line = end + 1;
        std::smatch match;
        if (std::regex_match(text, match, finding)) {
            Line line{match[1] == "OK", match[2], match[4], match[6]};
            EXPECT_TRUE(ids.insert(line.id).second) << "the check " << line.id << " appears twice";
            EXPECT_TRUE(line.ok || line.id.find('.', line.id.find('.') + 1) != std::string::npos || line.id.rfind("views.", 0) == 0)
                << "a problem names itself: " << line.id;
            if (line.ok) {
                EXPECT_TRUE(line.fix.empty()) << line.id;
            }
            problems += line.ok ? 0 : 1;
            run.lines.push_back(line);
        } else if (std::regex_search(text, match, summary)) {
            summarized = true;
            const size_t checks = std::stoul(match[2].matched ? match[2].str() : match[4].str());
            EXPECT_EQ(run.lines.size(), checks) << "the summary counts every check";
            EXPECT_EQ(problems, match[3].matched ? std::stoul(match[3].str()) : 0u);
        }
    }
    EXPECT_TRUE(summarized) << run.output;
    // Per view: ProgIDs, classes, server, version, type library, interfaces, common library,
    // installer, live check; and on 64-bit Windows both views compared.
    EXPECT_EQ(TwoViews() ? 19u : 9u, run.lines.size()) << run.output;
    EXPECT_EQ(problems == 0 ? 0u : 1u, run.exitCode) << run.output;
    return run;
}

// Every file of the installation's folders with its size and time: what a run must leave alone.
using Listing = std::map<std::wstring, std::pair<ULONGLONG, ULONGLONG>>;
void List(const std::wstring &folder, Listing &out) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            List(folder + L"\\" + name, out);
        } else {
            out[folder + L"\\" + name] = {(static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                                          (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                              found.ftLastWriteTime.dwLowDateTime};
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// What registration writes, in every view and the user's classes: the ProgIDs, class keys,
// interface keys and type libraries of the component and the common library. (A walk of the whole
// classes registry takes about ten seconds here; it is made once, in the case that asks for it.)
Snapshot Registration() {
    std::vector<std::wstring> keys = {L"AtomTables10.clsQxAtomTables10A", L"AtomTables10.clsQxAmtsAtomsA",
                                      L"AtomTables10.clsQxAmtsGeneralA",  L"AtomTables10.clsQxAmtsAdvancedA",
                                      L"QxBedrock10.clsQxelErrorHandlerA", L"QxBedrock10.clsQxelEnvironmentA",
                                      L"QxBedrock10.clsQxBedrock10A"};
    for (const GUID *clsid : {&CLSID_clsQxAtomTables10A, &CLSID_clsQxAmtsAtomsA, &CLSID_clsQxAmtsAtomA, &CLSID_clsQxAmtsGeneralA,
                              &CLSID_clsQxAmtsAdvancedA, &CLSID_clsQxelErrorHandlerA, &CLSID_clsQxelEnvironmentA,
                              &CLSID_clsQxBedrock10A})
        keys.push_back(L"CLSID\\" + Guid(*clsid));
    for (const GUID *iid : {&IID__clsQxAtomTables10A, &IID__clsQxAmtsAtomsA, &IID__clsQxAmtsAtomA, &IID__clsQxAmtsGeneralA,
                            &IID__clsQxAmtsAdvancedA, &IID__clsQxelErrorHandlerA, &IID__clsQxelEnvironmentA, &IID__clsQxBedrock10A})
        keys.push_back(L"Interface\\" + Guid(*iid));
    keys.push_back(L"TypeLib\\" + Guid(LIBID_AtomTables10));
    keys.push_back(L"TypeLib\\" + Guid(LIBID_QxBedrock10));
    Snapshot snapshot;
    for (const std::wstring &key : keys) {
        if (TwoViews()) {
            Walk(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + key, snapshot, KEY_WOW64_64KEY, L"HKLM");
            Walk(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + key, snapshot, KEY_WOW64_32KEY, L"HKLM(32-bit view)");
        } else {
            Walk(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + key, snapshot, 0, L"HKLM");
        }
        Walk(HKEY_CURRENT_USER, L"Software\\Classes\\" + key, snapshot, 0, L"HKCU");
    }
    return snapshot;
}

// --- Breaking the registration ---------------------------------------------------------------------

LSTATUS DeleteKey(REGSAM view, const std::wstring &parent, const wchar_t *child) {
    rt::RegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive());
    return status == ERROR_SUCCESS ? RegDeleteTreeW(key.Get(), child) : status;
}

LSTATUS SetDefault(REGSAM view, const std::wstring &path, const std::wstring &value) {
    rt::RegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE | view, key.Receive());
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A copy of a side's DLL in a folder of the scratch folder, optionally made an older build: its
// version resource's fixed file and product version one revision lower.
std::wstring CopyOfDll(const Side &side, const wchar_t *folder, bool older) {
    const std::wstring target = bundle::WorkDir() + L"\\" + folder;
    CreateDirectoryW(target.c_str(), nullptr);
    const std::wstring dll = target + L"\\AtomTables10.dll";
    EXPECT_TRUE(bundle::CopyInto(BundleFile(side.lane, L"AtomTables10.dll"), target));
    if (!older) return dll;
    std::string bytes = bundle::ReadFile(dll);
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    const size_t at = bytes.find(signature);
    EXPECT_NE(std::string::npos, at) << "no version resource in the DLL";
    if (at == std::string::npos) return dll;
    for (size_t field : {at + 12, at + 20}) {   // dwFileVersionLS and dwProductVersionLS: build, revision
        WORD revision;
        memcpy(&revision, bytes.data() + field, sizeof(revision));
        revision = static_cast<WORD>(revision == 0 ? 1 : revision - 1);
        memcpy(bytes.data() + field, &revision, sizeof(revision));
    }
    rt::Handle file(CreateFileW(dll.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file.Valid() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    return dll;
}

enum class Way { Registered, Installed };

struct Case {
    const char *name;
    Way setup;
    bool twoViewsOnly;
    bool wholeRegistry;   // the doctor's run on the broken installation leaves the whole classes registry alone
    // The problem expected, with {1} for the primary side's prefix and {2} for the secondary's.
    const char *expected;
    std::function<void()> breakIt;
    std::function<void()> cleanUp = [] {};
};

std::string Expand(std::string pattern) {
    for (auto [mark, side] : {std::pair{"{1}", Primary()}, std::pair{"{2}", Secondary()}}) {
        const size_t at = pattern.find(mark);
        if (at != std::string::npos) pattern.replace(at, 3, side.prefix);
    }
    return pattern;
}

const std::wstring kMainClass = L"CLSID\\" + Guid(CLSID_clsQxAtomTables10A);

const Case kCases[] = {
    {"healthy after regsvr32 of both", Way::Registered, false, false, nullptr, nullptr},
    {"nothing registered", Way::Registered, false, false, "{2}.class.missing",
     [] {
         for (const Side &side : Sides()) {
             ASSERT_EQ(0u, Regsvr32(side.lane, L"/u " + bundle::Quoted(BundleFile(side.lane, L"AtomTables10.dll"))));
             ASSERT_EQ(0u, Regsvr32(side.lane, L"/u " + bundle::Quoted(BundleFile(side.lane, L"QxBedrock10.dll"))));
         }
     }},
    {"only the x86 DLL registered", Way::Registered, true, false, "{1}.class.missing",
     [] {
         ASSERT_EQ(0u, Regsvr32(L"x64", L"/u " + bundle::Quoted(BundleFile(L"x64", L"AtomTables10.dll"))));
         ASSERT_EQ(0u, Regsvr32(L"x64", L"/u " + bundle::Quoted(BundleFile(L"x64", L"QxBedrock10.dll"))));
     }},
    {"the server path at a deleted file", Way::Registered, false, false, "{2}.server.missing-file",
     [] {
         const std::wstring moved = CopyOfDll(Secondary(), L"moved", false);
         ASSERT_EQ(0u, Regsvr32(Secondary().lane, bundle::Quoted(moved)));
         ASSERT_TRUE(DeleteFileW(moved.c_str()));
     }},
    {"the other architecture's DLL registered", Way::Registered, false, false, "{1}.server.wrong-architecture",
     [] {
         ASSERT_EQ(ERROR_SUCCESS, SetDefault(Primary().view, kMainClass + L"\\InprocServer32",
                                             BundleFile(OtherLane(Primary().lane), L"AtomTables10.dll")));
     }},
    {"a platform's type library key removed", Way::Registered, false, false, "{2}.typelib.missing",
     [] {
         // The TypeLib key is one for both views (in the 64-bit registry); its platforms are its subkeys.
         ASSERT_EQ(ERROR_SUCCESS, DeleteKey(TwoViews() ? KEY_WOW64_64KEY : 0, L"TypeLib\\" + Guid(LIBID_AtomTables10) + L"\\1.0\\0", L"win32"));
     }},
    {"an interface's proxy/stub removed", Way::Registered, false, false, "{1}.interfaces.proxy-stub",
     [] {
         ASSERT_EQ(ERROR_SUCCESS, DeleteKey(Primary().view, L"Interface\\" + Guid(IID__clsQxAtomTables10A), L"ProxyStubClsid32"));
     }},
    {"the common library unregistered", Way::Registered, false, false, "{2}.common-library.missing",
     [] {
         ASSERT_EQ(0u, Regsvr32(Secondary().lane, L"/u " + bundle::Quoted(BundleFile(Secondary().lane, L"QxBedrock10.dll"))));
     }},
    {"registered from an older build", Way::Registered, false, false, "{2}.version.other-version",
     [] { ASSERT_EQ(0u, Regsvr32(Secondary().lane, bundle::Quoted(CopyOfDll(Secondary(), L"older", true)))); },
     [] {
         DeleteFileW((bundle::WorkDir() + L"\\older\\AtomTables10.dll").c_str());
     }},
    {"healthy after installing the packages", Way::Installed, false, false, nullptr, nullptr},
    {"an installed DLL deleted", Way::Installed, false, true, "{2}.server.missing-file",
     [] { ASSERT_TRUE(DeleteFileW((ProductFolder(Secondary().lane) + L"\\AtomTables10.dll").c_str())); }},
};

class Installation {
public:
    void Register() {
        for (const Side &side : Sides()) {
            ASSERT_EQ(0u, Regsvr32(side.lane, bundle::Quoted(BundleFile(side.lane, L"QxBedrock10.dll"))));
            ASSERT_EQ(0u, Regsvr32(side.lane, bundle::Quoted(BundleFile(side.lane, L"AtomTables10.dll"))));
        }
        doctor_ = BundleFile(Primary().lane, L"AtomTables10Doctor.exe");
        folders_ = {bundle::Root()};
    }
    void Unregister() {
        for (const Side &side : Sides()) {
            EXPECT_EQ(0u, Regsvr32(side.lane, L"/u " + bundle::Quoted(BundleFile(side.lane, L"AtomTables10.dll"))));
            EXPECT_EQ(0u, Regsvr32(side.lane, L"/u " + bundle::Quoted(BundleFile(side.lane, L"QxBedrock10.dll"))));
        }
    }
    void Install() {
        ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(Package(L"QxBedrock10-standin"))));
        ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(Package(L"AtomTables10"))));
        doctor_ = ProductFolder(Primary().lane) + L"\\AtomTables10Doctor.exe";
        folders_.clear();
        for (const Side &side : Sides()) {
            folders_.push_back(ProductFolder(side.lane));
            folders_.push_back(ProgramFiles(side.lane) + L"\\QxBedrock10 stand-in");
        }
    }
    void Uninstall() {
        EXPECT_EQ(0u, Msiexec(L"/x " + bundle::Quoted(Package(L"AtomTables10"))));
        EXPECT_EQ(0u, Msiexec(L"/x " + bundle::Quoted(Package(L"QxBedrock10-standin"))));
    }
    const std::wstring &Doctor() const { return doctor_; }

    // The doctor run while nothing else changes the installation: what it printed, and that both
    // registry views and the installation's folders are as before.
    DoctorRun Look(const std::string &when, bool wholeRegistry = false) const {
        const Snapshot before = wholeRegistry ? WholeClasses() : Registration();
        Listing filesBefore;
        for (const auto &folder : folders_) List(folder, filesBefore);
        DoctorRun run = RunDoctor(doctor_);
        const Snapshot after = wholeRegistry ? WholeClasses() : Registration();
        EXPECT_TRUE(before == after) << "the doctor changed the registry " << when << ":\n" << Diff(before, after);
        Listing filesAfter;
        for (const auto &folder : folders_) List(folder, filesAfter);
        EXPECT_TRUE(filesBefore == filesAfter) << "the doctor changed the installation's files " << when;
        return run;
    }

private:
    std::wstring doctor_;
    std::vector<std::wstring> folders_;
};

void ExpectHealthy(const DoctorRun &run, const std::string &when) {
    EXPECT_EQ(0u, run.exitCode) << when << ":\n" << run.output;
    for (const Line &line : run.lines) EXPECT_TRUE(line.ok) << when << ": " << line.id << ": " << line.text;
}

TEST(Doctor, EveryCaseOfTheTable) {
    Installation installation;
    std::optional<Way> setup;
    std::optional<Snapshot> healthy;
    double slowestHealthy = 0;
    for (const Case &c : kCases) {
        if (c.twoViewsOnly && !TwoViews()) continue;
        SCOPED_TRACE(c.name);
        if (setup != c.setup) {
            if (setup == Way::Registered) installation.Unregister();
            if (c.setup == Way::Registered) installation.Register();
            else installation.Install();
            if (HasFatalFailure()) return;
            setup = c.setup;
            healthy = Registration();
        }
        const DoctorRun before = installation.Look(std::string("before breaking: ") + c.name);
        ExpectHealthy(before, std::string("before ") + c.name);
        slowestHealthy = std::max(slowestHealthy, before.seconds);
        if (!c.breakIt) {
            std::printf("=== %s: %.2f s\n%s", c.name, before.seconds, before.output.c_str());
            continue;
        }
        c.breakIt();
        if (HasFatalFailure()) return;
        const DoctorRun broken = installation.Look(std::string("with ") + c.name, c.wholeRegistry);
        std::printf("=== %s: %.2f s\n%s", c.name, broken.seconds, broken.output.c_str());
        const std::string expected = Expand(c.expected);
        const Line *line = broken.Find(expected.substr(0, expected.rfind('.')));
        ASSERT_NE(nullptr, line) << "no check " << expected << ":\n" << broken.output;
        EXPECT_EQ(expected, line->id) << broken.output;
        EXPECT_FALSE(line->ok);
        EXPECT_EQ(1u, broken.exitCode);
        ASSERT_FALSE(line->fix.empty()) << "no command mends " << expected;
        if (c.setup == Way::Installed) {
            EXPECT_NE(std::string::npos, line->fix.find("msiexec.exe")) << "a repair, not regsvr32: " << line->fix;
        }
        for (const std::string &fix : broken.Fixes()) {
            const size_t end = fix.find('"', 1);
            ASSERT_TRUE(fix[0] == '"' && end != std::string::npos) << fix;
            const bundle::Run mended = bundle::RunProgram(Wide(fix.substr(1, end - 1)), Wide(fix.substr(end + 1)));
            EXPECT_EQ(0u, mended.exitCode) << fix << "\n" << mended.output;
        }
        const DoctorRun after = RunDoctor(installation.Doctor());
        ExpectHealthy(after, std::string("after the printed commands for ") + c.name);
        c.cleanUp();
        const Snapshot now = Registration();
        EXPECT_TRUE(*healthy == now) << "the printed commands leave the registration as it was:\n" << Diff(*healthy, now);
        if (!(*healthy == now)) {
            // The next case starts from a fresh registration all the same.
            if (c.setup == Way::Registered) {
                installation.Unregister();
                installation.Register();
            }
            healthy = Registration();
        }
    }
    if (setup == Way::Installed) installation.Uninstall();
    if (setup == Way::Registered) installation.Unregister();
    std::printf("The slowest run of the doctor on a healthy installation: %.2f s\n", slowestHealthy);
}

TEST(Doctor, JsonUsageAndAMissingCompanion) {
    // The doctor of this architecture in the bundle, with nothing registered.
    const std::wstring doctor = BundleFile(Primary().lane, L"AtomTables10Doctor.exe");
    const DoctorRun json = RunDoctor(doctor, L"/json");
    EXPECT_EQ(1u, json.exitCode) << json.output;
    for (const char *part : {"\"tool\": \"AtomTables10Doctor\"", "\"healthy\": false", "\"status\": \"PROBLEM\"", "\"fix\": \"\\\""})
        EXPECT_NE(std::string::npos, json.output.find(part)) << part << "\n" << json.output;
    const std::string expected = Expand("\"id\": \"{1}.class.missing\"");
    EXPECT_NE(std::string::npos, json.output.find(expected)) << json.output;
    for (const wchar_t *wrong : {L"/fix", L"extra"}) {
        const DoctorRun usage = RunDoctor(doctor, wrong);
        EXPECT_EQ(2u, usage.exitCode) << usage.output;
        EXPECT_NE(std::string::npos, usage.output.find("AtomTables10Doctor.exe /json")) << usage.output;
    }
    EXPECT_EQ(0u, RunDoctor(doctor, L"/?").exitCode);

    // On 64-bit Windows, the 64-bit doctor alone, without the 32-bit one anywhere it looks: it says
    // that the 32-bit side's live check was not made.
    if (TwoViews()) {
        const std::wstring alone = bundle::WorkDir() + L"\\alone";
        CreateDirectoryW(alone.c_str(), nullptr);
        ASSERT_TRUE(bundle::CopyInto(doctor, alone));
        const DoctorRun run = RunDoctor(alone + L"\\AtomTables10Doctor.exe");
        const Line *live = run.Find("wow64-32.live");
        ASSERT_NE(nullptr, live) << run.output;
        EXPECT_EQ("wow64-32.live.doctor-missing", live->id) << run.output;
        EXPECT_NE(std::string::npos, live->text.find("was not made")) << live->text;
        DeleteFileW((alone + L"\\AtomTables10Doctor.exe").c_str());
    }
}

} // namespace
