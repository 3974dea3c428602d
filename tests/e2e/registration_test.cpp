// Registration as regsvr32 and installers drive it: what it writes, that it can be repeated, and
// that unregistering takes away exactly what registering wrote.
#include <cstdio>
#include <map>

#include "AtomTables10.h"
#include "support/client.h"

using namespace testing_support;

namespace {

using Values = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
using Snapshot = std::map<std::wstring, Values>;

// Every key and value under root\path, recursively.
void Walk(HKEY root, const std::wstring &path, Snapshot &out) {
    HKEY key;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    Values &values = out[path];
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        values[std::wstring(name, nameLength)] = {type, data};
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const auto &child : children) Walk(root, path.empty() ? child : path + L"\\" + child, out);
}

std::wstring Guid(const GUID &guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// The names of a key's subkeys, recorded as values of a pseudo key.
void Children(HKEY root, const std::wstring &path, Snapshot &out) {
    HKEY key;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    Values &names = out[L"<children of>" + path];
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names[std::wstring(name, length)] = {};
    }
    RegCloseKey(key);
}

// What registration may touch: the keys of the component's classes, ProgIDs, type library and
// interfaces in full, and the list of keys beside them (so that a stray key anywhere there shows).
Snapshot Classes() {
    Snapshot snapshot;
    for (const wchar_t *level : {L"", L"CLSID", L"TypeLib", L"Interface"}) Children(HKEY_CLASSES_ROOT, level, snapshot);
    for (const CLSID *clsid : {&CLSID_clsQxAtomTables10A, &CLSID_clsQxAmtsAtomsA, &CLSID_clsQxAmtsAtomA,
                               &CLSID_clsQxAmtsGeneralA, &CLSID_clsQxAmtsAdvancedA})
        Walk(HKEY_CLASSES_ROOT, L"CLSID\\" + Guid(*clsid), snapshot);
    for (const IID *iid : {&IID__clsQxAtomTables10A, &IID__clsQxAmtsAtomsA, &IID__clsQxAmtsAtomA,
                           &IID__clsQxAmtsGeneralA, &IID__clsQxAmtsAdvancedA})
        Walk(HKEY_CLASSES_ROOT, L"Interface\\" + Guid(*iid), snapshot);
    Walk(HKEY_CLASSES_ROOT, L"TypeLib\\" + Guid(LIBID_AtomTables10), snapshot);
    for (const wchar_t *name : {L"clsQxAtomTables10A", L"clsQxAmtsAtomsA", L"clsQxAmtsAtomA", L"clsQxAmtsGeneralA",
                                L"clsQxAmtsAdvancedA"})
        Walk(HKEY_CLASSES_ROOT, std::wstring(L"AtomTables10.") + name, snapshot);
    return snapshot;
}

// Every key and value of the registry's classes as an export of them would show them: the
// machine's (in both views where a 64-bit system has two) and the user's own, each key named with
// the part it comes from.
void WalkAll(HKEY root, const std::wstring &path, REGSAM view, const std::wstring &label, Snapshot &out) {
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    Values &values = out[label + L"\\" + path];
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        data.assign(size, 0);
        nameLength = static_cast<DWORD>(name.size());
        RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        values[std::wstring(name.data(), nameLength)] = {type, data};
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(child, length);
    }
    RegCloseKey(key);
    for (const auto &child : children) WalkAll(root, path + L"\\" + child, view, label, out);
}

Snapshot WholeClasses() {
    Snapshot snapshot;
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool twoViews = sizeof(void *) == 8 || wow64;
    WalkAll(HKEY_LOCAL_MACHINE, L"Software\\Classes", twoViews ? KEY_WOW64_64KEY : 0, L"HKLM", snapshot);
    if (twoViews) WalkAll(HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_32KEY, L"HKLM(32-bit view)", snapshot);
    WalkAll(HKEY_CURRENT_USER, L"Software\\Classes", 0, L"HKCU", snapshot);
    return snapshot;
}

std::wstring Value(const std::wstring &key, const wchar_t *name = nullptr) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<absent>";
    return buffer;
}

bool Exists(const std::wstring &key) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

// The differences between two snapshots, for failure messages.
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

// The component's own registration entry points, called as regsvr32 calls them. The component is
// registered again when the test ends, whatever happened, because the other tests need it.
struct Registration : ::testing::Test {
    void SetUp() override {
        module = LoadLibraryW(ComponentPath().c_str());
        ASSERT_TRUE(module);
        registerServer = reinterpret_cast<HRESULT(WINAPI *)()>(reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
        unregisterServer = reinterpret_cast<HRESULT(WINAPI *)()>(reinterpret_cast<void *>(GetProcAddress(module, "DllUnregisterServer")));
        ASSERT_TRUE(registerServer && unregisterServer);
    }
    void TearDown() override {
        if (registerServer) {
            EXPECT_EQ(S_OK, registerServer());
        }
        if (module) FreeLibrary(module);
    }
    HMODULE module = nullptr;
    HRESULT(WINAPI *registerServer)() = nullptr;
    HRESULT(WINAPI *unregisterServer)() = nullptr;
};

const std::pair<const CLSID *, const wchar_t *> kCreatable[] = {
    {&CLSID_clsQxAtomTables10A, L"clsQxAtomTables10A"},
    {&CLSID_clsQxAmtsAtomsA, L"clsQxAmtsAtomsA"},
    {&CLSID_clsQxAmtsGeneralA, L"clsQxAmtsGeneralA"},
    {&CLSID_clsQxAmtsAdvancedA, L"clsQxAmtsAdvancedA"},
};

} // namespace

