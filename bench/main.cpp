// The benchmark program (see docs/benchmarks.md; bench/run.sh builds and runs it under Wine):
// what a call into the atom tables costs along every path a client can take, against two floors
// (the bare kernel32 call, and the least the member's contract costs), plus the component's memory
// and its behaviour under two threads.
//
//   atomtables_bench --out <dir> --script <bench.vbs> [--machine <text>] [--wine <text>]
//                    [--arch <x64|x86>] [--load <loadavg file>] [--quick]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bench.h"

namespace bench {

volatile long long g_sink = 0;

long long Ticks() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double TicksPerSecond() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return frequency;
}

Stats Summarise(std::vector<double> values) {
    Stats s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        const double position = q * static_cast<double>(values.size() - 1);
        const size_t low = static_cast<size_t>(position);
        const size_t high = std::min(low + 1, values.size() - 1);
        const double fraction = position - static_cast<double>(low);
        return values[low] * (1 - fraction) + values[high] * fraction;
    };
    s.median = at(0.5);
    s.p25 = at(0.25);
    s.p75 = at(0.75);
    return s;
}

namespace {

void Say(const char *text) {
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

bool ParseOptions(int argc, wchar_t **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        auto value = [&](std::wstring &out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (arg == L"--out") { if (!value(options.outDir)) return false; }
        else if (arg == L"--script") { if (!value(options.script)) return false; }
        else if (arg == L"--machine") { if (!value(options.machine)) return false; }
        else if (arg == L"--wine") { if (!value(options.wine)) return false; }
        else if (arg == L"--arch") { if (!value(options.arch)) return false; }
        else if (arg == L"--load") { if (!value(options.loadFile)) return false; }
        else if (arg == L"--quick") options.quick = true;
        else return false;
    }
    return !options.outDir.empty();
}

std::wstring NowUtc() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    wchar_t text[32];
    wsprintfW(text, L"%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return text;
}

// The first figure of a Linux load-average file (the 1-minute average), or -1.
double ReadLoad(const std::wstring &file) {
    if (file.empty()) return -1;
    std::ifstream in{std::filesystem::path(file)};
    double load = -1;
    if (!(in >> load)) return -1;
    return load;
}

int Run(const Options &options) {
    Report report;
    report.options = options;
    report.started = NowUtc();
    report.loadStart = ReadLoad(options.loadFile);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    report.cores = static_cast<int>(system.dwNumberOfProcessors);
    // Ahead of everything else: nothing else of this process may run on the measured thread.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);

    Component component;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"AtomTables10.clsQxAtomTables10A", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAtomTables10A,
                              reinterpret_cast<void **>(component.object.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) hr = component.object.As(&component.dispatch);
    if (FAILED(hr)) {
        std::fprintf(stderr, "bench: cannot create AtomTables10.clsQxAtomTables10A (0x%08lx): is it registered?\n",
                     static_cast<unsigned long>(hr));
        return 2;
    }

    Say("local table: every member along every path");
    report.localRounds = options.quick ? 5 : 21;
    report.local = LocalCases(component, options.quick);
    RunCases(report.local, report.localRounds);

    Say("global table (each call crosses to the Wine server)");
    report.globalRounds = options.quick ? 3 : 7;
    report.global = GlobalCases(component, options.quick);
    RunCases(report.global, report.globalRounds);
    std::vector<Case> integer = GlobalIntegerCases(component, options.quick);
    RunCases(integer, report.localRounds);
    report.global.insert(report.global.end(), std::make_move_iterator(integer.begin()),
                         std::make_move_iterator(integer.end()));

    Say("building blocks");
    report.blocks = MeasureBlocks(component, options.quick);

    Say("memory");
    report.memory = MeasureMemory(component, options.quick);

    Say("two threads against one");
    report.threads = MeasureThreads(options.quick);

    Say("VBScript loops under cscript");
    report.script = RunScript(options);
    if (!report.script.ran) std::fprintf(stderr, "bench: VBScript loops: %s\n", Utf8(report.script.failure).c_str());

    report.loadEnd = ReadLoad(options.loadFile);
    WriteReport(report);
    Say("report written");
    return g_failures ? 1 : 0;
}

} // namespace
} // namespace bench

int wmain(int argc, wchar_t **argv) {
    bench::Options options;
    if (!bench::ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: atomtables_bench --out <dir> --script <bench.vbs> [--machine <text>] "
                             "[--wine <text>] [--arch <x64|x86>] [--load <file>] [--quick]\n");
        return 2;
    }
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = bench::Run(options);
    if (SUCCEEDED(apartment)) CoUninitialize();
    return status;
}
