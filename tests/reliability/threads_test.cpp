// Several apartment threads at once, each with instances of its own, each adding, finding, reading
// and deleting names on the shared atom tables and parking its own objects in the buddy slot, all
// started together. No thread ever sees another's name buffer or buddy slot: every name a thread
// adds is written in letters no other thread uses, so any character of another thread's in a
// name read back shows a shared buffer. Reports of trapped failures from all threads reach the
// common library, each once. At the end nothing of the component is alive.
//
// Sizes: ATOMTABLES_THREADS (default 4, at most 8), ATOMTABLES_THREAD_ROUNDS, else
// ATOMTABLES_THREAD_CI_ROUNDS (set by the test's definition), else 20 000 rounds per thread.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "AtomTables10.h"
#include "harness.h"
#include "support/expected.h"

using namespace reliability;
namespace dispid = testing_support::dispid;
using testing_support::Apartment;

namespace {

constexpr long long kDefaultRounds = 20000;
constexpr WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

struct Shared {
    HANDLE go = nullptr; // set once every thread is ready
    std::atomic<int> ready{0};
};

struct ThreadFigures {
    long long calls = 0, rounds = 0, reports = 0, generations = 0;
    long long foreign = 0; // characters of another thread's seen in a name read back
    long long wrong = 0;   // any other answer that was not what it had to be
    std::string firstProblem;
    CountedObject parkedA, parkedB;
};

class Worker {
public:
    Worker(int index, long long rounds, Shared &shared, ThreadFigures &figures)
        : index_(index), rounds_(rounds), shared_(shared), f_(figures), random_(static_cast<unsigned>(index) + 1) {
        for (int i = 0; i < 3; ++i) letters_ += static_cast<wchar_t>(L'a' + 3 * index + i);
    }

    void Run() {
        Apartment apartment;
        Open();
        ++shared_.ready;
        WaitForSingleObject(shared_.go, INFINITE);
        for (long long round = 1; round <= rounds_; ++round) {
            ++f_.rounds;
            Round(round);
            if (round % 1000 == 0) {
                Close();
                Open();
                ++f_.generations;
                // A fresh thread state: the slot starts empty again.
                ComPtr<IDispatch> parked;
                ++f_.calls;
                Check(early_->get_BuddyObjectGlobal(&parked) == S_OK && !parked, "the slot of a fresh state is empty");
            }
        }
        Close();
    }

private:
    void Open() {
        if (testing_support::TryCreate(L"AtomTables10.clsQxAtomTables10A", late_) != S_OK) {
            Problem("creating an instance failed");
            return;
        }
        ComPtr<IDispatch> second;
        if (testing_support::TryCreate(L"AtomTables10.clsQxAtomTables10A", second) != S_OK ||
            FAILED(second.As(&early_)))
            Problem("creating an instance failed");
    }
    void Close() {
        late_.Reset();
        early_.Reset();
    }

    void Problem(const std::string &what) {
        if (f_.wrong++ == 0) f_.firstProblem = what;
    }
    void Check(bool ok, const char *what) {
        if (!ok) Problem(what);
    }

    // A name of 1 to 200 of this thread's letters.
    std::wstring Name() {
        std::wstring name(1 + random_() % 200, L' ');
        for (wchar_t &c : name) c = letters_[random_() % letters_.size()];
        return name;
    }

    // Everything a name read returns is this thread's: its letters, the terminator, the fill.
    void Inspect(std::wstring_view text, const char *where) {
        for (size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            if (c == 0 || c == L' ' || letters_.find(c) != std::wstring::npos) continue;
            if (f_.foreign++ == 0)
                f_.firstProblem = std::string("a character of another thread's in the name buffer (") + where + "): " +
                                  Hex(c) + " at " + std::to_string(i) + " of \"" +
                                  Narrow(std::wstring(text.substr(0, 80))) + "...\", the thread's letters \"" +
                                  Narrow(letters_) + "\"";
            return;
        }
    }