TEST_F(Registration, RoundTripLeavesTheRegistryAsItWas) {
    ASSERT_EQ(S_OK, unregisterServer());
    const Snapshot before = Classes();

    ASSERT_EQ(S_OK, registerServer());
    const Snapshot registered = Classes();
    EXPECT_NE(before, registered);
    for (const auto &[clsid, name] : kCreatable) {
        const std::wstring key = L"CLSID\\" + Guid(*clsid);
        const std::wstring progId = std::wstring(L"AtomTables10.") + name;
        EXPECT_EQ(0, _wcsicmp(ComponentPath().c_str(), Value(key + L"\\InprocServer32").c_str()));
        EXPECT_EQ(L"Apartment", Value(key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(progId, Value(key + L"\\ProgID"));
        EXPECT_EQ(Guid(LIBID_AtomTables10), Value(key + L"\\TypeLib"));
        EXPECT_EQ(L"1.0", Value(key + L"\\VERSION"));
        EXPECT_EQ(Guid(*clsid), Value(progId + L"\\CLSID"));
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, TryCreate(progId.c_str(), object)) << std::string(progId.begin(), progId.end());
    }
    EXPECT_FALSE(Exists(L"CLSID\\" + Guid(CLSID_clsQxAmtsAtomA) + L"\\InprocServer32"));
    EXPECT_FALSE(Exists(L"AtomTables10.clsQxAmtsAtomA"));
    const wchar_t *platform = sizeof(void *) == 8 ? L"win64" : L"win32";
    EXPECT_EQ(0, _wcsicmp(ComponentPath().c_str(),
                          Value(L"TypeLib\\" + Guid(LIBID_AtomTables10) + L"\\1.0\\0\\" + platform).c_str()));
    EXPECT_TRUE(Exists(L"Interface\\" + Guid(IID__clsQxAtomTables10A)));

    ASSERT_EQ(S_OK, registerServer()) << "registering twice is harmless";
    EXPECT_EQ(registered, Classes()) << Diff(registered, Classes());

    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(before, Classes()) << Diff(before, Classes());
    ComPtr<IDispatch> object;
    EXPECT_NE(S_OK, TryCreate(L"AtomTables10.clsQxAtomTables10A", object));
    EXPECT_EQ(S_OK, unregisterServer()) << "unregistering what is not registered is harmless";
    EXPECT_EQ(before, Classes()) << Diff(before, Classes());
}

TEST_F(Registration, UnregisteringLeavesOtherComponentsAlone) {
    ASSERT_EQ(S_OK, registerServer());
    // Another component has since taken over one of the ProgIDs, and another version of the type
    // library is registered beside ours.
    const std::wstring takenOver = L"AtomTables10.clsQxAmtsGeneralA\\CLSID";
    const std::wstring foreignClsid = L"{0B0B0B0B-1111-2222-3333-444444444444}";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, takenOver.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(foreignClsid.c_str()),
                   static_cast<DWORD>((foreignClsid.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    const std::wstring otherVersion = L"TypeLib\\" + Guid(LIBID_AtomTables10) + L"\\9.9";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, otherVersion.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegCloseKey(key);

    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(foreignClsid, Value(takenOver)) << "a ProgID that names another class stays";
    EXPECT_TRUE(Exists(otherVersion)) << "another version of the library stays";
    EXPECT_FALSE(Exists(L"AtomTables10.clsQxAtomTables10A"));
    EXPECT_FALSE(Exists(L"CLSID\\" + Guid(CLSID_clsQxAtomTables10A)));

    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"AtomTables10.clsQxAmtsGeneralA");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AtomTables10.clsQxAmtsGeneralA");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, otherVersion.c_str());
}

TEST_F(Registration, TheWholeClassesRegistryIsAsItWasAfterTwoRoundTrips) {
    ASSERT_EQ(S_OK, unregisterServer());
    const Snapshot before = WholeClasses();
    ASSERT_GT(before.size(), 100u) << "the prefix's classes were read";
    const Snapshot component = Classes();
    ASSERT_EQ(S_OK, registerServer());
    ASSERT_EQ(S_OK, registerServer());
    EXPECT_NE(component, Classes()) << "registered in between";
    ASSERT_EQ(S_OK, unregisterServer());
    ASSERT_EQ(S_OK, unregisterServer());
    const Snapshot after = WholeClasses();
    EXPECT_EQ(before, after) << "residue of the registration:\n" << Diff(before, after);
    std::printf("registration: %zu keys of classes compared before registering and after unregistering\n",
                before.size());
}
