#include "registration.h"

#include <string>

#include "errors.h"
#include "module.h"

namespace rt::registration {
namespace {

// An open registry key, closed when it goes.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY Get() const { return key_; }
    HKEY *Receive() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

std::wstring GuidText(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetValue(HKEY root, const std::wstring &path, const wchar_t *name, const std::wstring &value) {
    RegKey key;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Receive(), nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

std::wstring GetValue(HKEY root, const std::wstring &path) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

HRESULT DeleteTree(HKEY root, const std::wstring &path) {
    LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        RegDeleteKeyW(root, path.c_str());
        return S_OK;
    }
    return HRESULT_FROM_WIN32(status);
}

std::wstring ProgId(const CreatableClass &c) { return std::wstring(module::ProjectName()) + L"." + c.name; }

constexpr SYSKIND kSysKind = sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32;

} // namespace

HRESULT Register(const Server &server) {
    return Guarded<Plumbing>([&]() -> HRESULT {
        std::wstring path = module::FilePath();
        ComPtr<ITypeLib> library;
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        if (FAILED(hr)) return hr;
        hr = RegisterTypeLib(library.Get(), path.data(), nullptr);
        if (FAILED(hr)) return hr;

        const std::wstring libid = GuidText(*server.libid);
        const std::wstring version = std::to_wstring(server.major) + L"." + std::to_wstring(server.minor);
        for (const CreatableClass &c : server.classes) {
            const std::wstring clsidKey = L"CLSID\\" + GuidText(*c.clsid);
            const std::wstring progId = ProgId(c);
            const struct {
                std::wstring key;
                const wchar_t *name;
                std::wstring value;
            } values[] = {
                {clsidKey, nullptr, progId},
                {clsidKey + L"\\InprocServer32", nullptr, path},
                {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
                {clsidKey + L"\\ProgID", nullptr, progId},
                {clsidKey + L"\\VERSION", nullptr, version},
                {clsidKey + L"\\TypeLib", nullptr, libid},
                {clsidKey + L"\\Programmable", nullptr, L""},
                {progId, nullptr, progId},
                {progId + L"\\CLSID", nullptr, GuidText(*c.clsid)},
            };
            for (const auto &v : values) {
                hr = SetValue(HKEY_CLASSES_ROOT, v.key, v.name, v.value);
                if (FAILED(hr)) return hr;
            }
        }
        return S_OK;
    });
}

HRESULT Unregister(const Server &server) {
    return Guarded<Plumbing>([&]() -> HRESULT {
        HRESULT result = S_OK;
        for (const CreatableClass &c : server.classes) {
            const std::wstring clsid = GuidText(*c.clsid);
            const std::wstring progId = ProgId(c);
            // The ProgID goes only while it still names this class.
            if (GetValue(HKEY_CLASSES_ROOT, progId + L"\\CLSID") == clsid) {
                HRESULT hr = DeleteTree(HKEY_CLASSES_ROOT, progId);
                if (FAILED(hr)) result = hr;
            }
            HRESULT hr = DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid);
            if (FAILED(hr)) result = hr;
        }
        // The library's registration for this platform, if it is there.
        const std::wstring libraryKey = L"TypeLib\\" + GuidText(*server.libid) + L"\\" + std::to_wstring(server.major) +
                                        L"." + std::to_wstring(server.minor) + L"\\0\\" +
                                        (kSysKind == SYS_WIN64 ? L"win64" : L"win32");
        RegKey library;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, library.Receive()) == ERROR_SUCCESS) {
            HRESULT hr = UnRegisterTypeLib(*server.libid, server.major, server.minor, 0, kSysKind);
            if (FAILED(hr)) result = hr;
        }
        return result;
    });
}

} // namespace rt::registration
