// The platform's atom functions are bound by name on first use. A function that cannot be bound is
// a failure of the statement that calls it: reported once to the common library with the member's
// source, after which the member returns its default result. Binding works again as soon as the
// lookup can find the function.
#include <string>

#include "unit_support.h"
#include "support/expected.h"

using testing_support::RecordedCall;
using testing_support::RecordingLibrary;
using namespace unit;

namespace {


struct PlatformBinding : ::testing::Test {
    void SetUp() override {
        tables = NewTables();
        ASSERT_TRUE(tables);
    }

    // The one report the library received: from `member`, about `function` not being found.
    void ExpectOneUnboundReport(const wchar_t *member, const char *function) {
        SCOPED_TRACE(function);
        ASSERT_EQ(1u, library.Calls().size()) << "exactly one call reaches the common library";
        const RecordedCall &report = library.Calls()[0];
        EXPECT_EQ(L"ErrorHandlerMessageQx", report.method);
        EXPECT_EQ(RecordingLibrary::kErrorHandler, report.progId);
        ASSERT_EQ(8u, report.args.size());
        EXPECT_EQ(std::wstring(L"czAtomTables.") + member, report.args[3].text);
        EXPECT_EQ(kEntryPointNotFound, report.args[1].errNumber);
        const std::wstring name(function, function + std::char_traits<char>::length(function));
        EXPECT_NE(std::wstring::npos, report.args[1].errDescription.find(name)) << report.args[1].errDescription;
        ASSERT_TRUE(report.args[1].object);
        EXPECT_EQ(static_cast<long>(ERROR_PROC_NOT_FOUND), NumberProperty(report.args[1].object.Get(), L"LastDllError"));
        EXPECT_EQ(1, library.Creations(RecordingLibrary::kErrorHandler));
        EXPECT_EQ(0, library.Alive()) << "the handler instance lives for the one report only";
    }

    RecordingLibrary library;
    ComPtr<_clsQxAtomTables10A> tables;
};

// A name no other test uses, so that the tables hold it only when this test put it there.
std::wstring UniqueName(const wchar_t *stem) {
    return std::wstring(L"unit-binding-") + stem + L"-" + std::to_wstring(GetCurrentProcessId());
}

} // namespace

// Every atom member, each with its platform function missing: one case each, local and global.
enum class Kind { Init, Add, Find, Delete, Read };
struct UnboundCase {
    Kind kind;
    bool global;
    const wchar_t *member;
    const char *function;
};
const UnboundCase kUnboundCases[] = {
    {Kind::Init, false, L"InitAtomTableAmts", "InitAtomTable"},
    {Kind::Add, false, L"AddAtomAmts", "AddAtomA"},
    {Kind::Add, true, L"GlobalAddAtomAmts", "GlobalAddAtomA"},
    {Kind::Find, false, L"FindAtomAmts", "FindAtomA"},
    {Kind::Find, true, L"GlobalFindAtomAmts", "GlobalFindAtomA"},
    {Kind::Delete, false, L"DeleteAtomAmts", "DeleteAtom"},
    {Kind::Delete, true, L"GlobalDeleteAtomAmts", "GlobalDeleteAtom"},
    {Kind::Read, false, L"GetAtomNameAmts", "GetAtomNameA"},
    {Kind::Read, true, L"GlobalGetAtomNameAmts", "GlobalGetAtomNameA"},
};

struct UnboundPlatformFunction : PlatformBinding, ::testing::WithParamInterface<UnboundCase> {
    // The platform's own functions of the table the case works on, for setting up and looking.
    ATOM Add(const std::wstring &name) const { return GetParam().global ? GlobalAddAtomW(name.c_str()) : AddAtomW(name.c_str()); }
    ATOM Find(const std::wstring &name) const { return GetParam().global ? GlobalFindAtomW(name.c_str()) : FindAtomW(name.c_str()); }
    void Delete(ATOM atom) const { GetParam().global ? GlobalDeleteAtom(atom) : DeleteAtom(atom); }

    // The member of the case, through the vtable.
    HRESULT Call(BSTR *name, LONG *result) {
        switch (GetParam().kind) {
        case Kind::Add: return GetParam().global ? tables->GlobalAddAtomAmts(name, result) : tables->AddAtomAmts(name, result);
        default: return GetParam().global ? tables->GlobalFindAtomAmts(name, result) : tables->FindAtomAmts(name, result);
        }
    }
    HRESULT Call(short *atom, LONG *result) {
        return GetParam().global ? tables->GlobalDeleteAtomAmts(atom, result) : tables->DeleteAtomAmts(atom, result);
    }
    HRESULT Read(short *atom, short *size, short *copied, BSTR *result) {
        return GetParam().global ? tables->GlobalGetAtomNameAmts(atom, size, copied, result)
                                 : tables->GetAtomNameAmts(atom, size, copied, result);
    }
};

