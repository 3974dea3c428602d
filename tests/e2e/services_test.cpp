// The project services of clsQxAtomTables10A through the registered component: its own strings,
// pictures and custom data, its version block and application-properties object, the per-thread
// buddy slot, and About with the common library (recorded, missing, failing, and the real one).
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "AtomTables10.h"
#include "support/client.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

// What a caller sees of one property read or method call, whichever the binding.
struct Outcome {
    HRESULT invoked = S_OK;        // what IDispatch::Invoke returned (late binding)
    HRESULT status = E_UNEXPECTED; // the member's status (the scode of a dispatch exception)
    std::wstring description;      // the error's description when it failed
    Variant result;
};

Outcome FromCall(Call &call) {
    Outcome outcome;
    outcome.invoked = call.hr;
    outcome.status = call.hr == DISP_E_EXCEPTION ? call.scode : call.hr;
    outcome.description = call.description;
    std::swap(*outcome.result.Get(), *call.result.Get());
    return outcome;
}

// The early-bound form leaves its error information on the thread.
Outcome FromVtable(HRESULT hr) {
    Outcome outcome;
    outcome.status = hr;
    if (FAILED(hr)) outcome.description = ErrorInfoDescription();
    return outcome;
}

// A member's failure as its caller sees it: the code, with a description; late-bound callers get
// it as a dispatch exception.
void ExpectFailure(HRESULT code, const Outcome &outcome) {
    EXPECT_EQ(code, outcome.status);
    if (FAILED(outcome.invoked)) {
        EXPECT_EQ(DISP_E_EXCEPTION, outcome.invoked);
    }
    EXPECT_FALSE(outcome.description.empty());
}

Outcome ResString(MainClass &main, long id) {
    long given = id;
    if (main.binding() == Binding::Late) {
        Call call = Invoke(main.Dispatch(), L"GetProResStrings", DISPATCH_PROPERTYGET, {Ref(&given)});
        EXPECT_EQ(id, given) << "the identifier is not written back";
        return FromCall(call);
    }
    Bstr text;
    Outcome outcome = FromVtable(main.Vtable()->get_GetProResStrings(&given, text.Receive()));
    EXPECT_EQ(id, given);
    if (text.Allocated()) {
        V_VT(outcome.result.Get()) = VT_BSTR;
        V_BSTR(outcome.result.Get()) = text.Detach();
    }
    return outcome;
}

Outcome ResPicture(MainClass &main, long id, long kind) {
    if (main.binding() == Binding::Late) {
        Call call = Invoke(main.Dispatch(), L"GetProResPicture", DISPATCH_PROPERTYGET, {I4(id), I4(kind)});
        return FromCall(call);
    }
    LoadResConstants type = static_cast<LoadResConstants>(kind);
    ComPtr<IPictureDisp> picture;
    Outcome outcome = FromVtable(main.Vtable()->get_GetProResPicture(&id, &type, &picture));
    EXPECT_FALSE(picture) << "no picture on failure";
    return outcome;
}

Outcome ResData(MainClass &main, long id, VARIANT &type) {
    if (main.binding() == Binding::Late) {
        Call call = Invoke(main.Dispatch(), L"GetProResData", DISPATCH_PROPERTYGET, {I4(id), Ref(&type)});
        return FromCall(call);
    }
    Outcome outcome;
    outcome.status = main.Vtable()->get_GetProResData(&id, &type, outcome.result.Receive());
    if (FAILED(outcome.status)) outcome.description = ErrorInfoDescription();
    return outcome;
}

Outcome StdProperties(MainClass &main) {
    if (main.binding() == Binding::Late) {
        Call call = Invoke(main.Dispatch(), L"GetProStdProperties", DISPATCH_PROPERTYGET);
        return FromCall(call);
    }
    Outcome outcome;
    IDispatch *app = nullptr;
    outcome.status = main.Vtable()->get_GetProStdProperties(&app);
    V_VT(outcome.result.Get()) = VT_DISPATCH;
    V_DISPATCH(outcome.result.Get()) = app;
    return outcome;
}

