// The per-call cases: every atom member, with names and atoms that exist and that do not, against
// two floors (the raw kernel32 call; the least the member's contract costs) and along the paths a
// C++ program can take (the vtable, Invoke by identifier, GetIDsOfNames + Invoke).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "bench.h"
#include "modules/basQxAtomTables10A.h"
#include "runtime/arguments.h"

namespace bench {

long g_failures = 0;

int NarrowName(const wchar_t *name, int length, char *out) {
    const int n = WideCharToMultiByte(CP_ACP, 0, name, length, out, kAnsiNameBytes - 1, nullptr, nullptr);
    out[n > 0 ? n : 0] = '\0';
    return n;
}

int WidenBytes(const char *bytes, int length, wchar_t *out) {
    return MultiByteToWideChar(CP_ACP, 0, bytes, length, out, length);
}

namespace {

// The name readers' buffer: 255 characters, all of which the caller receives.
constexpr int kReadLength = static_cast<int>(basQxAtomTables10A::kNameBufferLength);

constexpr WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// The vtable call of one member made from a late-bound caller's arguments (in rgvarg order): what
// the caller's-work path calls where the others call Invoke. The result lands in `result` as
// Invoke leaves it.
using Reach = HRESULT (*)(_clsQxAtomTables10A *object, VARIANTARG *args, VARIANT *result);

// A late-bound caller of one member: by identifier, or looking the name up on every call; or, as a
// control, the same caller with the member's vtable call where Invoke would be (everything a
// late-bound caller does around Invoke, without Invoke).
class Late {
public:
    Late(IDispatch *object, const wchar_t *name, bool lookup) : object_(object), name_(name), lookup_(lookup) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name_)};
        if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id_))) ++g_failures;
    }
    Late(_clsQxAtomTables10A *object, Reach reach)
        : object_(object), name_(L""), lookup_(false), vtable_(object), reach_(reach) {}

    // Calls with the arguments in rgvarg order (last argument first) and returns the result as a
    // number (a string result: its length). The result is freed, as a client does.
    long long Call(VARIANTARG *args, UINT count) const {
        if (reach_) return Around(args, count, [this](DISPPARAMS &params, VARIANT &result, EXCEPINFO &, UINT &) {
                return reach_(vtable_, params.rgvarg, &result);
            });
        DISPID id = id_;
        if (lookup_) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(name_)};
            if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) ++g_failures;
        }
        return Around(args, count, [this, id](DISPPARAMS &params, VARIANT &result, EXCEPINFO &exception, UINT &argError) {
            return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kMethodGet, &params, &result, &exception,
                                   &argError);
        });
    }

