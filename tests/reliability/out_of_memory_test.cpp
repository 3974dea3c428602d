// Out of memory at every allocation the component makes, one at a time (support/allocation_faults.h):
// every member of every class and of the runtime's application-properties and error objects through
// the vtable, Invoke by identifier, and GetIDsOfNames then Invoke (the atom members also with a
// statement that fails, so that the report path is swept too); creation through each class factory;
// the first use on a fresh thread; and the first use of the module, loaded afresh for every case.
// Each case runs without failures, with its nth allocation failing, and again without: the failing
// run must answer as without the failure until the step that met it, which answers runtime error 7
// (through Invoke inside DISP_E_EXCEPTION), E_OUTOFMEMORY from plumbing, or reports error 7 to the
// common library; the run after must answer exactly as the first; and the component's heap blocks,
// the client's object and DllCanUnloadNow must come back. It prints cases and sites per family.
//
// ATOMTABLES_OOM_ONLY=text: only the cases so named; ATOMTABLES_OOM_FIRST=n: sweeps start at n.
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>

#include "AtomTables10.h"
#include "harness.h"
#include "support/allocation_faults.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace reliability;
using namespace testing_support;

namespace {

const wchar_t *const kMain = L"AtomTables10.clsQxAtomTables10A";

std::string g_case; // told if the process is taken down
void TellCase(int) { std::fprintf(stderr, "\nout-of-memory: the process ended during %s\n", g_case.c_str()); }

bool Selected(const std::string &name) {
    char only[256];
    const DWORD n = GetEnvironmentVariableA("ATOMTABLES_OOM_ONLY", only, sizeof only);
    return n == 0 || n >= sizeof only || name.find(only) != std::string::npos;
}

// What a caller sees of one call, and the error numbers of the reports the library received.
struct Outcome {
    HRESULT status = E_UNEXPECTED; // for Invoke the scode of DISP_E_EXCEPTION
    bool exception = false, plumbing = false;
    std::wstring description, text; // the result and the caller's variables
    std::vector<long> reports;
    size_t libraryCalls = 0;
    bool operator==(const Outcome &) const = default;
};
void PrintTo(const Outcome &o, std::ostream *out) {
    std::wstring text = o.text.substr(0, 60);
    std::erase_if(text, [](wchar_t c) { return c < L' '; });
    *out << Hex(static_cast<unsigned long>(o.status)) << (o.exception ? " (exception) \"" : " \"") << Narrow(o.description)
         << "\" " << Narrow(text) << ", library calls " << o.libraryCalls << ", reports";
    for (long n : o.reports) *out << " " << n;
}

std::wstring TextOf(const VARIANT &value) {
    if (V_VT(&value) == VT_DISPATCH || V_VT(&value) == VT_UNKNOWN) return V_UNKNOWN(&value) ? L"<object>" : L"<nothing>";
    if (V_VT(&value) & VT_ARRAY) return L"<array>";
    Variant text;
    VariantChangeType(text.Get(), const_cast<VARIANT *>(&value), 0, VT_BSTR);
    return std::to_wstring(V_VT(&value)) + L":" + (text.Type() == VT_BSTR ? Text(V_BSTR(text.Get())) : L"?");
}

Outcome Plumbing(HRESULT hr) {
    Outcome out;
    out.status = hr;
    out.plumbing = true;
    ComPtr<IErrorInfo> info;
    Bstr description;
    if (FAILED(hr) && GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(description.Receive());
    out.description = description.View();
    return out;
}

// The member through the vtable as an early-bound client calls it (by-reference parameters are
// variables of their types, an omitted optional one a null pointer).
Outcome ThroughVtable(IDispatch *object, const MemberInfo &m, const std::vector<VARIANT> &values) {
    const size_t params = m.params.size(), total = params + (m.result != VT_EMPTY);
    std::vector<Variant> store(total);
    std::vector<VARIANTARG> args(total);
    std::vector<VARTYPE> types(total);
    std::vector<VARIANTARG *> pointers(total);
    for (size_t p = 0; p < total; ++p) {
        VARIANT &slot = *store[p].Get();
        const bool result = p == params, omitted = !result && p >= values.size();
        const VARTYPE type = result ? m.result : m.params[p].type;
        if (result) {
            std::memset(&slot, 0, sizeof slot);
            V_VT(&slot) = type == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : type;
        } else if (!omitted) {
            VARIANT *value = const_cast<VARIANT *>(&values[p]);
            EXPECT_EQ(S_OK, type == VT_VARIANT ? VariantCopy(&slot, value) : VariantChangeType(&slot, value, 0, type));
        }
        if (!result && !m.params[p].byRef) {
            args[p] = slot;
        } else {
            V_VT(&args[p]) = static_cast<VARTYPE>(VT_BYREF | type);
            V_BYREF(&args[p]) = omitted ? nullptr : type == VT_VARIANT ? static_cast<void *>(&slot) : &V_I2(&slot);
        }
        types[p] = V_VT(&args[p]);
        pointers[p] = &args[p];
    }
    VARIANT returned;
    VariantInit(&returned);
    const HRESULT hr = DispCallFunc(object, m.vtableOffset, CC_STDCALL, VT_ERROR, static_cast<UINT>(total),
                                    types.data(), pointers.data(), &returned);
    Outcome out = Plumbing(SUCCEEDED(hr) ? V_ERROR(&returned) : hr);
    out.plumbing = false;
    for (Variant &value : store) out.text += TextOf(*value.Get()) + L"|";
    return out;
}

enum class Path { Vtable, Invoke, Names };

// The member late bound as a script calls it: variables by reference, objects by value.
Outcome ThroughDispatch(IDispatch *object, const MemberInfo &m, Path path, const std::vector<VARIANT> &values) {
    DISPID id = m.id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(m.name.c_str())};
    if (path == Path::Names) {
        const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) return Plumbing(hr);
    }
    const bool assigning = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    std::vector<Variant> variables(values.size());
    std::vector<VARIANT> args;
    for (size_t p = 0; p < values.size(); ++p) {
        if (assigning || V_VT(&values[p]) == VT_DISPATCH) {
            args.push_back(values[p]);
            continue;
        }
        VariantCopy(variables[p].Get(), const_cast<VARIANT *>(&values[p]));
        args.push_back(Ref(variables[p].Get()));
    }
    const WORD flags = m.kind == INVOKE_FUNC ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : static_cast<WORD>(m.kind);
    Call call = Invoke(object, id, flags, args, assigning ? std::vector<DISPID>{DISPID_PROPERTYPUT} : std::vector<DISPID>{});
    Outcome out;
    out.exception = call.hr == DISP_E_EXCEPTION;
    out.status = out.exception ? call.scode : call.hr;
    out.description = call.description;
    out.text = TextOf(*call.result.Get()) + L"|";
    for (Variant &value : variables) out.text += TextOf(*value.Get()) + L"|";
    return out;
}

