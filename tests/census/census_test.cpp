// The atom census, examples/atom_census.vbs, run by Wine's cscript against the registered component
// while the test looks at the global atom table directly (GlobalGetAtomNameW over 0xC000-0xFFFF) to
// know what the census must say. Every atom a test adds it deletes again, also when it fails.
//
// The tests take turns with everything else that touches the global table (RUN_SERIAL), and find
// their scripts and scratch folder through %ATOMTABLES_CENSUS% and %ATOMTABLES_WORK%.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "census/leak_names.h"
#include "release/bundle_client.h"
#include "support/client.h"

namespace {

constexpr unsigned kFirstAtom = 0xC000;
constexpr unsigned kTableLimit = 16384;
// What the census calls nearly full: 90 % of the limit.
constexpr unsigned kNearlyFull = kTableLimit * 9 / 10;
// Groups with names beginning with a digit are shown as:
const std::wstring kDigitGroup = L"(begins with a digit)";

std::wstring Widen(const std::string &text, UINT codePage) {
    if (text.empty()) return {};
    std::wstring wide(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

bool SameText(const std::wstring &a, const std::wstring &b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring Environment(const wchar_t *name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? value : L"";
}

// --- The global table, as the platform gives it. --------------------------------------------------
using Table = std::map<unsigned, std::wstring>; // atom (0xC000-0xFFFF) -> name

Table Walk() {
    Table table;
    for (unsigned atom = kFirstAtom; atom <= 0xFFFF; ++atom) {
        wchar_t name[257] = {};
        const UINT length = GlobalGetAtomNameW(static_cast<ATOM>(atom), name, 257);
        if (length > 0) table[atom] = std::wstring(name, length);
    }
    return table;
}

// Names added by the test itself, deleted when it is done with them (all references it took).
class TestAtoms {
public:
    TestAtoms() = default;
    TestAtoms(const TestAtoms &) = delete;
    TestAtoms &operator=(const TestAtoms &) = delete;
    ~TestAtoms() { DeleteAll(); }

    // False when the table refuses the name.
    bool Add(const std::wstring &name) {
        const ATOM atom = GlobalAddAtomW(name.c_str());
        if (atom == 0) return false;
        atoms_.push_back(atom);
        return true;
    }
    // Takes over the names another program left behind.
    void Adopt(const std::vector<std::wstring> &names) {
        for (const std::wstring &name : names) {
            const ATOM atom = GlobalFindAtomW(name.c_str());
            EXPECT_NE(0, atom) << "in the table: " << Narrow(name);
            if (atom) atoms_.push_back(atom);
        }
    }
    void DeleteLast(size_t count) {
        for (; count > 0 && !atoms_.empty(); --count) {
            EXPECT_EQ(0, GlobalDeleteAtom(atoms_.back()));
            atoms_.pop_back();
        }
    }
    void DeleteAll() { DeleteLast(atoms_.size()); }
    size_t Count() const { return atoms_.size(); }
    const std::vector<ATOM> &Atoms() const { return atoms_; }

private:
    std::vector<ATOM> atoms_;
};

// --- The census and what it prints. ----------------------------------------------------------------
struct Group {
    unsigned size = 0;
    std::wstring label;
    std::wstring examples;
    std::vector<std::wstring> names;   // with /all
    std::vector<long> atoms;           // with /all, where it lists atoms
};

struct Section {
    std::wstring title;
    std::vector<Group> groups;
    std::wstring rest; // the "... and N smaller groups" line
};

struct Report {
    DWORD exitCode = 0xFFFFFFFF;
    std::string raw;
    std::vector<std::wstring> lines;
    std::vector<Section> sections;
    double seconds = 0;

    const Section *Find(const std::wstring &titleStart) const {
        for (const Section &section : sections)
            if (section.title.rfind(titleStart, 0) == 0) return &section;
        return nullptr;
    }
    bool Has(const std::wstring &lineStart) const {
        for (const std::wstring &line : lines)
            if (line.rfind(lineStart, 0) == 0) return true;
        return false;
    }
};

// Lines as the census prints them: a group is "<size, 7 wide>  <label, 24 wide>  <examples>", a
// name below it (with /all) is indented by 11, with "<atom, 6 wide>  0xHHHH  " before it in a
// report of the whole table.
Report Parse(const bundle::Run &run, bool atomsListed) {
    Report report;
    report.exitCode = run.exitCode;
    report.raw = run.output;
    const std::wstring text = Widen(run.output, CP_OEMCP); // cscript writes to a file in the OEM code page
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        report.lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    for (const std::wstring &line : report.lines) {
        if (line.size() > 14 && line.compare(line.size() - 14, 14, L"largest first:") == 0 && line[0] != L' ') {
            report.sections.push_back({line, {}, {}});
        } else if (report.sections.empty() || line.rfind(L"  names  group", 0) == 0) {
            continue;
        } else if (line.rfind(L"  ... and ", 0) == 0) {
            report.sections.back().rest = line;
        } else if (line.rfind(std::wstring(11, L' '), 0) == 0 && !report.sections.back().groups.empty()) {
            Group &group = report.sections.back().groups.back();
            if (atomsListed && line.size() >= 27) {
                group.atoms.push_back(std::wcstol(line.substr(11, 6).c_str(), nullptr, 10));
                group.names.push_back(line.substr(27));
            } else {
                group.names.push_back(line.substr(11));
            }
        } else if (line.size() >= 35 && iswdigit(line[6])) {
            Group group;
            group.size = static_cast<unsigned>(std::wcstoul(line.substr(0, 7).c_str(), nullptr, 10));
            group.label = line.substr(9, 24);
            group.label.erase(group.label.find_last_not_of(L' ') + 1);
            group.examples = line.substr(35);
            report.sections.back().groups.push_back(group);
        }
    }
    return report;
}

Report RunCensus(const std::wstring &arguments, bool atomsListed = true) {
    const auto start = std::chrono::steady_clock::now();
    const bundle::Run run = bundle::RunSystemProgram(
        L"cscript.exe", L"//nologo " + bundle::Quoted(Environment(L"ATOMTABLES_CENSUS")) + L" " + arguments);
    Report report = Parse(run, atomsListed);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("census %s: %.1f s, exit code %lu\n", Narrow(arguments).c_str(), report.seconds, run.exitCode);
    return report;
}

// A name or label as the census prints it: control characters as "?", cut to `most` characters.
std::wstring Shown(std::wstring text, size_t most = 0) {
    for (wchar_t &c : text)
        if (c < 0x20) c = L'?';
    if (most > 0 && text.size() > most) text = text.substr(0, most - 3) + L"...";
    return text;
}
std::wstring ShownLabel(const std::wstring &group) { return group.empty() ? kDigitGroup : Shown(group, 24); }

// The examples of a group: its names when they are three at most, else the first two and the last.
std::wstring Examples(const std::vector<std::wstring> &names) {
    std::wstring text = Shown(names[0], 40);
    if (names.size() > 1) text += L", " + Shown(names[1], 40);
    if (names.size() > 3) text += L", ...";
    if (names.size() > 2) text += L", " + Shown(names.back(), 40);
    return text;
}

const Group *FindGroup(const Section &section, const std::wstring &group) {
    for (const Group &found : section.groups)
        if (SameText(found.label, ShownLabel(group))) return &found;
    return nullptr;
}

// The first line of a report of the whole table.
std::wstring UsageLine(size_t inUse) {
    const unsigned tenths = static_cast<unsigned>(inUse * 1000 / kTableLimit);
    return L"Global atom table: " + std::to_wstring(inUse) + L" of " + std::to_wstring(kTableLimit) +
           L" string atoms in use (" + std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L"%), " +
           std::to_wstring(kTableLimit - inUse) + L" free.";
}

// --- The CSV file. ---------------------------------------------------------------------------------
struct Row {
    std::wstring atom, hex, group, name;
};

// Records of comma-separated fields; a quoted field may hold commas, doubled quotes, line breaks.
std::vector<std::vector<std::wstring>> ParseCsv(const std::wstring &text) {
    std::vector<std::vector<std::wstring>> records;
    std::vector<std::wstring> record;
    std::wstring field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (quoted) {
            if (c == L'"' && i + 1 < text.size() && text[i + 1] == L'"') {
                field += c;
                ++i;
            } else if (c == L'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == L'"') {
            quoted = true;
        } else if (c == L',') {
            record.push_back(field);
            field.clear();
        } else if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            record.push_back(field);
            field.clear();
            records.push_back(record);
            record.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(record.empty() && field.empty()) << "the file ends with a line break";
    return records;
}

std::vector<Row> ReadCsv(const std::wstring &name) {
    const auto records = ParseCsv(Widen(bundle::ReadFile(bundle::WorkDir() + L"\\" + name), CP_ACP));
    std::vector<Row> rows;
    if (records.empty()) {
        ADD_FAILURE() << Narrow(name) << " is empty";
        return rows;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"atom", L"hex", L"group", L"name"}), records[0]);
    for (size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(4u, records[i].size()) << "record " << i;
        if (records[i].size() == 4) rows.push_back({records[i][0], records[i][1], records[i][2], records[i][3]});
    }
    return rows;
}

// The atom as the members give it (negative) and as hex.
std::wstring Signed(unsigned atom) { return std::to_wstring(static_cast<short>(atom)); }
std::wstring Hex(unsigned atom) {
    wchar_t text[8];
    swprintf(text, 8, L"0x%04X", atom);
    return text;
}

// The file lists exactly the table: every atom in order, with its name.
void ExpectCsvIsTable(const std::vector<Row> &rows, const Table &table) {
    EXPECT_EQ(table.size(), rows.size()) << "one record per atom";
    auto atom = table.begin();
    for (size_t i = 0; i < rows.size() && atom != table.end(); ++i, ++atom) {
        EXPECT_EQ(Signed(atom->first), rows[i].atom) << "record " << i;
        EXPECT_EQ(Hex(atom->first), rows[i].hex) << "record " << i;
        EXPECT_EQ(atom->second, rows[i].name) << "record " << i << ": " << Narrow(Shown(atom->second));
    }
}

// --- The tests. ------------------------------------------------------------------------------------
class Census : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Environment(L"ATOMTABLES_CENSUS").empty()) << "%ATOMTABLES_CENSUS% names the census script";
        // File names given to the census are relative to the scratch folder, as a user's would be.
        ASSERT_TRUE(SetCurrentDirectoryW(bundle::WorkDir().c_str()));
    }
    void Remove(const wchar_t *name) { DeleteFileW((bundle::WorkDir() + L"\\" + name).c_str()); }
};

