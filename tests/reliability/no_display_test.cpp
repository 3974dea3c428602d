// The message box failing to show: the client runs without a display (its definition unsets
// DISPLAY), so every box the component asks for fails at once.
//   - An over-long name: the box is the adding member's statement, so its failure is trapped and
//     reported, and the member returns 0 with the name untouched (both tables).
//   - TestA arms no trap: the failure reaches the caller.
//   - About: the library cannot show its box either; that is the library's business, and About
//     returns 0.
//   - With no reporter either, the over-long name's failure cannot be reported: the caller gets
//     the reporter's failure.
#include "AtomTables10.h"
#include "harness.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace reliability;
using namespace testing_support;

namespace {


struct NoDisplay : ::testing::Test {
    void SetUp() override {
        ASSERT_FALSE(HaveDisplay()) << "this test runs with DISPLAY unset (see its definition)";
        component = LoadLibraryW(ComponentPath().c_str());
        ASSERT_TRUE(component);
    }
    void TearDown() override {
        EXPECT_EQ(0u, watcher.Boxes().size()) << "no box can have been shown";
        CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        ASSERT_TRUE(canUnloadNow);
        EXPECT_EQ(S_OK, canUnloadNow());
        FreeLibrary(component);
    }
    HMODULE component = nullptr;
    BoxWatcher watcher;
};

} // namespace

TEST_F(NoDisplay, AnOverlongNameIsReportedAndReturnsZero) {
    for (const bool global : {false, true}) {
        for (const Binding binding : {Binding::Late, Binding::Early}) {
            SCOPED_TRACE(std::string(global ? "global" : "local") + (binding == Binding::Late ? ", late" : ", early"));
            RecordingLibrary library;
            MainClass main(binding);
            const std::wstring text(256, L'n');
            BSTR name = SysAllocString(text.c_str());
            const BSTR original = name;
            EXPECT_EQ(0, main.Add(name, global));
            EXPECT_EQ(S_OK, main.Status()) << "the box's failure is trapped";
            EXPECT_EQ(original, name) << "the caller's name is left alone";
            EXPECT_EQ(text, Text(name));
            SysFreeString(name);

            const auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
            ASSERT_EQ(1u, reports.size());
            EXPECT_EQ(std::wstring(L"czAtomTables.") + (global ? L"GlobalAddAtomAmts" : L"AddAtomAmts"),
                      reports[0].args[3].text);
            EXPECT_NE(0, reports[0].args[1].errNumber) << "the error object describes the box's failure";
            EXPECT_FALSE(reports[0].args[1].errDescription.empty());
            library.Clear();
        }
    }
}

TEST_F(NoDisplay, TestAFailsTowardsTheCaller) {
    RecordingLibrary library;
    ComPtr<IDispatch> atoms = Create(L"AtomTables10.clsQxAmtsAtomsA");
    ASSERT_TRUE(atoms);
    Call call = Method(atoms.Get(), L"TestA");
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_TRUE(FAILED(call.scode));
    EXPECT_FALSE(call.description.empty());

    ComPtr<_clsQxAmtsAtomsA> early;
    ASSERT_EQ(S_OK, atoms.As(&early));
    LONG result = -1;
    const HRESULT hr = early->TestA(&result);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(call.scode, hr);
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(S_OK, GetErrorInfo(0, &info)) << "with error information";
    library.Clear();
    EXPECT_TRUE(library.CallsTo(L"ErrorHandlerMessageQx").empty()) << "no trap, no report";
}

TEST_F(NoDisplay, AboutWithTheRealLibraryReturnsZero) {
    Journal journal(L"reliability-no-display.log");
    ComPtr<IDispatch> main = Create(L"AtomTables10.clsQxAtomTables10A");
    ASSERT_TRUE(main);
    Call call = Method(main.Get(), L"About");
    EXPECT_EQ(S_OK, call.hr);
    ASSERT_EQ(VT_I4, call.result.Type());
    EXPECT_EQ(0, V_I4(call.result.Get()));
    long abouts = 0, reports = 0;
    for (const std::wstring &line : journal.Lines()) {
        abouts += line.find(L"\tABOUT\t") != std::wstring::npos;
        reports += line.find(L"\tREPORT\t") != std::wstring::npos;
    }
    EXPECT_EQ(1, abouts) << "the library was asked";
    EXPECT_EQ(0, reports) << "nothing failed in the component";
}

TEST_F(NoDisplay, WithoutAReporterTheBoxsFailureReachesTheCaller) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kErrorHandler);
    for (const Binding binding : {Binding::Late, Binding::Early}) {
        SCOPED_TRACE(binding == Binding::Late ? "late" : "early");
        MainClass main(binding);
        BSTR name = SysAllocString(std::wstring(300, L'x').c_str());
        main.Add(name);
        EXPECT_EQ(kCantCreate, main.Status());
        SysFreeString(name);
    }
}
