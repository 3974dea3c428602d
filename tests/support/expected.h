// What the tests expect by number and by text, in one place: runtime errors as callers see them
// (HRESULTs of facility CONTROL), the members' dispatch identifiers, and the component's texts that
// several tests compare with.
#pragma once

#include <windows.h>

namespace testing_support {

// A runtime error number as the HRESULT a failing member returns.
constexpr HRESULT RuntimeError(unsigned short number) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number); }

inline constexpr HRESULT kInvalidCall = RuntimeError(5);
inline constexpr HRESULT kOverflow = RuntimeError(6);
inline constexpr HRESULT kOutOfMemory = RuntimeError(7);
inline constexpr HRESULT kObjectNotSet = RuntimeError(91);
inline constexpr HRESULT kResourceNotFound = RuntimeError(326);
inline constexpr HRESULT kCantCreate = RuntimeError(429);
// The error number of a platform function that cannot be bound.
inline constexpr long kEntryPointNotFound = 453;

// Dispatch identifiers of _clsQxAtomTables10A.
namespace dispid {
inline constexpr DISPID kBuddy = 0x68030000;
inline constexpr DISPID kResStrings = 0x68030003;
inline constexpr DISPID kInitAtomTable = 0x60030007;
inline constexpr DISPID kAddAtom = 0x60030008;
inline constexpr DISPID kDeleteAtom = 0x60030009;
inline constexpr DISPID kFindAtom = 0x6003000A;
inline constexpr DISPID kGetAtomName = 0x6003000B;
} // namespace dispid

// The over-long name box's prompt (string 121) and title (string 122, quotes and all).
inline constexpr wchar_t kLengthPrompt[] = L"Length of this atom should not exceed 255.";
inline constexpr wchar_t kLengthTitle[] = L"\"Invalid Length...\"";

} // namespace testing_support
