// Adding, finding and deleting atoms through the registered component, late and early bound, with
// the platform's own atom functions as the witness of what reached the tables.
#include <string>

#include "AtomTables10.h"
#include "support/client.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

// A name of `length` characters that no other test (or earlier run in this prefix) uses.
std::wstring UniqueName(const wchar_t *tag, size_t length = 0) {
    static unsigned counter = 0;
    std::wstring name = std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter) + L"-";
    if (length == 0) return name;
    while (name.size() < length) name += static_cast<wchar_t>(L'a' + name.size() % 26);
    name.resize(length);
    return name;
}

// What the platform has for a name right now (0: not in the table).
ATOM PlatformFind(const std::wstring &name, bool global) {
    return global ? GlobalFindAtomW(name.c_str()) : FindAtomW(name.c_str());
}
ATOM PlatformFindAnsi(const std::string &name, bool global) {
    return global ? GlobalFindAtomA(name.c_str()) : FindAtomA(name.c_str());
}
ATOM PlatformDelete(ATOM atom, bool global) { return global ? GlobalDeleteAtom(atom) : DeleteAtom(atom); }

// A platform atom as the component hands it out: its 16 bits sign-extended.
long SignExtended(WORD value) { return static_cast<short>(value); }

class Atoms : public ::testing::TestWithParam<Binding> {
protected:
    void SetUp() override { ASSERT_TRUE(main.Dispatch()); }
    MainClass main{GetParam()};
};

} // namespace

TEST_P(Atoms, NameOf255CharactersReachesThePlatformAndComesBackNegative) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        BoxWatcher watcher;
        const std::wstring name = UniqueName(L"max", 255);
        Bstr text(name);
        const long added = main.Add(*text.Address(), global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_TRUE(watcher.Boxes().empty()) << "255 characters are within the limit";
        const ATOM platform = PlatformFind(name, global);
        ASSERT_NE(0, platform) << "the whole 255-character name is in the table";
        EXPECT_EQ(SignExtended(platform), added);
        EXPECT_LT(added, 0) << "string atoms have the top bit set and come back negative";
        EXPECT_EQ(name, text.View()) << "an ASCII name comes back unchanged";

        Bstr again(name);
        EXPECT_EQ(added, main.Find(*again.Address(), global));
        EXPECT_EQ(S_OK, main.Status());

        // The negative number names the same atom for reading its name and for deleting.
        short size = 255, copied = 0;
        EXPECT_EQ(name, main.GetName(static_cast<short>(added), &size, &copied, global));
        EXPECT_EQ(255, copied);
        EXPECT_EQ(0, main.Delete(static_cast<short>(added), global)) << "the platform's success status";
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(0, PlatformFind(name, global)) << "deleted from the platform's table";
        Bstr gone(name);
        EXPECT_EQ(0, main.Find(*gone.Address(), global));
    }
}

TEST_P(Atoms, NameOf256CharactersShowsTheLengthBoxAndNeverReachesThePlatform) {
    ASSERT_TRUE(HaveDisplay()) << "message boxes need a display: run under xvfb-run";
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "GlobalAddAtomAmts" : "AddAtomAmts");
        RecordingLibrary library;
        BoxWatcher watcher;
        const std::wstring name = UniqueName(L"over", 256);
        Bstr text(name);
        const BSTR before = text.Get();

        const long added = main.Add(*text.Address(), global);
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(0, added);

        ASSERT_EQ(1u, watcher.Boxes().size());
        const Box &box = watcher.Boxes()[0];
        EXPECT_EQ(kLengthPrompt, box.text);
        EXPECT_EQ(kLengthTitle, box.caption);
        EXPECT_TRUE(box.informationIcon);
        EXPECT_FALSE(box.cancelButton);

        EXPECT_EQ(0, PlatformFind(name.substr(0, 255), global)) << "no shortened form was added";
        EXPECT_EQ(before, text.Get()) << "the caller's string is left alone";
        EXPECT_EQ(name, text.View());
        EXPECT_TRUE(library.Calls().empty()) << "a refused name is no failure: nothing is reported";
    }
}

