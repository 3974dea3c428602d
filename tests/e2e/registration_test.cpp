// Registration as regsvr32 and installers drive it: what it writes, that it can be repeated, and
// that unregistering takes away exactly what registering wrote.
#include <cstdio>
#include <map>

#include "AtomTables10.h"
#include "support/client.h"
#include "support/registry_snapshot.h"

using namespace testing_support;

namespace {

std::wstring Guid(const GUID &guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// The names of a key's subkeys, recorded as values of a pseudo key.
void Children(HKEY root, const std::wstring &path, Snapshot &out) {
    HKEY key;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    RegistryValues &names = out[L"<children of>" + path];
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

// On 64-bit Windows the class keys are the view's own (the 32-bit view's are redirected), while
// ProgIDs are one key for both. While the other view still registers a class, its ProgID stays.
TEST_F(Registration, AProgIdStaysWhileTheOtherViewRegistersItsClass) {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (sizeof(void *) != 8 && !wow64) GTEST_SKIP() << "32-bit Windows has one view of the registry";
    // The other architecture's server of the main class, as its registration leaves it.
    struct OtherViewServer {
        const REGSAM view = sizeof(void *) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        const std::wstring key = L"Software\\Classes\\CLSID\\" + Guid(CLSID_clsQxAtomTables10A);
        OtherViewServer() {
            HKEY created;
            EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                                                     KEY_WRITE | view, nullptr, &created, nullptr));
            RegCloseKey(created);
        }
        ~OtherViewServer() { Remove(); }
        void Remove() {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str(), view, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
        }
    };
    ASSERT_EQ(S_OK, registerServer());
    OtherViewServer other;

    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_FALSE(Exists(L"CLSID\\" + Guid(CLSID_clsQxAtomTables10A))) << "this view's class key goes";
    EXPECT_EQ(Guid(CLSID_clsQxAtomTables10A), Value(L"AtomTables10.clsQxAtomTables10A\\CLSID"))
        << "the other view's server still needs the ProgID";
    EXPECT_FALSE(Exists(L"AtomTables10.clsQxAmtsAtomsA")) << "a ProgID whose class no view registers goes";
    ASSERT_EQ(S_OK, unregisterServer()) << "unregistering again";
    EXPECT_TRUE(Exists(L"AtomTables10.clsQxAtomTables10A")) << "and again the ProgID stays";

    // Once the other view's server goes too, so does the ProgID.
    other.Remove();
    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_FALSE(Exists(L"AtomTables10.clsQxAtomTables10A"));
}
