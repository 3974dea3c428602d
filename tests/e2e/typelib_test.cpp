// The type library, read back as clients read it: from the registered DLL and from the registry.
#include <map>

#include "AtomTables10.h"
#include "support/client.h"

using namespace testing_support;

namespace {

struct TypeLib : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, LoadTypeLibEx(ComponentPath().c_str(), REGKIND_NONE, &library));
    }
    ComPtr<ITypeInfo> Info(REFGUID guid) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(guid, &info));
        return info;
    }
    static std::wstring Name(ITypeInfo *info, MEMBERID id = MEMBERID_NIL) {
        Bstr name;
        EXPECT_EQ(S_OK, info->GetDocumentation(id, name.Receive(), nullptr, nullptr, nullptr));
        return std::wstring(name.View());
    }
    static std::wstring Help(ITypeInfo *info) {
        Bstr help;
        EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, nullptr, help.Receive(), nullptr, nullptr));
        return std::wstring(help.View());
    }
    ComPtr<ITypeLib> library;
};

// The attributes of a type description (the test fails when they cannot be read).
struct Attr : rt::TypeAttr {
    explicit Attr(ITypeInfo *info) { EXPECT_EQ(S_OK, Read(info)); }
};

// The vtable face of a dual interface.
ComPtr<ITypeInfo> VtableFace(ITypeInfo *dispatch) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> face;
    EXPECT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref));
    EXPECT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, &face));
    return face;
}

} // namespace

TEST_F(TypeLib, LibraryAttributes) {
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_AtomTables10, attr->guid);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind) << "the library describes this lane's pointer size";
    library->ReleaseTLibAttr(attr);
    Bstr name;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr));
    EXPECT_EQ(L"AtomTables10", name.View());
}

TEST_F(TypeLib, FiveClassesWithTheirDefaultInterfaces) {
    struct Expected {
        const CLSID *clsid;
        const IID *iid;
        const wchar_t *name;
        const wchar_t *help;
        bool creatable;
        bool appObject;
    } classes[] = {
        {&CLSID_clsQxAtomTables10A, &IID__clsQxAtomTables10A, L"clsQxAtomTables10A",
         L"Class contains all the procedures to manage local or global atom tables.", true, true},
        {&CLSID_clsQxAmtsAtomsA, &IID__clsQxAmtsAtomsA, L"clsQxAmtsAtomsA", L"", true, false},
        {&CLSID_clsQxAmtsAtomA, &IID__clsQxAmtsAtomA, L"clsQxAmtsAtomA", L"", false, false},
        {&CLSID_clsQxAmtsGeneralA, &IID__clsQxAmtsGeneralA, L"clsQxAmtsGeneralA",
         L"Library standard general class for general procedures.", true, false},
        {&CLSID_clsQxAmtsAdvancedA, &IID__clsQxAmtsAdvancedA, L"clsQxAmtsAdvancedA",
         L"Library standard advanced class for advanced procedures.", true, false},
    };
    int coclasses = 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_EQ(S_OK, library->GetTypeInfoType(i, &kind));
        if (kind == TKIND_COCLASS) ++coclasses;
    }
    EXPECT_EQ(5, coclasses);

    for (const Expected &c : classes) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        ComPtr<ITypeInfo> coclass = Info(*c.clsid);
        ASSERT_TRUE(coclass);
        EXPECT_EQ(c.name, Name(coclass.Get()));
        EXPECT_EQ(c.help, Help(coclass.Get()));
        {
            Attr attr(coclass.Get());
            EXPECT_EQ(TKIND_COCLASS, attr->typekind);
            EXPECT_EQ(c.creatable, (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0);
            EXPECT_EQ(c.appObject, (attr->wTypeFlags & TYPEFLAG_FAPPOBJECT) != 0);
            EXPECT_EQ(1, attr->cImplTypes);
        }
        INT implFlags = 0;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(0, &implFlags));
        EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
        HREFTYPE ref;
        ComPtr<ITypeInfo> iface;
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &ref));
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, &iface));
        EXPECT_EQ(L"_" + std::wstring(c.name), Name(iface.Get()));
        EXPECT_EQ(c.help, Help(iface.Get()));
        Attr attr(iface.Get());
        EXPECT_EQ(*c.iid, attr->guid);
        const WORD wanted = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
        EXPECT_EQ(wanted, attr->wTypeFlags & wanted) << std::hex << attr->wTypeFlags;
        // The vtable face carries the automation-compatible mark (the platform leaves it off the
        // dispatch face it derives from it), and derives from IDispatch.
        ComPtr<ITypeInfo> face = VtableFace(iface.Get());
        {
            Attr faceAttr(face.Get());
            EXPECT_EQ(TKIND_INTERFACE, faceAttr->typekind);
            EXPECT_EQ(wanted | TYPEFLAG_FOLEAUTOMATION, faceAttr->wTypeFlags & (wanted | TYPEFLAG_FOLEAUTOMATION))
                << std::hex << faceAttr->wTypeFlags;
        }
        HREFTYPE baseRef;
        ComPtr<ITypeInfo> base;
        ASSERT_EQ(S_OK, face->GetRefTypeOfImplType(0, &baseRef));
        ASSERT_EQ(S_OK, face->GetRefTypeInfo(baseRef, &base));
        Attr baseAttr(base.Get());
        EXPECT_EQ(IID_IDispatch, baseAttr->guid);
    }
}

