// Calls the fuzzer found faults with, made one by one: each of these once took the client down.
#include "harness.h"

using namespace reliability;

namespace {

// Every type a reference can be made to.
const VARTYPE kReferenceTypes[] = {VT_I1,   VT_UI1,  VT_I2,      VT_UI2,  VT_I4,      VT_UI4,  VT_INT,
                                   VT_UINT, VT_I8,   VT_UI8,     VT_R4,   VT_R8,      VT_CY,   VT_DATE,
                                   VT_BOOL, VT_ERROR, VT_DECIMAL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT,
                                   VT_ARRAY | VT_I2, VT_ARRAY | VT_VARIANT};

WORD FlagsOf(INVOKEKIND kind) {
    switch (kind) {
    case INVOKE_FUNC: return DISPATCH_METHOD;
    case INVOKE_PROPERTYGET: return DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT: return DISPATCH_PROPERTYPUT;
    default: return DISPATCH_PROPERTYPUTREF;
    }
}

struct Shape {
    const char *name;
    int depth; // 0: the argument itself; 1: inside a variable; 2: inside a variable inside a variable
};

} // namespace

// A reference whose pointer is null, given for any parameter of any member, directly or inside a
// script variable: a type mismatch at that argument, never a read through the null pointer.
TEST(HostileCalls, ANullReferenceIsATypeMismatchAtItsArgument) {
    const std::vector<ClassInfo> classes = ReadClasses();
    ASSERT_FALSE(classes.empty());
    int calls = 0;
    for (const ClassInfo &c : classes) {
        if (!c.creatable || c.progId.empty()) continue;
        ComPtr<IDispatch> object;
        ASSERT_EQ(S_OK, testing_support::TryCreate(c.progId.c_str(), object)) << Narrow(c.progId);
        for (const MemberInfo &m : c.members) {
            const UINT count = static_cast<UINT>(m.params.size());
            for (UINT p = 0; p < count; ++p) {
                for (VARTYPE t : kReferenceTypes) {
                    for (const Shape shape : {Shape{"direct", 0}, Shape{"in a variable", 1},
                                              Shape{"in a variable in a variable", 2}}) {
                        SCOPED_TRACE(Narrow(m.name) + " parameter " + std::to_string(p) + ", &null(" + Hex(t) +
                                     ") " + shape.name);
                        // The parameters before p get a plain 0, which each of them takes.
                        std::vector<VARIANTARG> args(p + 1);
                        VARIANT outer, inner;
                        for (UINT k = 0; k < p; ++k) {
                            VARIANTARG &a = args[p - k];
                            V_VT(&a) = VT_I4;
                            V_I4(&a) = 0;
                        }
                        VARIANTARG &bad = args[0];
                        V_VT(&bad) = static_cast<VARTYPE>(VT_BYREF | t);
                        V_BYREF(&bad) = nullptr;
                        if (shape.depth >= 1) {
                            outer = bad;
                            V_VT(&bad) = VT_BYREF | VT_VARIANT;
                            V_VARIANTREF(&bad) = &outer;
                        }
                        if (shape.depth == 2) {
                            inner = outer;
                            V_VT(&outer) = VT_BYREF | VT_VARIANT;
                            V_VARIANTREF(&outer) = &inner;
                        }
                        DISPID put = DISPID_PROPERTYPUT;
                        const bool assigning = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
                        DISPPARAMS params{args.data(), assigning ? &put : nullptr, p + 1, assigning ? 1u : 0u};
                        Variant result;
                        EXCEPINFO exception{};
                        UINT argError = 0xFFFFFFFF;
                        const HRESULT hr = object->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, FlagsOf(m.kind), &params,
                                                          result.Get(), &exception, &argError);
                        ++calls;
                        EXPECT_EQ(DISP_E_TYPEMISMATCH, hr);
                        EXPECT_EQ(0u, argError) << "the argument that points nowhere";
                        EXPECT_EQ(VT_EMPTY, result.Type());
                        SysFreeString(exception.bstrSource);
                        SysFreeString(exception.bstrDescription);
                        SysFreeString(exception.bstrHelpFile);
                    }
                }
            }
        }
    }
    EXPECT_GT(calls, 0) << "no member with parameters was found";
}
