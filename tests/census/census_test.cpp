// The atom census, examples/atom_census.vbs, run by Wine's cscript against the registered component
// (%ATOMTABLES_CENSUS%, in the scratch folder %ATOMTABLES_WORK%), while the test reads the global
// table itself with GlobalGetAtomNameW to know what the census must say. Every atom a test adds it
// deletes again, also when it fails.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "census/leak_names.h"
#include "release/bundle_client.h"
#include "support/client.h"

namespace {

constexpr unsigned kLimit = 16384;

std::wstring Environment(const wchar_t *name) { return _wgetenv(name) ? _wgetenv(name) : L""; }
std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

// The global table as the platform gives it: atom (0xC000-0xFFFF) -> name.
using Table = std::map<unsigned, std::wstring>;
Table Walk() {
    Table table;
    for (unsigned atom = 0xC000; atom <= 0xFFFF; ++atom) {
        wchar_t name[257] = {};
        if (const UINT length = GlobalGetAtomNameW(static_cast<ATOM>(atom), name, 257)) table[atom] = {name, length};
    }
    return table;
}

// Global atoms the test is responsible for: deleted when it ends.
struct Atoms {
    std::vector<ATOM> atoms;
    ~Atoms() { DeleteLast(atoms.size()); }
    bool Add(const std::wstring &name) {
        const ATOM atom = GlobalAddAtomW(name.c_str());
        if (atom) atoms.push_back(atom);
        return atom != 0;
    }
    void DeleteLast(size_t count) {
        for (; count > 0 && !atoms.empty(); --count, atoms.pop_back()) EXPECT_EQ(0, GlobalDeleteAtom(atoms.back()));
    }
};

// A census run: its exit code, what it printed (lines ended by "\n"), how long it took.
struct Report {
    DWORD code = 0;
    std::wstring out;
    double seconds = 0;
    bool Has(const std::wstring &text) const { return out.find(text) != std::wstring::npos; }
};
Report Census(const std::wstring &arguments) {
    const auto start = std::chrono::steady_clock::now();
    const bundle::Run run = bundle::RunSystemProgram(
        L"cscript.exe", L"//nologo " + bundle::Quoted(Environment(L"ATOMTABLES_CENSUS")) + L" " + arguments);
    Report report{run.exitCode, {}, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
    std::printf("census %s: %.1f s\n", Narrow(arguments).c_str(), report.seconds);
    // cscript writes a file in the OEM code page.
    std::wstring text(MultiByteToWideChar(CP_OEMCP, 0, run.output.data(), int(run.output.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, run.output.data(), int(run.output.size()), text.data(), int(text.size()));
    for (wchar_t c : text)
        if (c != L'\r') report.out += c;
    return report;
}

// The same, with the report written into a file (/out:), read back in the ANSI code page. Wine's
// cscript overruns its heap printing text of two-byte characters into a file or a pipe, so the
// census's report of such names is taken this way.
Report CensusIntoFile(const std::wstring &arguments) {
    Report report = Census(arguments + L" /out:report.txt");
    EXPECT_TRUE(report.out.empty()) << Narrow(report.out);
    report.out.clear();
    for (wchar_t c : testing_support::FromAnsi(bundle::ReadFile(bundle::WorkDir() + L"\\report.txt")))
        if (c != L'\r') report.out += c;
    return report;
}

// What the census prints, as its page describes it.
std::wstring Shown(std::wstring name, size_t most = 0) {
    for (wchar_t &c : name) c = c < 0x20 ? L'?' : c;
    return most && name.size() > most ? name.substr(0, most - 3) + L"..." : name;
}
std::wstring Pad(const std::wstring &text, size_t width, bool right) {
    const std::wstring fill(text.size() < width ? width - text.size() : 0, L' ');
    return right ? fill + text : text + fill;
}
std::wstring Usage(size_t inUse) {
    const size_t tenths = inUse * 1000 / kLimit;
    return L"Global atom table: " + std::to_wstring(inUse) + L" of 16384 string atoms in use (" +
           std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L"%), " +
           std::to_wstring(kLimit - inUse) + L" free.\n";
}
std::wstring GroupLine(const std::wstring &label, const std::vector<std::wstring> &names) {
    std::wstring examples = Shown(names[0], 40);
    if (names.size() > 1) examples += L", " + Shown(names[1], 40);
    if (names.size() > 3) examples += L", ...";
    if (names.size() > 2) examples += L", " + Shown(names.back(), 40);
    return Pad(std::to_wstring(names.size()), 7, true) + L"  " + Pad(label, 24, false) + L"  " + examples + L"\n";
}
// A name below its group with /all: with its atom in a census of the whole table.
std::wstring NameLine(const std::wstring &name, ATOM atom = 0) {
    wchar_t hex[8] = {};
    swprintf(hex, 8, L"0x%04X", atom);
    return std::wstring(11, L' ') +
           (atom ? Pad(std::to_wstring(short(atom)), 6, true) + L"  " + hex + L"  " : L"") + Shown(name) + L"\n";
}
const std::wstring kHeader = L"  names  group                     examples\n";

class CensusTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Environment(L"ATOMTABLES_CENSUS").empty());
        ASSERT_TRUE(SetCurrentDirectoryW(bundle::WorkDir().c_str())); // file names relative to it
    }
};

// A program leaks names: a census finds exactly them in their groups; compared with a snapshot
// taken before, they are added; once deleted, compared with one taken after, they are gone. The
// census leaves the table as it was. The first comparison is the worked example of the docs page.
TEST_F(CensusTest, Leak) {
    const std::vector<std::pair<census::LeakPattern, std::wstring>> leaks = { // largest group first
        {{L"LeakyAppDocument_%04u", 150}, L"LeakyAppDocument"},
        {{L"LeakyAppPipe-%u-in", 12}, L"LeakyAppPipe"},
        {{L"leakyapp.settings.v%u", 3}, L"leakyapp"}};
    std::wstring arguments;
    for (const auto &[pattern, group] : leaks) arguments += pattern.format + L" " + std::to_wstring(pattern.count) + L" ";
    const Table before = Walk();
    Report report = Census(L"/csv:before.csv");
    EXPECT_EQ(0u, report.code);
    EXPECT_EQ(0u, report.out.find(Usage(before.size()))) << Narrow(report.out);
    EXPECT_EQ(before, Walk()) << "the census changed the table";

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const bundle::Run run = bundle::RunProgram(std::wstring(self, wcsrchr(self, L'\\')) + L"\\leaky_program.exe", arguments);
    Atoms atoms; // the leak, taken over from the program that made it
    std::wstring added, gone;
    std::vector<std::wstring> blocks, records; // each group with its names and atoms; CSV records
    for (const auto &[pattern, group] : leaks) {
        const std::vector<std::wstring> names = census::LeakNames(pattern);
        added += GroupLine(group, names);
        gone += GroupLine(group, names);
        blocks.push_back(L"\n" + GroupLine(group, names));
        for (const std::wstring &name : names) {
            const ATOM atom = GlobalFindAtomW(name.c_str());
            if (atom) atoms.atoms.push_back(atom);
            gone += NameLine(name);
            blocks.back() += NameLine(name, atom);
            wchar_t record[80];
            swprintf(record, 80, L"\r\n%d,0x%04X,%ls,%ls\r\n", short(atom), atom, group.c_str(), name.c_str());
            records.push_back(record);
        }
    }
    ASSERT_EQ(0u, run.exitCode) << run.output;
    ASSERT_EQ(records.size(), atoms.atoms.size());
    const std::wstring leaked = std::to_wstring(atoms.atoms.size());

    report = Census(L"/compare:before.csv /csv:after.csv");
    EXPECT_EQ(L"Since before.csv: " + leaked + L" names added, 0 gone.\n\nAdded, 3 groups, largest first:\n" + kHeader + added,
              report.out);
    FILE *example = _wfopen(L"example.txt", L"wb");
    ASSERT_NE(nullptr, example);
    std::fputs(Narrow(report.out).c_str(), example);
    std::fclose(example);
    const std::string snapshot = bundle::ReadFile(bundle::WorkDir() + L"\\after.csv");
    for (const std::wstring &record : records) EXPECT_NE(std::string::npos, snapshot.find(Narrow(record))) << Narrow(record);

    report = Census(L"/all");
    EXPECT_EQ(0u, report.out.find(Usage(before.size() + records.size()))) << Narrow(report.out);
    for (const std::wstring &block : blocks) EXPECT_TRUE(report.Has(block)) << Narrow(block);

    atoms.DeleteLast(records.size());
    report = Census(L"/compare:after.csv /all");
    EXPECT_EQ(L"Since after.csv: 0 names added, " + leaked + L" gone.\n\nGone, 3 groups, largest first:\n" + kHeader + gone,
              report.out);
    EXPECT_EQ(before, Walk()) << "the table is as it was";
}

// Awkward names are read whole, grouped by the rule, and come back whole from the CSV file.
TEST_F(CensusTest, AwkwardNames) {
    const std::vector<std::pair<std::wstring, std::wstring>> names = {
        {L"AtomCensusEdge_" + std::wstring(240, L'x'), L"AtomCensusEdge"}, // the longest name there is
        {L"AtomCensusEdge \"quoted\", with a comma", L"AtomCensusEdge"},
        {L"ATOMCENSUSEDGE9", L"AtomCensusEdge"}, // case does not count
        {L"AtomCensusEdge\r\nsecond line", L"AtomCensusEdge"},
        {L" AtomCensusEdge padded ", L" AtomCensusEdge"},
        {L"{AtomCensusEdge-1}", L"{AtomCensusEdge"},
        {L"_AtomCensus\u00C9dge2", L"_AtomCensus\u00C9dge"}, // a letter beyond ASCII
        {L"7AtomCensusEdge", L"(begins with a digit)"}};
    Atoms atoms;
    for (const auto &name : names) ASSERT_TRUE(atoms.Add(name.first));

    Report report = Census(L"/csv:awkward.csv /all");
    EXPECT_EQ(0u, report.code);
    EXPECT_TRUE(report.Has(L"\n" + Pad(L"4", 7, true) + L"  " + Pad(L"AtomCensusEdge", 24, false) + L"  "))
        << Narrow(report.out);
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t at = report.out.find(NameLine(names[i].first, atoms.atoms[i]));
        ASSERT_NE(std::wstring::npos, at) << Narrow(Shown(names[i].first));
        size_t group = report.out.rfind(L"\n", at - 1);
        while (group != std::wstring::npos && report.out.compare(group + 1, 11, std::wstring(11, L' ')) == 0)
            group = report.out.rfind(L"\n", group - 1);
        ASSERT_NE(std::wstring::npos, group);
        EXPECT_EQ(Pad(names[i].second, 24, false), report.out.substr(group + 10, 24)) << Narrow(Shown(names[i].first));
    }
    report = Census(L"/compare:awkward.csv");
    EXPECT_EQ(L"Since awkward.csv: 0 names added, 0 gone.\n", report.out);
}