// One member of the main interface as the catalogue lists it.
struct ExpectedMember {
    const wchar_t *name;
    INVOKEKIND kind;
    MEMBERID id;
    std::vector<std::pair<VARTYPE, USHORT>> params; // type (VT_PTR|x for by reference), flags
    VARTYPE result;                                   // VT_EMPTY for none
};

constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
constexpr USHORT kInOutOpt = PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT;
constexpr VARTYPE kByRef = 0x4000; // marks a by-reference parameter in the table below

// Reduces a parameter's type to "automation type, by reference or not" for comparison.
VARTYPE Flatten(ITypeInfo *info, const TYPEDESC &desc) {
    VARTYPE byRef = 0;
    const TYPEDESC *t = &desc;
    if (t->vt == VT_PTR) {
        const TYPEDESC *inner = t->lptdesc;
        bool innerIsInterface = false;
        if (inner->vt == VT_USERDEFINED) {
            ComPtr<ITypeInfo> ref;
            if (SUCCEEDED(info->GetRefTypeInfo(inner->hreftype, &ref))) {
                Attr a(ref.Get());
                innerIsInterface = a->typekind == TKIND_INTERFACE || a->typekind == TKIND_DISPATCH;
            }
        }
        if (!innerIsInterface) {
            byRef = kByRef;
            t = inner;
        }
    }
    if (t->vt == VT_PTR) return static_cast<VARTYPE>(byRef | VT_DISPATCH); // pointer to an interface pointer
    if (t->vt == VT_USERDEFINED) {
        ComPtr<ITypeInfo> ref;
        EXPECT_EQ(S_OK, info->GetRefTypeInfo(t->hreftype, &ref));
        Attr a(ref.Get());
        if (a->typekind == TKIND_ENUM) return static_cast<VARTYPE>(byRef | VT_I4);
        return static_cast<VARTYPE>(byRef | VT_DISPATCH);
    }
    return static_cast<VARTYPE>(byRef | t->vt);
}

