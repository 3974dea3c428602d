// Out of memory at every allocation the component makes, one at a time (allocation_faults.h), for:
//   - every member of every creatable class and of the runtime's application-properties and error
//     objects, through the vtable, Invoke by identifier, and GetIDsOfNames then Invoke, with the
//     arguments of the table below (the atom members also with a failing statement, so that the
//     report path to the common library is swept as well);
//   - creation through the class factory of every creatable class;
//   - the first use on a fresh thread;
//   - the first use of the module in the process: the test unloads the component and loads it
//     afresh for every case.
// For every case: the process survives (no C++ exception crosses into it); the failure surfaces as
// runtime error 7 (0x800A0007; through Invoke as DISP_E_EXCEPTION), as E_OUTOFMEMORY from the COM
// plumbing, or (in a trapped member) as a report to the common library and the member's default
// result; the same calls made again give exactly what they give without failures; and nothing is
// left behind (the component's heap blocks, the client's objects' references, DllCanUnloadNow).
//
// It prints the cases and distinct allocation sites of each family. ATOMTABLES_OOM_FRESH_SAMPLE=k
// runs only a fixed, seeded sample of k of the fresh-module cases (each loads the module again);
// ATOMTABLES_OOM_ONLY=text only the cases whose names contain text; ATOMTABLES_OOM_FIRST=n starts
// the sweeps at the nth allocation.
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <random>
#include <set>

#include "AtomTables10.h"
#include "support/allocation_faults.h"
#include "harness.h"
#include "support/recording_library.h"

using namespace reliability;
using namespace testing_support;

namespace {

constexpr HRESULT kOutOfMemory = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 7);
const wchar_t *const kMain = L"AtomTables10.clsQxAtomTables10A";

std::string g_case; // what runs now, told if the process is taken down

// Whether a case is among those ATOMTABLES_OOM_ONLY selects.
bool Selected(const std::string &name) {
    char only[256];
    const DWORD n = GetEnvironmentVariableA("ATOMTABLES_OOM_ONLY", only, sizeof only);
    return n == 0 || n >= sizeof only || name.find(only) != std::string::npos;
}
void TellCase(int) {
    std::fprintf(stderr, "\nout-of-memory: the process ended during %s\n", g_case.c_str());
    std::fflush(stderr);
}

// What a caller sees of one call: its status (for Invoke the scode of DISP_E_EXCEPTION), the error
// description, the result and every variable it passed as text, and the calls the common library
// received meanwhile.
struct Outcome {
    HRESULT status = E_UNEXPECTED;
    bool exception = false; // Invoke answered DISP_E_EXCEPTION
    bool plumbing = false;  // a COM plumbing call, for which E_OUTOFMEMORY is the answer
    std::wstring description, text;
    size_t libraryCalls = 0;
    std::vector<long> reported; // the error numbers of the reports among them
    bool operator==(const Outcome &) const = default;
};

std::string Show(const Outcome &o) {
    std::wstring text = o.text.substr(0, 60);
    std::erase_if(text, [](wchar_t c) { return c < L' '; });
    return Hex(static_cast<unsigned long>(o.status)) + (o.exception ? " (exception)" : "") + " \"" +
           Narrow(o.description) + "\" " + Narrow(text) + " library calls " +
           std::to_string(o.libraryCalls) + " reports" + [&] {
               std::string numbers;
               for (long n : o.reported) numbers += " " + std::to_string(n);
               return numbers;
           }();
}

void PrintTo(const Outcome &o, std::ostream *out) { *out << Show(o); }

std::wstring TextOf(const VARIANT &value) {
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return V_UNKNOWN(&value) ? L"<object>" : L"<nothing>";
    if (vt & VT_ARRAY) return L"<array of " + std::to_wstring(V_ARRAY(&value) ? V_ARRAY(&value)->rgsabound[0].cElements : 0) + L">";
    Variant text;
    if (FAILED(VariantChangeType(text.Get(), const_cast<VARIANT *>(&value), 0, VT_BSTR))) return L"<vt " + std::to_wstring(vt) + L">";
    return std::to_wstring(vt) + L":" + Text(V_BSTR(text.Get()));
}