private:
    // What a late-bound caller does around the call itself.
    template <class Reaching>
    static long long Around(VARIANTARG *args, UINT count, Reaching reaching) {
        DISPPARAMS params{args, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT argError = 0;
        const HRESULT hr = reaching(params, result, exception, argError);
        if (FAILED(hr)) {
            ++g_failures;
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
        long long value = 0;
        if (V_VT(&result) == VT_I4) value = V_I4(&result);
        else if (V_VT(&result) == VT_BSTR) value = SysStringLen(V_BSTR(&result));
        VariantClear(&result);
        return value;
    }

    IDispatch *object_;
    const wchar_t *name_;
    bool lookup_;
    DISPID id_ = DISPID_UNKNOWN;
    _clsQxAtomTables10A *vtable_ = nullptr;
    Reach reach_ = nullptr;
};

// The three late-bound callers of one member: by identifier, by name, and the caller's-work
// control (its vtable call in Invoke's place).
template <class Api>
struct LateCallers {
    std::shared_ptr<Late> byId, byName, around;
    explicit LateCallers(Component &component)
        : byId(std::make_shared<Late>(component.dispatch.Get(), Api::kMember, false)),
          byName(std::make_shared<Late>(component.dispatch.Get(), Api::kMember, true)),
          around(std::make_shared<Late>(component.object.Get(), &Api::Reach)) {}
    // Sets the three late-bound paths of `c` to `run`, made for each caller.
    template <class Make>
    void Paths(Case &c, Make make) const {
        c.paths[kInvoke].run = make(byId);
        c.paths[kNamesInvoke].run = make(byName);
        c.paths[kCallerWork].run = make(around);
    }
};

using rt::arg::Ref;

// The members, each with the platform function it wraps.
#define NAME_API(Type, Member, Platform)                                                         \
    struct Type {                                                                                \
        static constexpr const wchar_t *kMember = L## #Member;                                   \
        static constexpr const wchar_t *kPlatform = L## #Platform;                               \
        static ATOM Raw(LPCSTR name) { return Platform(name); }                                  \
        static HRESULT Call(_clsQxAtomTables10A *o, BSTR *name, LONG *r) { return o->Member(name, r); } \
        static HRESULT Reach(_clsQxAtomTables10A *o, VARIANTARG *a, VARIANT *r) {                \
            V_VT(r) = VT_I4;                                                                     \
            return Call(o, V_BSTRREF(a), &V_I4(r));                                              \
        }                                                                                        \
    };
#define NUMBER_API(Type, Member, Platform)                                                       \
    struct Type {                                                                                \
        static constexpr const wchar_t *kMember = L## #Member;                                   \
        static constexpr const wchar_t *kPlatform = L## #Platform;                               \
        static ATOM Raw(ATOM atom) { return Platform(atom); }                                    \
        static HRESULT Call(_clsQxAtomTables10A *o, short *atom, LONG *r) { return o->Member(atom, r); } \
        static HRESULT Reach(_clsQxAtomTables10A *o, VARIANTARG *a, VARIANT *r) {                \
            V_VT(r) = VT_I4;                                                                     \
            return Call(o, V_I2REF(a), &V_I4(r));                                                \
        }                                                                                        \
    };
#define READ_API(Type, Member, Platform)                                                         \
    struct Type {                                                                                \
        static constexpr const wchar_t *kMember = L## #Member;                                   \
        static constexpr const wchar_t *kPlatform = L## #Platform;                               \
        static UINT Raw(ATOM atom, LPSTR buffer, int size) { return Platform(atom, buffer, size); } \
        static HRESULT Call(_clsQxAtomTables10A *o, short *atom, BSTR *r) {                      \
            return o->Member(atom, nullptr, nullptr, r);                                         \
        }                                                                                        \
        static HRESULT Reach(_clsQxAtomTables10A *o, VARIANTARG *a, VARIANT *r) {                \
            V_VT(r) = VT_BSTR;                                                                   \
            V_BSTR(r) = nullptr;                                                                 \
            return Call(o, V_I2REF(a), &V_BSTR(r));                                              \
        }                                                                                        \
    };

NAME_API(AddLocal, AddAtomAmts, AddAtomA)
NAME_API(FindLocal, FindAtomAmts, FindAtomA)
NUMBER_API(DeleteLocal, DeleteAtomAmts, DeleteAtom)
READ_API(ReadLocal, GetAtomNameAmts, GetAtomNameA)
NAME_API(AddGlobal, GlobalAddAtomAmts, GlobalAddAtomA)
NAME_API(FindGlobal, GlobalFindAtomAmts, GlobalFindAtomA)
NUMBER_API(DeleteGlobal, GlobalDeleteAtomAmts, GlobalDeleteAtom)
READ_API(ReadGlobal, GlobalGetAtomNameAmts, GlobalGetAtomNameA)

struct InitApi {
    static constexpr const wchar_t *kMember = L"InitAtomTableAmts";
    static HRESULT Reach(_clsQxAtomTables10A *o, VARIANTARG *a, VARIANT *r) {
        V_VT(r) = VT_I4;
        return o->InitAtomTableAmts(V_I2REF(a), &V_I4(r));
    }
};

// The names of one table: one that exists, one that does not, and fresh ones to add.
struct Names {
    std::string existingA, missingA;
    Bstr existing, missing;
    ATOM existingAtom = 0, missingAtom = 0;
    std::vector<std::string> freshA; // never in the table between batches
    std::vector<Bstr> fresh;
    std::vector<ATOM> atoms;         // what the last batch added
};

Bstr Wide(const std::string &text) { return Bstr(std::wstring(text.begin(), text.end())); }

// Kept for the whole process: the cases' closures refer to them.
Names g_local, g_global, g_twoByte;

// A name of 40 two-byte characters (kana), for the cases that measure what a code page of them
// (932, 936, 949) costs; false where the ANSI code page has no such characters.
bool PrepareTwoByte(Names &names) {
    std::wstring name;
    for (int i = 0; i < 40; ++i) name += static_cast<wchar_t>(0x3042 + 2 * i);
    char bytes[kAnsiNameBytes];
    BOOL substituted = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, name.data(), static_cast<int>(name.size()), bytes,
                                      kAnsiNameBytes - 1, nullptr, &substituted);
    if (n != 2 * static_cast<int>(name.size()) || substituted) return false;
    names.existingA.assign(bytes, static_cast<size_t>(n));
    names.existing = Bstr(name);
    names.existingAtom = AddLocal::Raw(names.existingA.c_str());
    return names.existingAtom != 0;
}

