// IDispatch as clients drive it: how arguments are bound, coerced and written back, and what
// comes back when a call cannot be made.
#include "AtomTables10.h"
#include "support/client.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

constexpr WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

struct Dispatch : ::testing::Test {
    void SetUp() override {
        main = Create(L"AtomTables10.clsQxAtomTables10A");
        ASSERT_TRUE(main);
    }
    // Adds a name to the local table and returns its atom.
    short AddLocal(const wchar_t *name) {
        Bstr text(name);
        Call call = Invoke(main.Get(), dispid::kAddAtom, kMethodGet, {Ref(text.Address())});
        EXPECT_EQ(S_OK, call.hr);
        EXPECT_EQ(VT_I4, call.result.Type());
        return static_cast<short>(V_I4(call.result.Get()));
    }
    ComPtr<IDispatch> main;
};

} // namespace

TEST_F(Dispatch, NamesAreCaseInsensitive) {
    for (const wchar_t *name : {L"GetAtomNameAmts", L"getatomnameamts", L"GETATOMNAMEAMTS"})
        EXPECT_EQ(dispid::kGetAtomName, IdOf(main.Get(), name));
    DISPID id = 0;
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, main->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
    // Parameter names resolve too, for named arguments.
    LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"GetAtomNameAmts"), const_cast<LPOLESTR>(L"isizetocopy")};
    DISPID ids[2] = {};
    ASSERT_EQ(S_OK, main->GetIDsOfNames(IID_NULL, withParameter, 2, 0, ids));
    EXPECT_EQ(1, ids[1]);
}

TEST_F(Dispatch, TypeInfoDescribesTheDefaultInterface) {
    UINT count = 0;
    ASSERT_EQ(S_OK, main->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, main->GetTypeInfo(0, 0, &info));
    rt::TypeAttr attr;
    ASSERT_EQ(S_OK, attr.Read(info.Get()));
    EXPECT_EQ(IID__clsQxAtomTables10A, attr->guid);
    EXPECT_EQ(DISP_E_BADINDEX, main->GetTypeInfo(1, 0, &info));
}

TEST_F(Dispatch, ScriptVariablesOfAnyTypeAreCoercedAndWrittenBack) {
    const short atom = AddLocal(L"dispatch-writeback");
    // iSizeToCopy as a string variable, iCharactersCopied as an empty variable.
    Variant atomVariable, size, copied;
    V_VT(atomVariable.Get()) = VT_I4;
    V_I4(atomVariable.Get()) = atom;
    V_VT(size.Get()) = VT_BSTR;
    V_BSTR(size.Get()) = SysAllocString(L"3");
    Call call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet,
                       {Ref(atomVariable.Get()), Ref(size.Get()), Ref(copied.Get())});
    ASSERT_EQ(S_OK, call.hr);
    EXPECT_EQ(VT_I2, size.Type());
    EXPECT_EQ(4, V_I2(size.Get()));
    EXPECT_EQ(VT_I2, copied.Type());
    EXPECT_EQ(3, V_I2(copied.Get()));
    EXPECT_EQ(L"dis", Text(call.result).substr(0, 3));
    // A variable of exactly the parameter's type is written in place.
    Variant exact;
    V_VT(exact.Get()) = VT_I2;
    V_I2(exact.Get()) = 0;
    ASSERT_EQ(S_OK, Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Ref(exact.Get())}).hr);
    EXPECT_EQ(255, V_I2(exact.Get()));
    // A name in a variable comes back as its round trip.
    Variant name;
    V_VT(name.Get()) = VT_BSTR;
    V_BSTR(name.Get()) = SysAllocString(L"dispatch-writeback");
    Call found = Invoke(main.Get(), dispid::kFindAtom, kMethodGet, {Ref(name.Get())});
    ASSERT_EQ(S_OK, found.hr);
    EXPECT_EQ(atom, static_cast<short>(V_I4(found.result.Get())));
    EXPECT_EQ(VT_BSTR, name.Type());
    EXPECT_EQ(L"dispatch-writeback", Text(V_BSTR(name.Get())));
    Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I2(atom)});
}