TEST_P(Atoms, FindingAnOverlongNameAsksThePlatformWithoutABox) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "GlobalFindAtomAmts" : "FindAtomAmts");
        RecordingLibrary library;
        BoxWatcher watcher;
        const std::wstring name = UniqueName(L"find", 300);
        Bstr text(name);
        const long found = main.Find(*text.Address(), global);
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(SignExtended(PlatformFind(name, global)), found);
        EXPECT_EQ(0, found);
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_TRUE(library.Calls().empty());
        EXPECT_EQ(name, text.View()) << "the name went to the platform and came back as its round trip";
    }
}

TEST_P(Atoms, EmptyNameIsHandedToThePlatformLikeAnyOther) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        RecordingLibrary library;
        BoxWatcher watcher;
        const long platform = SignExtended(global ? GlobalAddAtomW(L"") : AddAtomW(L""));
        ASSERT_EQ(0, platform) << "the platform refuses an empty name";

        Bstr empty(L"");
        EXPECT_EQ(platform, main.Add(*empty.Address(), global));
        EXPECT_EQ(S_OK, main.Status());
        Bstr null; // a null string is an empty string
        EXPECT_EQ(platform, main.Add(*null.Address(), global));
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(0u, null.Length());
        Bstr find(L"");
        EXPECT_EQ(SignExtended(PlatformFind(L"", global)), main.Find(*find.Address(), global));
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_TRUE(library.Calls().empty());
    }
}

TEST_P(Atoms, StatusesAndAtomsPassThroughSignExtended) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        RecordingLibrary library;
        // An integer atom lies below the top bit and stays positive.
        Bstr integer(L"#123");
        const long small = main.Add(*integer.Address(), global);
        EXPECT_EQ(SignExtended(PlatformFind(L"#123", global)), small);
        EXPECT_EQ(123, small);

        // The platform counts adds of one name; every add and delete is one platform call.
        const std::wstring name = UniqueName(L"count");
        Bstr first(name), second(name);
        const long atom = main.Add(*first.Address(), global);
        ASSERT_LT(atom, 0);
        EXPECT_EQ(atom, main.Add(*second.Address(), global)) << "the same name is the same atom";
        EXPECT_EQ(0, main.Delete(static_cast<short>(atom), global));
        EXPECT_EQ(SignExtended(PlatformFind(name, global)), atom) << "one reference is left";
        EXPECT_EQ(0, main.Delete(static_cast<short>(atom), global));
        EXPECT_EQ(0, PlatformFind(name, global));

        // A failed delete: whatever the platform says comes back sign-extended, never masked.
        const ATOM status = PlatformDelete(static_cast<ATOM>(atom), global);
        ASSERT_NE(0, status) << "the platform reports the failure";
        EXPECT_EQ(SignExtended(status), main.Delete(static_cast<short>(atom), global));
        EXPECT_EQ(S_OK, main.Status());
        if (status & 0x8000) {
            EXPECT_LT(SignExtended(status), 0);
        }

        // Finding a name that is not there does not add it.
        const std::wstring absent = UniqueName(L"absent");
        Bstr look(absent);
        EXPECT_EQ(0, main.Find(*look.Address(), global));
        EXPECT_EQ(0, PlatformFind(absent, global));
        EXPECT_TRUE(library.Calls().empty()) << "refusals by the platform are not failures";
    }
}

TEST_P(Atoms, InitAtomTableReturnsThePlatformStatusAndOnlyReadsTheSize) {
    RecordingLibrary library;
    short size = 37;
    const long status = main.InitAtomTable(size);
    EXPECT_EQ(S_OK, main.Status());
    EXPECT_EQ(SignExtended(LOWORD(static_cast<DWORD>(InitAtomTable(37)))), status);
    EXPECT_EQ(1, status) << "the platform's TRUE";
    EXPECT_EQ(37, size);
    for (short odd : {short(0), short(-5)}) {
        short value = odd;
        EXPECT_EQ(status, main.InitAtomTable(value)) << odd;
        EXPECT_EQ(S_OK, main.Status());
        EXPECT_EQ(odd, value);
    }
    EXPECT_TRUE(library.Calls().empty());
}

