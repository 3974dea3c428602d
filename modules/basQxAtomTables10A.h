// basQxAtomTables10A: the platform's atom functions, bound by name from kernel32, and the
// module's per-thread variables (the name buffer and the buddy slot).
#pragma once

#include <array>

#include "runtime/owners.h"

namespace basQxAtomTables10A {

inline constexpr wchar_t kIdentityCode[] = L"mzAtomTables";

// The fixed length of the name buffer, in characters.
inline constexpr size_t kNameBufferLength = 255;

// The module's per-thread variables. One set per thread, shared by every instance on it.
struct Variables {
    // Read names land here; its length never changes and nothing clears it between reads.
    std::array<wchar_t, kNameBufferLength> sAtomNameBuffer{};
    // The object parked by BuddyObjectGlobal, if any.
    rt::ComPtr<IDispatch> oBuddyObjectGlobal;
};

// The calling thread's variables.
Variables &Thread();

// The platform functions. Each is looked up in kernel32 by name when first called and the address
// is kept for the rest of the process; a function that cannot be found fails the call with error
// 453 and leaves the platform untouched.
HRESULT InitAtomTable(DWORD size, BOOL &result);
HRESULT AddAtomA(LPCSTR name, ATOM &result);
HRESULT DeleteAtom(ATOM atom, ATOM &result);
HRESULT FindAtomA(LPCSTR name, ATOM &result);
HRESULT GetAtomNameA(ATOM atom, LPSTR buffer, int size, UINT &result);
HRESULT GlobalAddAtomA(LPCSTR name, ATOM &result);
HRESULT GlobalDeleteAtom(ATOM atom, ATOM &result);
HRESULT GlobalFindAtomA(LPCSTR name, ATOM &result);
HRESULT GlobalGetAtomNameA(ATOM atom, LPSTR buffer, int size, UINT &result);

// How names are looked up. Tests put their own lookup in place; null restores kernel32's.
// Replacing it forgets every address found so far.
using Resolver = FARPROC (*)(const char *name);
void SetResolver(Resolver resolver);

} // namespace basQxAtomTables10A
