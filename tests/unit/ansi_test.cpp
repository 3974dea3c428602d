// Conversion between automation strings and the ANSI code page, as the platform's ...A functions
// need it, in both of its forms: into standard strings and into small-buffer text (which must give
// the same results, with a terminator after the text). The test prefix runs in the C locale, whose
// ANSI code page is Windows-1252.
#include <string>

#include "runtime/ansi.h"
#include "unit_support.h"

namespace {

struct Ansi : ::testing::Test {
    void SetUp() override { ASSERT_EQ(1252u, GetACP()) << "these cases are written for Windows-1252"; }

    static std::string ToAnsi(std::wstring_view text) {
        std::string out = "left over";
        EXPECT_EQ(S_OK, rt::ansi::FromWide(text, out));
        rt::ansi::AnsiText small;
        small.Resize(9)[0] = 'x';
        EXPECT_EQ(S_OK, rt::ansi::FromWide(text, small));
        EXPECT_EQ(out, std::string(small.View())) << "both forms agree";
        EXPECT_EQ('\0', small.data()[small.size()]) << "a terminator follows the text";
        return out;
    }
    static std::wstring ToWide(std::string_view bytes) {
        std::wstring out = L"left over";
        EXPECT_EQ(S_OK, rt::ansi::ToWide(bytes, out));
        rt::ansi::WideText small;
        small.Resize(9)[0] = L'x';
        EXPECT_EQ(S_OK, rt::ansi::ToWide(bytes, small));
        EXPECT_EQ(out, std::wstring(small.View())) << "both forms agree";
        EXPECT_EQ(L'\0', small.data()[small.size()]) << "a terminator follows the text";
        return out;
    }
};

} // namespace

TEST_F(Ansi, AsciiRoundTripsUnchanged) {
    const std::wstring text = L"Atom name_01 ~!#$%&()*+,-./:;<=>?@[\\]^`{|}";
    const std::string bytes = ToAnsi(text);
    EXPECT_EQ(std::string("Atom name_01 ~!#$%&()*+,-./:;<=>?@[\\]^`{|}"), bytes);
    EXPECT_EQ(text, ToWide(bytes));
    // Every ASCII character, control characters included.
    std::wstring all;
    for (wchar_t c = 1; c < 128; ++c) all += c;
    EXPECT_EQ(all, ToWide(ToAnsi(all)));
    EXPECT_EQ(127u, ToAnsi(all).size());
}

TEST_F(Ansi, CharactersOfTheCodePageKeepTheirOwnBytes) {
    const std::wstring text = L"caf\u00E9 \u20AC \u00FF";
    const std::string bytes = ToAnsi(text);
    EXPECT_EQ(std::string("caf\xE9 \x80 \xFF"), bytes);
    EXPECT_EQ(text, ToWide(bytes));
}

TEST_F(Ansi, CharactersOutsideTheCodePageBecomeItsSubstitute) {
    const std::wstring text = L"a\u4E2Db\u0416";
    const std::string bytes = ToAnsi(text);
    EXPECT_EQ(std::string("a?b?"), bytes) << "one substitute byte per character";
    EXPECT_EQ(L"a?b?", ToWide(bytes));
    // A character the code page approximates comes back as its approximation, never as itself.
    const std::wstring approximated = ToWide(ToAnsi(L"\u0100"));
    ASSERT_EQ(1u, approximated.size());
    EXPECT_NE(L'\u0100', approximated[0]);
}

TEST_F(Ansi, ANonAsciiCharacterAnywhereIsConverted) {
    // Wherever it sits (early, in a later block of sixteen, in the tail), the one character that
    // is not ASCII is converted as such and the rest stays as it was.
    for (size_t length : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 64u, 255u}) {
        for (size_t at : {size_t{0}, length / 2, length - 1}) {
            std::wstring text(length, L'a');
            text[at] = L'\u00E9';
            std::string expected(length, 'a');
            expected[at] = '\xE9';
            EXPECT_EQ(expected, ToAnsi(text)) << length << " " << at;
            EXPECT_EQ(text, ToWide(expected)) << length << " " << at;
            text[at] = L'\u4E2D';
            expected[at] = '?';
            EXPECT_EQ(expected, ToAnsi(text)) << length << " " << at;
        }
    }
}

TEST_F(Ansi, EmbeddedNulsAreKept) {
    const std::wstring text(L"a\0b\0\0c", 6);
    const std::string bytes = ToAnsi(text);
    EXPECT_EQ(std::string("a\0b\0\0c", 6), bytes);
    EXPECT_EQ(text, ToWide(bytes));
    const std::wstring onlyNul(1, L'\0');
    EXPECT_EQ(std::string(1, '\0'), ToAnsi(onlyNul));
    EXPECT_EQ(onlyNul, ToWide(std::string(1, '\0')));
    const std::wstring nulAndMore(L"\0caf\u00E9\0", 6);
    EXPECT_EQ(std::string("\0caf\xE9\0", 6), ToAnsi(nulAndMore));
    EXPECT_EQ(nulAndMore, ToWide(std::string("\0caf\xE9\0", 6)));
}

TEST_F(Ansi, EmptyStaysEmptyAndClearsTheOutput) {
    EXPECT_EQ(std::string(), ToAnsi(L""));
    EXPECT_EQ(std::wstring(), ToWide(""));
    EXPECT_EQ(std::string(), ToAnsi(std::wstring_view()));
    EXPECT_EQ(std::wstring(), ToWide(std::string_view()));
}

TEST_F(Ansi, LongTextKeepsItsLength) {
    for (size_t length : {255u, 767u, 768u, 769u, 1000u, 5000u}) {
        std::wstring ascii, accented;
        for (size_t i = 0; i < length; ++i) {
            ascii += static_cast<wchar_t>(L'a' + i % 26);
            accented += i % 2 ? L'\u00E4' : L'z';
        }
        const std::string asciiBytes = ToAnsi(ascii);
        EXPECT_EQ(length, asciiBytes.size());
        EXPECT_EQ(ascii, ToWide(asciiBytes));
        const std::string accentedBytes = ToAnsi(accented);
        EXPECT_EQ(length, accentedBytes.size());
        EXPECT_EQ('\xE4', accentedBytes[1]);
        EXPECT_EQ(accented, ToWide(accentedBytes));
    }
}