template <class Add, class Read>
void Prepare(Names &names, const char *prefix, int fresh) {
    names.existingA = std::string(prefix) + ".Existing";
    names.missingA = std::string(prefix) + ".Missing";
    names.existing = Wide(names.existingA);
    names.missing = Wide(names.missingA);
    names.existingAtom = Add::Raw(names.existingA.c_str());
    // An atom number that names nothing: the highest free one (the tables fill from the bottom).
    ATOM probe = 0xFFFF;
    char text[256];
    while (probe > 0xC000 && Read::Raw(probe, text, static_cast<int>(sizeof text)) != 0) --probe;
    names.missingAtom = probe;
    names.freshA.clear();
    names.fresh.clear();
    for (int i = 0; i < fresh; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%s.Fresh.%05d", prefix, i);
        names.freshA.emplace_back(text);
        names.fresh.push_back(Wide(text));
    }
    names.atoms.assign(static_cast<size_t>(fresh), 0);
}

Case NewCase(const wchar_t *member, const wchar_t *variant, const wchar_t *platform, bool global, int calls,
             double vtableTarget) {
    Case c;
    c.member = member;
    c.variant = variant;
    c.platform = platform;
    c.global = global;
    c.calls = calls;
    c.vtableTarget = vtableTarget;
    return c;
}

// A name member called with one name again and again (it exists, or it does not). Adding an
// existing name takes a reference, which the untimed teardown gives back.
template <class Api, class Delete>
Case FixedName(Component &component, Names &names, bool exists, bool adds, int calls, bool global) {
    Case c = NewCase(Api::kMember, exists ? L"existing name" : L"missing name", Api::kPlatform, global, calls, 1.3);
    const char *nameA = exists ? names.existingA.c_str() : names.missingA.c_str();
    BSTR *slot = exists ? names.existing.Address() : names.missing.Address();
    _clsQxAtomTables10A *object = component.object.Get();
    const LateCallers<Api> late(component);
    Names *table = &names;
    auto giveBack = [adds, table](int n) {
        if (!adds) return;
        for (int i = 0; i < n; ++i) Delete::Raw(table->existingAtom);
    };
    c.paths[kFloor].run = [nameA](int n) {
        for (int i = 0; i < n; ++i) Keep(Api::Raw(nameA));
    };
    c.paths[kContract].run = [slot](int n) {
        char bytes[kAnsiNameBytes];
        for (int i = 0; i < n; ++i) {
            if (NarrowName(*slot, static_cast<int>(SysStringLen(*slot)), bytes) <= 0) ++g_failures;
            Keep(Api::Raw(bytes));
        }
    };
    c.paths[kVtable].run = [object, slot](int n) {
        for (int i = 0; i < n; ++i) {
            LONG r = 0;
            if (FAILED(Api::Call(object, slot, &r))) ++g_failures;
            Keep(r);
        }
    };
    late.Paths(c, [slot](std::shared_ptr<Late> caller) {
        return [caller, slot](int n) {
            VARIANTARG arg = Ref(slot);
            for (int i = 0; i < n; ++i) Keep(caller->Call(&arg, 1));
        };
    });
    for (auto &p : c.paths) p.teardown = giveBack;
    return c;
}