// A name and the group the census must put it in ("" for a name that begins with a digit).
struct Named {
    std::wstring name;
    std::wstring group;
};

// Every name of the table, whatever it holds, read in full and grouped by its beginning; the CSV
// file is the table; read back as a snapshot it is the same table; the table is left as it was.
TEST_F(Census, ReadsEveryNameIntoItsGroupAndLeavesTheTableAsItWas) {
    const std::vector<Named> names = {
        {L"AtomCensusEdge_" + std::wstring(240, L'x'), L"AtomCensusEdge"}, // the longest name there is
        {L"AtomCensusEdge \"quoted\", with a comma", L"AtomCensusEdge"},
        {L"ATOMCENSUSEDGE9", L"AtomCensusEdge"}, // case does not count
        {L"AtomCensusEdge\r\nsecond line", L"AtomCensusEdge"},
        {L" AtomCensusEdge padded ", L" AtomCensusEdge"},
        {L"{AtomCensusEdge-1}", L"{AtomCensusEdge"},
        {L"_AtomCensus\u00C9dge2", L"_AtomCensus\u00C9dge"}, // a letter beyond ASCII
        {L"7AtomCensusEdge", L""},
    };
    TestAtoms added;
    for (const Named &named : names) ASSERT_TRUE(added.Add(named.name)) << Narrow(Shown(named.name));
    Remove(L"table.csv");

    const Table table = Walk();
    const Report report = RunCensus(L"/csv:table.csv /all");
    EXPECT_EQ(0u, report.exitCode) << report.raw;
    ASSERT_FALSE(report.lines.empty()) << report.raw;
    EXPECT_EQ(UsageLine(table.size()), report.lines[0]);
    EXPECT_FALSE(report.Has(L"The table is")) << "no warning for a table this empty";
    EXPECT_EQ(table, Walk()) << "the census changed the table";

    // The CSV file: every atom with its name, and the group of each test name.
    const std::vector<Row> rows = ReadCsv(L"table.csv");
    ExpectCsvIsTable(rows, table);
    for (size_t i = 0; i < names.size(); ++i) {
        const ATOM atom = added.Atoms()[i];
        bool found = false;
        for (const Row &row : rows) {
            if (row.atom != Signed(atom)) continue;
            found = true;
            EXPECT_TRUE(SameText(names[i].group, row.group)) << Narrow(Shown(names[i].name)) << " in " << Narrow(row.group);
        }
        EXPECT_TRUE(found) << Narrow(Shown(names[i].name));
    }

    // The report: every group of the table, largest first, each name below its group once.
    const Section *groups = report.Find(L"");
    ASSERT_NE(nullptr, groups) << report.raw;
    size_t listed = 0;
    for (size_t g = 0; g < groups->groups.size(); ++g) {
        const Group &group = groups->groups[g];
        EXPECT_EQ(group.size, group.names.size()) << Narrow(group.label);
        if (g > 0) {
            EXPECT_LE(group.size, groups->groups[g - 1].size) << "largest first: " << Narrow(group.label);
        }
        for (size_t k = 0; k < group.names.size(); ++k) {
            const auto atom = table.find(static_cast<unsigned short>(group.atoms[k]));
            ASSERT_NE(table.end(), atom) << "listed, not in the table: " << group.atoms[k];
            EXPECT_EQ(Shown(atom->second), group.names[k]);
        }
        listed += group.names.size();
    }
    EXPECT_EQ(table.size(), listed) << "every name listed once";
    std::map<std::wstring, unsigned> expectedSizes;
    for (const Named &named : names) ++expectedSizes[ShownLabel(named.group)];
    for (size_t i = 0; i < names.size(); ++i) {
        const Group *group = FindGroup(*groups, names[i].group);
        ASSERT_NE(nullptr, group) << Narrow(ShownLabel(names[i].group));
        if (!names[i].group.empty()) { // the digit group also holds the platform's own names
            EXPECT_EQ(expectedSizes[ShownLabel(names[i].group)], group->size) << Narrow(ShownLabel(names[i].group));
        }
        bool found = false;
        for (size_t k = 0; k < group->atoms.size(); ++k)
            found = found || (group->atoms[k] == static_cast<short>(added.Atoms()[i]) && group->names[k] == Shown(names[i].name));
        EXPECT_TRUE(found) << Narrow(Shown(names[i].name)) << " below " << Narrow(ShownLabel(names[i].group));
    }

    // Read back as a snapshot, the file is the table as it is now: nothing added, nothing gone.
    const Report again = RunCensus(L"/compare:table.csv");
    EXPECT_EQ(0u, again.exitCode) << again.raw;
    ASSERT_FALSE(again.lines.empty()) << again.raw;
    EXPECT_EQ(L"Since table.csv: 0 names added, 0 gone.", again.lines[0]) << again.raw;
}