ComPtr<IDispatch> AppObject(MainClass &main) {
    Outcome outcome = StdProperties(main);
    EXPECT_EQ(S_OK, outcome.status);
    ComPtr<IDispatch> app;
    if (outcome.result.Type() == VT_DISPATCH) app = V_DISPATCH(outcome.result.Get());
    EXPECT_TRUE(app);
    return app;
}

Outcome About(MainClass &main) {
    if (main.binding() == Binding::Late) {
        Call call = Method(main.Dispatch(), L"About");
        return FromCall(call);
    }
    LONG result = -1;
    Outcome outcome = FromVtable(main.Vtable()->About(&result));
    V_VT(outcome.result.Get()) = VT_I4;
    V_I4(outcome.result.Get()) = result;
    return outcome;
}

// A property of an automation object, read late-bound.
Variant Property(IDispatch *object, const wchar_t *name) {
    Call call = Invoke(object, name, DISPATCH_PROPERTYGET);
    EXPECT_EQ(S_OK, call.hr) << std::string(name, name + wcslen(name));
    Variant value;
    std::swap(*value.Get(), *call.result.Get());
    return value;
}

// The component's version block as any program reads it from the file.
class VersionBlock {
public:
    VersionBlock() {
        const std::wstring path = ComponentPath();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        if (size == 0) return;
        data_.resize(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool Loaded() const { return !data_.empty(); }
    std::optional<std::wstring> String(const std::wstring &key) const {
        void *value = nullptr;
        UINT length = 0;
        const std::wstring path = L"\\StringFileInfo\\040904B0\\" + key;
        if (!VerQueryValueW(data_.data(), path.c_str(), &value, &length)) return std::nullopt;
        if (!value || length == 0) return std::wstring();
        return std::wstring(static_cast<const wchar_t *>(value)); // up to its terminator
    }
    const VS_FIXEDFILEINFO *Fixed() const {
        void *value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return nullptr;
        return static_cast<const VS_FIXEDFILEINFO *>(value);
    }
    std::vector<WORD> Translations() const {
        void *value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &value, &length)) return {};
        const WORD *words = static_cast<const WORD *>(value);
        return std::vector<WORD>(words, words + length / sizeof(WORD));
    }

private:
    std::vector<BYTE> data_;
};

// A resource of the component's file, read by the test itself.
std::vector<BYTE> FileResource(LPCWSTR type, LPCWSTR name) {
    HMODULE module = LoadLibraryExW(ComponentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<BYTE> bytes;
    if (!module) return bytes;
    if (HRSRC found = FindResourceW(module, name, type)) {
        HGLOBAL loaded = LoadResource(module, found);
        const BYTE *data = loaded ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
        if (data) bytes.assign(data, data + SizeofResource(module, found));
    }
    FreeLibrary(module);
    return bytes;
}

std::vector<BYTE> Bytes(const Variant &value) {
    std::vector<BYTE> bytes;
    if (value.Type() != (VT_ARRAY | VT_UI1)) return bytes;
    SAFEARRAY *array = V_ARRAY(value.Get());
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    rt::SafeArrayAccess access(array);
    if (!access.Data() || upper < lower) return bytes;
    const BYTE *data = static_cast<const BYTE *>(access.Data());
    return std::vector<BYTE>(data, data + (upper - lower + 1));
}

ComPtr<IDispatch> ReadBuddy(MainClass &main) {
    ComPtr<IDispatch> buddy;
    if (main.binding() == Binding::Late) {
        Call call = Invoke(main.Dispatch(), dispid::kBuddy, DISPATCH_PROPERTYGET);
        EXPECT_EQ(S_OK, call.hr);
        EXPECT_EQ(VT_DISPATCH, call.result.Type());
        if (call.result.Type() == VT_DISPATCH) buddy = V_DISPATCH(call.result.Get());
    } else {
        EXPECT_EQ(S_OK, main.Vtable()->get_BuddyObjectGlobal(&buddy));
    }
    return buddy;
}

HRESULT ParkBuddy(MainClass &main, IDispatch *object) {
    if (main.binding() == Binding::Early) return main.Vtable()->putref_BuddyObjectGlobal(object);
    // As VBScript's Set o.BuddyObjectGlobal = x.
    return Invoke(main.Dispatch(), dispid::kBuddy, DISPATCH_PROPERTYPUTREF, {Obj(object)}, {DISPID_PROPERTYPUT}).hr;
}

class Services : public ::testing::TestWithParam<Binding> {
protected:
    void SetUp() override { ASSERT_TRUE(main.Dispatch()); }
    MainClass main{GetParam()};
};

} // namespace