    HRESULT Invoke(IDispatch *object, DISPID id, WORD flags, VARIANT *arg, Variant &result, bool put = false) {
        ++f_.calls;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{arg, put ? &named : nullptr, arg ? 1u : 0u, put ? 1u : 0u};
        EXCEPINFO exception{};
        const HRESULT hr = late_ ? object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Receive(),
                                                  &exception, nullptr)
                                 : E_POINTER;
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return hr;
    }

    void Round(long long round) {
        if (!late_ || !early_) return;
        const std::wstring name = Name();
        Bstr text(name);

        // Add through one instance (late or early bound), read back through the other.
        LONG atom = 0;
        if (round % 2) {
            Variant result;
            VARIANT arg;
            V_VT(&arg) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&arg) = text.Address();
            Check(Invoke(late_.Get(), dispid::kAddAtom, kMethodGet, &arg, result) == S_OK && result.Type() == VT_I4, "Add (late)");
            atom = result.Type() == VT_I4 ? V_I4(result.Get()) : 0;
        } else {
            ++f_.calls;
            Check(early_->AddAtomAmts(text.Address(), &atom) == S_OK, "Add (early)");
        }
        Check(atom != 0, "the name was added");
        short number = static_cast<short>(atom), size = 0, copied = 0;
        Bstr read;
        ++f_.calls;
        Check(early_->GetAtomNameAmts(&number, &size, &copied, read.Receive()) == S_OK, "GetAtomNameAmts (early)");
        Check(copied == static_cast<short>(name.size()) && read.View().substr(0, name.size()) == name,
              "the name read back is the thread's own");
        Inspect(read.View(), "early");
        Variant lateRead;
        VARIANT atomArg;
        V_VT(&atomArg) = VT_I2;
        V_I2(&atomArg) = number;
        Check(Invoke(late_.Get(), dispid::kGetAtomName, kMethodGet, &atomArg, lateRead) == S_OK && lateRead.Type() == VT_BSTR,
              "GetAtomNameAmts (late)");
        if (lateRead.Type() == VT_BSTR) {
            const std::wstring_view view(V_BSTR(lateRead.Get()), SysStringLen(V_BSTR(lateRead.Get())));
            Check(view.substr(0, name.size()) == name, "the name read late is the thread's own");
            Inspect(view, "late");
        }
        LONG found = 0;
        ++f_.calls;
        Check(early_->FindAtomAmts(text.Address(), &found) == S_OK && found == atom, "FindAtomAmts");
        // Now and then a read that fails and is reported (32767 cannot grow); the read still runs.
        if (round % 500 == 0) {
            short most = 32767;
            ++f_.calls;
            Check(early_->GetAtomNameAmts(&number, &most, &copied, read.Receive()) == S_OK && most == 32767,
                  "GetAtomNameAmts with 32767 (reported)");
            Inspect(read.View(), "32767");
            ++f_.reports;
        }
        LONG status = -1;
        ++f_.calls;
        Check(early_->DeleteAtomAmts(&number, &status) == S_OK && status == 0, "DeleteAtomAmts");

        // The buddy slot: this thread's object in, the same out through the other instance.
        CountedObject &mine = round % 2 ? f_.parkedA : f_.parkedB;
        Variant none;
        VARIANT object;
        V_VT(&object) = VT_DISPATCH;
        V_DISPATCH(&object) = &mine;
        Check(Invoke(late_.Get(), dispid::kBuddy, DISPATCH_PROPERTYPUTREF, &object, none, true) == S_OK, "park");
        ComPtr<IDispatch> parked;
        ++f_.calls;
        Check(early_->get_BuddyObjectGlobal(&parked) == S_OK && parked.Get() == &mine,
              "the slot holds the thread's own object");
        parked.Reset();

