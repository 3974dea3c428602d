// Names in an ANSI code page of two-byte characters (932, 936, 949): one table of cases, run through
// the vtable, IDispatch::Invoke and JScript, each step compared with what the platform's own calls
// give for the same name and the same positions. There a name's ANSI form is longer than the name,
// the copied count is a count of bytes, and what a shorter name leaves in the thread's buffer pairs
// up into other characters than the earlier name's.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "release/bundle_client.h"
#include "support/client.h"
#include "support/expected.h"

using namespace testing_support;

namespace {

constexpr size_t kBuffer = 255;
constexpr short kOmitted = SHRT_MIN; // a size left out
constexpr int kMostPositions = static_cast<int>(kBuffer) + 1; // the buffer and its terminator

// Characters that take two bytes in the ANSI code page and come back unchanged: kana and
// ideographs, which 932, 936 and 949 all have.
const std::wstring &TwoByte() {
    static const std::wstring alphabet = [] {
        std::wstring found;
        for (const auto &[from, most] : {std::pair{0x3041, 24u}, std::pair{0x4E00, 48u}})
            for (wchar_t c = static_cast<wchar_t>(from); found.size() < most; ++c) {
                const std::wstring one(1, c);
                if (ToAnsi(one).size() == 2 && FromAnsi(ToAnsi(one)) == one) found += c;
            }
        return found;
    }();
    return alphabet;
}

// A character the code page does not have (it comes back as the code page's substitute).
wchar_t Lacking() {
    for (wchar_t c : {L'\x0E01', L'\x05D0', L'\x0915'}) {
        BOOL substituted = FALSE;
        char bytes[8];
        if (WideCharToMultiByte(CP_ACP, 0, &c, 1, bytes, 8, nullptr, &substituted) > 0 && substituted) return c;
    }
    ADD_FAILURE() << "the code page has every candidate";
    return L'?';
}

// `twoByte` two-byte characters (from `salt` on in the alphabet), then `ascii` letters, then
// `lacking` characters the code page does not have.
struct Shape {
    int twoByte = 0, ascii = 0, lacking = 0, salt = 0;
    std::wstring Name() const {
        std::wstring name;
        for (int i = 0; i < twoByte; ++i) name += TwoByte()[static_cast<size_t>(i + salt) % TwoByte().size()];
        for (int i = 0; i < ascii; ++i) name += static_cast<wchar_t>(L'a' + (i + salt) % 26);
        return name + std::wstring(static_cast<size_t>(lacking), Lacking());
    }
};

// The name in a name reader's result: at most `copied` characters, and never past the terminator
// (the count is of bytes, so in this code page it goes past the end of a name of two-byte
// characters).
std::wstring NameIn(const std::wstring &result, short copied) {
    const std::wstring name = result.substr(0, copied > 0 ? static_cast<size_t>(copied) : 0);
    return name.substr(0, name.find(L'\0'));
}

// --- The table. Each case adds its name, finds it, reads it back with each size in turn, deletes
// it and (readGone) reads the deleted atom. A case reads over what the case before left in the
// buffer, so the order matters: short names follow long ones.
struct NameCase {
    const char *what;
    Shape shape;
    std::vector<short> sizes = {kOmitted};
    bool readGone = false;
};

std::vector<NameCase> Table() {
    std::vector<NameCase> cases = {
        // First, a known buffer: 255 letters, read whole (a size of 255 offers 256 positions).
        {"a known buffer to start from", {0, 255}, {255}},
        {"one two-byte character, cut in its middle, whole, and no position at all", {1}, {1, 2, -1}},
        {"an odd cut: the last position holds half a character", {10, 0, 0, 3}, {5, 6, kOmitted}},
        {"127 two-byte characters: 254 bytes, the longest that 255 positions hold", {127}, {kOmitted, 253, 254, 255, 1000}},
        {"a shorter ASCII name over two-byte leftovers: they pair up anew", {0, 2}, {kOmitted}, true},
        {"127 two-byte characters and a letter: 255 bytes", {127, 1, 0, 5}, {kOmitted, 254, 255, 1000}},
        {"128 two-byte characters: 256 bytes, more than the buffer holds", {128}, {kOmitted, 254, 255, 256, 1000, 32766}},
        {"three two-byte characters over the longer ones' leftovers", {3, 0, 0, 7}, {kOmitted}, true},
        {"129 two-byte characters: 258 bytes", {129}, {kOmitted, 255, 1000}},
        {"255 two-byte characters: 510 bytes, the longest name there is", {255}, {kOmitted, 255, 32766}},
        {"256 two-byte characters: one too many", {256}},
        {"characters the code page lacks: the name comes back with its substitutes", {3, 2, 2}, {kOmitted}},
        {"255 letters after the longest name", {0, 255, 0, 3}, {kOmitted, 255}},
    };
    // Names of two-byte characters of every length, each read over the one before.
    for (int length = 1; length <= 255; ++length) cases.push_back({"every length", {length, 0, 0, length}});
    return cases;
}

// --- Steps and what each gave.
enum class Op { Add, Find, Read, Delete };
struct Step {
    Op op;
    bool global;
    std::wstring name; // Add, Find
    short size = kOmitted; // Read
    const char *what = "";
};

struct Outcome {
    long value = 0;     // Add, Find: the atom; Delete: the status
    std::wstring text;  // Read: the result; Add, Find: the caller's name after the call
    short copied = -7;  // Read
    short size = -7;    // Read: the caller's size after the call
    size_t boxes = 0;   // Add: message boxes shown
};

std::vector<Step> Steps(bool global) {
    std::vector<Step> steps;
    for (const NameCase &c : Table()) {
        const std::wstring name = c.shape.Name();
        steps.push_back({Op::Add, global, name, kOmitted, c.what});
        steps.push_back({Op::Find, global, name, kOmitted, c.what});
        if (name.size() > 255) continue; // refused: nothing to read or delete
        for (short size : c.sizes) steps.push_back({Op::Read, global, {}, size, c.what});
        steps.push_back({Op::Delete, global, {}, kOmitted, c.what});
        if (c.readGone) steps.push_back({Op::Read, global, {}, kOmitted, c.what});
    }
    return steps;
}

// Who runs the steps. Read and Delete act on the atom of the last Add.
class Client {
public:
    virtual ~Client() = default;
    std::vector<Outcome> Run(const std::vector<Step> &steps) {
        std::vector<Outcome> outcomes;
        for (const Step &step : steps) {
            outcomes.push_back(Do(step));
            if (step.op == Op::Add) atom_ = static_cast<short>(outcomes.back().value);
        }
        return outcomes;
    }

protected:
    virtual Outcome Do(const Step &step) = 0;
    short atom_ = 0;
};

// The platform's own calls, with the positions the component offers: a size n becomes n + 1
// positions, 0 or none 255, and never more than the buffer's 255 characters and its terminator. The
// platform writes into the buffer's ANSI form, which is converted back whole: a result of 255
// characters (filled with spaces when the conversion gives fewer).
class Platform : public Client {
    Outcome Do(const Step &step) override {
        Outcome out;
        const bool g = step.global;
        switch (step.op) {
        case Op::Add:
        case Op::Find:
            if (step.op == Op::Add && step.name.size() > 255) {
                out.text = step.name;
                out.boxes = 1;
                break;
            }
            out.text = FromAnsi(ToAnsi(step.name));
            out.value = static_cast<short>(step.op == Op::Add ? (g ? GlobalAddAtomA : AddAtomA)(ToAnsi(step.name).c_str())
                                                              : (g ? GlobalFindAtomA : FindAtomA)(ToAnsi(step.name).c_str()));
            break;
        case Op::Read: {
            const short given = step.size == kOmitted ? 0 : step.size;
            out.size = given == 0 ? static_cast<short>(kBuffer) : static_cast<short>(given + 1);
            std::string bytes = ToAnsi(buffer_);
            const size_t length = bytes.size();
            bytes.push_back('\0');
            const int positions = std::clamp<int>(out.size, 0, std::min<int>(kMostPositions, static_cast<int>(length + 1)));
            const UINT copied = g ? GlobalGetAtomNameA(static_cast<ATOM>(atom_), bytes.data(), positions)
                                  : GetAtomNameA(static_cast<ATOM>(atom_), bytes.data(), positions);
            out.copied = static_cast<short>(copied);
            buffer_ = FromAnsi(bytes.substr(0, length));
            buffer_.resize(kBuffer, L' ');
            out.text = buffer_;
            break;
        }
        case Op::Delete:
            out.value = static_cast<short>((g ? GlobalDeleteAtom : DeleteAtom)(static_cast<ATOM>(atom_)));
            break;
        }
        return out;
    }
    std::wstring buffer_ = std::wstring(kBuffer, L'\0');
};

// The component through one binding, in this process.
class Member : public Client {
public:
    explicit Member(Binding binding) : main_(binding) {}

private:
    Outcome Do(const Step &step) override {
        Outcome out;
        const bool g = step.global;
        if (step.op == Op::Add || step.op == Op::Find) {
            Bstr name(step.name);
            BoxWatcher watcher;
            out.value = step.op == Op::Add ? main_.Add(*name.Address(), g) : main_.Find(*name.Address(), g);
            out.boxes = watcher.Boxes().size();
            for (const Box &box : watcher.Boxes()) EXPECT_EQ(kLengthPrompt, box.text);
            out.text = Text(name.Get());
        } else if (step.op == Op::Read) {
            short size = step.size;
            out.text = main_.GetName(atom_, step.size == kOmitted ? nullptr : &size, &out.copied, g);
            out.size = step.size == kOmitted ? static_cast<short>(kBuffer) : size;
        } else {
            out.value = main_.Delete(atom_, g);
        }
        EXPECT_EQ(S_OK, main_.Status()) << step.what;
        return out;
    }
    MainClass main_;
};

std::wstring Hex(const std::wstring &text) {
    std::wstring hex;
    wchar_t unit[8];
    for (wchar_t c : text) {
        swprintf(unit, 8, L"%04x", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex;
}

std::wstring Environment(const wchar_t *name) { return _wgetenv(name) ? _wgetenv(name) : L""; }

// A script of the tests' run by cscript, with its arguments: what it printed, in lines.
std::vector<std::wstring> RunScript(const wchar_t *variable, const std::wstring &arguments) {
    const bundle::Run run = bundle::RunSystemProgram(
        L"cscript.exe", L"//nologo " + bundle::Quoted(Environment(variable)) + L" " + arguments);
    const std::wstring text = FromAnsi(run.output); // cscript writes in the OEM code page, the same here
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find(L"\r\n", at);
        lines.push_back(text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at));
        at = end == std::wstring::npos ? text.size() : end + 2;
    }
    return lines;
}

// The steps in JScript (tests/codepages/names.js): names built with String.fromCharCode, every
// argument by value, so no write-back and no copied count reach it; it prints each step's atom,
// status or result. A script cannot dismiss a message box, so the over-long add is left out: `run`
// receives which steps ran.
std::vector<Outcome> RunInJScript(const std::vector<Step> &steps, std::vector<size_t> &run) {
    std::string listing;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        if (step.op == Op::Add && step.name.size() > 255) continue;
        run.push_back(i);
        const std::wstring arg = step.op != Op::Read ? Hex(step.name) : step.size == kOmitted ? L"-" : std::to_wstring(step.size);
        listing += std::string(1, "AFRD"[static_cast<int>(step.op)]) + (step.global ? " G " : " L ") +
                   std::string(arg.begin(), arg.end()) + "\r\n";
    }
    const std::wstring path = bundle::WorkDir() + L"\\steps.txt";
    FILE *file = _wfopen(path.c_str(), L"wb");
    EXPECT_NE(nullptr, file);
    if (!file) return {};
    std::fputs(listing.c_str(), file);
    std::fclose(file);
    std::vector<std::wstring> lines = RunScript(L"ATOMTABLES_NAMES_JS", bundle::Quoted(path));
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    EXPECT_EQ(run.size(), lines.size()) << "one line a step; the last: "
                                        << (lines.empty() ? std::string() : ToAnsi(lines.back()));
    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < run.size() && i < lines.size(); ++i) {
        Outcome out;
        if (steps[run[i]].op != Op::Read) out.value = std::wcstol(lines[i].c_str(), nullptr, 10);
        for (size_t at = 0; steps[run[i]].op == Op::Read && at + 4 <= lines[i].size(); at += 4)
            out.text += static_cast<wchar_t>(std::wcstoul(lines[i].substr(at, 4).c_str(), nullptr, 16));
        outcomes.push_back(out);
    }
    return outcomes;
}

