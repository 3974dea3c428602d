// The trap of the atom members and the bridges: every failing statement is reported and the
// procedure resumes with the next one; a report that cannot be made ends the procedure and that
// failure, not the first one, reaches the caller.
#include <climits>

#include "modules/basQxelCommonA.h"
#include "unit_support.h"
#include "support/expected.h"

using testing_support::RecordedCall;
using testing_support::RecordingLibrary;
using namespace unit;

namespace {

struct TrapTest : ::testing::Test {
    void SetUp() override {
        tables = NewTables();
        ASSERT_TRUE(tables);
        atom = AddAtomW(L"unit-trap-name");
        ASSERT_NE(0, atom);
    }
    void TearDown() override { DeleteAtom(atom); }

    ComPtr<_clsQxAtomTables10A> tables;
    ATOM atom = 0;
};

} // namespace

TEST_F(TrapTest, TwoFailingStatementsGiveTwoReportsEachFollowedByAResume) {
    RecordingLibrary library;
    short number = static_cast<short>(atom);
    short size = SHRT_MAX, copied = -9;
    Bstr result;
    {
        PlatformLookup lookup("GetAtomNameA");
        ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, result.Receive()));
        EXPECT_EQ(1, lookup.Lookups("GetAtomNameA")) << "after the overflow the read was attempted";
    }
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(L"czAtomTables.GetAtomNameAmts", reports[0].args[3].text);
    EXPECT_EQ(6, reports[0].args[1].errNumber) << "first the size overflow";
    EXPECT_EQ(L"czAtomTables.GetAtomNameAmts", reports[1].args[3].text);
    EXPECT_EQ(453, reports[1].args[1].errNumber) << "then the unbound platform function";
    EXPECT_NE(reports[0].args[1].object.Get(), reports[1].args[1].object.Get()) << "one error object per failure";
    EXPECT_EQ(6, NumberProperty(reports[0].args[1].object.Get(), L"Number")) << "an error object keeps what it described";
    EXPECT_EQ(2, library.Creations(RecordingLibrary::kErrorHandler)) << "a fresh handler for every report";
    EXPECT_EQ(SHRT_MAX, size) << "the failed adjustment left the size as it was";
    EXPECT_EQ(-9, copied);
    EXPECT_EQ(255u, result.Length()) << "after the second resume the result was still copied";
}

TEST_F(TrapTest, OneFailureThenTheRestRuns) {
    RecordingLibrary library;
    short number = static_cast<short>(atom);
    short size = SHRT_MAX, copied = -9;
    Bstr result;
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, result.Receive()));
    ASSERT_EQ(1u, library.Calls().size());
    EXPECT_EQ(6, library.Calls()[0].args[1].errNumber);
    EXPECT_EQ(SHRT_MAX, size);
    EXPECT_EQ(14, copied) << "the read ran after the reported overflow";
    EXPECT_EQ(L"unit-trap-name", unit::Text(result.Get()).substr(0, 14));
}

TEST_F(TrapTest, AReportThatCannotBeMadeEndsTheProcedure) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kErrorHandler);
    short number = static_cast<short>(atom);
    short size = SHRT_MAX, copied = -9;
    BSTR result = reinterpret_cast<BSTR>(static_cast<INT_PTR>(1)); // must be set, and never to this
    SetErrorInfo(0, nullptr);
    HRESULT hr;
    {
        PlatformLookup lookup;
        hr = tables->GetAtomNameAmts(&number, &size, &copied, &result);
        EXPECT_EQ(0, lookup.Lookups("GetAtomNameA")) << "the read after the failed report never ran";
    }
    EXPECT_EQ(RuntimeError(429), hr) << "the reporter's failure, not the overflow";
    EXPECT_EQ(nullptr, result) << "the result copy never ran";
    EXPECT_EQ(SHRT_MAX, size);
    EXPECT_EQ(-9, copied);
    const Raised raised = TakeRaised();
    ASSERT_TRUE(raised.present) << "the caller gets error information";
    EXPECT_NE(std::wstring::npos, raised.description.find(RecordingLibrary::kErrorHandler)) << raised.description;
    EXPECT_EQ(L"AtomTables10", raised.source);
    EXPECT_TRUE(library.Calls().empty()) << "the first failure is not reported";
    EXPECT_EQ(0, library.Creations(RecordingLibrary::kErrorHandler));
}