// An adding member called with names that are not in the table; the untimed teardown deletes them.
template <class Api, class Delete>
Case FreshNames(Component &component, Names &names, int calls, bool global) {
    Case c = NewCase(Api::kMember, L"new name", Api::kPlatform, global, calls, 1.3);
    _clsQxAtomTables10A *object = component.object.Get();
    const LateCallers<Api> late(component);
    Names *t = &names;
    auto removeAll = [t](int n) {
        for (int i = 0; i < n; ++i) Delete::Raw(t->atoms[static_cast<size_t>(i)]);
    };
    c.paths[kFloor].run = [t](int n) {
        for (int i = 0; i < n; ++i) t->atoms[static_cast<size_t>(i)] = Api::Raw(t->freshA[static_cast<size_t>(i)].c_str());
    };
    c.paths[kContract].run = [t](int n) {
        char bytes[kAnsiNameBytes];
        for (int i = 0; i < n; ++i) {
            const BSTR name = t->fresh[static_cast<size_t>(i)].Get();
            if (NarrowName(name, static_cast<int>(SysStringLen(name)), bytes) <= 0) ++g_failures;
            t->atoms[static_cast<size_t>(i)] = Api::Raw(bytes);
        }
    };
    c.paths[kVtable].run = [object, t](int n) {
        for (int i = 0; i < n; ++i) {
            LONG r = 0;
            if (FAILED(Api::Call(object, t->fresh[static_cast<size_t>(i)].Address(), &r))) ++g_failures;
            t->atoms[static_cast<size_t>(i)] = static_cast<ATOM>(r);
        }
    };
    late.Paths(c, [t](std::shared_ptr<Late> caller) {
        return [caller, t](int n) {
            for (int i = 0; i < n; ++i) {
                VARIANTARG arg = Ref(t->fresh[static_cast<size_t>(i)].Address());
                t->atoms[static_cast<size_t>(i)] = static_cast<ATOM>(caller->Call(&arg, 1));
            }
        };
    });
    for (auto &p : c.paths) p.teardown = removeAll;
    return c;
}

enum class DeleteKind { Reference, Last, Missing };

// A deleting member: one of several references to an atom, the last reference (the atom goes), or
// an atom number that names nothing. The untimed setup adds what the batch deletes. The argument
// is a number: the contract floor is the kernel32 call.
template <class Api, class Add>
Case Deletes(Component &component, Names &names, DeleteKind kind, int calls, bool global) {
    const wchar_t *variant = kind == DeleteKind::Reference ? L"existing atom, one of several references"
                             : kind == DeleteKind::Last    ? L"existing atom, last reference"
                                                           : L"missing atom";
    Case c = NewCase(Api::kMember, variant, Api::kPlatform, global, calls, 1.3);
    _clsQxAtomTables10A *object = component.object.Get();
    const LateCallers<Api> late(component);
    Names *t = &names;
    // The atom each call deletes.
    auto atomOf = [t, kind](int i) -> ATOM {
        if (kind == DeleteKind::Reference) return t->existingAtom;
        if (kind == DeleteKind::Last) return t->atoms[static_cast<size_t>(i)];
        return t->missingAtom;
    };
    auto setup = [t, kind](int n) {
        for (int i = 0; i < n; ++i) {
            if (kind == DeleteKind::Reference) Add::Raw(t->existingA.c_str());
            else if (kind == DeleteKind::Last) t->atoms[static_cast<size_t>(i)] = Add::Raw(t->freshA[static_cast<size_t>(i)].c_str());
        }
    };
    c.paths[kFloor].run = [atomOf](int n) {
        for (int i = 0; i < n; ++i) Keep(Api::Raw(atomOf(i)));
    };
    c.paths[kVtable].run = [object, atomOf](int n) {
        for (int i = 0; i < n; ++i) {
            short atom = static_cast<short>(atomOf(i));
            LONG r = 0;
            if (FAILED(Api::Call(object, &atom, &r))) ++g_failures;
            Keep(r);
        }
    };
    late.Paths(c, [atomOf](std::shared_ptr<Late> caller) {
        return [caller, atomOf](int n) {
            for (int i = 0; i < n; ++i) {
                short atom = static_cast<short>(atomOf(i));
                VARIANTARG arg = Ref(&atom);
                Keep(caller->Call(&arg, 1));
            }
        };
    });
    for (auto &p : c.paths) p.setup = setup;
    return c;
}

