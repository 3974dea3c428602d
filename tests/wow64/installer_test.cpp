// The installer packages, as administrators deploy them on 64-bit Windows with msiexec: silently, with
// a log, repaired, upgraded and uninstalled architecture by architecture; and what each package
// writes into the registry compared, key by key, with what regsvr32 writes for the same files.
//
// One sequence in a fresh prefix, in the order of the tests below (each starts where the one before
// left off). Environment: drive.h; ATOMTABLES_INSTALLERS (the bundle's packages) and
// ATOMTABLES_HIGHER_INSTALLERS (the same packages built with a higher version), Windows paths.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "release/bundle_client.h"
#include "support/registry_snapshot.h"
#include "wow64/drive.h"

using namespace testing_support;
using namespace wow64;

namespace {

// The upgrade code of the 64-bit package (packaging/installer.cmake).
constexpr wchar_t kUpgradeCode[] = L"{9765EF9E-1DE4-49FC-82EF-934F51FB0327}";

std::wstring Package(const wchar_t *variable, const wchar_t *prefix) {
    const std::wstring folder = Environment(variable);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"-*-x64.msi").c_str(), &found);
    EXPECT_NE(INVALID_HANDLE_VALUE, search) << "no package " << Narrow(prefix) << " in " << Narrow(folder);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return folder + L"\\" + found.cFileName;
}
std::wstring Component() { return Package(L"ATOMTABLES_INSTALLERS", L"AtomTables10"); }
std::wstring Library() { return Package(L"ATOMTABLES_INSTALLERS", L"QxBedrock10-standin"); }
std::wstring HigherComponent() { return Package(L"ATOMTABLES_HIGHER_INSTALLERS", L"AtomTables10"); }

std::wstring ProgramFiles(const std::wstring &lane) {
    wchar_t folder[MAX_PATH] = {};
    GetEnvironmentVariableW(lane == L"x64" ? L"ProgramW6432" : L"ProgramFiles(x86)", folder, MAX_PATH);
    return folder;
}
std::wstring ComponentFolder(const std::wstring &lane) { return ProgramFiles(lane) + L"\\AtomTables10"; }
std::wstring LibraryFolder(const std::wstring &lane) { return ProgramFiles(lane) + L"\\QxBedrock10 stand-in"; }

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// msiexec, timed; a log of each run goes to the scratch folder.
DWORD Msiexec(const std::wstring &arguments, const char *what) {
    static int count = 0;
    const std::wstring log = bundle::WorkDir() + L"\\msiexec-" + std::to_wstring(++count) + L".log";
    const auto start = std::chrono::steady_clock::now();
    const bundle::Run run = bundle::RunProgram(SystemProgram(L"x64", L"msiexec.exe"),
                                               arguments + L" /qn /l*v " + bundle::Quoted(log));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %.1f s (msiexec %s, exit code %lu)\n", what, seconds, Narrow(arguments).c_str(), run.exitCode);
    return run.exitCode;
}

DWORD Regsvr32(const std::wstring &lane, const std::wstring &arguments) {
    return bundle::RunProgram(SystemProgram(lane, L"regsvr32.exe"), L"/s " + arguments).exitCode;
}

// What works where, after each step: each architecture's client and script host.
void BothWork(const std::string &when) {
    for (const wchar_t *lane : kLanes) {
        EXPECT_TRUE(LookFromClient(lane, true, when, ComponentFolder(lane), LibraryFolder(lane)));
        EXPECT_TRUE(LookFromScript(lane, ComponentFolder(lane), when));
    }
}

// Products installed under the 64-bit package's upgrade code.
std::vector<std::wstring> RelatedProducts() {
    std::vector<std::wstring> products;
    wchar_t product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) products.emplace_back(product);
    return products;
}

struct Installer : ::testing::Test {
    static void SetUpTestSuite() {
        if (sizeof(void *) == 8) before = new Snapshot(WholeClassesButInstaller());
    }
    void SetUp() override {
        if (sizeof(void *) != 8) GTEST_SKIP() << "the 64-bit build drives the sequence";
    }
    static Snapshot *before;
};
Snapshot *Installer::before = nullptr;

} // namespace

