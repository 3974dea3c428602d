#include "registry_snapshot.h"

namespace testing_support {

void Walk(HKEY root, const std::wstring &path, Snapshot &out, REGSAM view, const std::wstring &label) {
    HKEY key;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    RegistryValues &values = out[label.empty() ? path : label + L"\\" + path];
    // One call per value where the data fits, which it nearly always does: under Wine every call
    // is a round trip to the server, and a whole classes registry has tens of thousands of keys.
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
        LSTATUS status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(size);
            nameLength = static_cast<DWORD>(name.size());
            status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        }
        if (status != ERROR_SUCCESS) break;
        values[std::wstring(name.data(), nameLength)] = {type, std::vector<BYTE>(data.begin(), data.begin() + size)};
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(child, length);
    }
    RegCloseKey(key);
    for (const auto &child : children) Walk(root, path.empty() ? child : path + L"\\" + child, out, view, label);
}

Snapshot WholeClasses() {
    Snapshot snapshot;
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool twoViews = sizeof(void *) == 8 || wow64;
    Walk(HKEY_LOCAL_MACHINE, L"Software\\Classes", snapshot, twoViews ? KEY_WOW64_64KEY : 0, L"HKLM");
    if (twoViews) Walk(HKEY_LOCAL_MACHINE, L"Software\\Classes", snapshot, KEY_WOW64_32KEY, L"HKLM(32-bit view)");
    Walk(HKEY_CURRENT_USER, L"Software\\Classes", snapshot, 0, L"HKCU");
    return snapshot;
}

Snapshot WholeClassesButInstaller() {
    Snapshot all = WholeClasses();
    std::erase_if(all, [](const auto &entry) { return entry.first.find(L"\\Software\\Classes\\Installer") != std::wstring::npos; });
    return all;
}

std::string Diff(const Snapshot &a, const Snapshot &b) {
    std::string out;
    auto name = [](const std::wstring &w) { return std::string(w.begin(), w.end()); };
    for (const auto &[key, values] : a) {
        auto other = b.find(key);
        if (other == b.end()) {
            out += "  only before: " + name(key) + "\n";
        } else if (other->second != values) {
            out += "  values differ: " + name(key) + "\n";
        }
    }
    for (const auto &[key, values] : b) {
        if (!a.count(key)) out += "  only after: " + name(key) + "\n";
    }
    return out.size() > 4000 ? out.substr(0, 4000) + "  ...\n" : out;
}

} // namespace testing_support
