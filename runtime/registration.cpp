#include "registration.h"

#include <optional>
#include <string>

#include "errors.h"
#include "module.h"
#include "decimal.h"

namespace rt::registration {
namespace {

std::wstring GuidText(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT CreateKey(HKEY root, const std::wstring &path) {
    RegKey key;
    return HRESULT_FROM_WIN32(
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Receive(), nullptr));
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

bool KeyExists(HKEY root, const std::wstring &path, REGSAM view = 0) {
    RegKey opened;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, opened.Receive()) == ERROR_SUCCESS;
}

// True when some registry view still registers the class: the machine's classes in both views
// (on 64-bit Windows CLSID is redirected, so a 32-bit and a 64-bit server of one class each have a
// key of their own, while ProgIDs are shared), and the classes as this process sees them, which
// take in the user's own. On 32-bit Windows the view flags are ignored and all three are one view.
bool ClassRegisteredInAnyView(const std::wstring &clsid) {
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring machineKey = L"Software\\Classes\\" + key;
    return KeyExists(HKEY_LOCAL_MACHINE, machineKey, KEY_WOW64_64KEY) ||
           KeyExists(HKEY_LOCAL_MACHINE, machineKey, KEY_WOW64_32KEY) || KeyExists(HKEY_CLASSES_ROOT, key);
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
        const std::wstring version = Decimal(server.major) + L"." + Decimal(server.minor);
        // The library has no help file. Given no help folder, the automation library records the
        // folder of the first DLL to register, which on 64-bit Windows is one architecture's folder
        // in a key both share, and stale once that one is unregistered: the key stays without one.
        RegDeleteKeyValueW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + libid + L"\\" + version + L"\\HELPDIR").c_str(), nullptr);
        for (const CreatableClass &c : server.classes) {
            const std::wstring clsidKey = L"CLSID\\" + GuidText(*c.clsid);
            const std::wstring progId = ProgId(c);
            // A key without a value where the key alone says it all (Programmable).
            const struct {
                std::wstring key;
                const wchar_t *name;
                std::optional<std::wstring> value;
            } values[] = {
                {clsidKey, nullptr, progId},
                {clsidKey + L"\\InprocServer32", nullptr, path},
                {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
                {clsidKey + L"\\ProgID", nullptr, progId},
                {clsidKey + L"\\VERSION", nullptr, version},
                {clsidKey + L"\\TypeLib", nullptr, libid},
                {clsidKey + L"\\Programmable", nullptr, std::nullopt},
                {progId, nullptr, progId},
                {progId + L"\\CLSID", nullptr, GuidText(*c.clsid)},
            };
            for (const auto &v : values) {
                hr = v.value ? SetValue(HKEY_CLASSES_ROOT, v.key, v.name, *v.value) : CreateKey(HKEY_CLASSES_ROOT, v.key);
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
            // The class key is this view's own; the ProgID is shared by every view, so it goes only
            // while it still names this class and no view registers that class any more (the other
            // architecture's server of the same class still needs it).
            HRESULT hr = DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid);
            if (FAILED(hr)) result = hr;
            if (GetValue(HKEY_CLASSES_ROOT, progId + L"\\CLSID") == clsid && !ClassRegisteredInAnyView(clsid)) {
                hr = DeleteTree(HKEY_CLASSES_ROOT, progId);
                if (FAILED(hr)) result = hr;
            }
        }
        // The library's registration for this platform, if it is there. The platform's own key goes;
        // the rest (the library's version key and the interfaces' marshalling keys, which the
        // automation library writes into both registry views) is shared with the other platform's
        // registration of the same library and goes with the last of them. UnRegisterTypeLib would
        // take the interfaces' keys from both views at once.
        const std::wstring versionKey = L"TypeLib\\" + GuidText(*server.libid) + L"\\" + Decimal(server.major) +
                                        L"." + Decimal(server.minor);
        const std::wstring ours = versionKey + (kSysKind == SYS_WIN64 ? L"\\0\\win64" : L"\\0\\win32");
        const std::wstring other = versionKey + (kSysKind == SYS_WIN64 ? L"\\0\\win32" : L"\\0\\win64");
        if (KeyExists(HKEY_CLASSES_ROOT, ours)) {
            HRESULT hr = KeyExists(HKEY_CLASSES_ROOT, other)
                             ? DeleteTree(HKEY_CLASSES_ROOT, ours)
                             : UnRegisterTypeLib(*server.libid, server.major, server.minor, 0, kSysKind);
            if (FAILED(hr)) result = hr;
        }
        return result;
    });
}

} // namespace rt::registration
