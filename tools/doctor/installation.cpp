#include "installation.h"

#include <msi.h>

#include "AtomTables10.h"
#include "resources/version.h"
#include "runtime/owners.h"

namespace doctor {
namespace {

std::wstring Environment(const wchar_t *name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring(L"C:\\Windows");
}

// Program Files of an architecture: on 64-bit Windows the 64-bit one or "Program Files (x86)".
std::wstring ProgramFiles(const View &view) {
    if (!SixtyFourBitWindows()) return Environment(L"ProgramFiles");
    return Environment(view.is64 ? L"ProgramW6432" : L"ProgramFiles(x86)");
}

// The system folder whose programs are of a view's architecture, as a command prompt names it.
std::wstring SystemFolder(const View &view) {
    return WindowsFolder() + (SixtyFourBitWindows() && !view.is64 ? L"\\SysWOW64" : L"\\System32");
}

} // namespace

std::wstring GuidText(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::string Narrow(const std::wstring &text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

HRESULT ReadCatalogue(Catalogue &catalogue) {
    rt::ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(SelfPath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    rt::TLibAttr attributes;
    hr = attributes.Read(library.Get());
    if (FAILED(hr)) return hr;
    catalogue.libid = attributes->guid;
    catalogue.major = attributes->wMajorVerNum;
    catalogue.minor = attributes->wMinorVerNum;
    rt::Bstr name;
    hr = library->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    catalogue.library = name.View();
    for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
        rt::ComPtr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        rt::TypeAttr type;
        if (FAILED(type.Read(info.Get()))) continue;
        rt::Bstr typeName;
        info->GetDocumentation(MEMBERID_NIL, typeName.Receive(), nullptr, nullptr, nullptr);
        if (type->typekind == TKIND_COCLASS) {
            catalogue.classes.push_back({std::wstring(typeName.View()), type->guid, (type->wTypeFlags & TYPEFLAG_FCANCREATE) != 0});
        } else if ((type->typekind == TKIND_DISPATCH && (type->wTypeFlags & TYPEFLAG_FDUAL)) ||
                   (type->typekind == TKIND_INTERFACE && (type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION))) {
            bool known = false;
            for (const auto &dualInterface : catalogue.interfaces) known = known || IsEqualGUID(dualInterface.iid, type->guid);
            if (!known) catalogue.interfaces.push_back({std::wstring(typeName.View()), type->guid});
        }
    }
    return catalogue.classes.empty() ? TYPE_E_ELEMENTNOTFOUND : S_OK;
}

bool SixtyFourBitWindows() {
    if (sizeof(void *) == 8) return true;
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::vector<View> Views() {
    if (!SixtyFourBitWindows()) return {View{"x86", 0, false}};
    return {View{"x64", KEY_WOW64_64KEY, true}, View{"wow64-32", KEY_WOW64_32KEY, false}};
}

namespace {

// On 64-bit Windows (7 and later) only a few keys of the classes registry are kept apart per view,
// CLSID and Interface among them; the rest (ProgIDs, TypeLib) is one key that both views share,
// which lives in the 64-bit registry. (Wine gives a 64-bit program that asks for the 32-bit view of
// a shared key the 32-bit registry's own key, which 32-bit programs do not see: so it is not asked.)
REGSAM ViewOf(const View &view, const std::wstring &key) {
    if (!SixtyFourBitWindows()) return 0;
    for (const wchar_t *redirected : {L"CLSID\\", L"Interface\\", L"DirectShow\\", L"Media Type\\", L"MediaFoundation\\"})
        if (_wcsnicmp(key.c_str(), redirected, wcslen(redirected)) == 0) return view.flag;
    return KEY_WOW64_64KEY;
}

LSTATUS Open(const View &view, const std::wstring &key, rt::RegKey &opened) {
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | ViewOf(view, key), opened.Receive());
}

} // namespace

bool KeyExists(const View &view, const std::wstring &key) {
    rt::RegKey opened;
    return Open(view, key, opened) == ERROR_SUCCESS;
}

std::optional<std::wstring> String(const View &view, const std::wstring &key, const wchar_t *name) {
    rt::RegKey opened;
    if (Open(view, key, opened) != ERROR_SUCCESS) return std::nullopt;
    DWORD size = 0;
    const DWORD types = RRF_RT_REG_SZ;   // REG_EXPAND_SZ comes expanded
    if (RegGetValueW(opened.Get(), nullptr, name, types, nullptr, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(opened.Get(), nullptr, name, types, nullptr, value.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

bool FileExists(const std::wstring &path) {
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<WORD> PeMachine(const std::wstring &path) {
    rt::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return std::nullopt;
    BYTE header[4096] = {};
    DWORD read = 0;
    if (!ReadFile(file.Get(), header, sizeof(header), &read, nullptr) || read < sizeof(IMAGE_DOS_HEADER)) return std::nullopt;
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(header);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        static_cast<DWORD>(dos->e_lfanew) + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) > read)
        return std::nullopt;
    DWORD signature = 0;
    memcpy(&signature, header + dos->e_lfanew, sizeof(signature));
    if (signature != IMAGE_NT_SIGNATURE) return std::nullopt;
    IMAGE_FILE_HEADER fileHeader;
    memcpy(&fileHeader, header + dos->e_lfanew + sizeof(DWORD), sizeof(fileHeader));
    return fileHeader.Machine;
}

std::wstring MachineName(WORD machine) {
    switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64: return L"a 64-bit (x64) DLL";
    case IMAGE_FILE_MACHINE_I386: return L"a 32-bit (x86) DLL";
    case IMAGE_FILE_MACHINE_ARM64: return L"an ARM64 DLL";
    default: {
        wchar_t text[48];
        swprintf(text, 48, L"a file for machine 0x%04X", machine);
        return text;
    }
    }
}

std::wstring FolderOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool SameText(const std::wstring &a, const std::wstring &b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring Quoted(const std::wstring &path) { return L"\"" + path + L"\""; }

std::wstring SelfPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring OwnVersion() {
    const char *text = ATOMTABLES_VERSION_TEXT;
    return {text, text + strlen(text)};
}

bool Package::FeatureInstalled(const View &view) const {
    if (!Installed()) return false;
    const INSTALLSTATE state = MsiQueryFeatureStateW(product.c_str(), view.Lane().c_str());
    return state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_SOURCE;
}

std::wstring Package::Folder(const View &view) const { return ProgramFiles(view) + L"\\AtomTables10"; }

Package InstalledPackage() {
    Package package;
    const wchar_t *upgradeCode = SixtyFourBitWindows() ? ATOMTABLES_UPGRADE_CODE_x64 : ATOMTABLES_UPGRADE_CODE_x86;
    wchar_t product[39] = {};
    if (MsiEnumRelatedProductsW(upgradeCode, 0, 0, product) != ERROR_SUCCESS) return package;
    package.product = product;
    wchar_t version[64] = {};
    DWORD length = 64;
    if (MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &length) == ERROR_SUCCESS) package.version = version;
    return package;
}

std::wstring Home(const View &view, const Package &package) {
    const std::wstring self = SelfPath();
    if (view.Own()) return FolderOf(self);
    std::vector<std::wstring> candidates;
    if (auto server = String(view, L"CLSID\\" + GuidText(CLSID_clsQxAtomTables10A) + L"\\InprocServer32"))
        candidates.push_back(FolderOf(*server));
    candidates.push_back(FolderOf(FolderOf(self)) + L"\\" + view.Lane());   // the release bundle's other folder
    candidates.push_back(package.Folder(view));
    for (const std::wstring &folder : candidates) {
        const auto machine = PeMachine(folder + L"\\" + kDoctorName);
        if (!folder.empty() && machine && *machine == view.Machine()) return folder;
    }
    for (const std::wstring &folder : candidates) {
        const auto machine = PeMachine(folder + L"\\" + kComponentName);
        if (!folder.empty() && machine && *machine == view.Machine()) return folder;
    }
    return {};
}

std::wstring Regsvr32(const View &view, const std::wstring &dll) {
    return Quoted(SystemFolder(view) + L"\\regsvr32.exe") + L" /s " + Quoted(dll);
}

std::wstring Repair(const Package &package) {
    return Quoted(WindowsFolder() + L"\\System32\\msiexec.exe") + L" /i " + package.product +
           L" REINSTALL=ALL REINSTALLMODE=omus /qn";
}

std::wstring AddFeature(const Package &package, const View &view) {
    return Quoted(WindowsFolder() + L"\\System32\\msiexec.exe") + L" /i " + package.product + L" ADDLOCAL=" + view.Lane() +
           L" /qn";
}

std::wstring ComponentFix(const View &view, const Package &package) {
    if (package.Installed()) return package.FeatureInstalled(view) ? Repair(package) : AddFeature(package, view);
    const std::wstring home = Home(view, package);
    const std::wstring dll = home + L"\\" + kComponentName;
    const auto machine = home.empty() ? std::nullopt : PeMachine(dll);
    return machine && *machine == view.Machine() ? Regsvr32(view, dll) : std::wstring();
}

std::wstring LibraryFile(const View &view, const Package &package) {
    const std::wstring home = Home(view, package);
    for (const std::wstring &folder : {home, ProgramFiles(view) + L"\\QxBedrock10 stand-in"}) {
        const auto machine = folder.empty() ? std::nullopt : PeMachine(folder + L"\\" + kLibraryName);
        if (machine && *machine == view.Machine()) return folder + L"\\" + kLibraryName;
    }
    return {};
}

std::wstring Explain(HRESULT hr) {
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    const wchar_t *meaning = nullptr;
    switch (hr) {
    case CO_E_CLASSSTRING: meaning = L"invalid class string"; break;
    case REGDB_E_CLASSNOTREG: meaning = L"class not registered"; break;
    case E_ACCESSDENIED: meaning = L"under Wine: a server DLL that cannot be loaded"; break;
    case HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND): meaning = L"the module could not be found"; break;
    case HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT): meaning = L"a DLL of the other architecture"; break;
    case E_NOINTERFACE: meaning = L"no such interface"; break;
    case TYPE_E_LIBNOTREGISTERED: meaning = L"type library not registered"; break;
    case static_cast<HRESULT>(0x800A01AD): meaning = L"ActiveX component can't create object"; break;
    case RPC_E_TIMEOUT: meaning = L"no answer in time"; break;
    default: break;
    }
    return meaning ? std::wstring(code) + L" (" + meaning + L")" : std::wstring(code);
}

} // namespace doctor
