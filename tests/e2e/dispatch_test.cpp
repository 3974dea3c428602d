// IDispatch as clients drive it: how arguments are bound, coerced and written back, and what
// comes back when a call cannot be made.
#include <functional>
#include <ostream>

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

// ---------------------------------------------------------------------------------------------
// Two routes, one behaviour. A call whose arguments already are its parameters' own storage
// (typed references, script variables of the parameters' types, omitted optionals) is handed to
// the member directly; any other call goes through the binder's phases. Each case below is made
// in every form and on the same starting state; the caller must see the same in all of them: the
// status, the result, what came back into each argument, the exception information and the boxes.
// ---------------------------------------------------------------------------------------------
namespace {

// One argument of a case: a 16-bit or 32-bit number, a name, or nothing (an omitted optional).
struct Arg {
    enum Kind { Short, Long, Name, Omitted } kind;
    long number = 0;
    std::wstring text;
};
Arg S(long v) { return {Arg::Short, v, {}}; }
Arg L(long v) { return {Arg::Long, v, {}}; }
Arg N(std::wstring v) { return {Arg::Name, 0, std::move(v)}; }
Arg Omit() { return {Arg::Omitted, 0, {}}; }

enum class Form {
    TypedReferences,           // VT_BYREF|VT_I2, VT_BYREF|VT_I4, VT_BYREF|VT_BSTR; omitted as the missing marker
    TypedReferencesTrailingCut, // the same, omitted trailing optionals not passed at all
    ScriptVariables,           // VT_BYREF|VT_VARIANT to variables holding the parameters' types
    VariablesHoldingReferences, // VT_BYREF|VT_VARIANT to variables holding typed references
    NamedTypedReferences,      // the typed references, every one passed by name: the binder's phases
    VariablesOfOtherTypes,     // numbers in VT_R8 variables, coerced and written back: the binder's phases
};
const char *FormName(Form f) {
    switch (f) {
    case Form::TypedReferences: return "typed references";
    case Form::TypedReferencesTrailingCut: return "typed references, trailing omissions cut";
    case Form::ScriptVariables: return "script variables";
    case Form::VariablesHoldingReferences: return "variables holding typed references";
    case Form::NamedTypedReferences: return "named typed references";
    default: return "variables of other types";
    }
}

// What a caller sees of one call.
struct Seen {
    HRESULT hr = E_UNEXPECTED;
    VARTYPE resultType = VT_EMPTY;
    std::wstring result;
    std::vector<std::wstring> arguments; // each argument afterwards, as text
    SCODE scode = 0;
    std::wstring source, description;
    std::vector<std::wstring> boxes;
    bool operator==(const Seen &) const = default;
};
void PrintTo(const Seen &s, std::ostream *out) {
    *out << "hr 0x" << std::hex << s.hr << std::dec << ", result (vt " << s.resultType << ") \""
         << testing::PrintToString(s.result) << "\", arguments";
    for (const std::wstring &a : s.arguments) *out << " " << testing::PrintToString(a);
    *out << ", scode 0x" << std::hex << s.scode << std::dec << " " << testing::PrintToString(s.description) << ", "
         << s.boxes.size() << " boxes";
}

std::wstring AsText(const VARIANT &v) {
    Variant text;
    if (FAILED(VariantChangeType(text.Receive(), const_cast<VARIANT *>(&v), 0, VT_BSTR))) return L"<" + std::to_wstring(V_VT(&v)) + L">";
    return Text(V_BSTR(text.Get()));
}

// The arguments' storage of one form, and the VARIANTs that refer to it.
struct Storage {
    std::vector<short> shorts;
    std::vector<LONG> longs;
    std::vector<double> doubles;
    std::vector<Bstr> names;
    std::vector<Variant> variables, inner;
    std::vector<VARIANT> args;
    std::vector<DISPID> named;

