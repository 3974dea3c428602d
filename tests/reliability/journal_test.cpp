// The common library's journal under contention: reports from many threads at once, each written
// as one whole line, none lost. (Found by the threads test, which now and then missed a report:
// two writers appending at once wrote their lines at the same place.)
#include <atomic>
#include <thread>

#include "harness.h"

using namespace reliability;
using testing_support::Apartment;

TEST(Journal, ReportsFromManyThreadsAtOnceAreEachWrittenOnce) {
    constexpr int kThreads = 8;
    constexpr int kReports = 150;
    Journal journal(L"reliability-journal.log");
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(go);
    std::atomic<int> ready{0}, made{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Apartment apartment;
            ComPtr<IDispatch> handler;
            if (testing_support::TryCreate(L"QxBedrock10.clsQxelErrorHandlerA", handler) != S_OK) {
                ++failed;
                ++ready;
                return;
            }
            const DISPID id = testing_support::IdOf(handler.Get(), L"ErrorHandlerMessageQx");
            ++ready;
            WaitForSingleObject(go, INFINITE);
            for (int i = 0; i < kReports; ++i) {
                Bstr empty3(L""), source(L"thread" + std::to_wstring(t) + L"." + std::to_wstring(i)), empty6(L"");
                long zero5 = 0, zero7 = 0;
                IDispatch *app = nullptr, *error = nullptr;
                VARIANT args[8];
                V_VT(&args[7]) = VT_BYREF | VT_DISPATCH;
                V_DISPATCHREF(&args[7]) = &app;
                V_VT(&args[6]) = VT_BYREF | VT_DISPATCH;
                V_DISPATCHREF(&args[6]) = &error;
                V_VT(&args[5]) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&args[5]) = empty3.Address();
                V_VT(&args[4]) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&args[4]) = source.Address();
                V_VT(&args[3]) = VT_BYREF | VT_I4;
                V_I4REF(&args[3]) = &zero5;
                V_VT(&args[2]) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&args[2]) = empty6.Address();
                V_VT(&args[1]) = VT_BYREF | VT_I4;
                V_I4REF(&args[1]) = &zero7;
                V_VT(&args[0]) = VT_ERROR;
                V_ERROR(&args[0]) = DISP_E_PARAMNOTFOUND;
                DISPPARAMS params{args, nullptr, 8, 0};
                Variant result;
                if (handler->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Get(), nullptr,
                                    nullptr) == S_OK)
                    ++made;
                else
                    ++failed;
            }
        });
    }
    while (ready.load() < kThreads) Sleep(1);
    SetEvent(go);
    for (std::thread &t : threads) t.join();
    CloseHandle(go);
    ASSERT_EQ(0, failed.load());
    ASSERT_EQ(kThreads * kReports, made.load());

    // Every line whole, every report there once.
    std::map<std::wstring, int> seen;
    long lines = 0;
    for (const std::wstring &line : journal.Lines()) {
        ++lines;
        const size_t kind = line.find(L"\tREPORT\t");
        ASSERT_NE(std::wstring::npos, kind) << Narrow(line);
        const size_t end = line.find(L'\t', kind + 8);
        ++seen[line.substr(kind + 8, end == std::wstring::npos ? std::wstring::npos : end - kind - 8)];
    }
    EXPECT_EQ(kThreads * kReports, lines);
    EXPECT_EQ(static_cast<size_t>(kThreads * kReports), seen.size());
    for (const auto &[source, count] : seen) EXPECT_EQ(1, count) << Narrow(source);
}
