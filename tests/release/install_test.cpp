// The bundle installed as its README says (regsvr32 from its folder, in a fresh prefix), and then
// made to go wrong on purpose, the way installations go wrong: the common library not installed, a
// registration left behind by a component that was moved, a component of the other architecture.
// Each case is looked at from a new process, as a user's next program or script would meet it, and
// repaired again. Last, after the README's uninstall commands: nothing of the bundle is left.
#include <cstdio>

#include "AtomTables10.h"
#include "QxBedrock10.h"
#include "bundle_client.h"
#include "support/client.h"
#include "support/registry_snapshot.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

const CLSID *const kComponentClasses[] = {&CLSID_clsQxAtomTables10A, &CLSID_clsQxAmtsAtomsA, &CLSID_clsQxAmtsGeneralA,
                                          &CLSID_clsQxAmtsAdvancedA};
const CLSID *const kLibraryClasses[] = {&CLSID_clsQxelErrorHandlerA, &CLSID_clsQxelEnvironmentA, &CLSID_clsQxBedrock10A};
const wchar_t *const kProgIds[] = {L"AtomTables10.clsQxAtomTables10A", L"AtomTables10.clsQxAmtsAtomsA",
                                   L"AtomTables10.clsQxAmtsGeneralA",  L"AtomTables10.clsQxAmtsAdvancedA",
                                   L"QxBedrock10.clsQxelErrorHandlerA", L"QxBedrock10.clsQxelEnvironmentA",
                                   L"QxBedrock10.clsQxBedrock10A"};

std::wstring Guid(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Component() { return bundle::LaneDir() + L"\\AtomTables10.dll"; }
std::wstring Library() { return bundle::LaneDir() + L"\\QxBedrock10.dll"; }
std::wstring ServerOf(const CLSID &clsid) {
    return bundle::RegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(clsid) + L"\\InprocServer32");
}

// The in-process server registered for the other architecture's programs (the registry's other view).
std::wstring ServerInOtherView(const CLSID &clsid) {
    return bundle::RegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(clsid) + L"\\InprocServer32", nullptr,
                                  sizeof(void *) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
}

bool SamePath(const std::wstring &a, const std::wstring &b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// Creates the class of a ProgID in a new process (probe.exe, beside this program).
bundle::Run Probe(const wchar_t *progId) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\'));
    return bundle::RunProgram(folder + L"\\probe.exe", progId);
}

// What Wine's COM returns for an in-process server whose DLL it cannot load, whatever the reason
// (no file there, or a DLL of the other architecture).
constexpr HRESULT kServerNotLoaded = E_ACCESSDENIED;
constexpr char kScriptCantCreate[] = "429: ActiveX component can't create object";

// The same from a script: the error number it exits with, and what it printed.
bundle::Run ScriptCreates(const char *progId) {
    return bundle::RunVbs(L"create.vbs", std::string("On Error Resume Next\r\n"
                                                     "Set o = CreateObject(\"") + progId + "\")\r\n"
                                                     "WScript.Echo Err.Number & \": \" & Err.Description\r\n"
                                                     "WScript.Quit Err.Number\r\n");
}

// Registers the bundle's DLL again when it goes, whatever the test did to the registration.
class RegisterAgainAtTheEnd {
public:
    explicit RegisterAgainAtTheEnd(std::wstring dll) : dll_(std::move(dll)) {}
    RegisterAgainAtTheEnd(const RegisterAgainAtTheEnd &) = delete;
    RegisterAgainAtTheEnd &operator=(const RegisterAgainAtTheEnd &) = delete;
    ~RegisterAgainAtTheEnd() { EXPECT_EQ(0u, bundle::Regsvr32(bundle::Quoted(dll_))) << "registering the bundle's DLL again"; }

private:
    std::wstring dll_;
};

TEST(Installed, TheRegistrationPointsIntoTheBundleFolder) {
    for (const CLSID *clsid : kComponentClasses) {
        EXPECT_TRUE(SamePath(Component(), ServerOf(*clsid))) << ServerOf(*clsid).size();
        EXPECT_EQ(L"Apartment", bundle::RegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(*clsid) + L"\\InprocServer32",
                                                       L"ThreadingModel"));
    }
    for (const CLSID *clsid : kLibraryClasses) EXPECT_TRUE(SamePath(Library(), ServerOf(*clsid)));
    const std::wstring typeLibrary = L"TypeLib\\" + Guid(LIBID_AtomTables10) + L"\\1.0\\0\\" +
                                     (sizeof(void *) == 8 ? L"win64" : L"win32");
    EXPECT_TRUE(SamePath(Component(), bundle::RegistryString(HKEY_CLASSES_ROOT, typeLibrary)));
    for (const wchar_t *progId : kProgIds) {
        const bundle::Run run = Probe(progId);
        EXPECT_EQ(0u, run.exitCode) << run.output;
    }
}