std::wstring ErrorInfoText() {
    ComPtr<IErrorInfo> info;
    Bstr description;
    if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(description.Receive());
    return std::wstring(description.View());
}

void *Payload(VARIANT *v) { return &V_I2(v); }

// The member through the vtable, as an early-bound client calls it: every by-reference parameter
// a variable of its own type, an omitted optional one a null pointer.
Outcome ThroughVtable(IDispatch *object, const MemberInfo &m, const std::vector<VARIANT> &values) {
    const size_t params = m.params.size(), total = params + (m.result != VT_EMPTY ? 1 : 0);
    std::vector<Variant> store(total);
    std::vector<VARIANTARG> args(total);
    std::vector<VARTYPE> types(total);
    std::vector<VARIANTARG *> pointers(total);
    for (size_t p = 0; p < total; ++p) {
        VARIANT &slot = *store[p].Get();
        VARIANTARG &arg = args[p];
        VariantInit(&arg);
        if (p == params) {
            std::memset(&slot, 0, sizeof slot);
            V_VT(&slot) = m.result == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : m.result;
            V_VT(&arg) = static_cast<VARTYPE>(VT_BYREF | m.result);
            V_BYREF(&arg) = m.result == VT_VARIANT ? static_cast<void *>(&slot) : Payload(&slot);
        } else {
            const ParamInfo &param = m.params[p];
            const bool omitted = p >= values.size() ||
                                 (V_VT(&values[p]) == VT_ERROR && V_ERROR(&values[p]) == DISP_E_PARAMNOTFOUND);
            if (!omitted) {
                VARIANT *value = const_cast<VARIANT *>(&values[p]);
                const HRESULT hr = param.type == VT_VARIANT ? VariantCopy(&slot, value)
                                                            : VariantChangeType(&slot, value, 0, param.type);
                EXPECT_EQ(S_OK, hr) << "an argument of the table that " << Narrow(m.name) << " cannot take";
            }
            if (!param.byRef) {
                arg = slot;
            } else {
                V_VT(&arg) = static_cast<VARTYPE>(VT_BYREF | param.type);
                V_BYREF(&arg) = omitted ? nullptr : param.type == VT_VARIANT ? static_cast<void *>(&slot) : Payload(&slot);
            }
        }
        types[p] = V_VT(&arg);
        pointers[p] = &arg;
    }
    VARIANT returned;
    VariantInit(&returned);
    const HRESULT hr = DispCallFunc(object, m.vtableOffset, CC_STDCALL, VT_ERROR, static_cast<UINT>(total),
                                    types.data(), pointers.data(), &returned);
    Outcome out;
    out.status = SUCCEEDED(hr) ? V_ERROR(&returned) : hr;
    if (FAILED(out.status)) out.description = ErrorInfoText();
    for (Variant &value : store) out.text += TextOf(*value.Get()) + L"|";
    return out;
}

enum class Path { Vtable, Invoke, Names };
const char *const kPathNames[] = {"vtable", "Invoke", "GetIDsOfNames+Invoke"};

// The member late bound, as a script calls it: variables by reference, objects and omitted
// arguments by value.
Outcome ThroughDispatch(IDispatch *object, const MemberInfo &m, Path path, const std::vector<VARIANT> &values) {
    Outcome out;
    DISPID id = m.id;
    if (path == Path::Names) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.name.c_str())};
        const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) {
            out.status = hr;
            out.plumbing = true;
            return out;
        }
    }
    const bool assigning = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    std::vector<Variant> variables(values.size());
    std::vector<VARIANT> args;
    for (size_t p = 0; p < values.size(); ++p) {
        const VARTYPE vt = V_VT(&values[p]);
        if (assigning || vt == VT_ERROR || vt == VT_DISPATCH) {
            args.push_back(values[p]);
        } else {
            VariantCopy(variables[p].Get(), const_cast<VARIANT *>(&values[p]));
            args.push_back(Ref(variables[p].Get()));
        }
    }
    const WORD flags = m.kind == INVOKE_FUNC          ? DISPATCH_METHOD | DISPATCH_PROPERTYGET
                       : m.kind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET
                       : m.kind == INVOKE_PROPERTYPUT ? DISPATCH_PROPERTYPUT
                                                      : DISPATCH_PROPERTYPUTREF;
    Call call = testing_support::Invoke(object, id, flags, args,
                                        assigning ? std::vector<DISPID>{DISPID_PROPERTYPUT} : std::vector<DISPID>{});
    out.exception = call.hr == DISP_E_EXCEPTION;
    out.status = out.exception ? call.scode : call.hr;
    out.description = out.exception ? call.description : L"";
    out.text = TextOf(*call.result.Get()) + L"|";
    for (Variant &value : variables) out.text += TextOf(*value.Get()) + L"|";
    return out;
}