// Filled to its limit, the table is reported full; with a few atoms deleted again, nearly full.
TEST_F(CensusTest, Limit) {
    Atoms fill;
    const std::vector<std::wstring> names = census::LeakNames({L"AtomCensusFill%05u", kLimit});
    size_t count = 0;
    while (count < names.size() && fill.Add(names[count])) ++count;
    std::printf("the table took %zu names, then refused one with error %lu\n", count, GetLastError());
    ASSERT_LT(count, names.size());

    const Table full = Walk();
    Report report = Census(L"");
    EXPECT_EQ(0u, report.code);
    EXPECT_EQ(0u, report.out.find(Usage(full.size()) + (full.size() == kLimit ?
        L"The table is FULL: adding a global atom fails until atoms are deleted.\n" :
        L"The table is NEARLY FULL (90.0% or more in use): adding global atoms will soon fail.\n"))) << Narrow(report.out);
    EXPECT_TRUE(report.Has(kHeader + GroupLine(L"AtomCensusFill", {names.begin(), names.begin() + count})));
    EXPECT_EQ(full, Walk()) << "the census changed the table";
    EXPECT_LT(report.seconds, 60.0) << "a full table takes seconds";

    fill.DeleteLast(20);
    count -= 20;
    report = Census(L"/top:1");
    EXPECT_EQ(0u, report.out.find(Usage(full.size() - 20) +
        L"The table is NEARLY FULL (90.0% or more in use): adding global atoms will soon fail.\n")) << Narrow(report.out);
    EXPECT_TRUE(report.Has(kHeader + GroupLine(L"AtomCensusFill", {names.begin(), names.begin() + count}) +
                           L"  ... and ")) << Narrow(report.out);
    EXPECT_TRUE(report.Has(L" smaller groups with " + std::to_wstring(full.size() - 20 - count) +
                           L" names (/all lists every group and name)\n")) << Narrow(report.out);
}