// --- Strings, pictures and custom data ---------------------------------------------------------

TEST_P(Services, StringTableHoldsExactly101To122) {
    for (long id = 101; id <= 120; ++id) {
        Outcome text = ResString(main, id);
        EXPECT_EQ(S_OK, text.status) << id;
        EXPECT_EQ(L"-", Text(text.result)) << id;
    }
    Outcome prompt = ResString(main, 121);
    EXPECT_EQ(S_OK, prompt.status);
    EXPECT_EQ(kLengthPrompt, Text(prompt.result));
    Outcome title = ResString(main, 122);
    EXPECT_EQ(S_OK, title.status);
    EXPECT_EQ(kLengthTitle, Text(title.result));
    EXPECT_EQ(19u, Text(title.result).size());

    RecordingLibrary library;
    for (long id : {100L, 123L, -1L, 70000L}) {
        SCOPED_TRACE(id);
        ExpectFailure(kResourceNotFound, ResString(main, id));
    }
    EXPECT_TRUE(library.Calls().empty()) << "accessor failures go to the caller, not to the library";
}

TEST_P(Services, PicturesFailTheCallerTheComponentHasNone) {
    RecordingLibrary library;
    // A kind beyond 16 bits overflows before anything is looked up.
    for (long kind : {40000L, -40000L}) {
        SCOPED_TRACE(kind);
        ExpectFailure(kOverflow, ResPicture(main, 101, kind));
    }
    for (long kind : {0L, 1L, 2L}) {
        for (long id : {1L, 101L, 121L}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", id " + std::to_string(id));
            ExpectFailure(kResourceNotFound, ResPicture(main, id, kind));
        }
    }
    ExpectFailure(kInvalidCall, ResPicture(main, 101, 7));
    EXPECT_TRUE(library.Calls().empty());
}