// A call made as one step of a case: what the library received is counted, then let go of (the
// error objects it kept are the component's).
Outcome Step(RecordingLibrary &library, const std::function<Outcome()> &call) {
    library.Clear();
    Outcome out = call();
    out.libraryCalls = library.Calls().size();
    // The reports' numbers, read from their error objects with nothing failing.
    const faults::Paused paused;
    for (const RecordedCall &report : library.CallsTo(L"ErrorHandlerMessageQx")) {
        Variant number;
        DISPPARAMS none{};
        IDispatch *error = report.args.size() > 1 ? report.args[1].object.Get() : nullptr;
        if (error) error->Invoke(IdOf(error, L"Number"), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, number.Get(), nullptr, nullptr);
        out.reported.push_back(number.Type() == VT_I4 ? V_I4(number.Get()) : 0);
    }
    library.Clear();
    SetErrorInfo(0, nullptr);
    return out;
}

Outcome Plumbing(HRESULT hr, std::wstring text = {}) {
    Outcome out;
    out.status = hr;
    out.plumbing = true;
    out.text = std::move(text);
    return out;
}

// Whether a step that met the injected failure answered as it may: out of memory as the runtime's
// error 7 (through Invoke inside DISP_E_EXCEPTION), E_OUTOFMEMORY from plumbing, or the failure
// trapped and reported, with the step's usual status.
void ExpectOutOfMemory(const Outcome &normal, const Outcome &seen) {
    if (seen.status == kOutOfMemory) {
        EXPECT_EQ(L"Out of memory", seen.description) << Show(seen);
        return;
    }
    if (seen.plumbing && seen.status == E_OUTOFMEMORY) return;
    auto sevens = [](const Outcome &o) { return std::count(o.reported.begin(), o.reported.end(), 7L); };
    if (seen.status == normal.status && sevens(seen) > sevens(normal)) return; // trapped and reported
    ADD_FAILURE() << "out of memory answered as " << Show(seen) << "\n  where without it: " << Show(normal);
}

// A case: steps run one after the other, each handing its outcome to `record`, which answers
// whether to go on.
using Steps = std::function<void(const std::function<bool(const Outcome &)> &record)>;

std::vector<Outcome> RunAll(const Steps &steps) {
    std::vector<Outcome> all;
    steps([&](const Outcome &o) {
        all.push_back(o);
        return true;
    });
    return all;
}

// Runs the steps with the nth allocation failing: every step must answer as without the failure
// until one meets it; that one must answer out of memory, and the case ends there.
void RunFailing(const Steps &steps, const std::vector<Outcome> &normal, long n) {
    std::vector<Outcome> seen;
    faults::Arm(n);
    steps([&](const Outcome &o) {
        seen.push_back(o);
        return seen.size() <= normal.size() && o == normal[seen.size() - 1];
    });
    faults::Disarm();
    if (!faults::Fired()) {
        EXPECT_EQ(normal, seen) << "no failure was injected";
        return;
    }
    const size_t last = seen.size() - 1;
    ASSERT_LT(last, normal.size());
    // Absorbed: the failure kept only the failure's error information from being made (the caller
    // gets the same code with the standard text, or none).
    const Outcome &a = seen[last], &b = normal[last];
    if (a.status == b.status && a.exception == b.exception && a.text == b.text && a.libraryCalls == b.libraryCalls &&
        a.reported == b.reported)
        return;
    ExpectOutOfMemory(b, a);
}