// A name-reading member with its optional arguments omitted: the component offers the platform its
// 255-character buffer, so the floor is the platform call with a 255-byte buffer. The contract
// returns the whole buffer as a new string: its floor adds the buffer converted back to UTF-16 and
// the 255-character string allocated (and freed, as the caller does).
template <class Api>
Case Reads(Component &component, Names &names, bool exists, int calls, bool global) {
    Case c = NewCase(Api::kMember, exists ? L"existing atom" : L"missing atom", Api::kPlatform, global, calls, 2.0);
    _clsQxAtomTables10A *object = component.object.Get();
    const LateCallers<Api> late(component);
    const ATOM target = exists ? names.existingAtom : names.missingAtom;
    c.paths[kFloor].run = [target](int n) {
        char buffer[kReadLength + 1];
        for (int i = 0; i < n; ++i) Keep(Api::Raw(target, buffer, kReadLength));
    };
    c.paths[kContract].run = [target](int n) {
        char buffer[kReadLength + 1];
        std::fill_n(buffer, kReadLength + 1, ' ');
        wchar_t wide[kReadLength];
        for (int i = 0; i < n; ++i) {
            const UINT copied = Api::Raw(target, buffer, kReadLength);
            const int length = WidenBytes(buffer, kReadLength, wide);
            if (length <= 0) ++g_failures;
            const Bstr result(std::wstring_view(wide, static_cast<size_t>(length > 0 ? length : 0)));
            if (!result.Allocated()) ++g_failures;
            Keep(copied + result.Length());
        }
    };
    c.paths[kVtable].run = [object, target](int n) {
        for (int i = 0; i < n; ++i) {
            short atom = static_cast<short>(target);
            BSTR name = nullptr;
            if (FAILED(Api::Call(object, &atom, &name))) ++g_failures;
            Keep(SysStringLen(name));
            SysFreeString(name);
        }
    };
    late.Paths(c, [target](std::shared_ptr<Late> caller) {
        return [caller, target](int n) {
            for (int i = 0; i < n; ++i) {
                short atom = static_cast<short>(target);
                VARIANTARG arg = Ref(&atom);
                Keep(caller->Call(&arg, 1));
            }
        };
    });
    return c;
}

Case Init(Component &component, int calls) {
    // The platform's InitAtomTable only reads a static once the table exists: a few ns, so no
    // wrapper can come near its floor; no target applies. The contract floor is the kernel32 call.
    Case c = NewCase(L"InitAtomTableAmts", L"size 37", L"InitAtomTable", false, calls, 0);
    _clsQxAtomTables10A *object = component.object.Get();
    const LateCallers<InitApi> late(component);
    c.paths[kFloor].run = [](int n) {
        for (int i = 0; i < n; ++i) Keep(InitAtomTable(37));
    };
    c.paths[kVtable].run = [object](int n) {
        for (int i = 0; i < n; ++i) {
            short size = 37;
            LONG r = 0;
            if (FAILED(object->InitAtomTableAmts(&size, &r))) ++g_failures;
            Keep(r);
        }
    };
    late.Paths(c, [](std::shared_ptr<Late> caller) {
        return [caller](int n) {
            for (int i = 0; i < n; ++i) {
                short size = 37;
                VARIANTARG arg = Ref(&size);
                Keep(caller->Call(&arg, 1));
            }
        };
    });
    return c;
}

} // namespace

const wchar_t *PathTitle(int path) {
    switch (path) {
    case kFloor: return L"kernel32 call";
    case kContract: return L"contract floor";
    case kVtable: return L"vtable";
    case kInvoke: return L"Invoke by DISPID";
    case kNamesInvoke: return L"GetIDsOfNames + Invoke";
    case kCallerWork: return L"a late-bound caller's own work around the vtable call";
    default: return L"?";
    }
}

