// The dispatch binder, in-process: how the caller's arguments reach the members and how the
// members' new values come back to the caller's storage.
#include <climits>

#include "runtime/arguments.h"
#include "unit_support.h"
#include "support/expected.h"

using namespace unit;

namespace {

constexpr WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

struct Binder : ::testing::Test {
    void SetUp() override {
        tables = NewTables();
        ASSERT_TRUE(tables);
        dispatch = DispatchOf(tables);
        atom = AddAtomW(L"unit-binder");
        ASSERT_NE(0, atom);
    }
    void TearDown() override {
        if (atom) DeleteAtom(atom);
    }

    // Invokes with the arguments in call order (first argument first).
    HRESULT Call(DISPID id, std::vector<VARIANT> args, Variant &result, WORD flags = kMethodGet) {
        std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        EXCEPINFO exception{};
        UINT argError = 0;
        HRESULT hr = dispatch->Invoke(id, IID_NULL, 0, flags, &params, result.Receive(), &exception, &argError);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return hr;
    }

    static VARIANT Value(VARTYPE type, void *payload) {
        VARIANT v;
        V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | type);
        V_BYREF(&v) = payload;
        return v;
    }

    ComPtr<_clsQxAtomTables10A> tables;
    ComPtr<IDispatch> dispatch;
    ATOM atom = 0;
};

} // namespace

TEST_F(Binder, ADoubleSlotReceivesTheCountAsADouble) {
    double copied = -1.5;
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kGetAtomName, {rt::arg::Short(static_cast<short>(atom)), rt::arg::Short(0), Value(VT_R8, &copied)}, result));
    EXPECT_EQ(11.0, copied);
}

TEST_F(Binder, AStringSlotReceivesTheNewSizeAsAString) {
    BSTR size = SysAllocString(L"3");
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kGetAtomName, {rt::arg::Short(static_cast<short>(atom)), Value(VT_BSTR, &size)}, result));
    EXPECT_EQ(L"4", Text(size));
    EXPECT_EQ(L"uni", Text(V_BSTR(result.Get())).substr(0, 3)) << "4 positions: 3 characters and the NUL";
    SysFreeString(size);
}

TEST_F(Binder, AVariableIsCoercedAndChangesType) {
    Variant size, copied;
    V_VT(size.Get()) = VT_R8;
    V_R8(size.Get()) = 3.0;
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kGetAtomName, {rt::arg::Short(static_cast<short>(atom)), Value(VT_VARIANT, size.Get()),
                                        Value(VT_VARIANT, copied.Get())},
                         result));
    EXPECT_EQ(VT_I2, size.Type());
    EXPECT_EQ(4, V_I2(size.Get()));
    EXPECT_EQ(VT_I2, copied.Type()) << "an Empty variable becomes an Integer";
    EXPECT_EQ(3, V_I2(copied.Get()));
}

TEST_F(Binder, AVariableHoldingAReferenceIsWrittenThroughIt) {
    short inner = 0;
    Variant variable;
    V_VT(variable.Get()) = VT_BYREF | VT_I2;
    V_I2REF(variable.Get()) = &inner;
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kGetAtomName, {rt::arg::Short(static_cast<short>(atom)), Value(VT_VARIANT, variable.Get())}, result));
    EXPECT_EQ(255, inner);
    EXPECT_EQ(VT_BYREF | VT_I2, variable.Type());
}

TEST_F(Binder, AStringByValueIsCopiedBeforeTheMemberReplacesIt) {
    // The member replaces its name with the ANSI round trip ("?" for the CJK character) and frees
    // what it was given; the caller's own string must be untouched by that.
    const std::wstring original = L"unit-binder-\u4E2D";
    BSTR callers = SysAllocString(original.c_str());
    VARIANT byValue;
    V_VT(&byValue) = VT_BSTR;
    V_BSTR(&byValue) = callers;
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kAddAtom, {byValue}, result));
    EXPECT_EQ(VT_BSTR, V_VT(&byValue));
    EXPECT_EQ(callers, V_BSTR(&byValue));
    EXPECT_EQ(original, Text(callers));
    // Had anyone freed the caller's string, these allocations of the same size would likely reuse it.
    for (int i = 0; i < 8; ++i) SysFreeString(SysAllocString(L"unit-binder-?"));
    EXPECT_EQ(original, Text(callers));
    ASSERT_EQ(VT_I4, result.Type());
    EXPECT_EQ(FindAtomW(L"unit-binder-?"), static_cast<ATOM>(V_I4(result.Get())));
    DeleteAtom(static_cast<ATOM>(V_I4(result.Get())));
    SysFreeString(callers);
}

TEST_F(Binder, AStringVariableReceivesTheRoundTrip) {
    Variant name;
    V_VT(name.Get()) = VT_BSTR;
    V_BSTR(name.Get()) = SysAllocString(L"unit-binder-\u4E2D");
    Variant result;
    ASSERT_EQ(S_OK, Call(dispid::kAddAtom, {Value(VT_VARIANT, name.Get())}, result));
    ASSERT_EQ(VT_BSTR, name.Type());
    EXPECT_EQ(L"unit-binder-?", Text(V_BSTR(name.Get())));
    DeleteAtom(static_cast<ATOM>(V_I4(result.Get())));
}

TEST_F(Binder, AValueTooLargeForTheParameterIsAnOverflowAndNothingIsWritten) {
    Variant size;
    V_VT(size.Get()) = VT_I4;
    V_I4(size.Get()) = 40000;
    Variant result;
    EXPECT_EQ(DISP_E_OVERFLOW, Call(dispid::kInitAtomTable, {Value(VT_VARIANT, size.Get())}, result));
    EXPECT_EQ(VT_I4, size.Type());
    EXPECT_EQ(40000, V_I4(size.Get()));
    EXPECT_EQ(VT_EMPTY, result.Type());
}

TEST_F(Binder, AnOmittedOptionalReachesTheMemberAsNothing) {
    // Without iSizeToCopy the platform is offered 255 positions and no size is written anywhere.
    short copied = -1;
    Variant result;
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(S_OK, Call(dispid::kGetAtomName, {rt::arg::Short(static_cast<short>(atom)), missing, Value(VT_I2, &copied)}, result));
    EXPECT_EQ(11, copied);
    EXPECT_EQ(VT_ERROR, V_VT(&missing));
    ASSERT_EQ(VT_BSTR, result.Type());
    EXPECT_EQ(255u, SysStringLen(V_BSTR(result.Get())));
}
