// Calls the fuzzer found faults with, made one by one: each of these once took the client down or
// got an answer without a documented meaning.
#include <limits>
#include <utility>

#include "harness.h"
#include "support/expected.h"

using namespace reliability;
using namespace testing_support;

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

// Calls visit(object, member, parameter index) for every parameter of every member of every class
// that can be created, each class on an instance of its own.
template <typename Visit> void ForEveryParameter(Visit visit) {
    const std::vector<ClassInfo> classes = ReadClasses();
    ASSERT_FALSE(classes.empty());
    for (const ClassInfo &c : classes) {
        if (!c.creatable || c.progId.empty()) continue;
        ComPtr<IDispatch> object;
        ASSERT_EQ(S_OK, testing_support::TryCreate(c.progId.c_str(), object)) << Narrow(c.progId);
        for (const MemberInfo &m : c.members)
            for (UINT p = 0; p < m.params.size(); ++p)
                visit(object.Get(), m, p);
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
    int calls = 0;
    ForEveryParameter([&](IDispatch *object, const MemberInfo &m, UINT p) {
        for (VARTYPE t : kReferenceTypes) {
            for (const Shape shape :
                 {Shape{"direct", 0}, Shape{"in a variable", 1}, Shape{"in a variable in a variable", 2}}) {
                SCOPED_TRACE(Narrow(m.name) + " parameter " + std::to_string(p) + ", &null(" + Hex(t) + ") " +
                             shape.name);
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
    });
    EXPECT_GT(calls, 0) << "no member with parameters was found";
}

namespace {

// Calls member m of `object` with parameter p given `bad` (by value, by reference, or inside a
// variable, as built) and every parameter before it a plain 0.
struct Answer {
    HRESULT hr = E_UNEXPECTED;
    SCODE scode = 0;
    UINT argError = 0xFFFFFFFF;
};

Answer CallWith(IDispatch *object, const MemberInfo &m, UINT p, const VARIANTARG &bad) {
    std::vector<VARIANTARG> args(p + 1);
    for (UINT k = 0; k < p; ++k) {
        V_VT(&args[p - k]) = VT_I4;
        V_I4(&args[p - k]) = 0;
    }
    args[0] = bad;
    DISPID put = DISPID_PROPERTYPUT;
    const bool assigning = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    DISPPARAMS params{args.data(), assigning ? &put : nullptr, p + 1, assigning ? 1u : 0u};
    Variant result;
    EXCEPINFO exception{};
    Answer answer;
    answer.hr = object->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, FlagsOf(m.kind), &params, result.Get(), &exception,
                               &answer.argError);
    answer.scode = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return answer;
}

// `value` given in one of three shapes: as it is (0), as a reference to its payload (1), or inside a
// script variable (2), for which `variable` holds the copy.
VARIANTARG Shaped(VARIANT &value, int shape, VARIANT &variable) {
    VARIANTARG arg = value;
    if (shape == 1) {
        const VARTYPE type = V_VT(&value);
        V_VT(&arg) = static_cast<VARTYPE>(VT_BYREF | type);
        V_BYREF(&arg) = type == VT_DECIMAL ? static_cast<void *>(&V_DECIMAL(&value)) : &V_UI1(&value);
    } else if (shape == 2) {
        variable = value;
        V_VT(&arg) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arg) = &variable;
    }
    return arg;
}

} // namespace

// A DECIMAL that no value can be (a scale beyond 28, stray sign bits), for any parameter, by value,
// by reference or in a variable: refused as a type mismatch, or, where the parameter takes any
// value, by the member as one. Never converted: Wine's conversion of such a DECIMAL to a string
// reads beyond its digits and took the client down.
TEST(HostileCalls, AMalformedDecimalIsATypeMismatch) {
    int calls = 0;
    ForEveryParameter([&](IDispatch *object, const MemberInfo &m, UINT p) {
        for (const auto &[scale, sign] : {std::pair<BYTE, BYTE>{255, 0}, {29, 0}, {2, 0x7F}, {200, 0x80}}) {
            for (int shape = 0; shape < 3; ++shape) {
                SCOPED_TRACE(Narrow(m.name) + " parameter " + std::to_string(p) + ", scale " + std::to_string(scale) +
                             ", sign " + std::to_string(sign) + ", shape " + std::to_string(shape));
                DECIMAL dec{};
                dec.scale = scale;
                dec.sign = sign;
                dec.Lo64 = 12345;
                VARIANT value, variable;
                V_DECIMAL(&value) = dec;
                V_VT(&value) = VT_DECIMAL;
                const Answer answer = CallWith(object, m, p, Shaped(value, shape, variable));
                ++calls;
                if (m.params[p].type == VT_VARIANT) {
                    // The member takes the value as it is and refuses it itself.
                    EXPECT_EQ(DISP_E_EXCEPTION, answer.hr);
                    EXPECT_EQ(RuntimeError(13), answer.scode);
                } else {
                    EXPECT_EQ(DISP_E_TYPEMISMATCH, answer.hr);
                    EXPECT_EQ(0u, answer.argError);
                }
            }
        }
    });
    EXPECT_GT(calls, 0);
}

// A script variable that holds a reference to another variable, given where an object is taken:
// no object, a type mismatch at that argument (the automation library refuses to copy it and once
// that refusal, E_INVALIDARG, went back to the caller as it was).
TEST(HostileCalls, AVariableHoldingAVariableIsNoObject) {
    int calls = 0;
    CountedObject objectOfOurs;
    ForEveryParameter([&](IDispatch *object, const MemberInfo &m, UINT p) {
        if (m.params[p].type != VT_DISPATCH && m.params[p].type != VT_UNKNOWN) return;
        for (int held = 0; held < 3; ++held) {
            SCOPED_TRACE(Narrow(m.name) + " parameter " + std::to_string(p) + ", holding " + std::to_string(held));
            VARIANT inner, outer;
            if (held == 0) {
                V_VT(&inner) = VT_I4;
                V_I4(&inner) = 7;
            } else if (held == 1) {
                V_VT(&inner) = VT_EMPTY;
            } else {
                V_VT(&inner) = VT_DISPATCH;
                V_DISPATCH(&inner) = objectOfOurs.Dispatch();
            }
            V_VT(&outer) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&outer) = &inner;
            VARIANTARG bad;
            V_VT(&bad) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&bad) = &outer;
            const Answer answer = CallWith(object, m, p, bad);
            ++calls;
            EXPECT_EQ(DISP_E_TYPEMISMATCH, answer.hr);
            EXPECT_EQ(0u, answer.argError);
            EXPECT_EQ(0, objectOfOurs.Held()) << "nothing kept";
        }
    });
    EXPECT_GT(calls, 0) << "no member takes an object";
}