std::vector<Case> LocalCases(Component &component, bool quick) {
    const int calls = quick ? 500 : 2000;
    const int fresh = quick ? 200 : 500;
    InitAtomTable(37);
    Prepare<AddLocal, ReadLocal>(g_local, "AtomTablesBench", fresh);
    // The component must answer as the platform does, or the figures mean nothing.
    {
        Bstr name(std::wstring(g_local.existingA.begin(), g_local.existingA.end()));
        LONG r = 0;
        short atom = static_cast<short>(g_local.existingAtom);
        BSTR text = nullptr;
        const bool found = SUCCEEDED(component.object->FindAtomAmts(name.Address(), &r)) &&
                           static_cast<ATOM>(r) == g_local.existingAtom;
        const bool read = SUCCEEDED(component.object->GetAtomNameAmts(&atom, nullptr, nullptr, &text)) &&
                          SysStringLen(text) == 255 && name.View() == std::wstring_view(text, name.Length());
        SysFreeString(text);
        if (!found || !read) {
            std::fprintf(stderr, "bench: the component does not answer as the platform does (find %d, read %d)\n",
                         found, read);
            ++g_failures;
        }
    }
    std::vector<Case> cases;
    cases.push_back(Init(component, calls));
    cases.push_back(FixedName<AddLocal, DeleteLocal>(component, g_local, true, true, calls, false));
    cases.push_back(FreshNames<AddLocal, DeleteLocal>(component, g_local, fresh, false));
    cases.push_back(Deletes<DeleteLocal, AddLocal>(component, g_local, DeleteKind::Reference, calls, false));
    cases.push_back(Deletes<DeleteLocal, AddLocal>(component, g_local, DeleteKind::Last, fresh, false));
    cases.push_back(Deletes<DeleteLocal, AddLocal>(component, g_local, DeleteKind::Missing, calls, false));
    cases.push_back(FixedName<FindLocal, DeleteLocal>(component, g_local, true, false, calls, false));
    cases.push_back(FixedName<FindLocal, DeleteLocal>(component, g_local, false, false, calls, false));
    cases.push_back(Reads<ReadLocal>(component, g_local, true, calls, false));
    cases.push_back(Reads<ReadLocal>(component, g_local, false, calls, false));
    // The cases the VBScript loops measure too.
    cases[0].scriptKey = L"InitAtomTableAmts";
    cases[1].scriptKey = L"AddAtomAmts.existing";
    cases[3].scriptKey = L"DeleteAtomAmts.reference";
    cases[5].scriptKey = L"DeleteAtomAmts.missing";
    cases[6].scriptKey = L"FindAtomAmts.existing";
    cases[7].scriptKey = L"FindAtomAmts.missing";
    cases[8].scriptKey = L"GetAtomNameAmts.existing";
    cases[9].scriptKey = L"GetAtomNameAmts.missing";
    // Add, find and read back a name of two-byte characters, where the ANSI code page has them (run
    // the benchmark in such a locale: LANG=ja_JP.UTF-8 for 932).
    if (PrepareTwoByte(g_twoByte)) {
        const std::wstring variant = L", 40 two-byte characters (code page " + std::to_wstring(GetACP()) + L")";
        cases.push_back(FixedName<AddLocal, DeleteLocal>(component, g_twoByte, true, true, calls, false));
        cases.push_back(FixedName<FindLocal, DeleteLocal>(component, g_twoByte, true, false, calls, false));
        cases.push_back(Reads<ReadLocal>(component, g_twoByte, true, calls, false));
        for (size_t i = cases.size() - 3; i < cases.size(); ++i) cases[i].variant += variant;
        short atom = static_cast<short>(g_twoByte.existingAtom);
        BSTR text = nullptr;
        const std::wstring expected = std::wstring(g_twoByte.existing.View()) + L'\0';
        if (FAILED(component.object->GetAtomNameAmts(&atom, nullptr, nullptr, &text)) || SysStringLen(text) != 255 ||
            std::wstring_view(text, expected.size()) != expected) {
            std::fprintf(stderr, "bench: the component does not read the two-byte name back as the platform does\n");
            ++g_failures;
        }
        SysFreeString(text);
    } else {
        std::fprintf(stderr, "bench: code page %u has no two-byte characters: no two-byte name cases\n", GetACP());
    }
    return cases;
}