    Storage(const std::vector<Arg> &list, Form form)
        : shorts(list.size()), longs(list.size()), doubles(list.size()), names(list.size()), variables(list.size()),
          inner(list.size()) {
        size_t passed = list.size();
        if (form == Form::TypedReferencesTrailingCut || form == Form::NamedTypedReferences)
            while (passed > 0 && list[passed - 1].kind == Arg::Omitted) --passed;
        for (size_t i = 0; i < passed; ++i) {
            const Arg &a = list[i];
            if (a.kind == Arg::Omitted) {
                if (form == Form::NamedTypedReferences) continue; // named: simply not passed
                args.push_back(Missing());
                continue;
            }
            shorts[i] = static_cast<short>(a.number);
            longs[i] = a.number;
            doubles[i] = static_cast<double>(a.number);
            if (a.kind == Arg::Name) names[i] = Bstr(a.text);
            VARIANT typed = a.kind == Arg::Short  ? Ref(&shorts[i])
                            : a.kind == Arg::Long ? Ref(&longs[i])
                                                  : Ref(names[i].Address());
            switch (form) {
            case Form::ScriptVariables:
                if (a.kind == Arg::Name) {
                    V_VT(variables[i].Get()) = VT_BSTR;
                    V_BSTR(variables[i].Get()) = names[i].Detach();
                } else {
                    V_VT(variables[i].Get()) = a.kind == Arg::Short ? VT_I2 : VT_I4;
                    V_I4(variables[i].Get()) = a.number; // (an I2 reads the low half)
                    if (a.kind == Arg::Short) V_I2(variables[i].Get()) = static_cast<short>(a.number);
                }
                args.push_back(Ref(variables[i].Get()));
                break;
            case Form::VariablesHoldingReferences:
                *variables[i].Get() = typed;
                args.push_back(Ref(variables[i].Get()));
                break;
            case Form::VariablesOfOtherTypes:
                if (a.kind == Arg::Name) {
                    args.push_back(typed);
                } else {
                    V_VT(variables[i].Get()) = VT_R8;
                    V_R8(variables[i].Get()) = doubles[i];
                    args.push_back(Ref(variables[i].Get()));
                }
                break;
            case Form::NamedTypedReferences: named.insert(named.begin(), static_cast<DISPID>(i)); [[fallthrough]];
            default: args.push_back(typed);
            }
        }
    }
    ~Storage() {
        // Variables holding references do not own what they point at.
        for (Variant &v : variables)
            if (v.Type() & VT_BYREF) V_VT(v.Get()) = VT_EMPTY;
    }

    std::wstring After(const std::vector<Arg> &list, size_t i, Form form) const {
        const Arg &a = list[i];
        if (a.kind == Arg::Omitted) return L"(omitted)";
        const bool inVariable = form == Form::ScriptVariables || (form == Form::VariablesOfOtherTypes && a.kind != Arg::Name);
        if (inVariable) return AsText(*variables[i].Get());
        if (a.kind == Arg::Short) return std::to_wstring(shorts[i]);
        if (a.kind == Arg::Long) return std::to_wstring(longs[i]);
        return Text(names[i].Get());
    }
};

struct RouteCase {
    const char *what;
    DISPID id;
    WORD flags;
    std::vector<Arg> args;
    std::function<void()> setup, teardown; // around each form's call; the state must start alike
};

struct Routes : Dispatch {
    Seen Make(const RouteCase &c, Form form) {
        if (c.setup) c.setup();
        Seen seen;
        {
            BoxWatcher watcher;
            Storage storage(c.args, form);
            Call call = Invoke(main.Get(), c.id, c.flags, storage.args, storage.named);
            seen.hr = call.hr;
            seen.resultType = call.result.Type();
            seen.result = call.result.Type() == VT_EMPTY ? L"" : AsText(*call.result.Get());
            for (size_t i = 0; i < c.args.size(); ++i) seen.arguments.push_back(storage.After(c.args, i, form));
            seen.scode = call.scode;
            seen.source = call.source;
            seen.description = call.description;
            for (const Box &b : watcher.Boxes()) seen.boxes.push_back(b.caption + L"|" + b.text);
        }
        if (c.teardown) c.teardown();
        return seen;
    }
};

// The thread's name buffer filled with a known, longer name, so that every read starts alike.
void PrimeBuffer(IDispatch *main) {
    const ATOM prime = AddAtomW(L"route-prime-0123456789-0123456789-0123456789");
    short atom = static_cast<short>(prime);
    Invoke(main, dispid::kGetAtomName, kMethodGet, {Ref(&atom)});
    DeleteAtom(prime);
}

} // namespace