        // Now and then the global table.
        if (round % 200 == 0) {
            Bstr global(name + letters_);
            LONG globalAtom = 0;
            ++f_.calls;
            Check(early_->GlobalAddAtomAmts(global.Address(), &globalAtom) == S_OK && globalAtom != 0, "GlobalAddAtomAmts");
            short g = static_cast<short>(globalAtom);
            ++f_.calls;
            Check(early_->GlobalGetAtomNameAmts(&g, nullptr, &copied, read.Receive()) == S_OK &&
                      copied == static_cast<short>(global.Length()),
                  "GlobalGetAtomNameAmts");
            Inspect(read.View(), "global");
            ++f_.calls;
            Check(early_->GlobalDeleteAtomAmts(&g, &status) == S_OK && status == 0, "GlobalDeleteAtomAmts");
        }
    }

    int index_;
    long long rounds_;
    Shared &shared_;
    ThreadFigures &f_;
    std::minstd_rand random_;
    std::wstring letters_;
    ComPtr<IDispatch> late_;
    ComPtr<_clsQxAtomTables10A> early_;
};

} // namespace

TEST(Threads, ApartmentsNeverSeeEachOthersBufferOrSlot) {
    const int threads = static_cast<int>(std::clamp<long long>(EnvCount({L"ATOMTABLES_THREADS"}, 4), 2, 8));
    const long long rounds = EnvCount({L"ATOMTABLES_THREAD_ROUNDS", L"ATOMTABLES_THREAD_CI_ROUNDS"}, kDefaultRounds);
    Journal journal(L"reliability-threads.log");
    std::printf("threads: %d apartment threads, %lld rounds each\n", threads, rounds);

    // Held loaded here, so that its DllCanUnloadNow can be asked once every apartment is gone.
    HMODULE pinned = LoadLibraryW(testing_support::ComponentPath().c_str());
    ASSERT_TRUE(pinned);
    Shared shared;
    shared.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(shared.go);
    auto *figures = new ThreadFigures[static_cast<size_t>(threads)];
    std::vector<std::thread> running;
    const DWORD start = GetTickCount();
    for (int i = 0; i < threads; ++i)
        running.emplace_back([&, i] { Worker(i, rounds, shared, figures[i]).Run(); });
    while (shared.ready.load() < threads) Sleep(1);
    SetEvent(shared.go);
    for (std::thread &t : running) t.join();
    const DWORD elapsed = GetTickCount() - start;
    CloseHandle(shared.go);

    long long calls = 0, reports = 0, held = 0, parkedCalls = 0;
    for (int i = 0; i < threads; ++i) {
        const ThreadFigures &f = figures[i];
        SCOPED_TRACE("thread " + std::to_string(i));
        EXPECT_EQ(rounds, f.rounds);
        EXPECT_EQ(0, f.foreign) << f.firstProblem;
        EXPECT_EQ(0, f.wrong) << f.firstProblem;
        calls += f.calls;
        reports += f.reports;
        held += f.parkedA.Held() + f.parkedB.Held();
        parkedCalls += f.parkedA.Calls() + f.parkedB.Calls();
    }
    std::printf("threads: %lld calls in %lu ms; %lld reports\n", calls, elapsed, reports);
    EXPECT_EQ(0, held) << "parked objects still referenced after every instance was released";
    EXPECT_EQ(0, parkedCalls) << "the component never calls a parked object";
    if (held == 0) delete[] figures;

    CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
    ASSERT_TRUE(canUnloadNow);
    EXPECT_EQ(S_OK, canUnloadNow()) << "objects of the component outlived every thread's instances";
    FreeLibrary(pinned);

    long long reportLines = 0;
    for (const std::wstring &line : journal.Lines())
        if (line.find(L"\tREPORT\tczAtomTables.GetAtomNameAmts\t") != std::wstring::npos) ++reportLines;
    EXPECT_EQ(reports, reportLines) << "every thread's reports reached the library, each once";
}