struct Tally {
    long cases = 0;
    std::set<unsigned long long> sites;
    void Count() {
        if (!faults::Fired()) return;
        ++cases;
        sites.insert(faults::FiredSite());
    }
};
std::map<std::string, Tally> g_tallies;

// The first exception a module throws on a thread sets up the C++ runtime's own state (its
// per-thread exception globals, kept until the thread ends, and their keys): thrown once here, a
// creation whose first allocation fails, so that what a case leaves behind is the component's.
void ThrowOnce() {
    faults::Arm(1);
    ComPtr<IDispatch> object;
    EXPECT_EQ(E_OUTOFMEMORY, TryCreate(kMain, object));
    faults::Disarm();
}

// The names and atoms the atom members are given, made afresh for every case.
struct Atoms {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    Bstr local{L"OutOfMemory.Local." + tag}, global{L"OutOfMemory.Global." + tag};
    Bstr foreign{L"OutOfMemory.\u4e2d." + tag}, tooLong{std::wstring(300, L'x')}, typelib{L"TYPELIB"};
    short localAtom = 0, globalAtom = 0;

    // Each name three times, so that a call, its failing twin and its repetition each find it.
    void Add() {
        for (int i = 0; i < 3; ++i) {
            localAtom = static_cast<short>(AddAtomW(local.Get()));
            globalAtom = static_cast<short>(GlobalAddAtomW(global.Get()));
        }
    }
    void Remove() {
        // (The name outside the code page reaches the table with a substitute character.)
        for (const std::wstring &name : {std::wstring(local.View()), std::wstring(foreign.View()), L"OutOfMemory.?." + tag})
            while (ATOM atom = FindAtomW(name.c_str())) DeleteAtom(atom);
        while (ATOM atom = GlobalFindAtomW(global.Get())) GlobalDeleteAtom(atom);
    }
};

// The arguments each member is called with; every member with parameters needs one row at least.
struct Arguments {
    const wchar_t *member;
    const char *label;
    std::function<std::vector<VARIANT>(Atoms &, IDispatch *buddy)> make;
};

const Arguments kArguments[] = {
    {L"GetProResStrings", "string 101", [](Atoms &, IDispatch *) { return std::vector<VARIANT>{I4(101)}; }},
    {L"GetProResPicture", "missing picture", [](Atoms &, IDispatch *) { return std::vector<VARIANT>{I4(1), I4(0)}; }},
    {L"GetProResData", "the type library's bytes",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I4(1), Str(a.typelib.Get())}; }},
    {L"BuddyObjectGlobal", "an object", [](Atoms &, IDispatch *buddy) { return std::vector<VARIANT>{Obj(buddy)}; }},
    {L"InitAtomTableAmts", "size 37", [](Atoms &, IDispatch *) { return std::vector<VARIANT>{I2(37)}; }},
    {L"AddAtomAmts", "existing name", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.local.Get())}; }},
    {L"AddAtomAmts", "name outside the code page",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.foreign.Get())}; }},
    {L"AddAtomAmts", "over-long name (a box that cannot show: reported)",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.tooLong.Get())}; }},
    {L"DeleteAtomAmts", "existing atom", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.localAtom)}; }},
    {L"FindAtomAmts", "existing name", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.local.Get())}; }},
    {L"GetAtomNameAmts", "atom only", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.localAtom)}; }},
    {L"GetAtomNameAmts", "size and count",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.localAtom), I2(5), I2(0)}; }},
    {L"GetAtomNameAmts", "size 32767 (overflow: reported)",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.localAtom), I2(32767)}; }},
    {L"GlobalAddAtomAmts", "existing name", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.global.Get())}; }},
    {L"GlobalDeleteAtomAmts", "existing atom", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.globalAtom)}; }},
    {L"GlobalFindAtomAmts", "existing name", [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{Str(a.global.Get())}; }},
    {L"GlobalGetAtomNameAmts", "size 32767 (overflow: reported)",
     [](Atoms &a, IDispatch *) { return std::vector<VARIANT>{I2(a.globalAtom), I2(32767)}; }},
};

class OutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGABRT, TellCase);
        library_.FailWhen(&faults::FailNow);
        ASSERT_EQ(S_OK, TryCreate(kMain, main_)) << "the component is not registered";
        ASSERT_TRUE(faults::Attach()) << "the component's imports could not be redirected";
        ThrowOnce();
        // A report, so that what every later one needs once per process is there (the error
        // object's description, the thread's application-properties object).
        atoms_.Add();
        ComPtr<_clsQxAtomTables10A> tables;
        ASSERT_EQ(S_OK, main_.As(&tables));
        short size = 32767;
        Bstr name;
        ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&atoms_.localAtom, &size, nullptr, name.Receive()));
        ASSERT_EQ(1u, library_.Calls().size());
        library_.Clear();
        atoms_.Remove();
    }
    void TearDown() override {
        atoms_.Remove();
        main_.Reset();
        library_.Clear();
        EXPECT_EQ(0, buddy_.Held()) << "the client's object is still referenced";
        const CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        EXPECT_EQ(S_OK, canUnloadNow ? canUnloadNow() : S_OK) << "objects of the component are still alive";
    }

    // Sweeps one case: for n = 1, 2, ... the case runs without failures, with the nth allocation
    // failing, and once more without; the failing run answers as it may, the last one as the first,
    // and the component's heap blocks are as many after it as after the first.
    void Sweep(const std::string &family, const std::string &name, const Steps &steps,
               const std::function<void()> &cleanup = [] {}) {
        Tally &tally = g_tallies[family];
        if (!Selected(family + ": " + name)) return;
        faults::Sweep([&](long n) {
            g_case = family + ": " + name + ", allocation " + std::to_string(n);
            SCOPED_TRACE(g_case);
            atoms_.Add();
            const std::vector<Outcome> normal = RunAll(steps);
            const long blocks = faults::LiveBlocks();
            RunFailing(steps, normal, n);
            tally.Count();
            EXPECT_EQ(normal, RunAll(steps)) << "the same calls made again";
            EXPECT_EQ(blocks, faults::LiveBlocks()) << "heap blocks of the component left behind";
            cleanup();
            atoms_.Remove();
        }, EnvCount({L"ATOMTABLES_OOM_FIRST"}, 1));
    }

    void SweepMembers(const std::string &family, IDispatch *object, const std::wstring &className) {
        for (const MemberInfo &m : MembersOf(object)) {
            std::vector<const Arguments *> rows;
            for (const Arguments &row : kArguments) {
                const size_t given = row.make(atoms_, nullptr).size();
                if (m.name == row.member && given <= m.params.size() && given >= Required(m)) rows.push_back(&row);
            }
            static const Arguments kNone{nullptr, "no arguments", [](Atoms &, IDispatch *) { return std::vector<VARIANT>{}; }};
            if (rows.empty() && Required(m) == 0) rows.push_back(&kNone);
            if (rows.empty()) ADD_FAILURE() << "no arguments for " << Narrow(className + L"." + m.name) << " in the table";
            for (const Arguments *row : rows) {
                for (Path path : {Path::Vtable, Path::Invoke, Path::Names}) {
                    const std::string name = Narrow(className + L"." + m.name) + " (" + row->label + ") " +
                                             kPathNames[static_cast<int>(path)];
                    Sweep(family, name, [&](const auto &record) {
                        record(Step(library_, [&] {
                            const std::vector<VARIANT> values = row->make(atoms_, buddy_.Dispatch());
                            return path == Path::Vtable ? ThroughVtable(object, m, values)
                                                        : ThroughDispatch(object, m, path, values);
                        }));
                    }, [&] { EmptyTheSlot(); });
                }
            }
        }
    }

    static size_t Required(const MemberInfo &m) {
        size_t required = 0;
        while (required < m.params.size() && !m.params[required].optional) ++required;
        return required;
    }

    void EmptyTheSlot() {
        ComPtr<_clsQxAtomTables10A> tables;
        if (SUCCEEDED(main_.As(&tables))) tables->putref_BuddyObjectGlobal(nullptr);
        EXPECT_EQ(0, buddy_.Held());
    }

    RecordingLibrary library_;
    ComPtr<IDispatch> main_;
    CountedObject buddy_;
    Atoms atoms_;
};

