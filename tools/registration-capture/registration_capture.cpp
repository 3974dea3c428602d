// registration-capture: what a DLL's self-registration writes into the classes registry, recorded so
// that installer packages can write the same entries from their own tables.
//
//   registration-capture <output file> (<x64|x86> <DLL>)...
//
// Run as a 64-bit program on 64-bit Windows (a prefix where 32-bit programs run too), in a registry
// where nothing of the DLLs is registered. For each DLL in turn it registers the DLL with the
// regsvr32 of the DLL's architecture (System32 or SysWOW64), records every key and value that
// appeared under HKEY_LOCAL_MACHINE\Software\Classes, unregisters it again and checks that the
// registry is back as it was. Nothing is written into the registry by this program itself.
//
// The registry is read as stored, both views at once: what the 32-bit view holds of its own lies
// under Wow6432Node. Each line of the output is one entry, tab-separated:
//
//   <DLL file name> <x64|x86> <view: 64|32> <key under the classes root> <kind> <value name> <data>
//
// kind "value" is a string value (an empty name is the key's default value); kind "key" is a key
// with neither values nor subkeys. In data, the DLL's own full path reads [#FILE]. The program fails
// when a value holds the DLL's folder in any other form, or is not a string: a package could not
// write it the same way.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Value {
    DWORD type = REG_NONE;
    std::wstring data;
    bool operator==(const Value &) const = default;
};
struct Key {
    std::map<std::wstring, Value> values;
    size_t children = 0;
    bool operator==(const Key &) const = default;
};
using Tree = std::map<std::wstring, Key>;

void Read(HKEY parent, const std::wstring &path, Tree &tree) {
    HKEY key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    Key &entry = tree[path];
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        data.assign(size + sizeof(wchar_t), 0);
        nameLength = static_cast<DWORD>(name.size());
        RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            text.assign(reinterpret_cast<const wchar_t *>(data.data()), size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
        }
        entry.values[std::wstring(name.data(), nameLength)] = {type, text};
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(child, length);
    }
    RegCloseKey(key);
    entry.children = children.size();
    for (const auto &child : children) Read(parent, path + L"\\" + child, tree);
}

Tree Classes() {
    Tree tree;
    Read(HKEY_LOCAL_MACHINE, L"Software\\Classes", tree);
    return tree;
}

std::string Utf8(const std::wstring &text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

DWORD Run(const std::wstring &program, const std::wstring &arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError() | 0x80000000u;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::wstring Regsvr32(const std::wstring &arch) {
    wchar_t folder[MAX_PATH] = {};
    if (arch == L"x64") {
        GetSystemDirectoryW(folder, MAX_PATH);
    } else {
        GetSystemWow64DirectoryW(folder, MAX_PATH);
    }
    return std::wstring(folder) + L"\\regsvr32.exe";
}

int Fail(const std::string &what) {
    std::fprintf(stderr, "registration-capture: %s\n", what.c_str());
    return 1;
}

constexpr std::wstring_view kRoot = L"Software\\Classes";
constexpr std::wstring_view kOtherView = L"Wow6432Node\\";

} // namespace

int main() {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4 || argc % 2 != 0) return Fail("usage: registration-capture <output> (<x64|x86> <DLL>)...");
    std::string output;
    for (int i = 2; i < argc; i += 2) {
        const std::wstring arch = argv[i];
        wchar_t full[MAX_PATH] = {};
        GetFullPathNameW(argv[i + 1], MAX_PATH, full, nullptr);
        const std::wstring dll = full;
        const std::wstring fileName = dll.substr(dll.find_last_of(L'\\') + 1);
        const std::wstring folder = dll.substr(0, dll.find_last_of(L'\\'));
        if (arch != L"x64" && arch != L"x86") return Fail("unknown architecture " + Utf8(arch));

        const Tree before = Classes();
        DWORD status = Run(Regsvr32(arch), L"/s \"" + dll + L"\"");
        if (status != 0) return Fail("regsvr32 " + Utf8(dll) + " exited with " + std::to_string(status));
        const Tree registered = Classes();
        status = Run(Regsvr32(arch), L"/u /s \"" + dll + L"\"");
        if (status != 0) return Fail("regsvr32 /u " + Utf8(dll) + " exited with " + std::to_string(status));
        const Tree after = Classes();
        if (after != before) return Fail("unregistering " + Utf8(dll) + " did not leave the registry as it was");

        for (const auto &[path, key] : registered) {
            auto old = before.find(path);
            std::wstring relative = path.size() > kRoot.size() ? path.substr(kRoot.size() + 1) : std::wstring();
            const char *view = "64";
            if (relative.starts_with(kOtherView)) {
                relative = relative.substr(kOtherView.size());
                view = "32";
            }
            const std::string prefix =
                Utf8(fileName) + "\t" + Utf8(arch) + "\t" + view + "\t" + Utf8(relative) + "\t";
            if (old == before.end() && key.values.empty() && key.children == 0) output += prefix + "key\t\t\n";
            for (const auto &[name, value] : key.values) {
                if (old != before.end()) {
                    auto was = old->second.values.find(name);
                    if (was != old->second.values.end() && was->second == value) continue;
                }
                if (value.type != REG_SZ) return Fail("a value that is not a string under " + Utf8(path));
                std::wstring data = value.data;
                const std::wstring lower = Lower(data);
                if (const size_t at = lower.find(Lower(dll)); at != std::wstring::npos) data.replace(at, dll.size(), L"[#FILE]");
                if (Lower(data).find(Lower(folder)) != std::wstring::npos)
                    return Fail("the DLL's folder in a value under " + Utf8(path));
                if (data.empty()) return Fail("an empty string value under " + Utf8(path));
                output += prefix + "value\t" + Utf8(name) + "\t" + Utf8(data) + "\n";
            }
        }
    }
    FILE *file = _wfopen(argv[1], L"wb");
    if (!file) return Fail("cannot write " + Utf8(argv[1]));
    const bool written = std::fwrite(output.data(), 1, output.size(), file) == output.size();
    std::fclose(file);
    LocalFree(argv);
    return written ? 0 : Fail("cannot write the output");
}
