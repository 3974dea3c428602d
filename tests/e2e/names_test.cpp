// Reading atom names back through the registered component: the rewritten size, what the platform
// is offered, the copied count, and the thread's one 255-character name buffer that every read
// (local or global, any instance) writes into and hands back whole.
#include <string>

#include "AtomTables10.h"
#include "support/client.h"
#include "support/recording_library.h"

using namespace testing_support;

namespace {

constexpr size_t kBufferLength = 255;

// An atom put into a table by the test itself, deleted when the test is done with it.
class TestAtom {
public:
    TestAtom(const std::wstring &name, bool global)
        : global_(global), atom_(global ? GlobalAddAtomW(name.c_str()) : AddAtomW(name.c_str())) {
        EXPECT_NE(0, atom_) << "the platform took the name";
    }
    TestAtom(const TestAtom &) = delete;
    TestAtom &operator=(const TestAtom &) = delete;
    ~TestAtom() {
        if (atom_) global_ ? GlobalDeleteAtom(atom_) : DeleteAtom(atom_);
    }
    // As a client holds it: the 16 bits in a signed 16-bit integer.
    short Number() const { return static_cast<short>(atom_); }
    ATOM Atom() const { return atom_; }

private:
    bool global_;
    ATOM atom_;
};

// A name of `length` characters (at least 5) unique to this call: the counter always survives the
// cut; the process id behind it keeps global names of different clients apart where it fits.
std::wstring UniqueName(size_t length) {
    static unsigned counter = 0;
    std::wstring name = L"n" + std::to_wstring(++counter) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_";
    while (name.size() < length) name += static_cast<wchar_t>(L'A' + name.size() % 26);
    name.resize(length);
    return name;
}

// The platform's own read, into a buffer of `positions` characters: its count and what it wrote.
struct PlatformRead {
    UINT count = 0;
    std::string written; // the positions the platform may write, as left by it
};
PlatformRead ReadDirectly(ATOM atom, int positions, bool global, char fill = '\x7f') {
    PlatformRead read;
    read.written.assign(static_cast<size_t>(positions) + 1, fill);
    read.count = global ? GlobalGetAtomNameA(atom, read.written.data(), positions)
                        : GetAtomNameA(atom, read.written.data(), positions);
    read.written.resize(static_cast<size_t>(positions));
    return read;
}

std::wstring Widen(const std::string &ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class Names : public ::testing::TestWithParam<Binding> {
protected:
    void SetUp() override { ASSERT_TRUE(main.Dispatch()); }
    MainClass main{GetParam()};
};

const bool kTables[] = {false, true};
const char *TableName(bool global) { return global ? "global table" : "local table"; }

} // namespace

TEST_P(Names, SizeIsRewrittenInTheCallersVariableAndOffered) {
    for (bool global : kTables) {
        SCOPED_TRACE(TableName(global));
        const std::wstring name = UniqueName(8);
        TestAtom atom(name, global);

        // 0 becomes 255: the whole name and its terminator.
        short size = 0, copied = -7;
        std::wstring result = main.GetName(atom.Number(), &size, &copied, global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(255, size);
        EXPECT_EQ(8, copied);
        ASSERT_EQ(kBufferLength, result.size());
        EXPECT_EQ(name + L'\0', result.substr(0, 9));

        // 3 becomes 4: the platform gets four positions, three characters and a terminator.
        const PlatformRead four = ReadDirectly(atom.Atom(), 4, global);
        size = 3;
        copied = -7;
        result = main.GetName(atom.Number(), &size, &copied, global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(4, size);
        EXPECT_EQ(static_cast<short>(four.count), copied);
        if (!global) {
            EXPECT_EQ(3, copied);
        }
        ASSERT_EQ(kBufferLength, result.size());
        EXPECT_EQ(Widen(four.written), result.substr(0, 4));
        EXPECT_EQ(name.substr(0, 3) + L'\0', result.substr(0, 4));

        // 255 becomes 256.
        size = 255;
        result = main.GetName(atom.Number(), &size, &copied, global);
        EXPECT_EQ(256, size);
        EXPECT_EQ(8, copied);
        EXPECT_EQ(name + L'\0', result.substr(0, 9));

        // -1 becomes 0: nothing is offered, nothing is copied, the buffer stays as it was.
        const std::wstring before = result;
        const std::wstring other = UniqueName(5);
        TestAtom otherAtom(other, global);
        size = -1;
        copied = -7;
        result = main.GetName(otherAtom.Number(), &size, &copied, global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(0, size);
        EXPECT_EQ(0, copied);
        EXPECT_EQ(before, result);
    }
}

TEST_P(Names, AnOmittedSizeOffers255PositionsAnExplicitOneTheSizePlusOne) {
    for (bool global : kTables) {
        SCOPED_TRACE(TableName(global));
        const std::wstring name = UniqueName(255);
        TestAtom atom(name, global);
        const PlatformRead at255 = ReadDirectly(atom.Atom(), 255, global);
        const PlatformRead at256 = ReadDirectly(atom.Atom(), 256, global);
        ASSERT_EQ(255u, at256.count) << "256 positions hold the whole name";

        // Omitted (and 0, and 254): 255 positions, one too few for this name and its terminator.
        for (short given : {short(0), short(254)}) {
            short size = given, copied = -7;
            std::wstring result = main.GetName(atom.Number(), &size, &copied, global);
            ASSERT_EQ(S_OK, main.Status());
            EXPECT_EQ(255, size);
            EXPECT_EQ(static_cast<short>(at255.count), copied) << given;
            EXPECT_EQ(Widen(at255.written), result) << given;
        }
        short copied = -7;
        std::wstring omitted = main.GetName(atom.Number(), nullptr, &copied, global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(static_cast<short>(at255.count), copied);
        EXPECT_EQ(Widen(at255.written), omitted);
        EXPECT_EQ(name.substr(0, 254) + L'\0', omitted);

        // 255 asks for 256 positions: the whole name fills the buffer.
        short size = 255;
        std::wstring full = main.GetName(atom.Number(), &size, &copied, global);
        EXPECT_EQ(256, size);
        EXPECT_EQ(255, copied);
        EXPECT_EQ(name, full);
    }
}

TEST_P(Names, ResultIsTheNameATerminatorAndWhateverTheBufferHeldBehindIt) {
    for (bool global : kTables) {
        SCOPED_TRACE(TableName(global));
        const std::wstring longName = UniqueName(40);
        const std::wstring shortName = UniqueName(5);
        TestAtom longAtom(longName, global), shortAtom(shortName, global);
        short copied = -7;
        const std::wstring first = main.GetName(longAtom.Number(), nullptr, &copied, global);
        ASSERT_EQ(40, copied);
        const std::wstring second = main.GetName(shortAtom.Number(), nullptr, &copied, global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(5, copied);
        ASSERT_EQ(kBufferLength, second.size()) << "never trimmed";
        EXPECT_EQ(shortName, second.substr(0, 5));
        EXPECT_EQ(L'\0', second[5]);
        EXPECT_EQ(first.substr(6), second.substr(6));
        EXPECT_EQ(longName.substr(6), second.substr(6, 34)) << "the rest of the earlier name is still there";
    }
}

TEST_P(Names, ReadingAMissingAtomCopiesNothingAndReturnsTheBuffer) {
    for (bool global : kTables) {
        SCOPED_TRACE(TableName(global));
        RecordingLibrary library;
        const std::wstring name = UniqueName(12);
        TestAtom atom(name, global);
        const std::wstring before = main.GetName(atom.Number(), nullptr, nullptr, global);
        ASSERT_EQ(name + L'\0', before.substr(0, 13));

        // An atom number the table does not hold: the platform's own read of it, over the same
        // content, is what the buffer must show.
        const std::wstring gone = UniqueName(6);
        ATOM missing = global ? GlobalAddAtomW(gone.c_str()) : AddAtomW(gone.c_str());
        global ? GlobalDeleteAtom(missing) : DeleteAtom(missing);
        ASSERT_EQ(0, global ? GlobalFindAtomW(gone.c_str()) : FindAtomW(gone.c_str())) << "gone from the table";
        std::string expected(before.begin(), before.end());
        expected.push_back('\0');
        const UINT count = global ? GlobalGetAtomNameA(missing, expected.data(), 255)
                                  : GetAtomNameA(missing, expected.data(), 255);
        expected.resize(kBufferLength);

        short copied = -7;
        const std::wstring result = main.GetName(static_cast<short>(missing), nullptr, &copied, global);
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(static_cast<short>(count), copied);
        EXPECT_EQ(0, copied);
        ASSERT_EQ(kBufferLength, result.size());
        EXPECT_EQ(Widen(expected), result);
        EXPECT_EQ(name.substr(1), result.substr(1, 11)) << "the earlier name is still behind the first position";
        EXPECT_TRUE(library.Calls().empty()) << "a refusal of the platform is not a failure";
    }
}

TEST_P(Names, StaleTailAfterAShorterName) {
    const std::wstring eight = UniqueName(8), two = L"Q" + std::to_wstring(GetCurrentProcessId() % 10);
    ASSERT_EQ(2u, two.size());
    TestAtom eightAtom(eight, false), twoAtom(two, false);
    short copied = -7;
    const std::wstring first = main.GetName(eightAtom.Number(), nullptr, &copied);
    ASSERT_EQ(8, copied);
    const std::wstring second = main.GetName(twoAtom.Number(), nullptr, &copied);
    ASSERT_EQ(2, copied);
    EXPECT_EQ(two + L'\0' + eight.substr(3, 5) + L'\0', second.substr(0, 9));
    EXPECT_EQ(first.substr(8), second.substr(8)) << "and whatever followed them";
}

TEST_P(Names, LocalAndGlobalReadsShareTheBuffer) {
    const std::wstring eight = UniqueName(8), two = L"G" + std::to_wstring(GetCurrentProcessId() % 10);
    TestAtom local(eight, false), global(two, true);
    short copied = -7;
    ASSERT_EQ(eight + L'\0', main.GetName(local.Number(), nullptr, &copied, false).substr(0, 9));
    const std::wstring second = main.GetName(global.Number(), nullptr, &copied, true);
    ASSERT_EQ(S_OK, main.Status());
    EXPECT_EQ(two + L'\0' + eight.substr(3, 5), second.substr(0, 8));
    // And the other way round.
    const std::wstring eightGlobal = UniqueName(8), twoLocal = L"L" + std::to_wstring(GetCurrentProcessId() % 10);
    TestAtom global8(eightGlobal, true), local2(twoLocal, false);
    ASSERT_EQ(eightGlobal + L'\0', main.GetName(global8.Number(), nullptr, nullptr, true).substr(0, 9));
    EXPECT_EQ(twoLocal + L'\0' + eightGlobal.substr(3, 5), main.GetName(local2.Number(), nullptr, nullptr, false).substr(0, 8));
}

TEST_P(Names, InstancesOnOneThreadShareTheBuffer) {
    MainClass other(GetParam());
    const std::wstring eight = UniqueName(8), two = L"I" + std::to_wstring(GetCurrentProcessId() % 10);
    TestAtom eightAtom(eight, false), twoAtom(two, false);
    ASSERT_EQ(eight + L'\0', main.GetName(eightAtom.Number()).substr(0, 9));
    EXPECT_EQ(two + L'\0' + eight.substr(3, 5), other.GetName(twoAtom.Number()).substr(0, 8));
    // Also a late-bound and an early-bound instance.
    MainClass crossed(GetParam() == Binding::Late ? Binding::Early : Binding::Late);
    ASSERT_EQ(eight + L'\0', main.GetName(eightAtom.Number()).substr(0, 9));
    EXPECT_EQ(two + L'\0' + eight.substr(3, 5), crossed.GetName(twoAtom.Number()).substr(0, 8));
}

TEST_P(Names, AnotherThreadHasABufferOfItsOwn) {
    const std::wstring eight = UniqueName(8), two = L"T" + std::to_wstring(GetCurrentProcessId() % 10);
    TestAtom eightAtom(eight, false), twoAtom(two, false);
    ASSERT_EQ(eight + L'\0', main.GetName(eightAtom.Number()).substr(0, 9));

    std::wstring seenThere;
    const Binding binding = GetParam();
    const short twoNumber = twoAtom.Number(), eightNumber = eightAtom.Number();
    OnOtherThread([&] {
        MainClass there(binding);
        ASSERT_TRUE(there.Dispatch());
        short copied = -7;
        seenThere = there.GetName(twoNumber, nullptr, &copied);
        EXPECT_EQ(S_OK, there.Status());
        EXPECT_EQ(2, copied);
        // Leaves something behind in its own buffer.
        there.GetName(eightNumber);
    });
    ASSERT_EQ(kBufferLength, seenThere.size());
    EXPECT_EQ(two + L'\0', seenThere.substr(0, 3));
    EXPECT_EQ(std::wstring::npos, seenThere.find(eight.substr(3, 5))) << "the first thread's name is not in there";

    // This thread's buffer still holds its own content, untouched by the other thread.
    const std::wstring here = main.GetName(twoAtom.Number());
    EXPECT_EQ(two + L'\0' + eight.substr(3, 5), here.substr(0, 8));
}

TEST_P(Names, SizeThatCannotGrowIsReportedAndTheReadStillDone) {
    for (bool global : kTables) {
        SCOPED_TRACE(TableName(global));
        const std::wstring name = UniqueName(20);
        TestAtom atom(name, global);
        const PlatformRead clamped = ReadDirectly(atom.Atom(), 256, global);
        RecordingLibrary library;
        short size = 32767, copied = -7;
        const std::wstring result = main.GetName(atom.Number(), &size, &copied, global);
        EXPECT_EQ(S_OK, main.Status()) << "the overflow is trapped";
        EXPECT_EQ(32767, size) << "the size stays as it was";
        EXPECT_EQ(static_cast<short>(clamped.count), copied);
        EXPECT_EQ(20, copied) << "the read went ahead with the buffer's positions";
        ASSERT_EQ(kBufferLength, result.size());
        EXPECT_EQ(name + L'\0', result.substr(0, 21));

        auto reports = library.CallsTo(L"ErrorHandlerMessageQx");
        ASSERT_EQ(1u, reports.size());
        EXPECT_EQ(1u, library.Calls().size());
        ASSERT_EQ(8u, reports[0].args.size());
        EXPECT_EQ(global ? L"czAtomTables.GlobalGetAtomNameAmts" : L"czAtomTables.GetAtomNameAmts",
                  reports[0].args[3].text);
        EXPECT_EQ(6, reports[0].args[1].errNumber) << "an overflow";
    }
}

INSTANTIATE_TEST_SUITE_P(Bindings, Names, ::testing::Values(Binding::Late, Binding::Early), BindingName);

// Through the vtable: null for an optional parameter means omitted; null for a required one is
// refused without a crash and without a report.
TEST(NamesEarlyBound, NullPointers) {
    RecordingLibrary library;
    MainClass main(Binding::Early);
    _clsQxAtomTables10A *v = main.Vtable();
    ASSERT_TRUE(v);
    const std::wstring name = UniqueName(9);
    TestAtom atom(name, false);
    short number = atom.Number();

    Bstr result;
    ASSERT_EQ(S_OK, v->GetAtomNameAmts(&number, nullptr, nullptr, result.Receive()));
    EXPECT_EQ(kBufferLength, result.Length());
    EXPECT_EQ(name + L'\0', std::wstring(result.View().substr(0, 10)));

    short copied = -7;
    ASSERT_EQ(S_OK, v->GetAtomNameAmts(&number, nullptr, &copied, result.Receive()));
    EXPECT_EQ(9, copied);
    short size = 3;
    ASSERT_EQ(S_OK, v->GetAtomNameAmts(&number, &size, nullptr, result.Receive()));
    EXPECT_EQ(4, size);
    EXPECT_EQ(name.substr(0, 3) + L'\0', std::wstring(result.View().substr(0, 4)));

    for (bool global : kTables) {
        auto read = [&](short *a, short *s, short *c, BSTR *r) {
            return global ? v->GlobalGetAtomNameAmts(a, s, c, r) : v->GetAtomNameAmts(a, s, c, r);
        };
        EXPECT_EQ(E_POINTER, read(nullptr, &size, &copied, result.Receive()));
        EXPECT_EQ(E_POINTER, read(&number, &size, &copied, nullptr));
    }
    EXPECT_TRUE(library.Calls().empty());
}