// The application-properties object, as GetProStdProperties hands it out.
ComPtr<IDispatch> AppOf(IDispatch *main) {
    Variant result;
    DISPPARAMS none{};
    main->Invoke(0x68030004, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Get(), nullptr, nullptr);
    return result.Type() == VT_DISPATCH ? ComPtr<IDispatch>(V_DISPATCH(result.Get())) : nullptr;
}

} // namespace

TEST_F(OutOfMemory, EveryMemberOnEveryPath) {
    for (const ClassInfo &c : ReadClasses()) {
        if (!c.creatable || c.progId.empty()) continue;
        ComPtr<IDispatch> object = c.progId == kMain ? main_ : Create(c.progId.c_str());
        ASSERT_TRUE(object);
        SweepMembers("members", object.Get(), c.name);
    }
    // The runtime's own objects: the application-properties object and an error object (as the
    // common library receives it with a report).
    const ComPtr<IDispatch> app = AppOf(main_.Get());
    ASSERT_TRUE(app);
    SweepMembers("members", app.Get(), L"App");
    atoms_.Add();
    short size = 32767;
    ComPtr<_clsQxAtomTables10A> tables;
    ASSERT_EQ(S_OK, main_.As(&tables));
    Bstr name;
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&atoms_.localAtom, &size, nullptr, name.Receive()));
    ASSERT_EQ(1u, library_.Calls().size());
    ComPtr<IDispatch> error = library_.Calls()[0].args.at(1).object;
    library_.Clear();
    ASSERT_TRUE(error);
    SweepMembers("members", error.Get(), L"ErrObject");
}

TEST_F(OutOfMemory, CreationThroughTheClassFactory) {
    // (The main instance of the fixture keeps the thread's context: creation alone is swept.)
    for (const ClassInfo &c : ReadClasses()) {
        if (!c.creatable || c.progId.empty()) continue;
        Sweep("creation", Narrow(c.name), [&](const auto &record) {
            record(Step(library_, [&] {
                ComPtr<IDispatch> object;
                const HRESULT hr = TryCreate(c.progId.c_str(), object);
                return Plumbing(hr, FAILED(hr) ? ErrorInfoText() : L"");
            }));
        });
    }
}

namespace {

const MemberInfo &MemberNamed(const std::vector<MemberInfo> &members, const wchar_t *name,
                              INVOKEKIND kind = INVOKE_FUNC) {
    for (const MemberInfo &m : members)
        if (m.name == name && (kind == INVOKE_FUNC || m.kind == kind)) return m;
    throw std::runtime_error("no member " + Narrow(name));
}

// What the first use on a thread is made of: its first instance (the thread's context comes into
// being), then its first member calls.
struct ThreadFirstUse {
    const char *name;
    Steps (*steps)(RecordingLibrary &, const std::vector<MemberInfo> &, short atom, IDispatch *buddy);
};

const ThreadFirstUse kThreadFirstUses[] = {
    // A name read through the vtable with a size that overflows (the module's variables, and the
    // first report with the thread's application-properties object), the same through Invoke.
    {"a read that reports",
     [](RecordingLibrary &library, const std::vector<MemberInfo> &members, short atom, IDispatch *) -> Steps {
         return [&library, &members, atom](const auto &record) {
             ComPtr<IDispatch> main;
             if (!record(Step(library, [&] { return Plumbing(TryCreate(kMain, main)); }))) return;
             const MemberInfo &read = MemberNamed(members, L"GetAtomNameAmts");
             const std::vector<VARIANT> args{I2(atom), I2(32767)};
             if (!record(Step(library, [&] { return ThroughVtable(main.Get(), read, args); }))) return;
             record(Step(library, [&] { return ThroughDispatch(main.Get(), read, Path::Invoke, args); }));
         };
     }},
    // The atom-collection class first (its initializer calls the library), then an object parked in
    // the buddy slot through the vtable and read back.
    {"the atom-collection class, then the buddy slot",
     [](RecordingLibrary &library, const std::vector<MemberInfo> &members, short, IDispatch *buddy) -> Steps {
         return [&library, &members, buddy](const auto &record) {
             ComPtr<IDispatch> atoms, main;
             if (!record(Step(library, [&] { return Plumbing(TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms)); })))
                 return;
             if (!record(Step(library, [&] { return Plumbing(TryCreate(kMain, main)); }))) return;
             const MemberInfo &put = MemberNamed(members, L"BuddyObjectGlobal", INVOKE_PROPERTYPUTREF);
             const MemberInfo &get = MemberNamed(members, L"BuddyObjectGlobal", INVOKE_PROPERTYGET);
             if (!record(Step(library, [&] { return ThroughVtable(main.Get(), put, {Obj(buddy)}); }))) return;
             record(Step(library, [&] { return ThroughVtable(main.Get(), get, {}); }));
         };
     }},
};

} // namespace

