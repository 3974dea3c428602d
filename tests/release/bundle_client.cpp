#include "bundle_client.h"

#include <cstdio>

#include <softpub.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include "runtime/owners.h"

namespace bundle {
namespace {

std::wstring Environment(const wchar_t *name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) {
        ADD_FAILURE() << "%" << std::string(name, name + wcslen(name)) << "% is not set";
        return {};
    }
    return value;
}

using rt::Handle;

} // namespace

const wchar_t *Lane() { return sizeof(void *) == 8 ? L"x64" : L"x86"; }
const wchar_t *OtherLane() { return sizeof(void *) == 8 ? L"x86" : L"x64"; }
std::wstring Root() { return Environment(L"ATOMTABLES_BUNDLE"); }
std::wstring LaneDir() { return Root() + L"\\" + Lane(); }
std::wstring OtherLaneDir() { return Root() + L"\\" + OtherLane(); }
std::wstring WorkDir() { return Environment(L"ATOMTABLES_WORK"); }

bool CopyInto(const std::wstring &file, const std::wstring &folder, const std::wstring &asName) {
    const std::wstring name = asName.empty() ? file.substr(file.find_last_of(L'\\') + 1) : asName;
    return CopyFileW(file.c_str(), (folder + L"\\" + name).c_str(), FALSE) != FALSE;
}

std::wstring CopyFolder(const std::wstring &from, const std::wstring &name, const std::vector<std::wstring> &without) {
    const std::wstring folder = WorkDir() + L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "nothing to copy from the bundle";
        return folder;
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        bool skip = false;
        for (const std::wstring &left : without) skip = skip || _wcsicmp(left.c_str(), found.cFileName) == 0;
        if (!skip) {
            EXPECT_TRUE(CopyInto(from + L"\\" + found.cFileName, folder));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return folder;
}

std::string ReadFile(const std::wstring &path) {
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return {};
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
    return content;
}

std::wstring RegistryString(HKEY root, const std::wstring &key, const wchar_t *name, REGSAM view) {
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return {};
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const LSTATUS read = RegGetValueW(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
    RegCloseKey(opened);
    return read == ERROR_SUCCESS ? buffer : std::wstring();
}

bool RegistryKeyExists(HKEY root, const std::wstring &key) {
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

Run RunProgram(const std::wstring &program, const std::wstring &arguments) {
    static int count = 0;
    const std::wstring outputPath = WorkDir() + L"\\output-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(++count) + L".txt";
    Run run;
    {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        Handle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output.Valid()) {
            ADD_FAILURE() << "cannot create the output file of a program";
            return run;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        std::wstring commandLine = Quoted(program) + L" " + arguments;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &process)) {
            ADD_FAILURE() << "cannot start a program, error " << GetLastError();
            return run;
        }
        Handle thread(process.hThread), child(process.hProcess);
        WaitForSingleObject(child.Get(), INFINITE);
        GetExitCodeProcess(child.Get(), &run.exitCode);
    }
    run.output = ReadFile(outputPath);
    DeleteFileW(outputPath.c_str());
    return run;
}

Run RunSystemProgram(const wchar_t *name, const std::wstring &arguments) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return RunProgram(std::wstring(system) + L"\\" + name, arguments);
}

DWORD Regsvr32(const std::wstring &arguments) { return RunSystemProgram(L"regsvr32.exe", L"/s " + arguments).exitCode; }

Run RunVbs(const std::wstring &name, const std::string &script) {
    const std::wstring path = WorkDir() + L"\\" + name;
    {
        Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.Valid() || !WriteFile(file.Get(), script.data(), static_cast<DWORD>(script.size()), &written, nullptr)) {
            ADD_FAILURE() << "cannot write a script";
            return {};
        }
    }
    return RunSystemProgram(L"cscript.exe", L"//nologo " + Quoted(path));
}

std::wstring Quoted(const std::wstring &path) { return L"\"" + path + L"\""; }

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

HRESULT Trust(const std::wstring &path) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // Bound at run time, so that the programs that share this file need not link wintrust.
    using Verify = LONG(WINAPI *)(HWND, GUID *, void *);
    HMODULE wintrust = LoadLibraryW(L"wintrust.dll");
    const auto verify = wintrust ? reinterpret_cast<Verify>(reinterpret_cast<void *>(GetProcAddress(wintrust, "WinVerifyTrust")))
                                 : nullptr;
    if (!verify) {
        ADD_FAILURE() << "no WinVerifyTrust in wintrust.dll";
        if (wintrust) FreeLibrary(wintrust);
        return E_NOTIMPL;
    }
    const auto window = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const HRESULT result = static_cast<HRESULT>(verify(window, &action, &data));
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(window, &action, &data);
    FreeLibrary(wintrust);
    return result;
}

} // namespace bundle
