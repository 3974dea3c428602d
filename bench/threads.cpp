// Two threads against one on the local atom table: the raw calls, and the same calls through the
// component (each thread in its own single-threaded apartment with its own instance).
#include <string>

#include "bench.h"

namespace bench {
namespace {

struct Worker {
    bool component = false;
    int index = 0;
    int cycles = 0;
    HANDLE ready = nullptr; // set by the worker when it is about to wait for the start
    HANDLE start = nullptr; // set by the main thread
    long failures = 0;
};

// One cycle is five operations: add a name, find it, find a missing name, read the name, delete.
DWORD WINAPI Work(void *p) {
    Worker &w = *static_cast<Worker *>(p);
    const std::string nameA = "AtomTablesBench.Thread." + std::to_string(w.index);
    const std::string missingA = nameA + ".Missing";
    if (!w.component) {
        SetEvent(w.ready);
        WaitForSingleObject(w.start, INFINITE);
        char buffer[256];
        for (int i = 0; i < w.cycles; ++i) {
            const ATOM atom = AddAtomA(nameA.c_str());
            Keep(FindAtomA(nameA.c_str()));
            Keep(FindAtomA(missingA.c_str()));
            Keep(GetAtomNameA(atom, buffer, 255));
            Keep(DeleteAtom(atom));
        }
        return 0;
    }
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<_clsQxAtomTables10A> object;
        if (FAILED(CoCreateInstance(CLSID_clsQxAtomTables10A, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAtomTables10A,
                                    reinterpret_cast<void **>(object.ReleaseAndGetAddressOf())))) {
            ++w.failures;
            SetEvent(w.ready);
            if (SUCCEEDED(apartment)) CoUninitialize();
            return 1;
        }
        Bstr name(std::wstring(nameA.begin(), nameA.end())), missing(std::wstring(missingA.begin(), missingA.end()));
        SetEvent(w.ready);
        WaitForSingleObject(w.start, INFINITE);
        for (int i = 0; i < w.cycles; ++i) {
            LONG r = 0;
            if (FAILED(object->AddAtomAmts(name.Address(), &r))) ++w.failures;
            short atom = static_cast<short>(r);
            if (FAILED(object->FindAtomAmts(name.Address(), &r))) ++w.failures;
            Keep(r);
            if (FAILED(object->FindAtomAmts(missing.Address(), &r))) ++w.failures;
            Keep(r);
            BSTR text = nullptr;
            if (FAILED(object->GetAtomNameAmts(&atom, nullptr, nullptr, &text))) ++w.failures;
            Keep(SysStringLen(text));
            SysFreeString(text);
            if (FAILED(object->DeleteAtomAmts(&atom, &r))) ++w.failures;
        }
    }
    if (SUCCEEDED(apartment)) CoUninitialize();
    return 0;
}

// Operations per second of `threads` workers running together.
double Throughput(bool component, int threads, int cycles) {
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Worker> workers(static_cast<size_t>(threads));
    std::vector<HANDLE> handles, readies;
    for (int t = 0; t < threads; ++t) {
        Worker &w = workers[static_cast<size_t>(t)];
        w.component = component;
        w.index = t;
        w.cycles = cycles;
        w.start = start;
        w.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        readies.push_back(w.ready);
        handles.push_back(CreateThread(nullptr, 0, Work, &w, 0, nullptr));
    }
    WaitForMultipleObjects(static_cast<DWORD>(readies.size()), readies.data(), TRUE, INFINITE);
    const long long begin = Ticks();
    SetEvent(start);
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    const long long end = Ticks();
    for (HANDLE h : handles) CloseHandle(h);
    for (HANDLE h : readies) CloseHandle(h);
    CloseHandle(start);
    for (const Worker &w : workers) g_failures += w.failures;
    const double seconds = NsBetween(begin, end) / 1e9;
    return seconds > 0 ? 5.0 * cycles * threads / seconds : 0;
}

} // namespace

ThreadResults MeasureThreads(bool quick) {
    ThreadResults results;
    const int cycles = quick ? 20000 : 100000;
    const int trials = quick ? 3 : 7;
    results.operationsPerThread = cycles * 5;
    std::vector<double> rawOne, rawTwo, componentOne, componentTwo;
    Throughput(false, 1, cycles / 10); // warm
    Throughput(true, 1, cycles / 10);
    for (int trial = 0; trial < trials; ++trial) {
        rawOne.push_back(Throughput(false, 1, cycles));
        rawTwo.push_back(Throughput(false, 2, cycles));
        componentOne.push_back(Throughput(true, 1, cycles));
        componentTwo.push_back(Throughput(true, 2, cycles));
    }
    results.rawOne = Summarise(rawOne);
    results.rawTwo = Summarise(rawTwo);
    results.componentOne = Summarise(componentOne);
    results.componentTwo = Summarise(componentTwo);
    return results;
}

} // namespace bench
