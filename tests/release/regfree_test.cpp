// The bundle used without registration, in a prefix where nothing of it is registered: a client
// lays out an application folder as the bundle's README says (the files of the bundle's folder for
// its architecture and the application manifest), activates that manifest around its calls
// (CreateActCtxW / ActivateActCtx), and creates the classes by ProgID. The component's own
// late-bound calls into the common library find it through the same context.
#include <cstdio>

#include "AtomTables10.h"
#include "bundle_client.h"
#include "support/client.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

const wchar_t *const kLibraryProgIds[] = {L"QxBedrock10.clsQxelErrorHandlerA", L"QxBedrock10.clsQxelEnvironmentA",
                                          L"QxBedrock10.clsQxBedrock10A"};

// An application folder: the files of a bundle folder and the application manifest, as client.manifest.
std::wstring AppFolder(const std::wstring &name, const std::wstring &from,
                       const std::vector<std::wstring> &without = {}) {
    const std::wstring folder = bundle::CopyFolder(from, name, without);
    EXPECT_TRUE(bundle::CopyInto(bundle::Root() + L"\\examples\\cpp\\client.exe.manifest", folder, L"client.manifest"));
    return folder;
}

// An activation context made from a manifest file, released when it goes.
class ActivationContext {
public:
    explicit ActivationContext(const std::wstring &manifest) {
        ACTCTXW description{};
        description.cbSize = sizeof(description);
        description.lpSource = manifest.c_str();
        handle_ = CreateActCtxW(&description);
        if (handle_ == INVALID_HANDLE_VALUE) error_ = GetLastError();
    }
    ActivationContext(const ActivationContext &) = delete;
    ActivationContext &operator=(const ActivationContext &) = delete;
    ~ActivationContext() {
        if (handle_ != INVALID_HANDLE_VALUE) ReleaseActCtx(handle_);
    }
    bool Created() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD Error() const { return error_; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
};

// The context active on this thread for the life of the object.
class Activation {
public:
    explicit Activation(const ActivationContext &context) {
        active_ = ActivateActCtx(context.Get(), &cookie_) != FALSE;
        EXPECT_TRUE(active_) << "ActivateActCtx: error " << GetLastError();
    }
    Activation(const Activation &) = delete;
    Activation &operator=(const Activation &) = delete;
    ~Activation() { Deactivate(); }
    void Deactivate() {
        if (active_) {
            EXPECT_TRUE(DeactivateActCtx(0, cookie_));
        }
        active_ = false;
    }

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

std::wstring CompleteApp() {
    static const std::wstring folder = AppFolder(L"app", bundle::LaneDir());
    return folder;
}

// A journal of the common library of this test's own, emptied.
std::wstring FreshJournal(const wchar_t *name) {
    const std::wstring path = bundle::WorkDir() + L"\\" + name;
    DeleteFileW(path.c_str());
    EXPECT_TRUE(SetEnvironmentVariableW(L"QXBEDROCK10_LOG", path.c_str()));
    return path;
}

struct Coclass {
    std::wstring name;
    CLSID clsid;
    bool creatable;
    std::wstring defaultInterface;
};

// The coclasses as the bundle's type library lists them.
std::vector<Coclass> Coclasses() {
    std::vector<Coclass> classes;
    ComPtr<ITypeLib> library;
    const std::wstring path = bundle::LaneDir() + L"\\AtomTables10.tlb";
    EXPECT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    if (!library) return classes;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        library->GetTypeInfoType(i, &kind);
        if (kind != TKIND_COCLASS) continue;
        ComPtr<ITypeInfo> info;
        library->GetTypeInfo(i, &info);
        Bstr name;
        info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
        rt::TypeAttr attr;
        if (FAILED(attr.Read(info.Get()))) continue;
        Coclass c{std::wstring(name.View()), attr->guid, (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0, {}};
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> interfaceInfo;
        Bstr interfaceName;
        if (SUCCEEDED(info->GetRefTypeOfImplType(0, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &interfaceInfo)))
            interfaceInfo->GetDocumentation(MEMBERID_NIL, interfaceName.Receive(), nullptr, nullptr, nullptr);
        c.defaultInterface = interfaceName.View();
        classes.push_back(c);
    }
    return classes;
}

TEST(WithoutRegistration, NothingOfTheBundleIsRegisteredHere) {
    CLSID clsid;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(L"AtomTables10.clsQxAtomTables10A", &clsid));
    for (const wchar_t *progId : kLibraryProgIds) EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(progId, &clsid));
    ComPtr<IUnknown> object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    EXPECT_FALSE(bundle::RegistryKeyExists(HKEY_CLASSES_ROOT, L"AtomTables10.clsQxAtomTables10A"));
}