// A program leaks names; compared with a snapshot taken before, the census lists them as added, in
// their groups; once they are deleted, compared with a snapshot taken after, it lists them as gone.
// The first comparison's output is the worked example of docs/atom-census.md.
TEST_F(Census, ListsALeakAsAddedAndAsGoneOnceDeleted) {
    struct Leak {
        census::LeakPattern pattern;
        std::wstring group;
    };
    const std::vector<Leak> leaks = {
        {{L"LeakyAppDocument_%04u", 150}, L"LeakyAppDocument"},
        {{L"LeakyAppPipe-%u-in", 12}, L"LeakyAppPipe"},
        {{L"leakyapp.settings.v%u", 3}, L"leakyapp"},
    };
    std::vector<std::wstring> leaked;
    std::wstring arguments;
    for (const Leak &leak : leaks) {
        for (const std::wstring &name : census::LeakNames(leak.pattern)) {
            ASSERT_EQ(0, GlobalFindAtomW(name.c_str())) << "already in the table: " << Narrow(name);
            leaked.push_back(name);
        }
        arguments += L" " + leak.pattern.format + L" " + std::to_wstring(leak.pattern.count);
    }
    for (const wchar_t *name : {L"before.csv", L"after.csv", L"example.txt"}) Remove(name);

    const Report before = RunCensus(L"/csv:before.csv");
    ASSERT_EQ(0u, before.exitCode) << before.raw;
    const std::vector<Row> snapshot = ReadCsv(L"before.csv");

    // The leak: names added by another program, which ends without deleting them.
    TestAtoms leak;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program(self);
    program = program.substr(0, program.find_last_of(L'\\')) + L"\\leaky_program.exe";
    const bundle::Run leaky = bundle::RunProgram(program, arguments.substr(1));
    leak.Adopt(leaked); // deleted by the test at its end, whatever happens
    ASSERT_EQ(0u, leaky.exitCode) << leaky.output;

    // Compared with the first snapshot, the second one taken on the way: the leak in its groups.
    const Report added = RunCensus(L"/compare:before.csv /csv:after.csv");
    EXPECT_EQ(0u, added.exitCode) << added.raw;
    ASSERT_FALSE(added.lines.empty()) << added.raw;
    EXPECT_EQ(L"Since before.csv: " + std::to_wstring(leaked.size()) + L" names added, 0 gone.", added.lines[0]);
    const Section *section = added.Find(L"Added, ");
    ASSERT_NE(nullptr, section) << added.raw;
    EXPECT_EQ(L"Added, " + std::to_wstring(leaks.size()) + L" groups, largest first:", section->title);
    ASSERT_EQ(leaks.size(), section->groups.size()) << added.raw;
    for (size_t g = 0; g < leaks.size(); ++g) { // the leaks are given largest first
        EXPECT_EQ(leaks[g].pattern.count, section->groups[g].size) << Narrow(leaks[g].group);
        EXPECT_EQ(leaks[g].group, section->groups[g].label);
        EXPECT_EQ(Examples(census::LeakNames(leaks[g].pattern)), section->groups[g].examples);
    }
    EXPECT_EQ(nullptr, added.Find(L"Gone")) << added.raw;
    {
        FILE *example = _wfopen((bundle::WorkDir() + L"\\example.txt").c_str(), L"wb");
        ASSERT_NE(nullptr, example);
        for (const std::wstring &line : added.lines) std::fprintf(example, "%s\n", Narrow(line).c_str());
        std::fclose(example);
    }
    // The second snapshot: the first one and every name of the leak, each in its group.
    const std::vector<Row> after = ReadCsv(L"after.csv");
    std::set<std::wstring> expected, found;
    for (const Row &row : snapshot) expected.insert(row.name);
    for (const std::wstring &name : leaked) expected.insert(name);
    for (const Row &row : after) found.insert(row.name);
    EXPECT_EQ(expected, found) << "the new snapshot: the old one and the leak";
    for (const Leak &leak : leaks)
        for (const std::wstring &name : census::LeakNames(leak.pattern))
            for (const Row &row : after)
                if (row.name == name) {
                    EXPECT_EQ(leak.group, row.group) << Narrow(name);
                    EXPECT_EQ(Signed(GlobalFindAtomW(name.c_str())), row.atom) << Narrow(name);
                }

    // Deleted: gone since the second snapshot, every name listed (/all) below its group, and the
    // table is as it was before the leak.
    leak.DeleteAll();
    Remove(L"end.csv");
    const Report gone = RunCensus(L"/compare:after.csv /all /csv:end.csv", false);
    EXPECT_EQ(0u, gone.exitCode) << gone.raw;
    ASSERT_FALSE(gone.lines.empty()) << gone.raw;
    EXPECT_EQ(L"Since after.csv: 0 names added, " + std::to_wstring(leaked.size()) + L" gone.", gone.lines[0]);
    EXPECT_EQ(nullptr, gone.Find(L"Added")) << gone.raw;
    section = gone.Find(L"Gone, ");
    ASSERT_NE(nullptr, section) << gone.raw;
    ASSERT_EQ(leaks.size(), section->groups.size()) << gone.raw;
    for (size_t g = 0; g < leaks.size(); ++g) {
        EXPECT_EQ(leaks[g].group, section->groups[g].label);
        EXPECT_EQ(census::LeakNames(leaks[g].pattern), section->groups[g].names) << Narrow(leaks[g].group);
    }
    std::set<std::wstring> end;
    for (const Row &row : ReadCsv(L"end.csv")) end.insert(row.name);
    std::set<std::wstring> start;
    for (const Row &row : snapshot) start.insert(row.name);
    EXPECT_EQ(start, end);
}