TEST_P(Services, CustomDataByNumericOrNamedType) {
    RecordingLibrary library;
    // The type library is a resource of type "TYPELIB": the name goes through as it is.
    const std::vector<BYTE> typelib = FileResource(L"TYPELIB", MAKEINTRESOURCEW(1));
    ASSERT_FALSE(typelib.empty());
    Variant named;
    V_VT(named.Get()) = VT_BSTR;
    V_BSTR(named.Get()) = SysAllocString(L"TYPELIB");
    Outcome data = ResData(main, 1, *named.Get());
    ASSERT_EQ(S_OK, data.status) << data.description.c_str();
    EXPECT_EQ(VT_ARRAY | VT_UI1, data.result.Type());
    EXPECT_EQ(typelib, Bytes(data.result));
    EXPECT_EQ(VT_BSTR, named.Type()) << "the type is not written back";
    EXPECT_EQ(L"TYPELIB", Text(V_BSTR(named.Get())));

    // The version block by its numeric type (16).
    const std::vector<BYTE> version = FileResource(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(version.empty());
    Variant numeric;
    V_VT(numeric.Get()) = VT_I2;
    V_I2(numeric.Get()) = 16;
    data = ResData(main, 1, *numeric.Get());
    ASSERT_EQ(S_OK, data.status);
    EXPECT_EQ(version, Bytes(data.result));

    // Missing: by a numeric type and by a type name.
    Variant rcdata;
    V_VT(rcdata.Get()) = VT_I4;
    V_I4(rcdata.Get()) = 10;
    ExpectFailure(kResourceNotFound, ResData(main, 999, *rcdata.Get()));
    Variant custom;
    V_VT(custom.Get()) = VT_BSTR;
    V_BSTR(custom.Get()) = SysAllocString(L"NOSUCHTYPE");
    ExpectFailure(kResourceNotFound, ResData(main, 1, *custom.Get()));
    ExpectFailure(kResourceNotFound, ResData(main, 999, *named.Get()));

    // A type that is not a number is refused as any number no type can be.
    Variant notANumber, huge;
    V_VT(notANumber.Get()) = VT_R8;
    V_R8(notANumber.Get()) = std::numeric_limits<double>::quiet_NaN();
    V_VT(huge.Get()) = VT_R8;
    V_R8(huge.Get()) = 1e20;
    const Outcome refusedHuge = ResData(main, 1, *huge.Get());
    EXPECT_TRUE(FAILED(refusedHuge.status));
    ExpectFailure(refusedHuge.status, ResData(main, 1, *notANumber.Get()));
    EXPECT_TRUE(library.Calls().empty());
}

// --- The version block and the application-properties object ----------------------------------

TEST(VersionBlockOfTheFile, HoldsTheComponentsDescription) {
    VersionBlock block;
    ASSERT_TRUE(block.Loaded());
    const std::vector<WORD> translations = block.Translations();
    ASSERT_EQ(2u, translations.size());
    EXPECT_EQ(0x0409, translations[0]);
    EXPECT_EQ(0x04B0, translations[1]);

    EXPECT_EQ(L"This library manages system local and global atom tables.", block.String(L"Comments").value_or(L"<none>"));
    const std::optional<std::wstring> selfRegister = block.String(L"OLESelfRegister");
    ASSERT_TRUE(selfRegister.has_value()) << "OLESelfRegister is present";
    EXPECT_EQ(L"", *selfRegister);
    for (const wchar_t *key : {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright", L"LegalTrademarks",
                               L"ProductName", L"ProductVersion", L"InternalName", L"OriginalFilename"}) {
        const std::optional<std::wstring> value = block.String(key);
        ASSERT_TRUE(value.has_value()) << std::string(key, key + wcslen(key));
        EXPECT_FALSE(value->empty()) << std::string(key, key + wcslen(key));
    }
    EXPECT_EQ(block.String(L"FileVersion"), block.String(L"ProductVersion"));
    const VS_FIXEDFILEINFO *fixed = block.Fixed();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(static_cast<DWORD>(VS_FFI_SIGNATURE), fixed->dwSignature);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
}

TEST_P(Services, ApplicationObjectDescribesTheComponent) {
    VersionBlock block;
    ASSERT_TRUE(block.Loaded());
    ComPtr<IDispatch> app = AppObject(main);
    ASSERT_TRUE(app);
    for (const wchar_t *key :
         {L"Comments", L"CompanyName", L"FileDescription", L"LegalCopyright", L"LegalTrademarks", L"ProductName"}) {
        EXPECT_EQ(block.String(key).value_or(L"<none>"), Text(Property(app.Get(), key)))
            << std::string(key, key + wcslen(key));
    }
    const VS_FIXEDFILEINFO *fixed = block.Fixed();
    ASSERT_TRUE(fixed);
    const struct {
        const wchar_t *name;
        WORD expected;
    } numbers[] = {{L"Major", HIWORD(fixed->dwFileVersionMS)},
                   {L"Minor", LOWORD(fixed->dwFileVersionMS)},
                   {L"Revision", LOWORD(fixed->dwFileVersionLS)}};
    for (const auto &number : numbers) {
        Variant value = Property(app.Get(), number.name);
        ASSERT_EQ(VT_I2, value.Type());
        EXPECT_EQ(static_cast<short>(number.expected), V_I2(value.Get())) << std::string(number.name, number.name + wcslen(number.name));
    }
    EXPECT_FALSE(Text(Property(app.Get(), L"Title")).empty());
}

TEST_P(Services, ApplicationObjectIsOnePerThread) {
    ComPtr<IDispatch> first = AppObject(main);
    ComPtr<IDispatch> second = AppObject(main);
    MainClass other(GetParam() == Binding::Late ? Binding::Early : Binding::Late);
    ComPtr<IDispatch> throughOther = AppObject(other);
    ASSERT_TRUE(first && second && throughOther);
    EXPECT_TRUE(SameObject(first.Get(), second.Get()));
    EXPECT_TRUE(SameObject(first.Get(), throughOther.Get()));
    EXPECT_EQ(static_cast<long>(GetCurrentThreadId()), V_I4(Property(first.Get(), L"ThreadID").Get()));

    ComPtr<IUnknown> here;
    ASSERT_EQ(S_OK, first.As(&here));
    const std::uintptr_t hereAddress = reinterpret_cast<std::uintptr_t>(here.Get());
    const Binding binding = GetParam();
    OnOtherThread([&] {
        MainClass there(binding);
        ComPtr<IDispatch> app = AppObject(there);
        ASSERT_TRUE(app);
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK, app.As(&identity));
        EXPECT_NE(hereAddress, reinterpret_cast<std::uintptr_t>(identity.Get())) << "each thread has its own";
        EXPECT_TRUE(SameObject(app.Get(), AppObject(there).Get()));
        EXPECT_EQ(static_cast<long>(GetCurrentThreadId()), V_I4(Property(app.Get(), L"ThreadID").Get()));
    });
}