std::vector<Case> GlobalCases(Component &component, bool quick) {
    // Every global call crosses to the Wine server (about 0.1 ms): few calls per batch.
    const int calls = quick ? 8 : 20;
    Prepare<AddGlobal, ReadGlobal>(g_global, "AtomTablesBench.Global", calls);
    std::vector<Case> cases;
    cases.push_back(FixedName<AddGlobal, DeleteGlobal>(component, g_global, true, true, calls, true));
    cases.push_back(FreshNames<AddGlobal, DeleteGlobal>(component, g_global, calls, true));
    cases.push_back(Deletes<DeleteGlobal, AddGlobal>(component, g_global, DeleteKind::Reference, calls, true));
    cases.push_back(Deletes<DeleteGlobal, AddGlobal>(component, g_global, DeleteKind::Last, calls, true));
    cases.push_back(Deletes<DeleteGlobal, AddGlobal>(component, g_global, DeleteKind::Missing, calls, true));
    cases.push_back(FixedName<FindGlobal, DeleteGlobal>(component, g_global, true, false, calls, true));
    cases.push_back(FixedName<FindGlobal, DeleteGlobal>(component, g_global, false, false, calls, true));
    cases.push_back(Reads<ReadGlobal>(component, g_global, true, calls, true));
    cases.push_back(Reads<ReadGlobal>(component, g_global, false, calls, true));
    cases[0].scriptKey = L"GlobalAddAtomAmts.existing";
    cases[2].scriptKey = L"GlobalDeleteAtomAmts.reference";
    cases[5].scriptKey = L"GlobalFindAtomAmts.existing";
    cases[7].scriptKey = L"GlobalGetAtomNameAmts.existing";
    // A few nanoseconds of binder cannot be told apart from the server round trip's variations.
    for (Case &c : cases) c.lateBoundTarget = false;
    return cases;
}

std::vector<Case> GlobalIntegerCases(Component &component, bool quick) {
    // Integer atoms ("#1234") are the global functions' own business: the platform answers them in
    // the process, without the Wine server, so what each path adds to a global member shows.
    const int calls = quick ? 500 : 2000;
    static Names integer;
    integer.existingA = "#1234";
    integer.existing = Wide(integer.existingA);
    integer.existingAtom = 1234;
    std::vector<Case> cases;
    cases.push_back(FixedName<AddGlobal, DeleteGlobal>(component, integer, true, true, calls, true));
    cases.push_back(Deletes<DeleteGlobal, AddGlobal>(component, integer, DeleteKind::Reference, calls, true));
    cases.push_back(FixedName<FindGlobal, DeleteGlobal>(component, integer, true, false, calls, true));
    cases.push_back(Reads<ReadGlobal>(component, integer, true, calls, true));
    for (Case &c : cases) {
        c.variant = L"integer atom #1234 (no server call)";
        c.vtableTarget = 0; // the ratio targets are the string atoms'
    }
    return cases;
}

void RunCases(std::vector<Case> &cases, int rounds) {
    for (Case &c : cases) {
        // One untimed pass first: binds the platform functions and warms every path.
        for (auto &p : c.paths) {
            if (!p.run) continue;
            if (p.setup) p.setup(c.calls);
            p.run(c.calls);
            if (p.teardown) p.teardown(c.calls);
        }
        for (int round = 0; round < rounds; ++round) {
            double ns[kPathCount] = {};
            for (int k = 0; k < kPathCount; ++k) {
                const int path = (k + round) % kPathCount;
                auto &p = c.paths[path];
                if (!p.run) continue;
                if (p.setup) p.setup(c.calls);
                const long long start = Ticks();
                p.run(c.calls);
                const long long end = Ticks();
                if (p.teardown) p.teardown(c.calls);
                ns[path] = NsBetween(start, end) / c.calls;
            }
            if (c.ContractIsRaw()) ns[kContract] = ns[kFloor];
            for (int path = 0; path < kPathCount; ++path) {
                c.ns[path].push_back(ns[path]);
                c.overVtable[path].push_back(ns[path] - ns[kVtable]);
                c.ratio[path].push_back(ns[kContract] > 0 ? ns[path] / ns[kContract] : 0);
                c.rawRatio[path].push_back(ns[kFloor] > 0 ? ns[path] / ns[kFloor] : 0);
            }
        }
    }
}

} // namespace bench
