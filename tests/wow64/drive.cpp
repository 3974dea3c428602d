#include "drive.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "release/bundle_client.h"

namespace wow64 {

std::wstring Environment(const wchar_t *name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

std::wstring SystemProgram(const std::wstring &lane, const wchar_t *name) {
    wchar_t folder[MAX_PATH] = {};
    if (lane == L"x64") {
        GetSystemDirectoryW(folder, MAX_PATH);
    } else {
        GetSystemWow64DirectoryW(folder, MAX_PATH);
    }
    return std::wstring(folder) + L"\\" + name;
}

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

bool LookFromClient(const std::wstring &lane, bool registered, const std::string &when,
                    const std::wstring &componentFolder, const std::wstring &libraryFolder) {
    const std::wstring journal = bundle::WorkDir() + L"\\QxBedrock10-" + lane + L".log";
    SetEnvironmentVariableW(L"QXBEDROCK10_LOG", journal.c_str());
    SetEnvironmentVariableW(L"ATOMTABLES_COMPONENT_FOLDER", componentFolder.empty() ? nullptr : componentFolder.c_str());
    SetEnvironmentVariableW(L"ATOMTABLES_LIBRARY_FOLDER", libraryFolder.empty() ? nullptr : libraryFolder.c_str());
    const bundle::Run run = bundle::RunProgram(Environment((L"ATOMTABLES_CLIENT_" + lane).c_str()),
                                               registered ? L"--gtest_filter=Registered.*"
                                                          : L"--gtest_filter=Unregistered.*");
    SetEnvironmentVariableW(L"ATOMTABLES_COMPONENT_FOLDER", nullptr);
    SetEnvironmentVariableW(L"ATOMTABLES_LIBRARY_FOLDER", nullptr);
    // A filter that matched nothing would pass as well: the count of tests that passed says more.
    const bool passed = run.exitCode == 0 &&
                        run.output.find(registered ? "[  PASSED  ] 4 tests." : "[  PASSED  ] 1 test.") != std::string::npos;
    EXPECT_TRUE(passed) << "the " << Narrow(lane) << " client " << when << ":\n" << run.output;
    return passed;
}

bool LookFromScript(const std::wstring &lane, const std::wstring &folder, const std::string &when, bool works) {
    const bundle::Run run =
        bundle::RunProgram(SystemProgram(lane, L"cscript.exe"), L"//nologo " + bundle::Quoted(Environment(L"ATOMTABLES_SIDE_BY_SIDE_VBS")) +
                                                                     L" " + bundle::Quoted(folder));
    const bool passed = run.exitCode == 0 && run.output.find("checks passed") != std::string::npos;
    if (works) {
        EXPECT_TRUE(passed) << Narrow(lane) << " cscript " << when << ":\n" << run.output;
        return passed;
    }
    // What a script host meets when its architecture has no component: error 429 at CreateObject.
    const bool refused = run.output.find("CreateObject: error 429") != std::string::npos;
    EXPECT_TRUE(refused) << Narrow(lane) << " cscript " << when << " (expected to find no component):\n" << run.output;
    return refused;
}

} // namespace wow64
