// The auxiliary classes through the registered component: clsQxAmtsAtomsA asks the common library
// to ensure the environment when it is created and shows its test box; the placeholder classes do
// nothing at all.
#include <string>

#include "AtomTables10.h"
#include "support/client.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

constexpr wchar_t kAtomsProgId[] = L"AtomTables10.clsQxAmtsAtomsA";

// The title the runtime gives the component's boxes: its application object's.
std::wstring ApplicationTitle() {
    ComPtr<IDispatch> main = Create(L"AtomTables10.clsQxAtomTables10A");
    if (!main) return {};
    Call app = Invoke(main.Get(), L"GetProStdProperties", DISPATCH_PROPERTYGET);
    EXPECT_EQ(VT_DISPATCH, app.result.Type());
    if (app.result.Type() != VT_DISPATCH) return {};
    Call title = Invoke(V_DISPATCH(app.result.Get()), L"Title", DISPATCH_PROPERTYGET);
    return Text(title.result);
}

void ExpectEnvironmentCall(const RecordedCall &call) {
    EXPECT_EQ(RecordingLibrary::kEnvironment, call.progId);
    EXPECT_EQ(L"EnsureQxEnvironmentStatus", call.method);
    EXPECT_TRUE(call.flags & DISPATCH_METHOD);
    ASSERT_EQ(2u, call.args.size());
    EXPECT_EQ(VT_BOOL, call.args[0].vt);
    EXPECT_EQ(VARIANT_TRUE, call.args[0].number);
    EXPECT_EQ(VT_I2, call.args[1].vt);
    EXPECT_EQ(99, call.args[1].number);
}

} // namespace

TEST(AtomsClass, CreationEnsuresTheEnvironmentOnceOnANewLibraryInstance) {
    RecordingLibrary library;
    ComPtr<IDispatch> atoms = Create(kAtomsProgId);
    ASSERT_TRUE(atoms);
    // Seen as soon as the creation has returned: the call was made during it.
    ASSERT_EQ(1u, library.Calls().size());
    ExpectEnvironmentCall(library.Calls()[0]);
    EXPECT_EQ(1, library.Creations(RecordingLibrary::kEnvironment));
    EXPECT_EQ(0, library.Alive()) << "the library's instance lived for the call only";

    // Every creation, also early-bound, asks again on a fresh library instance.
    ComPtr<_clsQxAmtsAtomsA> early;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_clsQxAmtsAtomsA, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAmtsAtomsA,
                                     reinterpret_cast<void **>(early.GetAddressOf())));
    ASSERT_EQ(2u, library.Calls().size());
    ExpectEnvironmentCall(library.Calls()[1]);
    EXPECT_EQ(2, library.Creations(RecordingLibrary::kEnvironment));
    EXPECT_EQ(0, library.Alive());
    EXPECT_TRUE(library.CallsTo(L"ErrorHandlerMessageQx").empty());
}

TEST(AtomsClass, WithoutTheEnvironmentClassCreationSucceedsAfterTwoReports) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kEnvironment);
    ComPtr<IDispatch> atoms;
    ASSERT_EQ(S_OK, TryCreate(kAtomsProgId, atoms));
    ASSERT_TRUE(atoms);
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(2u, reports.size()) << "the creation, then the call on nothing";
    EXPECT_EQ(2u, library.Calls().size());
    for (const RecordedCall &report : reports) {
        ASSERT_EQ(8u, report.args.size());
        EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", report.args[3].text);
        EXPECT_NE(0, report.args[1].errNumber);
    }
    EXPECT_EQ(429, reports[0].args[1].errNumber);
    EXPECT_EQ(0, library.Alive());
}

TEST(AtomsClass, WithoutTheErrorHandlerEitherCreationFails) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kEnvironment);
    library.FailCreation(RecordingLibrary::kErrorHandler);
    ComPtr<IDispatch> atoms;
    EXPECT_EQ(kCantCreate, TryCreate(kAtomsProgId, atoms));
    EXPECT_FALSE(atoms);
    EXPECT_TRUE(library.Calls().empty());
}

TEST(AtomsClass, AnErrorRaisedByTheLibraryIsReportedOnce) {
    RecordingLibrary library;
    library.Raise(L"EnsureQxEnvironmentStatus", RuntimeError(1002), L"not ensured");
    ComPtr<IDispatch> atoms;
    ASSERT_EQ(S_OK, TryCreate(kAtomsProgId, atoms));
    ASSERT_EQ(2u, library.Calls().size());
    ExpectEnvironmentCall(library.Calls()[0]);
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(1u, reports.size());
    ASSERT_EQ(8u, reports[0].args.size());
    EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", reports[0].args[3].text);
    EXPECT_EQ(1002, reports[0].args[1].errNumber);
    EXPECT_EQ(0, library.Alive());
}

TEST(AtomsClass, TestAShowsItsBoxUnderTheComponentsTitle) {
    ASSERT_TRUE(HaveDisplay()) << "message boxes need a display: run under xvfb-run";
    const std::wstring title = ApplicationTitle();
    EXPECT_EQ(L"AtomTables10", title);
    ComPtr<IDispatch> atoms = Create(kAtomsProgId);
    ASSERT_TRUE(atoms);
    ComPtr<_clsQxAmtsAtomsA> early;
    ASSERT_EQ(S_OK, atoms.As(&early));

    BoxWatcher watcher;
    Call late = Method(atoms.Get(), L"TestA");
    ASSERT_EQ(S_OK, late.hr);
    ASSERT_EQ(VT_I4, late.result.Type());
    EXPECT_EQ(0, V_I4(late.result.Get()));
    LONG result = -1;
    ASSERT_EQ(S_OK, early->TestA(&result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(E_POINTER, early->TestA(nullptr));

    ASSERT_EQ(2u, watcher.Boxes().size()) << "one box per call";
    for (const Box &box : watcher.Boxes()) {
        EXPECT_EQ(L"TestA", box.text);
        EXPECT_EQ(title, box.caption);
        EXPECT_FALSE(box.informationIcon) << "no icon";
        EXPECT_FALSE(box.cancelButton) << "OK only";
    }
}

TEST(Placeholders, CreatingThemMakesNoCallToTheLibrary) {
    RecordingLibrary library;
    for (const wchar_t *progId : {L"AtomTables10.clsQxAmtsGeneralA", L"AtomTables10.clsQxAmtsAdvancedA"}) {
        ComPtr<IDispatch> object = Create(progId);
        ASSERT_TRUE(object);
        // No members: not even the test member of the atom-collection class.
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(object.Get(), static_cast<DISPID>(0x60030001), DISPATCH_METHOD).hr);
    }
    EXPECT_TRUE(library.Calls().empty());
    EXPECT_EQ(0, library.Creations(RecordingLibrary::kEnvironment));
    EXPECT_EQ(0, library.Creations(RecordingLibrary::kErrorHandler));
    EXPECT_EQ(0, library.Creations(RecordingLibrary::kBedrock));
}