TEST_F(Dispatch, TypedReferencesOfOtherTypesAreWrittenBackInTheirType) {
    const short atom = AddLocal(L"typed-reference");
    long size = 7; // a 32-bit slot for a 16-bit parameter
    double copied = -1;
    VARIANT copiedRef;
    V_VT(&copiedRef) = VT_BYREF | VT_R8;
    V_R8REF(&copiedRef) = &copied;
    Call call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Ref(&size), copiedRef});
    ASSERT_EQ(S_OK, call.hr);
    EXPECT_EQ(8, size);
    EXPECT_EQ(7.0, copied);
    // Exact 16-bit references are written straight through.
    short exactSize = 0, exactCopied = 0;
    ASSERT_EQ(S_OK, Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Ref(&exactSize), Ref(&exactCopied)}).hr);
    EXPECT_EQ(255, exactSize);
    EXPECT_EQ(15, exactCopied);
    Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I2(atom)});
}

TEST_F(Dispatch, LiteralsAreCoercedAndNotWrittenAnywhere) {
    Bstr literal(L"literal-name");
    Call added = Invoke(main.Get(), dispid::kAddAtom, kMethodGet, {Str(literal.Get())});
    ASSERT_EQ(S_OK, added.hr);
    EXPECT_EQ(L"literal-name", literal.View()) << "a by-value string stays the caller's";
    // A number given as a string literal; a 32-bit literal for a 16-bit parameter.
    Bstr size(L"5");
    Call read = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I4(V_I4(added.result.Get())), Str(size.Get())});
    ASSERT_EQ(S_OK, read.hr);
    EXPECT_EQ(L"liter", Text(read.result).substr(0, 5));
    EXPECT_EQ(L"5", size.View());
    Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I4(V_I4(added.result.Get()))});
}

TEST_F(Dispatch, OmittedOptionalsReadAsZeroAndAreNotWritten) {
    const short atom = AddLocal(L"omitted");
    Call onlyAtom = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom)});
    ASSERT_EQ(S_OK, onlyAtom.hr);
    EXPECT_EQ(255u, SysStringLen(V_BSTR(onlyAtom.result.Get())));
    EXPECT_EQ(L"omitted", Text(onlyAtom.result).substr(0, 7));
    // Omitted in the middle (VBScript's o.F(a, , c)).
    Variant copied;
    Call middle = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Missing(), Ref(copied.Get())});
    ASSERT_EQ(S_OK, middle.hr);
    EXPECT_EQ(7, V_I2(copied.Get()));
    Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I2(atom)});
}

TEST_F(Dispatch, ArgumentCountsAreChecked) {
    Call none = Invoke(main.Get(), dispid::kAddAtom, kMethodGet, {});
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, none.hr);
    Bstr a(L"a");
    Call tooMany = Invoke(main.Get(), dispid::kAddAtom, kMethodGet, {Str(a.Get()), Str(a.Get())});
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, tooMany.hr);
    Call fourForThree = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(1), I2(1), I2(1), I2(1)});
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, fourForThree.hr);
    Call requiredMissing = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {Missing(), I2(3)});
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, requiredMissing.hr);
    EXPECT_EQ(1u, requiredMissing.argError) << "rgvarg index of the first argument";
}

TEST_F(Dispatch, UncoercibleArgumentsAreTypeMismatchesWithTheirPosition) {
    Bstr word(L"not a number");
    Call call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(1), Str(word.Get())});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call.hr);
    EXPECT_EQ(0u, call.argError) << "the second argument is rgvarg[0]";
    VARIANT null;
    V_VT(&null) = VT_NULL;
    call = Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {null});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call.hr);
    EXPECT_EQ(0u, call.argError);
    call = Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I4(40000)});
    EXPECT_EQ(DISP_E_OVERFLOW, call.hr);
    // A variable that cannot be coerced is left as it was.
    Variant variable;
    V_VT(variable.Get()) = VT_BSTR;
    V_BSTR(variable.Get()) = SysAllocString(L"x");
    call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(1), Ref(variable.Get())});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call.hr);
    EXPECT_EQ(VT_BSTR, variable.Type());
    EXPECT_EQ(L"x", Text(V_BSTR(variable.Get())));
}