// A run of a case: its steps, each a call whose outcome (with what the library received,
// read with nothing failing) goes to `record`, which says whether to go on.
struct Steps {
    RecordingLibrary &library;
    const std::function<bool(const Outcome &)> &record;
    bool Do(const std::function<Outcome()> &call) {
        library.Clear();
        Outcome out = call();
        const faults::Paused paused;
        out.libraryCalls = library.Calls().size();
        for (const RecordedCall &report : library.CallsTo(L"ErrorHandlerMessageQx")) {
            Variant number;
            DISPPARAMS none{};
            IDispatch *error = report.args.at(1).object.Get();
            error->Invoke(IdOf(error, L"Number"), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, number.Get(), nullptr, nullptr);
            out.reports.push_back(number.Type() == VT_I4 ? V_I4(number.Get()) : 0);
        }
        library.Clear();
        SetErrorInfo(0, nullptr);
        return record(out);
    }
};
using Case = std::function<void(Steps &)>;

std::vector<Outcome> RunAll(RecordingLibrary &library, const Case &steps) {
    std::vector<Outcome> all;
    const std::function<bool(const Outcome &)> record = [&](const Outcome &o) { return all.push_back(o), true; };
    Steps run{library, record};
    steps(run);
    return all;
}

// With the nth allocation failing: every step answers as without until one meets the failure, which
// answers out of memory (or, with only the failure's error information missing, as without); the
// case ends there.
void RunFailing(RecordingLibrary &library, const Case &steps, const std::vector<Outcome> &normal, long n) {
    std::vector<Outcome> seen;
    const std::function<bool(const Outcome &)> record = [&](const Outcome &o) {
        seen.push_back(o);
        return seen.size() <= normal.size() && o == normal[seen.size() - 1];
    };
    Steps run{library, record};
    faults::Arm(n);
    steps(run);
    faults::Disarm();
    if (!faults::Fired()) {
        EXPECT_EQ(normal, seen) << "no failure was injected";
        return;
    }
    ASSERT_LE(seen.size(), normal.size());
    Outcome a = seen.back(), b = normal[seen.size() - 1];
    if (a.status == kOutOfMemory) {
        EXPECT_EQ(L"Out of memory", a.description) << testing::PrintToString(a);
        return;
    }
    if (a.plumbing && a.status == E_OUTOFMEMORY) return;
    auto sevens = [](const Outcome &o) { return std::count(o.reports.begin(), o.reports.end(), 7L); };
    if (a.status == b.status && sevens(a) > sevens(b)) return; // trapped and reported
    a.description = b.description;
    EXPECT_EQ(b, a) << "out of memory answered otherwise";
}