TEST_P(Atoms, NamesComeBackAsTheirAnsiRoundTrip) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        for (const wchar_t *unrepresentable : {L"\u4E2D", L"\u0394"}) {
            const std::wstring name = UniqueName(L"ansi") + unrepresentable + L"z";
            const std::string ansi = ToAnsi(name);
            const std::wstring roundTrip = FromAnsi(ansi);
            ASSERT_NE(name, roundTrip) << "the code page cannot hold the character";
            CPINFO codePage{};
            ASSERT_TRUE(GetCPInfo(CP_ACP, &codePage));
            std::wstring substituted = name;
            substituted[substituted.find(unrepresentable)] = static_cast<wchar_t>(codePage.DefaultChar[0]);
            EXPECT_EQ(substituted, roundTrip) << "the code page's substitute ('?') in its place";

            Bstr text(name);
            const long atom = main.Add(*text.Address(), global);
            ASSERT_EQ(S_OK, main.Status());
            EXPECT_EQ(roundTrip, text.View()) << "the caller's variable holds what the platform got";
            EXPECT_EQ(SignExtended(PlatformFindAnsi(ansi, global)), atom) << "the platform has the ANSI form";

            Bstr again(name);
            EXPECT_EQ(atom, main.Find(*again.Address(), global));
            EXPECT_EQ(roundTrip, again.View());
            main.Delete(static_cast<short>(atom), global);
        }
        // Plain ASCII comes back exactly; so does whatever else the code page holds.
        const std::wstring plain = UniqueName(L"Plain ASCII ~!@");
        Bstr text(plain);
        const long atom = main.Add(*text.Address(), global);
        EXPECT_EQ(plain, text.View());
        main.Delete(static_cast<short>(atom), global);
        const std::wstring accented = UniqueName(L"caf\u00E9");
        Bstr accentedText(accented);
        const long accentedAtom = main.Add(*accentedText.Address(), global);
        EXPECT_EQ(FromAnsi(ToAnsi(accented)), accentedText.View());
        main.Delete(static_cast<short>(accentedAtom), global);
    }
}

TEST_P(Atoms, EmbeddedNulEndsTheNameThePlatformSees) {
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        const std::wstring head = UniqueName(L"nul");
        const std::wstring name = head + std::wstring(1, L'\0') + L"tail";
        Bstr text(name);
        const long atom = main.Add(*text.Address(), global);
        ASSERT_EQ(S_OK, main.Status());
        EXPECT_EQ(SignExtended(PlatformFind(head, global)), atom);
        EXPECT_NE(0, atom);
        EXPECT_EQ(name, text.View()) << "the round trip keeps the whole string";
        Bstr again(name);
        EXPECT_EQ(atom, main.Find(*again.Address(), global));
        main.Delete(static_cast<short>(atom), global);
    }
}

INSTANTIATE_TEST_SUITE_P(Bindings, Atoms, ::testing::Values(Binding::Late, Binding::Early), BindingName);