TEST_F(Dispatch, UnknownMembersAndWrongKinds) {
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(main.Get(), static_cast<DISPID>(0x12345), kMethodGet).hr);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(main.Get(), static_cast<DISPID>(DISPID_VALUE), kMethodGet).hr);
    // BuddyObjectGlobal takes only an object reference: a plain put is not there.
    ComPtr<IDispatch> other = Create(L"Scripting.Dictionary");
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYPUT, {Obj(other.Get())}, {DISPID_PROPERTYPUT}).hr);
    // Assigning to a read-only property.
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              Invoke(main.Get(), dispid::kResStrings, DISPATCH_PROPERTYPUT, {I4(101), I4(1)}, {DISPID_PROPERTYPUT}).hr);
    DISPPARAMS empty{};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              main->Invoke(dispid::kBuddy, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &empty, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, main->Invoke(dispid::kBuddy, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Dispatch, BuddyAssignmentBothWays) {
    ComPtr<IDispatch> dictionary = Create(L"Scripting.Dictionary");
    // JScript's assignment: put and putref together.
    ASSERT_EQ(S_OK, Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF, {Obj(dictionary.Get())},
                           {DISPID_PROPERTYPUT})
                        .hr);
    Call read = Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYGET);
    ASSERT_EQ(S_OK, read.hr);
    ASSERT_EQ(VT_DISPATCH, read.result.Type());
    EXPECT_EQ(dictionary.Get(), V_DISPATCH(read.result.Get()));
    // Null (JScript) and Nothing empty it.
    VARIANT null;
    V_VT(&null) = VT_NULL;
    ASSERT_EQ(S_OK, Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYPUTREF, {null}, {DISPID_PROPERTYPUT}).hr);
    read = Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYGET);
    ASSERT_EQ(VT_DISPATCH, read.result.Type());
    EXPECT_EQ(nullptr, V_DISPATCH(read.result.Get()));
    // Something that is not an object is refused.
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Invoke(main.Get(), dispid::kBuddy, DISPATCH_PROPERTYPUTREF, {I4(5)}, {DISPID_PROPERTYPUT}).hr);
}

TEST_F(Dispatch, FailingMembersFillExceptionInformation) {
    Call call = Invoke(main.Get(), dispid::kResStrings, DISPATCH_PROPERTYGET, {I4(100)});
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(kResourceNotFound, call.scode);
    EXPECT_NE(std::wstring::npos, call.description.find(L"100")) << call.description;
    EXPECT_FALSE(call.source.empty());
    // Without room for exception information the member's own code comes back, with error info set.
    VARIANTARG arg = I4(123);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    Variant result;
    HRESULT hr = main->Invoke(dispid::kResStrings, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, result.Get(), nullptr, nullptr);
    EXPECT_EQ(kResourceNotFound, hr);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    Bstr description;
    info->GetDescription(description.Receive());
    EXPECT_NE(std::wstring::npos, std::wstring(description.View()).find(L"123"));
}

TEST_F(Dispatch, PropertyWithParametersCallableAsMethod) {
    // Some callers use the method flag alone for a property read with arguments.
    Call call = Invoke(main.Get(), dispid::kResStrings, DISPATCH_METHOD, {I4(121)});
    ASSERT_EQ(S_OK, call.hr);
    EXPECT_EQ(kLengthPrompt, Text(call.result));
}

TEST_F(Dispatch, NamedArguments) {
    const short atom = AddLocal(L"named-arguments");
    // iAtomNumber by position, iCharactersCopied (parameter 2) by name; named arguments come first
    // in rgvarg.
    Variant copied;
    Call call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Ref(copied.Get())}, {2});
    ASSERT_EQ(S_OK, call.hr);
    EXPECT_EQ(15, V_I2(copied.Get()));
    call = Invoke(main.Get(), dispid::kGetAtomName, kMethodGet, {I2(atom), Ref(copied.Get())}, {7});
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, call.hr);
    EXPECT_EQ(0u, call.argError);
    Invoke(main.Get(), dispid::kDeleteAtom, kMethodGet, {I2(atom)});
}

TEST_F(Dispatch, ErrorInfoIsSupportedOnTheDefaultInterface) {
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, main.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID__clsQxAtomTables10A));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IClassFactory));
}