TEST(WithoutRegistration, EveryClassOfTheTypeLibraryAsTheManifestsPublishIt) {
    ActivationContext context(CompleteApp() + L"\\client.manifest");
    ASSERT_TRUE(context.Created()) << "CreateActCtxW: error " << context.Error();
    FreshJournal(L"classes.log");
    Activation active(context);

    const std::vector<Coclass> classes = Coclasses();
    ASSERT_EQ(5u, classes.size());
    int creatable = 0;
    for (const Coclass &c : classes) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        const std::wstring progId = L"AtomTables10." + c.name;
        CLSID clsid{};
        ComPtr<IDispatch> object;
        if (c.creatable) {
            ++creatable;
            // The CLSID a ProgID gives under a context may be an alias of the class's own (Wine's is),
            // so the object's type tells which class came out.
            EXPECT_EQ(S_OK, CLSIDFromProgID(progId.c_str(), &clsid));
            EXPECT_EQ(S_OK, TryCreate(progId.c_str(), object));
            ComPtr<ITypeInfo> type;
            Bstr typeName;
            if (object && SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &type)))
                type->GetDocumentation(MEMBERID_NIL, typeName.Receive(), nullptr, nullptr, nullptr);
            EXPECT_EQ(c.defaultInterface, std::wstring(typeName.View()));
            ComPtr<IDispatch> byClsid;
            EXPECT_EQ(S_OK, CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&byClsid)));
        } else {
            EXPECT_TRUE(FAILED(CLSIDFromProgID(progId.c_str(), &clsid)));
            EXPECT_EQ(REGDB_E_CLASSNOTREG,
                      CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
        }
    }
    EXPECT_EQ(4, creatable);
    for (const wchar_t *progId : kLibraryProgIds) {
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, TryCreate(progId, object)) << "the common library, through the component's dependency";
    }

    // Out of the context the classes are unknown again.
    active.Deactivate();
    ComPtr<IDispatch> object;
    EXPECT_TRUE(FAILED(TryCreate(L"AtomTables10.clsQxAtomTables10A", object)));
}

TEST(WithoutRegistration, MembersThroughBothBindings) {
    ActivationContext context(CompleteApp() + L"\\client.manifest");
    ASSERT_TRUE(context.Created()) << "CreateActCtxW: error " << context.Error();
    Activation active(context);
    ComPtr<IDispatch> tables = Create(L"AtomTables10.clsQxAtomTables10A");
    ASSERT_TRUE(tables);

    // Late bound, as a script calls.
    Bstr name(L"regfree.late");
    Call added = Method(tables.Get(), L"AddAtomAmts", {Str(name.Get())});
    ASSERT_EQ(S_OK, added.hr);
    ASSERT_EQ(VT_I4, added.result.Type());
    const long atom = V_I4(added.result.Get());
    EXPECT_LT(atom, 0);
    short copied = 0;
    Call read = Method(tables.Get(), L"GetAtomNameAmts", {I4(atom), Missing(), Ref(&copied)});
    ASSERT_EQ(S_OK, read.hr);
    EXPECT_EQ(L"regfree.late", Text(read.result).substr(0, static_cast<size_t>(copied)));
    EXPECT_EQ(0, V_I4(Method(tables.Get(), L"DeleteAtomAmts", {I4(atom)}).result.Get()));

    // Early bound, through the vtable of the interface the header declares.
    ComPtr<_clsQxAtomTables10A> vtable;
    ASSERT_EQ(S_OK, tables->QueryInterface(IID__clsQxAtomTables10A, reinterpret_cast<void **>(vtable.GetAddressOf())));
    Bstr global(L"regfree.early");
    LONG globalAtom = 0;
    ASSERT_EQ(S_OK, vtable->GlobalAddAtomAmts(global.Address(), &globalAtom));
    SHORT number = static_cast<SHORT>(globalAtom), globalCopied = 0;
    Bstr buffer;
    ASSERT_EQ(S_OK, vtable->GlobalGetAtomNameAmts(&number, nullptr, &globalCopied, buffer.Receive()));
    EXPECT_EQ(255u, buffer.Length());
    EXPECT_EQ(L"regfree.early", std::wstring(buffer.View().substr(0, static_cast<size_t>(globalCopied))));
    LONG status = -1;
    EXPECT_EQ(S_OK, vtable->GlobalDeleteAtomAmts(&number, &status));
    EXPECT_EQ(0, status);
}

