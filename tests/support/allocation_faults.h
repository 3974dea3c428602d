// Allocation failures injected into the component, one at a time.
//
// Attach() redirects the entries of the loaded component's import table that allocate (the C
// runtime's malloc family, under operator new; BSTR, VARIANT and SAFEARRAY allocation; TLS indexes;
// the COM objects it creates: CoCreateInstance, CreateErrorInfo, LoadTypeLibEx, pictures, the
// initialize spy) to functions of this harness. RecordingLibrary asks the harness too (FailWhen), so
// that the component's late-bound calls to the common library can fail as well. Every such call
// made while a failure is armed is counted; the armed one fails as its function fails for want of
// memory (a null pointer, E_OUTOFMEMORY, TLS_OUT_OF_INDEXES), every other one goes through.
//
// The harness also keeps the set of the component's own heap blocks (what its malloc family gave
// out and it has not freed), so that a test can see that a failure left nothing behind, and it can
// hold back the strings the component frees (WatchFrees), so that a string freed twice is seen
// rather than handed out again.
#pragma once

#include <functional>
#include <string>

#include <windows.h>

namespace testing_support::faults {

// Redirects the component's imports (the module must be loaded; again after every new load).
// False when it is not loaded or an import could not be redirected.
bool Attach();
// Redirects only the frees WatchFrees watches, of another module (a test's own program).
bool AttachFreeWatch(HMODULE module);

// From now on, the nth counted allocation fails (n >= 1); Disarm() stops counting.
void Arm(long n);
void Disarm();
// Whether the armed failure happened, and how many allocations were counted since Arm().
bool Fired();
long Counted();
// Counts one allocation and says whether it is the one to fail (for RecordingLibrary::FailWhen).
bool FailNow();

// While one exists, nothing is counted and nothing fails (for a test's own look at the component
// in the middle of a case).
class Paused {
public:
    Paused();
    Paused(const Paused &) = delete;
    Paused &operator=(const Paused &) = delete;
    ~Paused();
};
// Where the failed allocation was made: the component's frames on the stack at that moment (as
// offsets into the module, hashed), so that runs reaching one site by different calls can be told
// from different sites. (Without frame pointers the 32-bit stack walk may see fewer frames.)
unsigned long long FiredSite();

// The component's heap blocks still allocated (only those allocated since Attach()).
long LiveBlocks();

// While watching, strings and arrays the component frees (SysFreeString, SafeArrayDestroy) are
// held back instead of freed, so that their memory cannot be handed out again; freeing one of them
// again counts as a double free. Watching no more frees what was held back.
void WatchFrees(bool on);
long DoubleFrees();

// Runs `once` with the 1st (or `first`), 2nd, 3rd... allocation failing, until a run reaches no
// more allocations; returns the number of the last allocation that failed. `once` gets n, arms the
// failure at n itself when its case is ready, and disarms it (Disarm) before it checks what it got.
long Sweep(const std::function<void(long n)> &once, long first = 1);

} // namespace testing_support::faults