std::map<std::string, std::pair<long, std::set<unsigned long long>>> g_tallies; // cases and sites per family
void Count(const std::string &family) {
    if (!faults::Fired()) return;
    ++g_tallies[family].first;
    g_tallies[family].second.insert(faults::FiredSite());
}

// The first exception a module throws on a thread sets up the C++ runtime's own state there (kept
// until the thread ends): thrown once beforehand, so that what a case leaves is the component's.
void ThrowOnce() {
    faults::Arm(1);
    ComPtr<IDispatch> object;
    EXPECT_EQ(E_OUTOFMEMORY, TryCreate(kMain, object));
    faults::Disarm();
}

// The names and atoms the atom members get, each added three times (for a case's three runs).
struct Atoms {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    Bstr local{L"OutOfMemory.Local." + tag}, global{L"OutOfMemory.Global." + tag};
    Bstr foreign{L"OutOfMemory.\u4e2d." + tag}, tooLong{std::wstring(300, L'x')}, typelib{L"TYPELIB"};
    short localAtom = 0, globalAtom = 0;
    void Add() {
        for (int i = 0; i < 3; ++i) {
            localAtom = static_cast<short>(AddAtomW(local.Get()));
            globalAtom = static_cast<short>(GlobalAddAtomW(global.Get()));
        }
    }
    void Remove() { // (the name outside the code page reaches the table with a substitute)
        for (const std::wstring &name : {std::wstring(local.View()), std::wstring(foreign.View()), L"OutOfMemory.?." + tag})
            while (ATOM atom = FindAtomW(name.c_str())) DeleteAtom(atom);
        while (ATOM atom = GlobalFindAtomW(global.Get())) GlobalDeleteAtom(atom);
    }
};

// The arguments of the members with parameters (every one needs a row): numbers, or these.
enum : long { kAtom = 1L << 20, kGlobalAtom, kName, kGlobalName, kForeign, kTooLong, kTypeLib, kBuddy };
struct Arguments {
    const wchar_t *member;
    const char *label;
    std::vector<long> values;
};
const Arguments kArguments[] = {
    {L"GetProResStrings", "a string", {101}},
    {L"GetProResPicture", "a picture that is not there", {1, 0}},
    {L"GetProResData", "the type library's bytes", {1, kTypeLib}},
    {L"BuddyObjectGlobal", "an object", {kBuddy}},
    {L"InitAtomTableAmts", "size 37", {37}},
    {L"AddAtomAmts", "a name", {kName}},
    {L"AddAtomAmts", "a name outside the code page", {kForeign}},
    {L"AddAtomAmts", "a name too long (its box fails: reported)", {kTooLong}},
    {L"DeleteAtomAmts", "an atom", {kAtom}},
    {L"FindAtomAmts", "a name", {kName}},
    {L"GetAtomNameAmts", "an atom", {kAtom}},
    {L"GetAtomNameAmts", "size and count", {kAtom, 5, 0}},
    {L"GetAtomNameAmts", "size 32767 (an overflow: reported)", {kAtom, 32767}},
    {L"GlobalAddAtomAmts", "a name", {kGlobalName}},
    {L"GlobalDeleteAtomAmts", "an atom", {kGlobalAtom}},
    {L"GlobalFindAtomAmts", "a name", {kGlobalName}},
    {L"GlobalGetAtomNameAmts", "size 32767 (an overflow: reported)", {kGlobalAtom, 32767}},
};