TEST_F(OutOfMemory, FirstUseOnAFreshThread) {
    const std::vector<MemberInfo> members = MembersOf(main_.Get());
    Tally &tally = g_tallies["fresh thread"];
    // (The threading runtime keeps the record of the first thread that threw, for the next.)
    OnOtherThread([] { ThrowOnce(); });
    auto onThread = [&](const std::function<void(RecordingLibrary &)> &body) {
        OnOtherThread([&] {
            RecordingLibrary library;
            library.FailWhen(&faults::FailNow);
            body(library);
            library.Clear();
        });
    };
    for (const ThreadFirstUse &use : kThreadFirstUses) {
        if (!Selected(std::string("fresh thread: ") + use.name)) continue;
        faults::Sweep([&](long n) {
            g_case = std::string("fresh thread: ") + use.name + ", allocation " + std::to_string(n);
            SCOPED_TRACE(g_case);
            atoms_.Add();
            auto steps = [&](RecordingLibrary &library) { return use.steps(library, members, atoms_.localAtom, buddy_.Dispatch()); };
            std::vector<Outcome> normal;
            onThread([&](RecordingLibrary &library) { normal = RunAll(steps(library)); });
            const long blocks = faults::LiveBlocks();
            onThread([&](RecordingLibrary &library) {
                RunFailing(steps(library), normal, n);
                tally.Count();
                EXPECT_EQ(normal, RunAll(steps(library))) << "the same calls made again";
            });
            EXPECT_EQ(blocks, faults::LiveBlocks()) << "heap blocks of the component left behind";
            EXPECT_EQ(0, buddy_.Held()) << "the thread's end let go of the client's object";
            atoms_.Remove();
        });
    }
}

namespace {

// The first use of the module in the process: created, its names asked for first, a read that
// reports (the first error object, whose names the library asks for), the vtable, the type
// information, then the application-properties object called through Invoke first, then the
// atom-collection class (whose initializer calls the library).
Steps FirstUseOfModule(RecordingLibrary &library, const std::vector<MemberInfo> &members,
                       const std::vector<MemberInfo> &appMembers, short atom) {
    return [&library, &members, &appMembers, atom](const auto &record) {
        ComPtr<IDispatch> main, app, atoms;
        if (!record(Step(library, [&] { return Plumbing(TryCreate(kMain, main)); }))) return;
        const MemberInfo &read = MemberNamed(members, L"GetAtomNameAmts");
        const std::vector<VARIANT> args{I2(atom), I2(32767)};
        if (!record(Step(library, [&] { return ThroughDispatch(main.Get(), read, Path::Names, args); }))) return;
        if (!record(Step(library, [&] { return ThroughVtable(main.Get(), read, args); }))) return;
        if (!record(Step(library, [&] {
                ComPtr<ITypeInfo> info;
                return Plumbing(main->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
            })))
            return;
        if (!record(Step(library, [&] {
                ComPtr<IProvideClassInfo> provider;
                ComPtr<ITypeInfo> info;
                HRESULT hr = main.As(&provider);
                return Plumbing(SUCCEEDED(hr) ? provider->GetClassInfo(&info) : hr);
            })))
            return;
        if (!record(Step(library, [&] {
                Outcome out = ThroughDispatch(main.Get(), MemberNamed(members, L"GetProStdProperties"), Path::Invoke, {});
                app = AppOf(main.Get());
                return out;
            })))
            return;
        if (!record(Step(library, [&] {
                if (!app) return Plumbing(E_POINTER, L"no application-properties object");
                return ThroughDispatch(app.Get(), MemberNamed(appMembers, L"Title"), Path::Invoke, {});
            })))
            return;
        record(Step(library, [&] {
            const HRESULT hr = TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms);
            return Plumbing(hr, FAILED(hr) ? ErrorInfoText() : L"");
        }));
    };
}

// Unloads the component (everything of it released) and says whether it is gone.
bool Unloaded() {
    CoFreeUnusedLibrariesEx(0, 0);
    return GetModuleHandleW(ComponentPath().c_str()) == nullptr;
}

} // namespace

