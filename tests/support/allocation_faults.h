// Allocation failures injected into the component, one at a time.
//
// Attach() redirects the entries of the loaded component's import table that allocate (the C
// runtime's malloc family, under operator new; BSTR, VARIANT and SAFEARRAY allocation; TLS indexes;
// the COM objects it creates: the functions the component imports today, see allocation_faults.cpp)
// to functions of this harness; RecordingLibrary::FailWhen(FailNow)
// makes the component's calls to the common library count too. While a failure is armed, every
// such call is counted and the armed one fails as its function fails for want of memory (a null
// pointer, E_OUTOFMEMORY, TLS_OUT_OF_INDEXES). The harness also keeps the set of the component's
// own heap blocks, and can hold back what the component frees (WatchFrees) so that a second free
// of the same string or array is seen rather than handed out again.
#pragma once

#include <functional>

#include <windows.h>

namespace testing_support::faults {

// Redirects the component's imports (again after every load); false when that is not possible.
bool Attach();
// Redirects only the frees WatchFrees watches, of another module (a test's own program).
bool AttachFreeWatch(HMODULE module);

// The nth counted allocation from now fails (n >= 1); Disarm() stops counting.
void Arm(long n);
void Disarm();
bool Fired();
long Counted();
// Counts one allocation; true when it is the one to fail.
bool FailNow();
// Where the failed allocation was made: a hash of the component's return addresses on the stack
// (the 32-bit stack walk, without frame pointers, may see fewer of them).
unsigned long long FiredSite();

// While one exists nothing is counted (for a test's own look at the component during a case).
struct Paused {
    Paused();
    ~Paused();
};

// The component's heap blocks allocated since Attach() and not freed.
long LiveBlocks();

// While watching, strings and arrays freed (SysFreeString, SafeArrayDestroy) are held back; a
// second free of one is counted. Watching no more frees what was held back.
void WatchFrees(bool on);
long DoubleFrees();

// Runs `once(n)` for n = first, first + 1, ... until a run reaches no nth allocation (`once` arms
// the failure itself when its case is ready); returns the last n.
long Sweep(const std::function<void(long n)> &once, long first = 1);

} // namespace testing_support::faults