TEST(WithoutRegistration, TheComponentReachesTheCommonLibraryThroughTheSameContext) {
    ActivationContext context(CompleteApp() + L"\\client.manifest");
    ASSERT_TRUE(context.Created()) << "CreateActCtxW: error " << context.Error();
    const std::wstring journal = FreshJournal(L"reports.log");
    Activation active(context);
    ComPtr<IDispatch> tables = Create(L"AtomTables10.clsQxAtomTables10A");
    ASSERT_TRUE(tables);

    // A size of 32767 cannot grow: the member reports the overflow to the common library, whose
    // error handler it creates by ProgID, and carries on.
    short size = 32767;
    Call call = Method(tables.Get(), L"GetAtomNameAmts", {I2(1), Ref(&size)});
    EXPECT_EQ(S_OK, call.hr) << "the report reached the library, so nothing reaches the caller";
    // Creating clsQxAmtsAtomsA asks the library's environment class to ensure the environment.
    ComPtr<IDispatch> atoms;
    EXPECT_EQ(S_OK, TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms));

    const std::string lines = bundle::ReadFile(journal);
    EXPECT_NE(std::string::npos, lines.find("\tREPORT\tczAtomTables.GetAtomNameAmts\t6\t")) << lines;
    EXPECT_NE(std::string::npos, lines.find("\tENVIRONMENT\tTrue\t99")) << lines;

    // With the context no longer active the component cannot find the library: the report itself
    // fails, and that failure reaches the caller.
    active.Deactivate();
    call = Method(tables.Get(), L"GetAtomNameAmts", {I2(1), Ref(&size)});
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(kCantCreate, call.scode);
    EXPECT_EQ(L"ActiveX component can't create object 'QxBedrock10.clsQxelErrorHandlerA'", call.description);
}

// What goes wrong with an incomplete application folder, for the README's troubleshooting.
TEST(WithoutRegistration, AFolderWithoutTheCommonLibrary) {
    // Neither its DLL nor its manifest: the component's assembly depends on the library's, so no
    // context can be made from the application manifest at all.
    {
        const std::wstring folder = AppFolder(L"app-without-library", bundle::LaneDir(),
                                              {L"QxBedrock10.dll", L"QxSoftware.QxBedrock10.manifest"});
        ActivationContext context(folder + L"\\client.manifest");
        EXPECT_FALSE(context.Created());
        EXPECT_EQ(static_cast<DWORD>(ERROR_SXS_CANT_GEN_ACTCTX), context.Error());
    }
    // The manifest without the DLL: the context is made, the component works until it calls the
    // library, and then the report fails as if the library were not installed.
    {
        const std::wstring folder = AppFolder(L"app-without-library-dll", bundle::LaneDir(), {L"QxBedrock10.dll"});
        ActivationContext context(folder + L"\\client.manifest");
        ASSERT_TRUE(context.Created()) << "CreateActCtxW: error " << context.Error();
        Activation active(context);
        ComPtr<IDispatch> tables = Create(L"AtomTables10.clsQxAtomTables10A");
        ASSERT_TRUE(tables);
        short size = 32767;
        Call call = Method(tables.Get(), L"GetAtomNameAmts", {I2(1), Ref(&size)});
        EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
        EXPECT_EQ(kCantCreate, call.scode);
        ComPtr<IDispatch> atoms;
        EXPECT_EQ(kCantCreate, TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms));
    }
}

TEST(WithoutRegistration, AFolderOfTheOtherArchitecture) {
    // The DLLs and manifests of the bundle's other folder. Wine makes the context all the same
    // (the application manifest asks for any processor architecture); the DLL then cannot be loaded
    // into this process, which Wine's COM reports as E_ACCESSDENIED.
    const std::wstring folder = AppFolder(L"app-other-architecture", bundle::OtherLaneDir());
    ActivationContext context(folder + L"\\client.manifest");
    ASSERT_TRUE(context.Created()) << "CreateActCtxW: error " << context.Error();
    Activation active(context);
    ComPtr<IDispatch> tables;
    EXPECT_EQ(E_ACCESSDENIED, TryCreate(L"AtomTables10.clsQxAtomTables10A", tables));
}

} // namespace
