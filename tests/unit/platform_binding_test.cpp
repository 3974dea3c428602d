// The platform's atom functions are bound by name on first use. A function that cannot be bound is
// a failure of the statement that calls it: reported once to the common library with the member's
// source, after which the member returns its default result. Binding works again as soon as the
// lookup can find the function.
#include <string>

#include "unit_support.h"

using testing_support::RecordedCall;
using testing_support::RecordingLibrary;
using namespace unit;

namespace {

constexpr long kEntryPointNotFound = 453;

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

TEST_F(PlatformBinding, InitAtomTableUnbound) {
    LONG result = -7;
    short size = 37;
    {
        PlatformLookup lookup("InitAtomTable");
        ASSERT_EQ(S_OK, tables->InitAtomTableAmts(&size, &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(37, size) << "the size is only read";
    ExpectOneUnboundReport(L"InitAtomTableAmts", "InitAtomTable");

    library.Clear();
    ASSERT_EQ(S_OK, tables->InitAtomTableAmts(&size, &result));
    EXPECT_EQ(1, result) << "bound again: the platform's TRUE";
    EXPECT_TRUE(library.Calls().empty());
}

TEST_F(PlatformBinding, AddAtomUnbound) {
    const std::wstring name = UniqueName(L"add");
    Bstr text(name);
    const BSTR callersString = text.Get();
    LONG result = -7;
    {
        PlatformLookup lookup("AddAtomA");
        ASSERT_EQ(S_OK, tables->AddAtomAmts(text.Address(), &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(callersString, text.Get()) << "the caller's string is not replaced";
    EXPECT_EQ(name, text.View());
    EXPECT_EQ(0, FindAtomW(name.c_str())) << "nothing was added";
    ExpectOneUnboundReport(L"AddAtomAmts", "AddAtomA");

    library.Clear();
    ASSERT_EQ(S_OK, tables->AddAtomAmts(text.Address(), &result));
    EXPECT_NE(0, result);
    EXPECT_EQ(static_cast<ATOM>(result), FindAtomW(name.c_str()));
    EXPECT_TRUE(library.Calls().empty());
    DeleteAtom(static_cast<ATOM>(result));
}

TEST_F(PlatformBinding, DeleteAtomUnbound) {
    const std::wstring name = UniqueName(L"delete");
    const ATOM atom = AddAtomW(name.c_str());
    ASSERT_NE(0, atom);
    short number = static_cast<short>(atom);
    LONG result = -7;
    {
        PlatformLookup lookup("DeleteAtom");
        ASSERT_EQ(S_OK, tables->DeleteAtomAmts(&number, &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(atom, FindAtomW(name.c_str())) << "the atom is still there";
    ExpectOneUnboundReport(L"DeleteAtomAmts", "DeleteAtom");

    library.Clear();
    ASSERT_EQ(S_OK, tables->DeleteAtomAmts(&number, &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, FindAtomW(name.c_str())) << "bound again: the atom is gone";
    EXPECT_TRUE(library.Calls().empty());
}

TEST_F(PlatformBinding, FindAtomUnbound) {
    const std::wstring name = UniqueName(L"find");
    const ATOM atom = AddAtomW(name.c_str());
    ASSERT_NE(0, atom);
    Bstr text(name);
    const BSTR callersString = text.Get();
    LONG result = -7;
    {
        PlatformLookup lookup("FindAtomA");
        ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(callersString, text.Get()) << "the caller's string is not replaced";
    ExpectOneUnboundReport(L"FindAtomAmts", "FindAtomA");

    library.Clear();
    ASSERT_EQ(S_OK, tables->FindAtomAmts(text.Address(), &result));
    EXPECT_EQ(static_cast<short>(atom), result);
    EXPECT_TRUE(library.Calls().empty());
    DeleteAtom(atom);
}

TEST_F(PlatformBinding, GetAtomNameUnbound) {
    const ATOM atom = AddAtomW(UniqueName(L"read").c_str());
    ASSERT_NE(0, atom);
    short number = static_cast<short>(atom);
    // A first read fills the thread's buffer; the unbound read must hand back exactly that.
    short size = 0, copied = 0;
    Bstr before;
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, before.Receive()));
    ASSERT_EQ(255u, before.Length());
    ASSERT_EQ(UniqueName(L"read"), before.View().substr(0, static_cast<size_t>(copied)));

    short size2 = 3, copied2 = -9;
    Bstr after;
    {
        PlatformLookup lookup("GetAtomNameA");
        ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size2, &copied2, after.Receive()));
    }
    EXPECT_EQ(before.View(), after.View()) << "the buffer as it stood";
    EXPECT_EQ(4, size2) << "the size adjustment ran before the failed statement";
    EXPECT_EQ(-9, copied2) << "the count is not written";
    ExpectOneUnboundReport(L"GetAtomNameAmts", "GetAtomNameA");

    library.Clear();
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size2, &copied2, after.Receive()));
    EXPECT_EQ(4, copied2) << "bound again: 5 positions, 4 characters";
    EXPECT_TRUE(library.Calls().empty());
    DeleteAtom(atom);
}

TEST_F(PlatformBinding, GlobalAddAtomUnbound) {
    const std::wstring name = UniqueName(L"global-add");
    Bstr text(name);
    const BSTR callersString = text.Get();
    LONG result = -7;
    {
        PlatformLookup lookup("GlobalAddAtomA");
        ASSERT_EQ(S_OK, tables->GlobalAddAtomAmts(text.Address(), &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(callersString, text.Get()) << "the caller's string is not replaced";
    EXPECT_EQ(0, GlobalFindAtomW(name.c_str())) << "nothing was added";
    ExpectOneUnboundReport(L"GlobalAddAtomAmts", "GlobalAddAtomA");

    library.Clear();
    ASSERT_EQ(S_OK, tables->GlobalAddAtomAmts(text.Address(), &result));
    EXPECT_NE(0, result);
    EXPECT_EQ(static_cast<ATOM>(result), GlobalFindAtomW(name.c_str()));
    EXPECT_TRUE(library.Calls().empty());
    GlobalDeleteAtom(static_cast<ATOM>(result));
}

TEST_F(PlatformBinding, GlobalDeleteAtomUnbound) {
    const std::wstring name = UniqueName(L"global-delete");
    const ATOM atom = GlobalAddAtomW(name.c_str());
    ASSERT_NE(0, atom);
    short number = static_cast<short>(atom);
    LONG result = -7;
    {
        PlatformLookup lookup("GlobalDeleteAtom");
        ASSERT_EQ(S_OK, tables->GlobalDeleteAtomAmts(&number, &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(atom, GlobalFindAtomW(name.c_str())) << "the atom is still there";
    ExpectOneUnboundReport(L"GlobalDeleteAtomAmts", "GlobalDeleteAtom");

    library.Clear();
    ASSERT_EQ(S_OK, tables->GlobalDeleteAtomAmts(&number, &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, GlobalFindAtomW(name.c_str())) << "bound again: the atom is gone";
    EXPECT_TRUE(library.Calls().empty());
}

TEST_F(PlatformBinding, GlobalFindAtomUnbound) {
    const std::wstring name = UniqueName(L"global-find");
    const ATOM atom = GlobalAddAtomW(name.c_str());
    ASSERT_NE(0, atom);
    Bstr text(name);
    const BSTR callersString = text.Get();
    LONG result = -7;
    {
        PlatformLookup lookup("GlobalFindAtomA");
        ASSERT_EQ(S_OK, tables->GlobalFindAtomAmts(text.Address(), &result));
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(callersString, text.Get()) << "the caller's string is not replaced";
    ExpectOneUnboundReport(L"GlobalFindAtomAmts", "GlobalFindAtomA");

    library.Clear();
    ASSERT_EQ(S_OK, tables->GlobalFindAtomAmts(text.Address(), &result));
    EXPECT_EQ(static_cast<short>(atom), result);
    EXPECT_TRUE(library.Calls().empty());
    GlobalDeleteAtom(atom);
}

TEST_F(PlatformBinding, GlobalGetAtomNameUnbound) {
    const ATOM atom = GlobalAddAtomW(UniqueName(L"global-read").c_str());
    ASSERT_NE(0, atom);
    short number = static_cast<short>(atom);
    short size = 0, copied = 0;
    Bstr before;
    ASSERT_EQ(S_OK, tables->GlobalGetAtomNameAmts(&number, &size, &copied, before.Receive()));
    ASSERT_EQ(255u, before.Length());
    ASSERT_EQ(UniqueName(L"global-read"), before.View().substr(0, static_cast<size_t>(copied)));

    short size2 = 0, copied2 = -9;
    Bstr after;
    {
        PlatformLookup lookup("GlobalGetAtomNameA");
        ASSERT_EQ(S_OK, tables->GlobalGetAtomNameAmts(&number, &size2, &copied2, after.Receive()));
    }
    EXPECT_EQ(before.View(), after.View()) << "the buffer as it stood";
    EXPECT_EQ(255, size2);
    EXPECT_EQ(-9, copied2) << "the count is not written";
    ExpectOneUnboundReport(L"GlobalGetAtomNameAmts", "GlobalGetAtomNameA");

    library.Clear();
    copied2 = -9;
    ASSERT_EQ(S_OK, tables->GlobalGetAtomNameAmts(&number, nullptr, &copied2, after.Receive()));
    EXPECT_EQ(static_cast<short>(UniqueName(L"global-read").size()), copied2);
    EXPECT_TRUE(library.Calls().empty());
    GlobalDeleteAtom(atom);
}

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