// What it refuses, before it reads the table.
TEST_F(CensusTest, Refusals) {
    FILE *file = _wfopen(L"not-a-census.csv", L"wb");
    ASSERT_NE(nullptr, file);
    std::fputs("a,b\r\n1,2\r\n", file);
    std::fclose(file);
    DeleteFileW(L"missing.csv");
    const std::vector<std::tuple<std::wstring, DWORD, std::wstring>> cases = {
        {L"/everything", 2, L"atom_census: unknown argument /everything\n"},
        {L"/top:0", 2, L"atom_census: unknown argument /top:0\n"},
        {L"/compare:not-a-census.csv", 1, L"atom_census: not-a-census.csv is not a census file"},
        {L"/compare:missing.csv", 1, L"atom_census: cannot read missing.csv"}};
    for (const auto &[arguments, code, message] : cases) {
        const Report report = Census(arguments);
        EXPECT_EQ(code, report.code) << Narrow(arguments);
        EXPECT_EQ(0u, report.out.find(message)) << Narrow(report.out);
    }
}

// In a code page of two-byte characters (the census.932 test): names of them are listed whole
// (the copied count is of bytes, so the census cuts at the terminator too), grouped by the rule,
// written to the CSV file in that code page and read back from it; a name whose ANSI form is longer
// than the 255 bytes a read can hold is not seen at all (the platform reports nothing copied).
TEST_F(CensusTest, TwoByteNames) {
    using testing_support::ToAnsi;
    ASSERT_EQ(2u, ToAnsi(L"\u30E4").size()) << "not a code page of two-byte characters";
    const std::vector<std::pair<std::wstring, std::wstring>> names = {
        {L"\u30E4\u30DE\u30C0_0001", L"\u30E4\u30DE\u30C0"},
        {L"\u30E4\u30DE\u30C0_0002", L"\u30E4\u30DE\u30C0"},
        {L"\u30E4\u30DE\u30C0-17", L"\u30E4\u30DE\u30C0"},
        {L"Qx\u6771\u4EAC\u30EC\u30DD\u30FC\u30C89", L"Qx\u6771\u4EAC\u30EC\u30DD\u30FC\u30C8"},
        {L"\u65E5\u672C\u8A9E, \"quoted\"", L"\u65E5\u672C\u8A9E"},
        {std::wstring(127, L'\u3042'), std::wstring(127, L'\u3042')}}; // 254 bytes: the longest listed whole
    const std::wstring unseen(128, L'\u3044'); // 256 bytes
    Atoms atoms;
    for (const auto &name : names) ASSERT_TRUE(atoms.Add(name.first));
    ASSERT_TRUE(atoms.Add(unseen));
    const Table table = Walk();

    Report report = CensusIntoFile(L"/csv:twobyte.csv /all");
    EXPECT_EQ(0u, report.code);
    EXPECT_EQ(0u, report.out.find(Usage(table.size() - 1))) << "all but the one too long for a read";
    EXPECT_FALSE(report.Has(unseen.substr(0, 20)));
    EXPECT_TRUE(report.Has(L"\n" + Pad(L"3", 7, true) + L"  " + Pad(L"\u30E4\u30DE\u30C0", 24, false) + L"  " +
                           L"\u30E4\u30DE\u30C0_0001, \u30E4\u30DE\u30C0_0002, \u30E4\u30DE\u30C0-17\n"))
        << Narrow(report.out);
    const std::string csv = bundle::ReadFile(bundle::WorkDir() + L"\\twobyte.csv");
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(report.Has(NameLine(names[i].first, atoms.atoms[i])));
        wchar_t atom[16];
        swprintf(atom, 16, L"%d,0x%04X,", short(atoms.atoms[i]), atoms.atoms[i]);
        const std::wstring quoted = names[i].first.find(L'"') == std::wstring::npos ? names[i].first
            : L"\"\u65E5\u672C\u8A9E, \"\"quoted\"\"\"";
        EXPECT_NE(std::string::npos, csv.find(ToAnsi(atom + names[i].second + L"," + quoted + L"\r\n")))
            << "in the ANSI code page";
    }
    report = CensusIntoFile(L"/compare:twobyte.csv");
    EXPECT_EQ(L"Since twobyte.csv: 0 names added, 0 gone.\n", report.out);
    atoms.DeleteLast(atoms.atoms.size() - 2); // the two first names stay
    report = CensusIntoFile(L"/compare:twobyte.csv /all");
    const std::wstring gone = L"Since twobyte.csv: 0 names added, 4 gone.\n\nGone, 4 groups, largest first:\n" + kHeader;
    EXPECT_TRUE(report.Has(L"\u30E4\u30DE\u30C0-17\n")) << Narrow(report.out);
    EXPECT_EQ(0u, report.out.find(gone)) << Narrow(report.out);
}

} // namespace
