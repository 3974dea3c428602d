// The benchmark's shared pieces: the clock, statistics over repeated runs, the paths into the atom
// tables, and the results that the report is made of.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AtomTables10.h"
#include "runtime/owners.h"

namespace bench {

using rt::Bstr;
using rt::ComPtr;

// --- The clock -----------------------------------------------------------------------------------
long long Ticks();
double TicksPerSecond();
inline double NsBetween(long long from, long long to) {
    return static_cast<double>(to - from) * 1e9 / TicksPerSecond();
}

// A value that the optimiser cannot see through: the timed loops add their results into it.
extern volatile long long g_sink;
inline void Keep(long long value) { g_sink = g_sink + value; }
// Calls that failed where they should not have (reported; the figures are void when it is not 0).
extern long g_failures;

// --- Statistics ----------------------------------------------------------------------------------
// The median and the interquartile range of a set of repeated measurements.
struct Stats {
    double median = 0;
    double p25 = 0;
    double p75 = 0;
    size_t count = 0;
    bool Valid() const { return count > 0; }
    // Half the interquartile range, relative to the median.
    double Spread() const { return median > 0 ? (p75 - p25) / 2 / median : 0; }
};
Stats Summarise(std::vector<double> values);

// --- Options -------------------------------------------------------------------------------------
struct Options {
    std::wstring outDir;   // where latest.md and latest.dat go (Windows form)
    std::wstring script;   // bench.vbs (Windows form)
    std::wstring machine;  // CPU model and cores, as the host reports them
    std::wstring wine;     // Wine's version
    std::wstring arch = L"x64";
    std::wstring loadFile; // the host's load averages (Linux /proc/loadavg through Wine's Z:), if given
    bool quick = false;    // fewer and shorter rounds, for trying things out
};

// --- The paths -----------------------------------------------------------------------------------
// Two floors and the paths a client takes. kFloor: the kernel32 function alone, its argument
// already in the platform's form. kContract: the least any implementation of the member's contract
// does (the caller's wide name converted to the ANSI code page plus the call; for a name read, the
// call, its ANSI buffer converted back and the 255-character string the caller receives); for the
// members whose arguments are numbers it is the kernel32 call itself and is not timed twice.
// kCallerWork, a control beside the late-bound paths: everything a late-bound caller does around
// Invoke (its DISPPARAMS, result VARIANT, EXCEPINFO, reading and clearing the result) with the
// member's vtable call in Invoke's place, so that what Invoke itself adds shows apart from what the
// caller's own work costs.
enum Path { kFloor, kContract, kVtable, kInvoke, kNamesInvoke, kCallerWork, kPathCount };
const wchar_t *PathTitle(int path);

// --- The contract floor's conversions (the platform's converters, as any implementation uses them) -
// Room for the ANSI form of a name of up to 255 characters in any ANSI code page (three bytes a
// character at most) and its terminator.
constexpr int kAnsiNameBytes = 3 * 255 + 1;
// Converts `length` characters of a wide name into `out` (kAnsiNameBytes) and terminates it; the
// bytes written, 0 on failure.
int NarrowName(const wchar_t *name, int length, char *out);
// Converts `length` ANSI bytes back to UTF-16 into `out` (room for `length` characters); the
// characters written, 0 on failure.
int WidenBytes(const char *bytes, int length, wchar_t *out);

// One measured case: a member with one kind of argument, along every path.
struct Case {
    std::wstring member;   // the component's member
    std::wstring variant;  // which argument: "existing name", "missing atom", ...
    std::wstring platform; // the kernel32 function under it
    bool global = false;
    int calls = 0;         // calls per timed batch
    struct Batch {
        std::function<void(int)> setup, run, teardown; // untimed, timed, untimed
    } paths[kPathCount];
    std::vector<double> ns[kPathCount];       // ns per call, one value per round
    std::vector<double> ratio[kPathCount];    // the path's time over the contract floor's in the same round
    std::vector<double> rawRatio[kPathCount]; // the path's time over the kernel32 call's in the same round
    std::vector<double> overVtable[kPathCount]; // ns per call the path adds to the vtable call in the same round
    // Whether the contract floor is the kernel32 call itself (no kContract batch of its own).
    bool ContractIsRaw() const { return !paths[kContract].run; }
    // The same call in a VBScript loop (empty loop subtracted), when the script measures it.
    std::wstring scriptKey;
    Stats scriptNet;
    // Which targets apply: the vtable ratio limit, to the contract floor (0: none).
    double vtableTarget = 0;
    // Whether the late-bound paths' cost over the vtable call is a target: false where the platform
    // call's own noise (a round trip to the Wine server) is far larger than that cost.
    bool lateBoundTarget = true;
};

// The component and everything the cases call with. Lives for the whole run.
struct Component {
    ComPtr<_clsQxAtomTables10A> object;
    ComPtr<IDispatch> dispatch;
};

// Builds the cases of one table (local or global).
std::vector<Case> LocalCases(Component &component, bool quick);
std::vector<Case> GlobalCases(Component &component, bool quick);
// The global members with integer atoms, which the platform answers without the Wine server.
std::vector<Case> GlobalIntegerCases(Component &component, bool quick);
// Runs every case for `rounds` rounds, the paths of each round in rotating order.
void RunCases(std::vector<Case> &cases, int rounds);

// --- The VBScript loops --------------------------------------------------------------------------
struct ScriptResults {
    bool ran = false;
    std::wstring failure;     // why it did not run, when it did not
    int iterations = 0;       // of each local loop
    int globalIterations = 0; // of each global loop
    Stats empty;              // ns per iteration of the empty loop
    Stats peer;               // Scripting.Dictionary.Exists, empty loop subtracted
    std::vector<std::pair<std::wstring, Stats>> members; // key -> net ns per call
};
ScriptResults RunScript(const Options &options);

// --- Building blocks: what the pieces of a call cost on this platform ----------------------------
struct Block {
    std::wstring what;
    Stats ns;
};
std::vector<Block> MeasureBlocks(Component &component, bool quick);

// --- Memory --------------------------------------------------------------------------------------
struct MemoryResults {
    size_t contextSize = 0;    // sizeof(rt::ThreadContext)
    size_t variablesSize = 0;  // sizeof(basQxAtomTables10A::Variables)
    size_t heapBytes = 0;      // bytes a thread's first use allocates (operator new)
    size_t heapBlocks = 0;
    size_t heapBytesLeft = 0;  // still allocated after the context is discarded
    long long crtHeapGrowth = -1; // the whole C runtime heap's growth over the same first use
    SIZE_T afterWarmUp = 0;    // PagefileUsage
    SIZE_T afterCalls = 0;
    long long calls = 0;
};
MemoryResults MeasureMemory(Component &component, bool quick);

// --- Threads -------------------------------------------------------------------------------------
struct ThreadResults {
    Stats rawOne, rawTwo;             // operations per second
    Stats componentOne, componentTwo;
    int operationsPerThread = 0;
    double RawScaling() const { return rawOne.median > 0 ? rawTwo.median / rawOne.median : 0; }
    double ComponentScaling() const {
        return componentOne.median > 0 ? componentTwo.median / componentOne.median : 0;
    }
};
ThreadResults MeasureThreads(bool quick);

// --- The report ----------------------------------------------------------------------------------
struct Report {
    Options options;
    std::vector<Case> local, global;
    ScriptResults script;
    std::vector<Block> blocks;
    MemoryResults memory;
    ThreadResults threads;
    int localRounds = 0, globalRounds = 0;
    std::wstring started;
    // The host's 1-minute load average at the start and at the end (-1: unknown), and the cores.
    double loadStart = -1, loadEnd = -1;
    int cores = 0;
};
// Writes latest.md and latest.dat into options.outDir and returns the markdown.
std::string WriteReport(const Report &report);

// Narrow text for the report (UTF-8).
std::string Utf8(const std::wstring &text);

} // namespace bench
