// Reports of trapped failures, as the common library receives them.
#include "AtomTables10.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace testing_support;

TEST(Reports, OverflowIsReportedWithTheEightArguments) {
    RecordingLibrary library;
    ComPtr<IDispatch> main = Create(L"AtomTables10.clsQxAtomTables10A");
    short size = 32767, copied = -5;
    Call call = Invoke(main.Get(), L"GetAtomNameAmts", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       {I2(static_cast<short>(0xC000)), Ref(&size), Ref(&copied)});
    ASSERT_EQ(S_OK, call.hr) << "a trapped failure never reaches the caller";
    EXPECT_EQ(32767, size) << "the size stays as it was";
    EXPECT_EQ(255u, SysStringLen(V_BSTR(call.result.Get())));

    auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(1, library.Creations(RecordingLibrary::kErrorHandler));
    EXPECT_EQ(0, library.Alive()) << "the handler instance lives for one report";
    const RecordedCall &report = reports[0];
    EXPECT_EQ(DISPATCH_METHOD, report.flags);
    ASSERT_EQ(8u, report.args.size());
    const VARTYPE expected[] = {VT_BYREF | VT_DISPATCH, VT_BYREF | VT_DISPATCH, VT_BYREF | VT_BSTR, VT_BYREF | VT_BSTR,
                                VT_BYREF | VT_I4,       VT_BYREF | VT_BSTR,     VT_BYREF | VT_I4,   VT_ERROR};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(expected[i], report.args[i].vt) << "argument " << i + 1;
    EXPECT_EQ(L"", report.args[2].text);
    EXPECT_EQ(L"czAtomTables.GetAtomNameAmts", report.args[3].text);
    EXPECT_EQ(0, report.args[4].number);
    EXPECT_EQ(L"", report.args[5].text);
    EXPECT_EQ(0, report.args[6].number);
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, report.args[7].scode) << "the missing marker";
    EXPECT_EQ(6, report.args[1].errNumber) << "the error object describes the overflow";
    EXPECT_EQ(L"Overflow", report.args[1].errDescription);
    // The first argument is the application-properties object the component hands out.
    Call app = Invoke(main.Get(), L"GetProStdProperties", DISPATCH_PROPERTYGET);
    ASSERT_EQ(VT_DISPATCH, app.result.Type());
    ComPtr<IUnknown> reported, handedOut;
    report.args[0].object.As(&reported);
    V_DISPATCH(app.result.Get())->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(handedOut.GetAddressOf()));
    EXPECT_EQ(handedOut.Get(), reported.Get());
}

TEST(Reports, AReporterThatCannotBeCreatedFailsTheMember) {
    RecordingLibrary library;
    library.FailCreation(RecordingLibrary::kErrorHandler);
    ComPtr<IDispatch> main = Create(L"AtomTables10.clsQxAtomTables10A");
    short size = 32767;
    Call call = Invoke(main.Get(), L"GetAtomNameAmts", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       {I2(static_cast<short>(0xC000)), Ref(&size)});
    EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
    EXPECT_EQ(kCantCreate, call.scode) << "the creation failure, not the overflow";
    EXPECT_NE(std::wstring::npos, call.description.find(RecordingLibrary::kErrorHandler)) << call.description;
    EXPECT_TRUE(library.Calls().empty());
}