TEST_F(TypeLib, MainInterfaceMembersInOrder) {
    const std::vector<ExpectedMember> expected = {
        {L"GetProStdProperties", INVOKE_PROPERTYGET, 0x68030004, {}, VT_DISPATCH},
        {L"GetProResStrings", INVOKE_PROPERTYGET, 0x68030003, {{kByRef | VT_I4, kInOut}}, VT_BSTR},
        {L"GetProResPicture", INVOKE_PROPERTYGET, 0x68030002, {{kByRef | VT_I4, kInOut}, {kByRef | VT_I4, kInOut}}, VT_DISPATCH},
        {L"GetProResData", INVOKE_PROPERTYGET, 0x68030001, {{kByRef | VT_I4, kInOut}, {kByRef | VT_VARIANT, kInOut}}, VT_VARIANT},
        {L"About", INVOKE_FUNC, 0x60030006, {}, VT_I4},
        {L"BuddyObjectGlobal", INVOKE_PROPERTYGET, 0x68030000, {}, VT_DISPATCH},
        {L"BuddyObjectGlobal", INVOKE_PROPERTYPUTREF, 0x68030000, {{VT_DISPATCH, PARAMFLAG_FIN}}, VT_EMPTY},
        {L"InitAtomTableAmts", INVOKE_FUNC, 0x60030007, {{kByRef | VT_I2, kInOut}}, VT_I4},
        {L"AddAtomAmts", INVOKE_FUNC, 0x60030008, {{kByRef | VT_BSTR, kInOut}}, VT_I4},
        {L"DeleteAtomAmts", INVOKE_FUNC, 0x60030009, {{kByRef | VT_I2, kInOut}}, VT_I4},
        {L"FindAtomAmts", INVOKE_FUNC, 0x6003000A, {{kByRef | VT_BSTR, kInOut}}, VT_I4},
        {L"GetAtomNameAmts", INVOKE_FUNC, 0x6003000B,
         {{kByRef | VT_I2, kInOut}, {kByRef | VT_I2, kInOutOpt}, {kByRef | VT_I2, kInOutOpt}}, VT_BSTR},
        {L"GlobalAddAtomAmts", INVOKE_FUNC, 0x6003000C, {{kByRef | VT_BSTR, kInOut}}, VT_I4},
        {L"GlobalDeleteAtomAmts", INVOKE_FUNC, 0x6003000D, {{kByRef | VT_I2, kInOut}}, VT_I4},
        {L"GlobalFindAtomAmts", INVOKE_FUNC, 0x6003000E, {{kByRef | VT_BSTR, kInOut}}, VT_I4},
        {L"GlobalGetAtomNameAmts", INVOKE_FUNC, 0x6003000F,
         {{kByRef | VT_I2, kInOut}, {kByRef | VT_I2, kInOutOpt}, {kByRef | VT_I2, kInOutOpt}}, VT_BSTR},
    };
    ComPtr<ITypeInfo> face = VtableFace(Info(IID__clsQxAtomTables10A).Get());
    Attr attr(face.Get());
    ASSERT_EQ(expected.size(), attr->cFuncs);
    for (WORD i = 0; i < attr->cFuncs; ++i) {
        const ExpectedMember &m = expected[i];
        SCOPED_TRACE(std::string(m.name, m.name + wcslen(m.name)));
        rt::FuncDesc desc;
        ASSERT_EQ(S_OK, desc.Read(face.Get(), i));
        EXPECT_EQ(m.id, desc->memid);
        EXPECT_EQ(m.kind, desc->invkind);
        EXPECT_EQ(m.name, Name(face.Get(), desc->memid));
        EXPECT_EQ(VT_HRESULT, desc->elemdescFunc.tdesc.vt);
        // Slots follow the seven operations of the dispatch interface.
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void *)), desc->oVft);
        const SHORT withResult = static_cast<SHORT>(m.params.size() + (m.result != VT_EMPTY ? 1 : 0));
        ASSERT_EQ(withResult, desc->cParams);
        for (size_t p = 0; p < m.params.size(); ++p) {
            const ELEMDESC &e = desc->lprgelemdescParam[p];
            EXPECT_EQ(m.params[p].first, Flatten(face.Get(), e.tdesc)) << "parameter " << p;
            EXPECT_EQ(m.params[p].second, e.paramdesc.wParamFlags & (kInOutOpt | PARAMFLAG_FHASDEFAULT))
                << "parameter " << p;
        }
        if (m.result != VT_EMPTY) {
            const ELEMDESC &r = desc->lprgelemdescParam[m.params.size()];
            EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, r.paramdesc.wParamFlags);
            EXPECT_EQ(kByRef | m.result, Flatten(face.Get(), r.tdesc));
        }
    }
}

