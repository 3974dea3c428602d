// The server's exports and class factories, as COM and clients use them.
#include "AtomTables10.h"
#include "support/client.h"

using namespace testing_support;

namespace {

const wchar_t *const kCreatable[] = {L"AtomTables10.clsQxAtomTables10A", L"AtomTables10.clsQxAmtsAtomsA",
                                     L"AtomTables10.clsQxAmtsGeneralA", L"AtomTables10.clsQxAmtsAdvancedA"};

using GetClassObjectFn = HRESULT(WINAPI *)(REFCLSID, REFIID, void **);
using CanUnloadNowFn = HRESULT(WINAPI *)();

// The component loaded as COM loads it (the same module COM uses for its classes).
struct Module {
    Module() : handle(LoadLibraryW(ComponentPath().c_str())) {}
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
    template <class F>
    F Export(const char *name) {
        return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(handle, name)));
    }
    HMODULE handle;
};

} // namespace

TEST(Server, EveryCreatableClassComesFromItsProgId) {
    for (const wchar_t *progId : kCreatable) {
        ComPtr<IDispatch> object = Create(progId);
        ASSERT_TRUE(object);
        ComPtr<ISupportErrorInfo> errorInfo;
        EXPECT_EQ(S_OK, object.As(&errorInfo));
        ComPtr<IProvideClassInfo> classInfo;
        ASSERT_EQ(S_OK, object.As(&classInfo));
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, classInfo->GetClassInfo(&info));
        Bstr name;
        info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
        EXPECT_EQ(std::wstring(progId).substr(13), name.View());
    }
}

TEST(Server, AtomClassCannotBeCreated) {
    ComPtr<IDispatch> object;
    EXPECT_NE(S_OK, TryCreate(L"AtomTables10.clsQxAmtsAtomA", object));
    EXPECT_FALSE(object);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_clsQxAmtsAtomA, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, reinterpret_cast<void **>(unknown.GetAddressOf())));
    Module module;
    auto getClassObject = module.Export<GetClassObjectFn>("DllGetClassObject");
    ASSERT_TRUE(getClassObject);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              getClassObject(CLSID_clsQxAmtsAtomA, IID_IClassFactory, reinterpret_cast<void **>(factory.GetAddressOf())));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void **>(factory.GetAddressOf())));
    EXPECT_FALSE(factory);
}

TEST(Server, FactoryRefusesAggregationAndUnknownInterfaces) {
    Module module;
    auto getClassObject = module.Export<GetClassObjectFn>("DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(CLSID_clsQxAmtsGeneralA, IID_IClassFactory,
                                   reinterpret_cast<void **>(factory.GetAddressOf())));
    ComPtr<IUnknown> object;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(outer.GetAddressOf())));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer.Get(), IID_IUnknown, reinterpret_cast<void **>(object.GetAddressOf())));
    EXPECT_EQ(E_NOINTERFACE,
              factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void **>(object.GetAddressOf())));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

TEST(Server, CanUnloadOnlyWhenEverythingIsReleased) {
    Module module;
    auto canUnloadNow = module.Export<CanUnloadNowFn>("DllCanUnloadNow");
    auto getClassObject = module.Export<GetClassObjectFn>("DllGetClassObject");
    ASSERT_TRUE(canUnloadNow);
    EXPECT_EQ(S_OK, canUnloadNow());
    {
        ComPtr<IDispatch> main = Create(kCreatable[0]);
        EXPECT_EQ(S_FALSE, canUnloadNow());
        // Objects the component hands out keep it loaded too, also after the instance is gone.
        Call app = Invoke(main.Get(), L"GetProStdProperties", DISPATCH_PROPERTYGET);
        ASSERT_EQ(S_OK, app.hr);
        ComPtr<IDispatch> general = Create(kCreatable[2]);
        main.Reset();
        general.Reset();
        EXPECT_EQ(S_FALSE, canUnloadNow()) << "the application object is still held";
    }
    EXPECT_EQ(S_OK, canUnloadNow());

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(CLSID_clsQxAtomTables10A, IID_IClassFactory,
                                   reinterpret_cast<void **>(factory.GetAddressOf())));
    EXPECT_EQ(S_FALSE, canUnloadNow()) << "a factory is held";
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow()) << "the server is locked";
    ASSERT_EQ(S_OK, getClassObject(CLSID_clsQxAtomTables10A, IID_IClassFactory,
                                   reinterpret_cast<void **>(factory.GetAddressOf())));
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST(Server, ParkedBuddyIsReleasedWithTheLastInstance) {
    Module module;
    auto canUnloadNow = module.Export<CanUnloadNowFn>("DllCanUnloadNow");
    ComPtr<IDispatch> main = Create(kCreatable[0]);
    // A foreign object: an instance of the component parked in its own slot would keep the state alive.
    ComPtr<IDispatch> buddy = Create(L"Scripting.Dictionary");
    ASSERT_EQ(S_OK, Invoke(main.Get(), IdOf(main.Get(), L"BuddyObjectGlobal"), DISPATCH_PROPERTYPUTREF, {Obj(buddy.Get())},
                           {DISPID_PROPERTYPUT})
                        .hr);
    buddy.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    main.Reset();
    EXPECT_EQ(S_OK, canUnloadNow()) << "the thread's state went with its last instance, and the buddy with it";
}

TEST(Server, ExportsAreTheFourEntryPoints) {
    Module module;
    ASSERT_TRUE(module.handle);
    for (const char *name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_TRUE(GetProcAddress(module.handle, name)) << name;
    // Exactly four names, undecorated.
    auto *base = reinterpret_cast<const BYTE *>(module.handle);
    auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto *exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    ASSERT_EQ(4u, exports->NumberOfNames);
    auto *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string name(reinterpret_cast<const char *>(base + names[i]));
        EXPECT_EQ(std::string::npos, name.find('@')) << name;
        EXPECT_EQ(0u, name.rfind("Dll", 0)) << name;
    }
}