// Unbound, the member reports once and returns its default, leaving the caller's arguments and the
// tables as they were; bound again, it works and reports nothing.
TEST_P(UnboundPlatformFunction, IsReportedOnceAndBindsAgainLater) {
    const UnboundCase &c = GetParam();
    const std::wstring name = UniqueName(c.member);
    LONG result = -7;
    switch (c.kind) {
    case Kind::Init: {
        short size = 37;
        {
            PlatformLookup lookup(c.function);
            ASSERT_EQ(S_OK, tables->InitAtomTableAmts(&size, &result));
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(37, size) << "the size is only read";
        ExpectOneUnboundReport(c.member, c.function);
        library.Clear();
        ASSERT_EQ(S_OK, tables->InitAtomTableAmts(&size, &result));
        EXPECT_EQ(1, result) << "bound again: the platform's TRUE";
        break;
    }
    case Kind::Add:
    case Kind::Find: {
        if (c.kind == Kind::Find) {
            ASSERT_NE(0, Add(name));
        }
        Bstr text(name);
        const BSTR callersString = text.Get();
        {
            PlatformLookup lookup(c.function);
            ASSERT_EQ(S_OK, Call(text.Address(), &result));
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(callersString, text.Get()) << "the caller's string is not replaced";
        EXPECT_EQ(name, text.View());
        if (c.kind == Kind::Add) {
            EXPECT_EQ(0, Find(name)) << "nothing was added";
        }
        ExpectOneUnboundReport(c.member, c.function);
        library.Clear();
        ASSERT_EQ(S_OK, Call(text.Address(), &result));
        EXPECT_NE(0, result);
        EXPECT_EQ(static_cast<short>(Find(name)), result) << "bound again";
        Delete(Find(name));
        break;
    }
    case Kind::Delete: {
        const ATOM atom = Add(name);
        ASSERT_NE(0, atom);
        short number = static_cast<short>(atom);
        {
            PlatformLookup lookup(c.function);
            ASSERT_EQ(S_OK, Call(&number, &result));
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(atom, Find(name)) << "the atom is still there";
        ExpectOneUnboundReport(c.member, c.function);
        library.Clear();
        ASSERT_EQ(S_OK, Call(&number, &result));
        EXPECT_EQ(0, result);
        EXPECT_EQ(0, Find(name)) << "bound again: the atom is gone";
        break;
    }
    case Kind::Read: {
        const ATOM atom = Add(name);
        ASSERT_NE(0, atom);
        short number = static_cast<short>(atom);
        // A first read fills the thread's buffer; the unbound read must hand back exactly that.
        short size = 0, copied = 0;
        Bstr before;
        ASSERT_EQ(S_OK, Read(&number, &size, &copied, before.Receive()));
        ASSERT_EQ(255u, before.Length());
        ASSERT_EQ(name, before.View().substr(0, static_cast<size_t>(copied)));
        short size2 = 0, copied2 = -9;
        Bstr after;
        {
            PlatformLookup lookup(c.function);
            ASSERT_EQ(S_OK, Read(&number, &size2, &copied2, after.Receive()));
        }
        EXPECT_EQ(before.View(), after.View()) << "the buffer as it stood";
        EXPECT_EQ(255, size2) << "the size adjustment ran before the failed statement";
        EXPECT_EQ(-9, copied2) << "the count is not written";
        ExpectOneUnboundReport(c.member, c.function);
        library.Clear();
        ASSERT_EQ(S_OK, Read(&number, &size2, &copied2, after.Receive()));
        EXPECT_EQ(static_cast<short>(name.size()), copied2) << "bound again: the whole name";
        Delete(atom);
        break;
    }
    }
    EXPECT_TRUE(library.Calls().empty()) << "nothing reported once bound again";
}

INSTANTIATE_TEST_SUITE_P(EveryAtomMember, UnboundPlatformFunction, ::testing::ValuesIn(kUnboundCases),
                         [](const ::testing::TestParamInfo<UnboundCase> &info) {
                             return std::string(info.param.function);
                         });

TEST_F(PlatformBinding, AnAddressIsLookedUpOnceUntilTheLookupIsReplaced) {
    const std::wstring name = UniqueName(L"lookups");
    short size = 10;
    LONG result = 0;
    {
        PlatformLookup lookup;
        Bstr text(name);
        ASSERT_EQ(S_OK, tables->AddAtomAmts(text.Address(), &result));
        ASSERT_NE(0, result);
        ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
        ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
        ASSERT_EQ(S_OK, tables->InitAtomTableAmts(&size, &result));
        EXPECT_EQ(1, lookup.Lookups("AddAtomA"));
        EXPECT_EQ(1, lookup.Lookups("FindAtomA")) << "the address found serves later calls";
        EXPECT_EQ(1, lookup.Lookups("InitAtomTable"));
        EXPECT_EQ(0, lookup.Lookups("DeleteAtom")) << "bound when first called, not before";
    }
    {
        // A new lookup forgets every address found through the old one.
        PlatformLookup lookup("FindAtomA");
        Bstr text(name);
        ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
        EXPECT_EQ(0, result);
        EXPECT_EQ(1, lookup.Lookups("FindAtomA"));
    }
    EXPECT_EQ(1u, library.Calls().size());
    // Restored: the function is found again.
    Bstr text(name);
    ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
    EXPECT_NE(0, result);
    DeleteAtom(static_cast<ATOM>(result));
}