// A VBScript variable (VT_BYREF|VT_VARIANT holding a string) receives the round trip in place, and
// an over-long name in such a variable is left as it was.
TEST(AtomsFromScripts, VariablesReceiveTheRoundTrip) {
    ComPtr<IDispatch> main = Create(L"AtomTables10.clsQxAtomTables10A");
    ASSERT_TRUE(main);
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        const std::wstring name = UniqueName(L"variable") + L"\u4E2D";
        const std::wstring roundTrip = FromAnsi(ToAnsi(name));
        Variant variable;
        V_VT(variable.Get()) = VT_BSTR;
        V_BSTR(variable.Get()) = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        Call added = Method(main.Get(), global ? L"GlobalAddAtomAmts" : L"AddAtomAmts", {Ref(variable.Get())});
        ASSERT_EQ(S_OK, added.hr);
        ASSERT_EQ(VT_I4, added.result.Type());
        EXPECT_LT(V_I4(added.result.Get()), 0);
        ASSERT_EQ(VT_BSTR, variable.Type());
        EXPECT_EQ(roundTrip, Text(V_BSTR(variable.Get())));

        Variant again;
        V_VT(again.Get()) = VT_BSTR;
        V_BSTR(again.Get()) = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        Call found = Method(main.Get(), global ? L"GlobalFindAtomAmts" : L"FindAtomAmts", {Ref(again.Get())});
        ASSERT_EQ(S_OK, found.hr);
        EXPECT_EQ(V_I4(added.result.Get()), V_I4(found.result.Get()));
        EXPECT_EQ(roundTrip, Text(V_BSTR(again.Get())));
        Method(main.Get(), global ? L"GlobalDeleteAtomAmts" : L"DeleteAtomAmts", {I4(V_I4(added.result.Get()))});
    }
    if (!HaveDisplay()) return; // the refusal shows a box
    BoxWatcher watcher;
    const std::wstring overlong = UniqueName(L"variable", 256);
    Variant variable;
    V_VT(variable.Get()) = VT_BSTR;
    V_BSTR(variable.Get()) = SysAllocStringLen(overlong.data(), static_cast<UINT>(overlong.size()));
    const BSTR before = V_BSTR(variable.Get());
    Call refused = Method(main.Get(), L"AddAtomAmts", {Ref(variable.Get())});
    ASSERT_EQ(S_OK, refused.hr);
    EXPECT_EQ(0, V_I4(refused.result.Get()));
    EXPECT_EQ(1u, watcher.Boxes().size());
    ASSERT_EQ(VT_BSTR, variable.Type());
    EXPECT_EQ(before, V_BSTR(variable.Get()));
    EXPECT_EQ(overlong, Text(V_BSTR(variable.Get())));
}

// Through the vtable, null for a required pointer is refused, and nothing is reported.
TEST(AtomsEarlyBound, NullPointersAreRefused) {
    RecordingLibrary library;
    MainClass main(Binding::Early);
    _clsQxAtomTables10A *v = main.Vtable();
    ASSERT_TRUE(v);
    Bstr name(L"null-pointers");
    short number = 1;
    LONG result = 77;
    EXPECT_EQ(E_POINTER, v->InitAtomTableAmts(nullptr, &result));
    EXPECT_EQ(E_POINTER, v->InitAtomTableAmts(&number, nullptr));
    for (bool global : {false, true}) {
        EXPECT_EQ(E_POINTER, global ? v->GlobalAddAtomAmts(nullptr, &result) : v->AddAtomAmts(nullptr, &result));
        EXPECT_EQ(E_POINTER, global ? v->GlobalAddAtomAmts(name.Address(), nullptr) : v->AddAtomAmts(name.Address(), nullptr));
        EXPECT_EQ(E_POINTER, global ? v->GlobalFindAtomAmts(nullptr, &result) : v->FindAtomAmts(nullptr, &result));
        EXPECT_EQ(E_POINTER, global ? v->GlobalFindAtomAmts(name.Address(), nullptr) : v->FindAtomAmts(name.Address(), nullptr));
        EXPECT_EQ(E_POINTER, global ? v->GlobalDeleteAtomAmts(nullptr, &result) : v->DeleteAtomAmts(nullptr, &result));
        EXPECT_EQ(E_POINTER, global ? v->GlobalDeleteAtomAmts(&number, nullptr) : v->DeleteAtomAmts(&number, nullptr));
    }
    EXPECT_EQ(0, FindAtomW(L"null-pointers"));
    EXPECT_EQ(0, GlobalFindAtomW(L"null-pointers"));
    EXPECT_EQ(L"null-pointers", name.View());
    EXPECT_TRUE(library.Calls().empty());
}