// Filled up to the limit the census says the table is full; with a few atoms deleted again, that
// it is nearly full; either way it counts every atom, the filling in one group, and changes nothing.
TEST_F(Census, ReportsATableAtAndNearItsLimit) {
    constexpr size_t kFreed = 20;
    const census::LeakPattern filling{L"AtomCensusFill%05u", kTableLimit};
    TestAtoms fill;
    DWORD refusal = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::wstring &name : census::LeakNames(filling)) {
        if (!fill.Add(name)) {
            refusal = GetLastError();
            break;
        }
    }
    std::printf("filled with %zu atoms in %.1f s, then refused (error %lu)\n", fill.Count(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), refusal);
    ASSERT_NE(0u, refusal) << "the table took " << fill.Count() << " names and no end";

    const Table full = Walk();
    Remove(L"full.csv");
    const Report atLimit = RunCensus(L"/csv:full.csv");
    EXPECT_EQ(0u, atLimit.exitCode) << atLimit.raw;
    ASSERT_GE(atLimit.lines.size(), 2u) << atLimit.raw;
    EXPECT_EQ(UsageLine(full.size()), atLimit.lines[0]);
    if (full.size() >= kTableLimit) {
        EXPECT_EQ(L"The table is FULL: adding a global atom fails until atoms are deleted.", atLimit.lines[1]);
    } else { // a platform whose table ends short of the limit
        EXPECT_TRUE(atLimit.lines[1].rfind(L"The table is NEARLY FULL", 0) == 0) << Narrow(atLimit.lines[1]);
    }
    const Section *groups = atLimit.Find(L"");
    ASSERT_NE(nullptr, groups) << atLimit.raw;
    ASSERT_FALSE(groups->groups.empty());
    EXPECT_EQ(L"AtomCensusFill", groups->groups[0].label);
    EXPECT_EQ(fill.Count(), groups->groups[0].size);
    ExpectCsvIsTable(ReadCsv(L"full.csv"), full);
    EXPECT_LT(atLimit.seconds, 60.0) << "a census of a full table takes seconds";
    EXPECT_EQ(full, Walk()) << "the census changed the table";

    fill.DeleteLast(kFreed);
    const Table nearly = Walk();
    ASSERT_GE(nearly.size(), kNearlyFull);
    const Report nearLimit = RunCensus(L"/top:1");
    EXPECT_EQ(0u, nearLimit.exitCode) << nearLimit.raw;
    ASSERT_GE(nearLimit.lines.size(), 2u) << nearLimit.raw;
    EXPECT_EQ(UsageLine(nearly.size()), nearLimit.lines[0]);
    EXPECT_EQ(L"The table is NEARLY FULL (90.0% or more in use): adding global atoms will soon fail.",
              nearLimit.lines[1]);
    groups = nearLimit.Find(L"");
    ASSERT_NE(nullptr, groups) << nearLimit.raw;
    ASSERT_EQ(1u, groups->groups.size()) << "/top:1 shows one group";
    EXPECT_EQ(fill.Count(), groups->groups[0].size);
    const std::wstring others = std::to_wstring(nearly.size() - fill.Count()) + L" names (/all lists every group and name)";
    EXPECT_TRUE(groups->rest.size() > others.size() &&
                groups->rest.compare(groups->rest.size() - others.size(), others.size(), others) == 0)
        << Narrow(groups->rest);
}

// What the census refuses: an unknown argument, a file that is not a snapshot, one that is not there.
TEST_F(Census, RefusesWhatItCannotUse) {
    for (const wchar_t *argument : {L"/everything", L"/top:0"}) {
        const Report report = RunCensus(argument);
        EXPECT_EQ(2u, report.exitCode) << report.raw;
        EXPECT_TRUE(report.Has(std::wstring(L"atom_census: unknown argument ") + argument)) << report.raw;
    }

    FILE *file = _wfopen((bundle::WorkDir() + L"\\not-a-census.csv").c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    std::fputs("a,b\r\n1,2\r\n", file);
    std::fclose(file);
    Report report = RunCensus(L"/compare:not-a-census.csv");
    EXPECT_EQ(1u, report.exitCode) << report.raw;
    EXPECT_TRUE(report.Has(L"atom_census: not-a-census.csv is not a census file")) << report.raw;

    Remove(L"missing.csv");
    report = RunCensus(L"/compare:missing.csv");
    EXPECT_EQ(1u, report.exitCode) << report.raw;
    EXPECT_TRUE(report.Has(L"atom_census: cannot read missing.csv")) << report.raw;
}

} // namespace