// A floating-point value that is not a number, for a whole-number parameter, by value, by reference
// or in a variable: an overflow at that argument. The automation library converted it to whatever
// its processor's conversion gave, a different number in the 64-bit and the 32-bit library (in
// the 32-bit one a name reader's largest size, which it then reported as an overflow).
TEST(HostileCalls, NotANumberForAWholeNumberIsAnOverflow) {
    int calls = 0;
    ForEveryParameter([&](IDispatch *object, const MemberInfo &m, UINT p) {
        const VARTYPE type = m.params[p].type;
        if (type != VT_I2 && type != VT_I4 && type != VT_UI1) return;
        for (const VARTYPE given : {VT_R4, VT_R8, VT_DATE}) {
            for (int shape = 0; shape < 3; ++shape) {
                SCOPED_TRACE(Narrow(m.name) + " parameter " + std::to_string(p) + ", NaN as " + Hex(given) +
                             ", shape " + std::to_string(shape));
                VARIANT value, variable;
                V_VT(&value) = given;
                if (given == VT_R4)
                    V_R4(&value) = std::numeric_limits<float>::quiet_NaN();
                else
                    V_R8(&value) = std::numeric_limits<double>::quiet_NaN(); // DATE is a double too
                const Answer answer = CallWith(object, m, p, Shaped(value, shape, variable));
                ++calls;
                EXPECT_EQ(DISP_E_OVERFLOW, answer.hr);
                EXPECT_EQ(0u, answer.argError);
            }
        }
    });
    EXPECT_GT(calls, 0) << "no member takes a whole number";
}