TEST_F(TrapTest, AReportThatCannotBeMadeLeavesTheNameAlone) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kErrorHandler);
    Bstr name(L"unit-trap-unreported");
    const BSTR callersString = name.Get();
    LONG result = -7;
    HRESULT hr;
    {
        PlatformLookup lookup("AddAtomA");
        hr = tables->AddAtomAmts(name.Address(), &result);
    }
    EXPECT_EQ(RuntimeError(429), hr);
    EXPECT_EQ(0, result);
    EXPECT_EQ(callersString, name.Get());
    EXPECT_EQ(0, FindAtomW(L"unit-trap-unreported"));
    EXPECT_TRUE(library.Calls().empty());
}

TEST_F(TrapTest, AFailingHandlerCallIsAlsoTheReportersOwnFailure) {
    RecordingLibrary library;
    library.Raise(L"ErrorHandlerMessageQx", RuntimeError(5), L"the handler gave up");
    short number = static_cast<short>(atom);
    short size = SHRT_MAX, copied = -9;
    Bstr result;
    const HRESULT hr = tables->GetAtomNameAmts(&number, &size, &copied, result.Receive());
    EXPECT_EQ(RuntimeError(5), hr);
    const Raised raised = TakeRaised();
    EXPECT_EQ(L"the handler gave up", raised.description);
    EXPECT_EQ(L"RecordingLibrary", raised.source);
    EXPECT_EQ(1u, library.Calls().size()) << "the report was attempted once";
    EXPECT_EQ(-9, copied) << "and nothing ran after it";
}

TEST_F(TrapTest, EveryBridgeStatementIsReportedWhenTheClassIsMissing) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kEnvironment);
    ASSERT_EQ(S_OK, basQxelCommonA::EnsureQxEnvironmentStatus_Pro());
    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", reports[0].args[3].text);
    EXPECT_EQ(429, reports[0].args[1].errNumber) << "the creation";
    EXPECT_EQ(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro", reports[1].args[3].text);
    EXPECT_EQ(91, reports[1].args[1].errNumber) << "the call on the empty reference";
    EXPECT_TRUE(library.CallsTo(L"EnsureQxEnvironmentStatus").empty());
}

TEST_F(TrapTest, ABridgeWhoseReporterIsMissingFails) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kBedrock);
    library.FailCreation(RecordingLibrary::kErrorHandler);
    EXPECT_EQ(RuntimeError(429), basQxelCommonA::AppAboutQxel_Pro());
    const Raised raised = TakeRaised();
    EXPECT_NE(std::wstring::npos, raised.description.find(RecordingLibrary::kErrorHandler)) << raised.description;
    EXPECT_TRUE(library.Calls().empty());
}

TEST_F(TrapTest, ABridgeCallsTheLibraryOnceWithItsArguments) {
    RecordingLibrary library;
    ASSERT_EQ(S_OK, basQxelCommonA::EnsureQxEnvironmentStatus_Pro());
    ASSERT_EQ(1u, library.Calls().size());
    const RecordedCall &call = library.Calls()[0];
    EXPECT_EQ(L"EnsureQxEnvironmentStatus", call.method);
    ASSERT_EQ(2u, call.args.size());
    EXPECT_EQ(VT_BOOL, call.args[0].vt);
    EXPECT_EQ(VARIANT_TRUE, call.args[0].number);
    EXPECT_EQ(VT_I2, call.args[1].vt);
    EXPECT_EQ(99, call.args[1].number);
    EXPECT_EQ(0, library.Alive());
}