TEST(Troubleshooting, TheCommonLibraryNotInstalled) {
    RegisterAgainAtTheEnd repair(Library());
    ASSERT_EQ(0u, bundle::Regsvr32(L"/u " + bundle::Quoted(Library())));
    EXPECT_EQ(static_cast<DWORD>(CO_E_CLASSSTRING), Probe(L"QxBedrock10.clsQxelErrorHandlerA").exitCode);

    // The component itself is there and works until it has something to report.
    ComPtr<IDispatch> tables = Create(L"AtomTables10.clsQxAtomTables10A");
    ASSERT_TRUE(tables);
    Bstr name(L"without the library");
    Call added = Method(tables.Get(), L"AddAtomAmts", {Str(name.Get())});
    EXPECT_EQ(S_OK, added.hr);
    // A runtime failure (a size that cannot grow) is reported, and the report cannot be made.
    short size = 32767;
    Call call = Method(tables.Get(), L"GetAtomNameAmts", {I2(1), Ref(&size)});
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(kCantCreate, call.scode);
    EXPECT_EQ(L"ActiveX component can't create object 'QxBedrock10.clsQxelErrorHandlerA'", call.description);
    ComPtr<_clsQxAtomTables10A> vtable;
    ASSERT_EQ(S_OK, tables.As(&vtable));
    SHORT one = 1, earlySize = 32767;
    Bstr buffer;
    EXPECT_EQ(kCantCreate, vtable->GetAtomNameAmts(&one, &earlySize, nullptr, buffer.Receive()));

    // About calls the library: its failure is reported, and the report fails in turn.
    call = Method(tables.Get(), L"About");
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(kCantCreate, call.scode);
    EXPECT_EQ(L"ActiveX component can't create object 'QxBedrock10.clsQxelErrorHandlerA'", call.description);

    // Creating clsQxAmtsAtomsA calls the library at once, so the creation itself fails.
    const bundle::Run probe = Probe(L"AtomTables10.clsQxAmtsAtomsA");
    EXPECT_EQ(static_cast<DWORD>(kCantCreate), probe.exitCode) << probe.output;
    const bundle::Run script = ScriptCreates("AtomTables10.clsQxAmtsAtomsA");
    EXPECT_EQ(429u, script.exitCode) << script.output;
    EXPECT_NE(std::string::npos, script.output.find(kScriptCantCreate)) << script.output;
    std::printf("A script creating clsQxAmtsAtomsA without the library: %s", script.output.c_str());
}

TEST(Troubleshooting, ARegistrationLeftBehindByAMovedComponent) {
    RegisterAgainAtTheEnd repair(Component());
    const std::wstring folder = bundle::WorkDir() + L"\\moved";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(bundle::CopyInto(Component(), folder));
    const std::wstring moved = folder + L"\\AtomTables10.dll";
    ASSERT_EQ(0u, bundle::Regsvr32(bundle::Quoted(moved)));
    ASSERT_TRUE(SamePath(moved, ServerOf(CLSID_clsQxAtomTables10A)));
    ASSERT_TRUE(DeleteFileW(moved.c_str())) << "the component moves away";

    const bundle::Run probe = Probe(L"AtomTables10.clsQxAtomTables10A");
    EXPECT_NE(std::string::npos, probe.output.find("CLSIDFromProgID 0x00000000")) << probe.output;
    EXPECT_EQ(static_cast<DWORD>(kServerNotLoaded), probe.exitCode) << probe.output;
    const bundle::Run script = ScriptCreates("AtomTables10.clsQxAtomTables10A");
    EXPECT_EQ(429u, script.exitCode) << script.output;
    EXPECT_NE(std::string::npos, script.output.find(kScriptCantCreate)) << script.output;
    std::printf("A script creating clsQxAtomTables10A registered at a moved file: %s", script.output.c_str());
}