// --- The buddy slot ---------------------------------------------------------------------------

TEST_P(Services, BuddyStartsEmptyAndIsSharedByTheInstancesOfAThread) {
    const Binding binding = GetParam();
    OnOtherThread([&] {
        MainClass first(binding);
        ASSERT_TRUE(first.Dispatch());
        EXPECT_FALSE(ReadBuddy(first)) << "nothing parked yet";
        CountedObject buddy;
        ASSERT_EQ(S_OK, ParkBuddy(first, buddy.Dispatch()));
        EXPECT_EQ(1, buddy.Held()) << "the slot holds one reference";

        MainClass second(binding == Binding::Late ? Binding::Early : Binding::Late);
        ComPtr<IDispatch> seen = ReadBuddy(second);
        EXPECT_TRUE(SameObject(buddy.Dispatch(), seen.Get()));
        seen.Reset();
        MainClass third(binding);
        seen = ReadBuddy(third);
        EXPECT_TRUE(SameObject(buddy.Dispatch(), seen.Get()));
        seen.Reset();
        EXPECT_EQ(1, buddy.Held());
        EXPECT_EQ(0, buddy.Calls()) << "the component never calls the parked object";
        EXPECT_EQ(S_OK, ParkBuddy(first, nullptr));
    });
}

TEST_P(Services, BuddyParkedOnOneThreadIsNotSeenOnAnother) {
    CountedObject buddy;
    ASSERT_EQ(S_OK, ParkBuddy(main, buddy.Dispatch()));
    const Binding binding = GetParam();
    bool seenThere = true;
    OnOtherThread([&] {
        MainClass there(binding);
        seenThere = static_cast<bool>(ReadBuddy(there));
        // Parking there leaves this thread's slot alone.
        CountedObject other;
        EXPECT_EQ(S_OK, ParkBuddy(there, other.Dispatch()));
        EXPECT_EQ(S_OK, ParkBuddy(there, nullptr));
    });
    EXPECT_FALSE(seenThere);
    EXPECT_TRUE(SameObject(buddy.Dispatch(), ReadBuddy(main).Get()));
    EXPECT_EQ(S_OK, ParkBuddy(main, nullptr));
}

TEST_P(Services, BuddyReferenceIsGivenUpWhenReplacedOrEmptied) {
    CountedObject first, second;
    ASSERT_EQ(S_OK, ParkBuddy(main, first.Dispatch()));
    EXPECT_EQ(1, first.Held());
    ASSERT_EQ(S_OK, ParkBuddy(main, second.Dispatch()));
    EXPECT_EQ(0, first.Held()) << "replaced: the first one is released";
    EXPECT_EQ(1, second.Held());
    ASSERT_EQ(S_OK, ParkBuddy(main, second.Dispatch()));
    EXPECT_EQ(1, second.Held()) << "parking the same object again keeps one reference";
    ASSERT_EQ(S_OK, ParkBuddy(main, nullptr));
    EXPECT_EQ(0, second.Held()) << "emptied: released";
    EXPECT_FALSE(ReadBuddy(main));

    // A slot still holding an object when its thread ends gives its reference up.
    const Binding binding = GetParam();
    OnOtherThread([&] {
        MainClass owner(binding);
        ASSERT_EQ(S_OK, ParkBuddy(owner, first.Dispatch()));
        EXPECT_EQ(1, first.Held());
    });
    EXPECT_EQ(0, first.Held());
    EXPECT_EQ(0, first.Calls());
    EXPECT_EQ(0, second.Calls());
}