enum class Way { Early, Late, JScript };
const char *WayName(Way way) { return way == Way::Early ? "vtable" : way == Way::Late ? "Invoke" : "JScript"; }

class TwoByteNames : public ::testing::TestWithParam<Way> {};

// Every step of the table, in both tables, as the platform answers it.
TEST_P(TwoByteNames, AnswerAsThePlatformDoes) {
    ASSERT_TRUE(HaveDisplay()) << "the over-long name's message box needs a display: run under xvfb-run";
    ASSERT_GE(TwoByte().size(), 48u);
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        std::vector<Step> steps = Steps(global);
        const std::vector<Outcome> expected = Platform().Run(steps);
        std::vector<Outcome> seen;
        std::vector<size_t> index; // which expected outcome each seen one answers
        if (GetParam() == Way::JScript) {
            seen = RunInJScript(steps, index);
        } else {
            seen = Member(GetParam() == Way::Early ? Binding::Early : Binding::Late).Run(steps);
            for (size_t i = 0; i < steps.size(); ++i) index.push_back(i);
        }
        ASSERT_EQ(index.size(), seen.size());
        const bool script = GetParam() == Way::JScript;
        long added = 0;
        for (size_t k = 0; k < seen.size(); ++k) {
            const Step &step = steps[index[k]];
            const Outcome &want = expected[index[k]], &got = seen[k];
            const std::string at = std::string(step.what) + ", step " + std::to_string(index[k]) + ", name of " +
                                   std::to_string(step.name.size()) + ", size " + std::to_string(step.size);
            if (step.op == Op::Add) {
                // The tables are the platform's: the same name may get another atom in another run.
                EXPECT_EQ(want.value != 0, got.value != 0) << at;
                EXPECT_TRUE(got.value >= -16384 && got.value <= 0) << at << ": " << got.value;
                added = got.value;
            } else if (step.op == Op::Find) {
                EXPECT_EQ(want.value != 0 ? added : 0, got.value) << at;
            } else if (step.op == Op::Delete) {
                EXPECT_EQ(want.value, got.value) << at;
            } else {
                ASSERT_EQ(kBuffer, got.text.size()) << at;
            }
            // A read's result; an added or found name as written back (none reaches a script).
            if (step.op == Op::Read || !script) {
                EXPECT_EQ(want.text, got.text) << at;
            }
            if (script) continue;
            EXPECT_EQ(want.boxes, got.boxes) << at;
            EXPECT_EQ(want.copied, got.copied) << at;
            EXPECT_EQ(want.size, got.size) << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, TwoByteNames, ::testing::Values(Way::Early, Way::Late, Way::JScript),
                         [](const auto &info) { return std::string(WayName(info.param)); });

// The count is of bytes: a name of 127 two-byte characters comes back with a count of 254, and
// the first 254 characters of the result are the name, its terminator and 126 characters left
// from before. Cut at the count and at the terminator, it is the name; an ASCII name of the same
// length is cut right by the count alone.
class CopiedCount : public ::testing::TestWithParam<Binding> {};
TEST_P(CopiedCount, CutAloneGoesPastATwoByteName) {
    MainClass main(GetParam());
    for (bool global : {false, true}) {
        SCOPED_TRACE(global ? "global table" : "local table");
        for (const Shape &shape : {Shape{127}, Shape{0, 127}}) {
            const std::wstring name = shape.Name();
            Bstr text(name);
            const long atom = main.Add(*text.Address(), global);
            ASSERT_NE(0, atom);
            short copied = -7;
            const std::wstring result = main.GetName(static_cast<short>(atom), nullptr, &copied, global);
            EXPECT_EQ(name, NameIn(result, copied));
            if (shape.twoByte) {
                EXPECT_EQ(254, copied);
                EXPECT_NE(name, result.substr(0, static_cast<size_t>(copied))) << "cut with the count alone";
                EXPECT_EQ(name + L'\0', result.substr(0, 128));
            } else {
                EXPECT_EQ(127, copied);
                EXPECT_EQ(name, result.substr(0, static_cast<size_t>(copied)));
            }
            EXPECT_EQ(0, main.Delete(static_cast<short>(atom), global));
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Bindings, CopiedCount, ::testing::Values(Binding::Late, Binding::Early), BindingName);

// What a shorter name leaves behind: the earlier name's bytes, which pair up anew after the new
// terminator, so the characters behind it are not the earlier name's (as they are where every
// character is one byte).
TEST(Leftovers, PairUpAnew) {
    MainClass main(Binding::Early);
    const std::wstring longName = Shape{40}.Name();
    Bstr first(longName), second(L"ab");
    const short longAtom = static_cast<short>(main.Add(*first.Address()));
    const short shortAtom = static_cast<short>(main.Add(*second.Address()));
    ASSERT_EQ(longName + L'\0', main.GetName(longAtom).substr(0, 41));
    const std::wstring after = main.GetName(shortAtom);
    EXPECT_EQ(std::wstring(L"ab") + L'\0', after.substr(0, 3));
    EXPECT_NE(longName.substr(2, 10), after.substr(3, 10)) << "where every character is one byte, these are the same";
    // The platform wrote "ab" and its terminator over the first three bytes of the two-byte name.
    std::string bytes = ToAnsi(longName + L'\0');
    bytes.replace(0, 3, std::string("ab\0", 3));
    EXPECT_EQ(FromAnsi(bytes).substr(0, 20), after.substr(0, 20));
    main.Delete(longAtom);
    main.Delete(shortAtom);
}

// Scripts: the cut of the script page in VBScript, and the examples with a two-byte name of their own.
std::wstring Passed(const std::vector<std::wstring> &lines) {
    std::wstring all;
    for (const std::wstring &line : lines) all += line + L"\n";
    return all;
}
TEST(Scripts, CutsAndExamples) {
    const std::wstring name = Shape{6, 0, 0, 2}.Name() + L"_" + Shape{20}.Name();
    for (const wchar_t *script : {L"ATOMTABLES_CUT_VBS", L"ATOMTABLES_ATOMS_VBS", L"ATOMTABLES_ATOMS_JS"}) {
        const std::wstring out = Passed(RunScript(script, bundle::Quoted(name)));
        const std::string shown(script, script + wcslen(script));
        EXPECT_NE(std::wstring::npos, out.find(L" checks passed")) << shown << ":\n" << std::string(out.begin(), out.end());
        EXPECT_EQ(std::wstring::npos, out.find(L"FAIL")) << shown;
    }
}

} // namespace