TEST(Troubleshooting, AComponentOfTheOtherArchitecture) {
    RegisterAgainAtTheEnd repair(Component());
    const std::wstring other = bundle::OtherLaneDir() + L"\\AtomTables10.dll";

    // regsvr32 cannot load it. Where the machine also runs the other architecture's programs, it
    // hands the DLL to the other architecture's regsvr32 instead (as Windows does), which registers
    // it for that architecture's programs only. Either way this architecture's registration stays.
    const DWORD status = bundle::Regsvr32(bundle::Quoted(other));
    if (status == 0) {
        EXPECT_TRUE(SamePath(other, ServerInOtherView(CLSID_clsQxAtomTables10A)))
            << "registered by the other architecture's regsvr32";
        EXPECT_EQ(0u, bundle::Regsvr32(L"/u " + bundle::Quoted(other)));
        EXPECT_TRUE(ServerInOtherView(CLSID_clsQxAtomTables10A).empty());
        // Both views share the ProgIDs, which that unregistration may have taken: register again.
        ASSERT_EQ(0u, bundle::Regsvr32(bundle::Quoted(Component())));
        std::printf("regsvr32 handed the other architecture's DLL to that architecture's regsvr32\n");
    } else {
        EXPECT_EQ(3u, status) << "regsvr32's code for a DLL it cannot load";
    }
    EXPECT_TRUE(SamePath(Component(), ServerOf(CLSID_clsQxAtomTables10A)));

    // The class registered at a DLL of the other architecture (an installer that copied the wrong one).
    const std::wstring folder = bundle::WorkDir() + L"\\other-architecture";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(bundle::CopyInto(other, folder));
    const std::wstring wrong = folder + L"\\AtomTables10.dll";
    const std::wstring key = L"CLSID\\" + Guid(CLSID_clsQxAtomTables10A) + L"\\InprocServer32";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, wrong.c_str(),
                                             static_cast<DWORD>((wrong.size() + 1) * sizeof(wchar_t))));
    const bundle::Run probe = Probe(L"AtomTables10.clsQxAtomTables10A");
    EXPECT_EQ(static_cast<DWORD>(kServerNotLoaded), probe.exitCode) << probe.output;
    const bundle::Run script = ScriptCreates("AtomTables10.clsQxAtomTables10A");
    EXPECT_EQ(429u, script.exitCode) << script.output;
    EXPECT_NE(std::string::npos, script.output.find(kScriptCantCreate)) << script.output;
    std::printf("A script creating clsQxAtomTables10A registered at a DLL of the other architecture: %s",
                script.output.c_str());
    // The script host also asks for the class out of process, and Wine may start its surrogate
    // (dllhost) for the DLL of the other architecture; it cannot serve it either, but it would live on
    // with this test's output streams open and CTest waiting for them.
    bundle::RunSystemProgram(L"taskkill.exe", L"/f /im dllhost.exe");
}

TEST(Uninstalled, NothingOfTheBundleIsLeft) {
    for (const wchar_t *progId : kProgIds) {
        EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, progId));
        EXPECT_EQ(static_cast<DWORD>(CO_E_CLASSSTRING), Probe(progId).exitCode);
    }
    for (const CLSID *clsid : kComponentClasses) EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(*clsid)));
    for (const CLSID *clsid : kLibraryClasses) EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(*clsid)));
    EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + Guid(LIBID_AtomTables10)));
    EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + Guid(LIBID_QxBedrock10)));
}

// The bundle's installer package for this architecture's Windows, once the regsvr32 installation is
// gone: on 32-bit Windows it writes what regsvr32 writes for the installed files and takes all of it
// away again; the package for 32-bit Windows refuses 64-bit Windows.
TEST(Package, ForThisWindows) {
    const std::wstring installers = bundle::Root() + L"\\installers\\";
    auto find = [&](const wchar_t *pattern) {
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((installers + pattern).c_str(), &found);
        EXPECT_NE(INVALID_HANDLE_VALUE, search) << "no " << std::string(pattern, pattern + wcslen(pattern));
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        return installers + found.cFileName;
    };
    const std::wstring component = find(L"AtomTables10-*-x86.msi"), library = find(L"QxBedrock10-standin-*-x86.msi");
    auto msiexec = [](const std::wstring &arguments) {
        return bundle::RunSystemProgram(L"msiexec.exe", arguments + L" /qn").exitCode;
    };
    if (sizeof(void *) == 8) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), msiexec(L"/i " + bundle::Quoted(component)))
            << "the package for 32-bit Windows installs on 64-bit Windows";
        return;
    }
    const Snapshot before = WholeClassesButInstaller();
    ASSERT_EQ(0u, msiexec(L"/i " + bundle::Quoted(library)));
    ASSERT_EQ(0u, msiexec(L"/i " + bundle::Quoted(component)));
    wchar_t programFiles[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    const std::wstring folders[] = {std::wstring(programFiles) + L"\\QxBedrock10 stand-in",
                                    std::wstring(programFiles) + L"\\AtomTables10"};
    const std::wstring dlls[] = {folders[0] + L"\\QxBedrock10.dll", folders[1] + L"\\AtomTables10.dll"};
    const Snapshot installed = WholeClassesButInstaller();
    for (const std::wstring &dll : dlls) ASSERT_EQ(0u, bundle::Regsvr32(L"/u " + bundle::Quoted(dll)));
    EXPECT_TRUE(before == WholeClassesButInstaller()) << Diff(before, WholeClassesButInstaller());
    for (const std::wstring &dll : dlls) ASSERT_EQ(0u, bundle::Regsvr32(bundle::Quoted(dll)));
    EXPECT_TRUE(installed == WholeClassesButInstaller()) << "the package and regsvr32 differ:\n" << Diff(installed, WholeClassesButInstaller());
    const bundle::Run script = bundle::RunSystemProgram(L"cscript.exe", L"//nologo " + bundle::Quoted(bundle::Root() + L"\\examples\\atoms.vbs"));
    EXPECT_NE(std::string::npos, script.output.find("checks passed")) << script.output;

    ASSERT_EQ(0u, msiexec(L"/x " + bundle::Quoted(component)));
    ASSERT_EQ(0u, msiexec(L"/x " + bundle::Quoted(library)));
    EXPECT_TRUE(before == WholeClassesButInstaller()) << "residue:\n" << Diff(before, WholeClassesButInstaller());
    for (const std::wstring &folder : folders)
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str())) << "left in Program Files";
}

} // namespace