// Each architecture's feature alone: what the package writes is what regsvr32 writes for the same
// installed files, and uninstalling leaves nothing.
TEST_F(Installer, EachArchitectureWritesWhatRegsvr32Writes) {
    for (const wchar_t *lane : kLanes) {
        for (const auto &[package, dll] : {std::pair{Library(), L"QxBedrock10.dll"}, std::pair{Component(), L"AtomTables10.dll"}}) {
            const std::string what = Narrow(lane) + " " + Narrow(dll);
            ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(package) + L" ADDLOCAL=" + lane, ("install " + what).c_str()));
            const Snapshot installed = WholeClassesButInstaller();
            EXPECT_FALSE(*before == installed);
            const std::wstring file = (dll == std::wstring(L"AtomTables10.dll") ? ComponentFolder(lane) : LibraryFolder(lane)) +
                                      L"\\" + dll;
            ASSERT_TRUE(Exists(file)) << Narrow(file);
            ASSERT_EQ(0u, Regsvr32(lane, L"/u " + bundle::Quoted(file)));
            ASSERT_EQ(0u, Regsvr32(lane, bundle::Quoted(file)));
            const Snapshot registered = WholeClassesButInstaller();
            EXPECT_TRUE(installed == registered) << "the package and regsvr32 differ for " << what << ":\n"
                                             << Diff(installed, registered);
            ASSERT_EQ(0u, Msiexec(L"/x " + bundle::Quoted(package), ("uninstall " + what).c_str()));
            EXPECT_FALSE(Exists(file));
            EXPECT_TRUE(*before == WholeClassesButInstaller()) << "after uninstalling " << what << ":\n" << Diff(*before, WholeClassesButInstaller());
        }
    }
}

TEST_F(Installer, BothArchitecturesInstalledSilently) {
    ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(Library()), "install the stand-in library"));
    ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(Component()), "install the component"));
    for (const wchar_t *lane : kLanes) {
        const std::wstring dll = ComponentFolder(lane) + L"\\AtomTables10.dll";
        EXPECT_TRUE(Exists(dll)) << Narrow(lane);
        // The package installs the DLL as signed: Windows' Authenticode policy accepts it.
        EXPECT_EQ(S_OK, bundle::Trust(dll)) << Narrow(dll) << ": " << Narrow(bundle::Hex(bundle::Trust(dll)));
    }
    EXPECT_EQ(1u, RelatedProducts().size());
    BothWork("after installing");
}

TEST_F(Installer, ADeletedDllIsRepaired) {
    for (const wchar_t *lane : kLanes) {
        const std::wstring dll = ComponentFolder(lane) + L"\\AtomTables10.dll";
        ASSERT_TRUE(DeleteFileW(dll.c_str())) << Narrow(dll);
        LookFromScript(lane, ComponentFolder(lane), "with the DLL deleted", false);
        ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(Component()) + L" REINSTALL=ALL REINSTALLMODE=omus",
                              ("repair the deleted " + Narrow(lane) + " DLL").c_str()));
        EXPECT_TRUE(Exists(dll)) << Narrow(dll);
    }
    BothWork("after the repairs");
}

TEST_F(Installer, AHigherVersionReplacesTheLowerOne) {
    const std::vector<std::wstring> lower = RelatedProducts();
    ASSERT_EQ(1u, lower.size());
    const Snapshot registered = WholeClassesButInstaller();
    ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(HigherComponent()), "install the higher version over the lower"));
    const std::vector<std::wstring> products = RelatedProducts();
    ASSERT_EQ(1u, products.size()) << "exactly one product";
    EXPECT_NE(lower[0], products[0]) << "the higher version's product replaced the lower's";
    EXPECT_TRUE(registered == WholeClassesButInstaller()) << "one registration, as before:\n" << Diff(registered, WholeClassesButInstaller());
    BothWork("after the upgrade");
}

TEST_F(Installer, UninstalledArchitectureByArchitecture) {
    const std::wstring package = HigherComponent();
    ASSERT_EQ(0u, Msiexec(L"/i " + bundle::Quoted(package) + L" REMOVE=x86", "uninstall the x86 feature"));
    EXPECT_FALSE(Exists(ComponentFolder(L"x86") + L"\\AtomTables10.dll"));
    LookFromScript(L"x86", ComponentFolder(L"x86"), "with the x86 feature removed", false);
    EXPECT_TRUE(LookFromClient(L"x86", false, "with the x86 feature removed"));
    EXPECT_TRUE(LookFromClient(L"x64", true, "with the x86 feature removed", ComponentFolder(L"x64"), LibraryFolder(L"x64")));
    EXPECT_TRUE(LookFromScript(L"x64", ComponentFolder(L"x64"), "with the x86 feature removed"));

    ASSERT_EQ(0u, Msiexec(L"/x " + bundle::Quoted(package), "uninstall the rest"));
    ASSERT_EQ(0u, Msiexec(L"/x " + bundle::Quoted(Library()), "uninstall the stand-in library"));
    EXPECT_TRUE(RelatedProducts().empty());
    for (const wchar_t *lane : kLanes) {
        for (const std::wstring &folder : {ComponentFolder(lane), LibraryFolder(lane)}) {
            EXPECT_FALSE(Exists(folder)) << Narrow(folder) << " is left";
        }
        EXPECT_TRUE(LookFromClient(lane, false, "after uninstalling"));
    }
    EXPECT_TRUE(*before == WholeClassesButInstaller()) << "residue in the classes registry:\n" << Diff(*before, WholeClassesButInstaller());
}