TEST_F(Routes, EveryFormOfACallSeesTheSame) {
    const std::wstring name = L"route-name";
    ATOM atom = 0;
    auto addName = [&] { atom = AddAtomW(name.c_str()); };
    auto removeName = [&] { DeleteAtom(atom); };
    auto readState = [&] { addName(); PrimeBuffer(main.Get()); };
    const std::wstring overLong(300, L'x');
    constexpr DISPID kGlobalGetAtomName = 0x6003000F, kGlobalFindAtom = 0x6003000E;
    std::vector<RouteCase> cases = {
        {"InitAtomTableAmts", dispid::kInitAtomTable, kMethodGet, {S(37)}, {}, {}},
        {"AddAtomAmts, a name in the table", dispid::kAddAtom, kMethodGet, {N(name)}, addName,
         [&] { DeleteAtom(atom); DeleteAtom(atom); }},
        {"FindAtomAmts, another spelling", dispid::kFindAtom, kMethodGet, {N(L"ROUTE-NAME")}, addName, removeName},
        {"FindAtomAmts, outside the code page", dispid::kFindAtom, kMethodGet, {N(L"route-\u4E2D\u6587")}, {}, {}},
        {"FindAtomAmts, empty", dispid::kFindAtom, kMethodGet, {N(L"")}, {}, {}},
        {"GlobalFindAtomAmts, an integer atom", kGlobalFindAtom, kMethodGet, {N(L"#1234")}, {}, {}},
        {"DeleteAtomAmts, one of two references", dispid::kDeleteAtom, kMethodGet, {S(0)},
         [&] { addName(); AddAtomW(name.c_str()); }, removeName},
        {"DeleteAtomAmts, an atom that is not there", dispid::kDeleteAtom, kMethodGet, {S(-17)}, {}, {}},
        {"GetAtomNameAmts, both optionals omitted", dispid::kGetAtomName, kMethodGet, {S(0), Omit(), Omit()}, readState, removeName},
        {"GetAtomNameAmts, size 3", dispid::kGetAtomName, kMethodGet, {S(0), S(3), S(-5)}, readState, removeName},
        {"GetAtomNameAmts, size -1", dispid::kGetAtomName, kMethodGet, {S(0), S(-1), S(-5)}, readState, removeName},
        {"GetAtomNameAmts, size 32767 (reported overflow)", dispid::kGetAtomName, kMethodGet, {S(0), S(32767), S(-5)},
         readState, removeName},
        {"GetAtomNameAmts, the size omitted in the middle", dispid::kGetAtomName, kMethodGet, {S(0), Omit(), S(-5)},
         readState, removeName},
        {"GetAtomNameAmts, an atom that is not there", dispid::kGetAtomName, kMethodGet, {S(-17), S(0), S(-5)},
         [&] { PrimeBuffer(main.Get()); }, {}},
        {"GlobalGetAtomNameAmts, an integer atom", kGlobalGetAtomName, kMethodGet, {S(1234), S(0), S(-5)},
         [&] { PrimeBuffer(main.Get()); }, {}},
        {"GetProResStrings, a string", dispid::kResStrings, DISPATCH_PROPERTYGET, {L(121)}, {}, {}},
        {"GetProResStrings, a failure", dispid::kResStrings, DISPATCH_PROPERTYGET, {L(100)}, {}, {}},
    };
    if (HaveDisplay())
        cases.push_back({"AddAtomAmts, over-long (the box)", dispid::kAddAtom, kMethodGet, {N(overLong)}, {}, {}});
    // The atom a case names is the one its setup added: filled in once the setup has run.
    for (RouteCase &c : cases) {
        if (!c.args.empty() && c.args[0].kind == Arg::Short && c.args[0].number == 0 && c.id != dispid::kInitAtomTable) {
            auto setup = c.setup;
            c.setup = [&, setup, &arg = c.args[0]] {
                if (setup) setup();
                arg.number = static_cast<short>(atom);
            };
        }
    }
    const Form forms[] = {Form::TypedReferences,   Form::TypedReferencesTrailingCut, Form::ScriptVariables,
                          Form::VariablesHoldingReferences, Form::NamedTypedReferences, Form::VariablesOfOtherTypes};
    for (const RouteCase &c : cases) {
        const Seen first = Make(c, forms[0]);
        for (const Form form : forms) {
            const Seen seen = Make(c, form);
            EXPECT_EQ(first, seen) << c.what << ": " << FormName(form) << " differs from " << FormName(forms[0])
                                   << " (hr 0x" << std::hex << seen.hr << " against 0x" << first.hr << ")";
        }
        // A few facts, so that agreeing on a wrong answer is not enough.
        EXPECT_TRUE(first.hr == S_OK || first.hr == DISP_E_EXCEPTION) << c.what;
    }
    const Seen overflow = Make(cases[11], Form::TypedReferences);
    EXPECT_EQ(S_OK, overflow.hr);
    EXPECT_EQ(L"32767", overflow.arguments[1]) << "the size stays as it was after the reported overflow";
    const Seen failure = Make(cases[16], Form::TypedReferences);
    EXPECT_EQ(DISP_E_EXCEPTION, failure.hr);
    EXPECT_EQ(kResourceNotFound, failure.scode);
    const Seen roundTrip = Make(cases[3], Form::TypedReferences);
    EXPECT_EQ(FromAnsi(ToAnsi(L"route-\u4E2D\u6587")), roundTrip.arguments[0]) << "the name came back as its ANSI round trip";
}