TEST_F(OutOfMemory, FirstUseOfTheModule) {
    const std::vector<MemberInfo> members = MembersOf(main_.Get()), appMembers = MembersOf(AppOf(main_.Get()).Get());
    main_.Reset();
    ASSERT_TRUE(Unloaded()) << "the component stays loaded with nothing of it alive";
    Tally &tally = g_tallies["fresh module"];

    // Loads the component afresh, runs `body`, releases everything and unloads it again; what is
    // left of the component's heap blocks after that.
    auto loaded = [&](const std::function<void()> &body) -> long {
        HMODULE module = LoadLibraryW(ComponentPath().c_str());
        EXPECT_TRUE(module);
        EXPECT_TRUE(faults::Attach());
        ThrowOnce();
        body();
        library_.Clear();
        const CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        EXPECT_EQ(S_OK, canUnloadNow ? canUnloadNow() : E_FAIL) << "objects of the component are still alive";
        FreeLibrary(module);
        EXPECT_TRUE(Unloaded()) << "the component could not be unloaded";
        return faults::LiveBlocks();
    };
    auto once = [&](long n) {
        g_case = "fresh module, allocation " + std::to_string(n);
        SCOPED_TRACE(g_case);
        atoms_.Add();
        std::vector<Outcome> normal;
        const long left = loaded([&] { normal = RunAll(FirstUseOfModule(library_, members, appMembers, atoms_.localAtom)); });
        const long leftAfterFailure = loaded([&] {
            RunFailing(FirstUseOfModule(library_, members, appMembers, atoms_.localAtom), normal, n);
            tally.Count();
            EXPECT_EQ(normal, RunAll(FirstUseOfModule(library_, members, appMembers, atoms_.localAtom))) << "the same calls made again";
        });
        EXPECT_EQ(left, leftAfterFailure) << "heap blocks of the component left behind";
        atoms_.Remove();
    };

    const long sample = EnvCount({L"ATOMTABLES_OOM_FRESH_SAMPLE"}, 0);
    if (!Selected("fresh module")) {
    } else if (sample <= 0) {
        faults::Sweep(once, EnvCount({L"ATOMTABLES_OOM_FIRST"}, 1));
    } else {
        // A fixed, seeded sample: the allocations of one run counted, then k of them failed.
        long total = 0;
        loaded([&] {
            faults::Arm(LONG_MAX);
            RunAll(FirstUseOfModule(library_, members, appMembers, atoms_.localAtom));
            total = faults::Counted();
            faults::Disarm();
        });
        std::mt19937 random(20261215);
        std::set<long> chosen{1, total};
        while (static_cast<long>(chosen.size()) < std::min(sample, total)) chosen.insert(1 + static_cast<long>(random() % total));
        for (long n : chosen) once(n);
        std::printf("out-of-memory: fresh module: a seeded sample of %zu of %ld allocations\n", chosen.size(), total);
    }
    main_ = Create(kMain);
}

namespace {

class Figures : public ::testing::Environment {
public:
    void TearDown() override {
        long cases = 0;
        std::set<unsigned long long> sites;
        for (const auto &[family, tally] : g_tallies) {
            std::printf("out-of-memory: %s: %ld cases, %zu allocation sites\n", family.c_str(), tally.cases,
                        tally.sites.size());
            cases += tally.cases;
            sites.insert(tally.sites.begin(), tally.sites.end());
        }
        std::printf("out-of-memory: in all %ld cases, %zu allocation sites\n", cases, sites.size());
    }
};
const auto *const kFigures = ::testing::AddGlobalTestEnvironment(new Figures);

} // namespace