TEST(BuddyFromScripts, OnlyAnObjectAssignmentIsOffered) {
    MainClass main(Binding::Late);
    MainClass other(Binding::Late);
    CountedObject buddy, intruder;
    // VBScript's o.BuddyObjectGlobal = x (a value assignment) is not there.
    Call plain = Invoke(main.Dispatch(), dispid::kBuddy, DISPATCH_PROPERTYPUT, {Obj(intruder.Dispatch())}, {DISPID_PROPERTYPUT});
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, plain.hr);
    EXPECT_EQ(0, intruder.Held());
    EXPECT_FALSE(ReadBuddy(other));
    // JScript assigns with put and putref together: the object assignment takes it.
    Call jscript = Invoke(main.Dispatch(), dispid::kBuddy, DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF, {Obj(buddy.Dispatch())},
                          {DISPID_PROPERTYPUT});
    EXPECT_EQ(S_OK, jscript.hr);
    EXPECT_EQ(1, buddy.Held());
    EXPECT_TRUE(SameObject(buddy.Dispatch(), ReadBuddy(other).Get()));
    plain = Invoke(main.Dispatch(), dispid::kBuddy, DISPATCH_PROPERTYPUT, {Obj(intruder.Dispatch())}, {DISPID_PROPERTYPUT});
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, plain.hr);
    EXPECT_TRUE(SameObject(buddy.Dispatch(), ReadBuddy(other).Get())) << "a refused put changes nothing";
    EXPECT_EQ(0, intruder.Held());
    EXPECT_EQ(S_OK, ParkBuddy(main, nullptr));
    EXPECT_EQ(0, buddy.Held());
}

// --- About ----------------------------------------------------------------------------------

TEST_P(Services, AboutHandsTheApplicationObjectToTheLibrary) {
    RecordingLibrary library;
    Outcome about = About(main);
    ASSERT_EQ(S_OK, about.status);
    ASSERT_EQ(VT_I4, about.result.Type());
    EXPECT_EQ(0, V_I4(about.result.Get()));

    ASSERT_EQ(1u, library.Calls().size()) << "one call, no report";
    const RecordedCall &call = library.Calls()[0];
    EXPECT_EQ(L"AppAboutQxel", call.method);
    EXPECT_EQ(RecordingLibrary::kBedrock, call.progId);
    EXPECT_TRUE(call.flags & DISPATCH_METHOD);
    ASSERT_EQ(1u, call.args.size());
    EXPECT_EQ(VT_DISPATCH, call.args[0].vt);
    ComPtr<IDispatch> app = AppObject(main);
    EXPECT_TRUE(SameObject(app.Get(), call.args[0].object.Get()));
    EXPECT_EQ(1, library.Creations(RecordingLibrary::kBedrock));
    EXPECT_EQ(0, library.Alive()) << "the library's instance is released";
}

TEST_P(Services, AboutShowsTheRealLibrarysBox) {
    ASSERT_TRUE(HaveDisplay()) << "message boxes need a display: run under xvfb-run";
    ComPtr<IDispatch> app = AppObject(main);
    const std::wstring comments = Text(Property(app.Get(), L"Comments"));
    BoxWatcher watcher;
    Outcome about = About(main);
    ASSERT_EQ(S_OK, about.status);
    EXPECT_EQ(0, V_I4(about.result.Get()));
    ASSERT_EQ(1u, watcher.Boxes().size());
    EXPECT_NE(std::wstring::npos, watcher.Boxes()[0].text.find(comments)) << "the library read this component's properties";
}