std::vector<VARIANT> Values(const std::vector<long> &given, Atoms &a, IDispatch *buddy) {
    std::vector<VARIANT> values;
    for (long v : given) {
        switch (v) {
        case kAtom: values.push_back(I2(a.localAtom)); break;
        case kGlobalAtom: values.push_back(I2(a.globalAtom)); break;
        case kName: values.push_back(Str(a.local.Get())); break;
        case kGlobalName: values.push_back(Str(a.global.Get())); break;
        case kForeign: values.push_back(Str(a.foreign.Get())); break;
        case kTooLong: values.push_back(Str(a.tooLong.Get())); break;
        case kTypeLib: values.push_back(Str(a.typelib.Get())); break;
        case kBuddy: values.push_back(Obj(buddy)); break;
        default: values.push_back(I4(v)); break;
        }
    }
    return values;
}

const MemberInfo &Member(const std::vector<MemberInfo> &members, const wchar_t *name, int kind = 0) {
    for (const MemberInfo &m : members)
        if (m.name == name && (!kind || m.kind == kind)) return m;
    throw std::runtime_error("no member " + Narrow(name));
}

ComPtr<IDispatch> AppOf(IDispatch *main) {
    Variant result;
    DISPPARAMS none{};
    main->Invoke(0x68030004, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Get(), nullptr, nullptr);
    return result.Type() == VT_DISPATCH ? ComPtr<IDispatch>(V_DISPATCH(result.Get())) : nullptr;
}

bool Unloaded() {
    CoFreeUnusedLibrariesEx(0, 0);
    return GetModuleHandleW(ComponentPath().c_str()) == nullptr;
}

class OutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGABRT, TellCase);
        library_.FailWhen(&faults::FailNow);
        ASSERT_EQ(S_OK, TryCreate(kMain, main_)) << "the component is not registered";
        members_ = MembersOf(main_.Get());
        appMembers_ = MembersOf(AppOf(main_.Get()).Get());
        ASSERT_TRUE(faults::Attach()) << "the component's imports cannot be redirected";
        ThrowOnce();
        // A report, so that what every report needs once per process is there (the error object's
        // description, the thread's application-properties object).
        atoms_.Add();
        ComPtr<_clsQxAtomTables10A> tables;
        ASSERT_EQ(S_OK, main_.As(&tables));
        short size = 32767;
        Bstr name;
        ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&atoms_.localAtom, &size, nullptr, name.Receive()));
        ASSERT_EQ(1u, library_.Calls().size());
        error_ = library_.Calls()[0].args.at(1).object;
        library_.Clear();
        atoms_.Remove();
    }
    void TearDown() override {
        atoms_.Remove();
        main_.Reset();
        error_.Reset();
        library_.Clear();
        EXPECT_EQ(0, buddy_.Held()) << "the client's object is still referenced";
        const CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        EXPECT_EQ(S_OK, canUnloadNow ? canUnloadNow() : S_OK) << "objects of the component are still alive";
    }

    // `runs(body)` gives a case's runs their place (this thread, a fresh one, a fresh module) and
    // says how many of the component's heap blocks are left after them.
    using Runs = std::function<long(const std::function<void(RecordingLibrary &)> &)>;

    // One case with its nth allocation failing.
    void Once(const std::string &family, const std::string &name, const Case &steps, const Runs &runs, long n) {
        g_case = family + ": " + name + ", allocation " + std::to_string(n);
        SCOPED_TRACE(g_case);
        atoms_.Add();
        std::vector<Outcome> normal;
        const long left = runs([&](RecordingLibrary &library) { normal = RunAll(library, steps); });
        const long leftAfter = runs([&](RecordingLibrary &library) {
            RunFailing(library, steps, normal, n);
            Count(family);
            EXPECT_EQ(normal, RunAll(library, steps)) << "the same calls made again";
        });
        EXPECT_EQ(left, leftAfter) << "heap blocks of the component left behind";
        EXPECT_EQ(0, buddy_.Held()) << "the client's object is still referenced";
        atoms_.Remove();
    }
    void Sweep(const std::string &family, const std::string &name, const Case &steps, const Runs &runs) {
        if (!Selected(family + ": " + name)) return;
        faults::Sweep([&](long n) { Once(family, name, steps, runs, n); }, EnvCount({L"ATOMTABLES_OOM_FIRST"}, 1));
    }
    // Runs on this thread, with the fixture's library and instance (so the thread's context stays).
    long Here(const std::function<void(RecordingLibrary &)> &body) {
        body(library_);
        const long left = faults::LiveBlocks();
        EmptyTheSlot();
        return left;
    }
    void EmptyTheSlot() {
        ComPtr<_clsQxAtomTables10A> tables;
        if (SUCCEEDED(main_.As(&tables))) tables->putref_BuddyObjectGlobal(nullptr);
    }

    void SweepMembers(IDispatch *object, const std::wstring &className) {
        for (const MemberInfo &m : MembersOf(object)) {
            std::vector<const Arguments *> rows;
            static const Arguments kNone{nullptr, "no arguments", {}};
            for (const Arguments &row : kArguments)
                if (m.name == row.member && row.values.size() <= m.params.size() && !row.values.empty()) rows.push_back(&row);
            if (rows.empty() && (m.params.empty() || m.params[0].optional)) rows.push_back(&kNone);
            if (rows.empty()) ADD_FAILURE() << "no arguments for " << Narrow(className + L"." + m.name) << " in the table";
            for (const Arguments *row : rows) {
                for (Path path : {Path::Vtable, Path::Invoke, Path::Names}) {
                    const char *const kPaths[] = {"vtable", "Invoke", "GetIDsOfNames+Invoke"};
                    Sweep("members", Narrow(className + L"." + m.name) + " (" + row->label + ") " + kPaths[int(path)],
                          [&](Steps &run) {
                              run.Do([&] {
                                  const std::vector<VARIANT> values = Values(row->values, atoms_, buddy_.Dispatch());
                                  return path == Path::Vtable ? ThroughVtable(object, m, values)
                                                              : ThroughDispatch(object, m, path, values);
                              });
                          },
                          [&](const auto &body) { return Here(body); });
                }
            }
        }
    }

    RecordingLibrary library_;
    ComPtr<IDispatch> main_, error_;
    std::vector<MemberInfo> members_, appMembers_;
    CountedObject buddy_;
    Atoms atoms_;
};

} // namespace

TEST_F(OutOfMemory, EveryMemberOnEveryPath) {
    for (const ClassInfo &c : ReadClasses()) {
        if (!c.creatable || c.progId.empty()) continue;
        const ComPtr<IDispatch> object = c.progId == kMain ? main_ : Create(c.progId.c_str());
        SweepMembers(object.Get(), c.name);
    }
    SweepMembers(AppOf(main_.Get()).Get(), L"App");
    SweepMembers(error_.Get(), L"ErrObject");
}

TEST_F(OutOfMemory, CreationThroughTheClassFactory) {
    for (const ClassInfo &c : ReadClasses()) {
        if (!c.creatable || c.progId.empty()) continue;
        Sweep("creation", Narrow(c.name), [&](Steps &run) {
            run.Do([&] {
                ComPtr<IDispatch> object;
                return Plumbing(TryCreate(c.progId.c_str(), object));
            });
        }, [&](const auto &body) { return Here(body); });
    }
}