TEST_F(TypeLib, PictureResultIsTheAutomationPictureInterface) {
    ComPtr<ITypeInfo> face = VtableFace(Info(IID__clsQxAtomTables10A).Get());
    rt::FuncDesc desc;
    ASSERT_EQ(S_OK, desc.Read(face.Get(), 2));
    const TYPEDESC &result = desc->lprgelemdescParam[2].tdesc;
    ASSERT_EQ(VT_PTR, result.vt);
    ASSERT_EQ(VT_PTR, result.lptdesc->vt);
    ASSERT_EQ(VT_USERDEFINED, result.lptdesc->lptdesc->vt);
    ComPtr<ITypeInfo> picture;
    ASSERT_EQ(S_OK, face->GetRefTypeInfo(result.lptdesc->lptdesc->hreftype, &picture));
    {
        // stdole names it through an alias of its Picture dispinterface.
        Attr alias(picture.Get());
        if (alias->typekind == TKIND_ALIAS) {
            ASSERT_EQ(VT_USERDEFINED, alias->tdescAlias.vt);
            ComPtr<ITypeInfo> target;
            ASSERT_EQ(S_OK, picture->GetRefTypeInfo(alias->tdescAlias.hreftype, &target));
            picture = target;
        }
    }
    Attr attr(picture.Get());
    EXPECT_EQ(IID_IPictureDisp, attr->guid);
    ComPtr<ITypeLib> home;
    UINT index = 0;
    ASSERT_EQ(S_OK, picture->GetContainingTypeLib(&home, &index));
    Bstr homeName;
    home->GetDocumentation(-1, homeName.Receive(), nullptr, nullptr, nullptr);
    EXPECT_EQ(L"stdole", homeName.View());

    // The picture kind is an enumeration with bitmap, icon and cursor.
    const TYPEDESC &kind = desc->lprgelemdescParam[1].tdesc;
    ASSERT_EQ(VT_PTR, kind.vt);
    ComPtr<ITypeInfo> kinds;
    ASSERT_EQ(S_OK, face->GetRefTypeInfo(kind.lptdesc->hreftype, &kinds));
    Attr kindsAttr(kinds.Get());
    EXPECT_EQ(TKIND_ENUM, kindsAttr->typekind);
    EXPECT_EQ(3, kindsAttr->cVars);
}

TEST_F(TypeLib, AtomsClassHasTestAOnly) {
    ComPtr<ITypeInfo> face = VtableFace(Info(IID__clsQxAmtsAtomsA).Get());
    Attr attr(face.Get());
    ASSERT_EQ(1, attr->cFuncs);
    rt::FuncDesc desc;
    ASSERT_EQ(S_OK, desc.Read(face.Get(), 0));
    EXPECT_EQ(0x60030001, desc->memid);
    EXPECT_EQ(INVOKE_FUNC, desc->invkind);
    EXPECT_EQ(L"TestA", Name(face.Get(), desc->memid));
    ASSERT_EQ(1, desc->cParams);
    EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, desc->lprgelemdescParam[0].paramdesc.wParamFlags);
    for (const IID *iid : {&IID__clsQxAmtsAtomA, &IID__clsQxAmtsGeneralA, &IID__clsQxAmtsAdvancedA}) {
        ComPtr<ITypeInfo> empty = VtableFace(Info(*iid).Get());
        Attr emptyAttr(empty.Get());
        EXPECT_EQ(0, emptyAttr->cFuncs);
    }
}

TEST_F(TypeLib, RegisteredLibraryIsThisOne) {
    ComPtr<ITypeLib> registered;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_AtomTables10, 1, 0, 0, &registered));
    Bstr path;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_AtomTables10, 1, 0, 0, path.Receive()));
    EXPECT_EQ(0, _wcsicmp(path.Get(), ComponentPath().c_str())) << Text(path.Get());
}