TEST_P(Services, AboutWithoutTheLibrarysClassReportsTwiceAndReturnsZero) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kBedrock);
    Outcome about = About(main);
    ASSERT_EQ(S_OK, about.status);
    EXPECT_EQ(0, V_I4(about.result.Get()));
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(2u, reports.size()) << "the creation, then the call on nothing";
    EXPECT_EQ(2u, library.Calls().size());
    for (const RecordedCall &report : reports) {
        ASSERT_EQ(8u, report.args.size());
        EXPECT_EQ(L"basQxelCommonA.AppAboutQxel_Pro", report.args[3].text);
        EXPECT_NE(0, report.args[1].errNumber);
    }
    EXPECT_EQ(429, reports[0].args[1].errNumber) << "the library's class could not be created";
}

TEST_P(Services, AboutFailsWhenNotEvenTheReportCanBeMade) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kBedrock);
    library.FailCreation(RecordingLibrary::kErrorHandler);
    Outcome about = About(main);
    ExpectFailure(kCantCreate, about);
    EXPECT_NE(std::wstring::npos, about.description.find(RecordingLibrary::kErrorHandler)) << about.description.c_str();
    EXPECT_TRUE(library.Calls().empty());
}

TEST_P(Services, AboutNeedsNoReporterWhenNothingFails) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kErrorHandler);
    Outcome about = About(main);
    ASSERT_EQ(S_OK, about.status);
    EXPECT_EQ(0, V_I4(about.result.Get()));
    EXPECT_EQ(1u, library.CallsTo(L"AppAboutQxel").size());
    EXPECT_EQ(1u, library.Calls().size());
}

TEST_P(Services, AboutReportsTheLibrarysErrorAndReturnsZero) {
    RecordingLibrary library;
    library.Raise(L"AppAboutQxel", RuntimeError(1001), L"About failed");
    Outcome about = About(main);
    ASSERT_EQ(S_OK, about.status);
    EXPECT_EQ(0, V_I4(about.result.Get()));
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(1u, reports.size());
    ASSERT_EQ(8u, reports[0].args.size());
    EXPECT_EQ(L"basQxelCommonA.AppAboutQxel_Pro", reports[0].args[3].text);
    EXPECT_EQ(1001, reports[0].args[1].errNumber);
    EXPECT_EQ(0, library.Alive());
}

INSTANTIATE_TEST_SUITE_P(Bindings, Services, ::testing::Values(Binding::Late, Binding::Early), BindingName);

// Through the vtable, null for a result pointer is refused without a crash.
TEST(ServicesEarlyBound, NullPointersAreRefused) {
    RecordingLibrary library;
    MainClass main(Binding::Early);
    _clsQxAtomTables10A *v = main.Vtable();
    ASSERT_TRUE(v);
    LONG id = 121;
    LoadResConstants kind = vbResIcon;
    Variant type, data;
    Bstr text;
    ComPtr<IPictureDisp> picture;
    EXPECT_EQ(E_POINTER, v->get_GetProStdProperties(nullptr));
    EXPECT_EQ(E_POINTER, v->get_GetProResStrings(nullptr, text.Receive()));
    EXPECT_EQ(E_POINTER, v->get_GetProResStrings(&id, nullptr));
    EXPECT_EQ(E_POINTER, v->get_GetProResPicture(nullptr, &kind, &picture));
    EXPECT_EQ(E_POINTER, v->get_GetProResPicture(&id, nullptr, &picture));
    EXPECT_EQ(E_POINTER, v->get_GetProResPicture(&id, &kind, nullptr));
    EXPECT_EQ(E_POINTER, v->get_GetProResData(nullptr, type.Get(), data.Receive()));
    EXPECT_EQ(E_POINTER, v->get_GetProResData(&id, nullptr, data.Receive()));
    EXPECT_EQ(E_POINTER, v->get_GetProResData(&id, type.Get(), nullptr));
    EXPECT_EQ(E_POINTER, v->About(nullptr));
    EXPECT_EQ(E_POINTER, v->get_BuddyObjectGlobal(nullptr));
    EXPECT_TRUE(library.Calls().empty()) << "About did not go ahead";
}