TEST_F(OutOfMemory, FirstUseOnAFreshThread) {
    const auto onThread = [&](const std::function<void(RecordingLibrary &)> &body) {
        OnOtherThread([&] {
            RecordingLibrary library;
            library.FailWhen(&faults::FailNow);
            body(library);
            library.Clear();
        });
        return faults::LiveBlocks();
    };
    OnOtherThread([] { ThrowOnce(); }); // (the threading runtime keeps the record of a thread that threw)
    // The thread's first instance, then a name read that reports (the module's variables, the
    // thread's application-properties object) through the vtable and Invoke.
    Sweep("fresh thread", "a read that reports", [&](Steps &run) {
        ComPtr<IDispatch> main;
        const MemberInfo &read = Member(members_, L"GetAtomNameAmts");
        const std::vector<VARIANT> args{I2(atoms_.localAtom), I2(32767)};
        run.Do([&] { return Plumbing(TryCreate(kMain, main)); }) && run.Do([&] { return ThroughVtable(main.Get(), read, args); }) &&
            run.Do([&] { return ThroughDispatch(main.Get(), read, Path::Invoke, args); });
    }, onThread);
    // The atom-collection class first (its initializer calls the library), then the buddy slot.
    Sweep("fresh thread", "the atom-collection class, then the buddy slot", [&](Steps &run) {
        ComPtr<IDispatch> atoms, main;
        run.Do([&] { return Plumbing(TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms)); }) &&
            run.Do([&] { return Plumbing(TryCreate(kMain, main)); }) &&
            run.Do([&] { return ThroughVtable(main.Get(), Member(members_, L"BuddyObjectGlobal", INVOKE_PROPERTYPUTREF), {Obj(buddy_.Dispatch())}); }) &&
            run.Do([&] { return ThroughVtable(main.Get(), Member(members_, L"BuddyObjectGlobal", INVOKE_PROPERTYGET), {}); });
    }, onThread);
}

TEST_F(OutOfMemory, FirstUseOfTheModule) {
    main_.Reset();
    error_.Reset();
    ASSERT_TRUE(Unloaded()) << "the component stays loaded with nothing of it alive";
    // Loads the component afresh and unloads it after the runs; what is left of its heap blocks.
    const auto loaded = [&](const std::function<void(RecordingLibrary &)> &body) {
        HMODULE module = LoadLibraryW(ComponentPath().c_str());
        EXPECT_TRUE(module && faults::Attach());
        ThrowOnce();
        body(library_);
        library_.Clear();
        const CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        EXPECT_EQ(S_OK, canUnloadNow ? canUnloadNow() : E_FAIL) << "objects of the component are still alive";
        FreeLibrary(module);
        EXPECT_TRUE(Unloaded()) << "the component could not be unloaded";
        return faults::LiveBlocks();
    };
    // Created, its names asked for first, a read that reports (the first error object, whose names
    // the library asks for), the vtable, the type information, the application-properties object
    // through Invoke first, the atom-collection class.
    const Case steps = [&](Steps &run) {
        ComPtr<IDispatch> main, app, atoms;
        ComPtr<IProvideClassInfo> provider;
        ComPtr<ITypeInfo> info;
        const MemberInfo &read = Member(members_, L"GetAtomNameAmts");
        const std::vector<VARIANT> args{I2(atoms_.localAtom), I2(32767)};
        run.Do([&] { return Plumbing(TryCreate(kMain, main)); }) &&
            run.Do([&] { return ThroughDispatch(main.Get(), read, Path::Names, args); }) &&
            run.Do([&] { return ThroughVtable(main.Get(), read, args); }) &&
            run.Do([&] { return Plumbing(main->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)); }) &&
            run.Do([&] { return Plumbing(FAILED(main.As(&provider)) ? E_NOINTERFACE : provider->GetClassInfo(&info)); }) &&
            run.Do([&] {
                Outcome out = ThroughDispatch(main.Get(), Member(members_, L"GetProStdProperties"), Path::Invoke, {});
                app = AppOf(main.Get());
                return out;
            }) &&
            run.Do([&] { return app ? ThroughDispatch(app.Get(), Member(appMembers_, L"Title"), Path::Invoke, {}) : Plumbing(E_POINTER); }) &&
            run.Do([&] { return Plumbing(TryCreate(L"AtomTables10.clsQxAmtsAtomsA", atoms)); });
    };
    Sweep("fresh module", "created and called", steps, loaded);
    main_ = Create(kMain);
}

namespace {
class Figures : public ::testing::Environment {
    void TearDown() override {
        long cases = 0;
        std::set<unsigned long long> sites;
        for (const auto &[family, tally] : g_tallies) {
            std::printf("out-of-memory: %s: %ld cases, %zu allocation sites\n", family.c_str(), tally.first, tally.second.size());
            cases += tally.first;
            sites.insert(tally.second.begin(), tally.second.end());
        }
        std::printf("out-of-memory: in all %ld cases, %zu allocation sites\n", cases, sites.size());
    }
};
const auto *const kFigures = ::testing::AddGlobalTestEnvironment(new Figures);
} // namespace
