// basQxelCommonA: the bridge to the maker's common library (QxBedrock10). Every call creates a
// fresh instance of a library class by ProgID, calls one method on it by name, and releases it.
#pragma once

#include "runtime/owners.h"

namespace basQxelCommonA {

inline constexpr wchar_t kIdentityCode[] = L"basQxelCommonA";

inline constexpr wchar_t kErrorHandlerProgId[] = L"QxBedrock10.clsQxelErrorHandlerA";
inline constexpr wchar_t kEnvironmentProgId[] = L"QxBedrock10.clsQxelEnvironmentA";
inline constexpr wchar_t kBedrockProgId[] = L"QxBedrock10.clsQxBedrock10A";

// Forwards one report to the library's error handler: "ErrorHandlerMessageQx" with the eight
// arguments in order, the first seven by reference, the eighth the missing marker when omitted
// (vReserved null). Not trapped: a failure to create or call the handler is returned to the caller.
// (Its result, a variant, is never set, so it is not returned.)
HRESULT ErrorHandlerMessageQx_Pro(rt::ComPtr<IDispatch> &oApp, rt::ComPtr<IDispatch> &oErr, rt::Bstr &sMessage,
                                  rt::Bstr &sSource, long &lOptions, rt::Bstr &sExtra, long &lContext,
                                  const VARIANT *vReserved = nullptr);

// Asks the library's environment class to ensure the environment status. Trapped: failures are
// reported and only the reporter's own failure is returned.
HRESULT EnsureQxEnvironmentStatus_Pro();

// Asks the library to present the component's About information. Trapped like the above.
HRESULT AppAboutQxel_Pro();

} // namespace basQxelCommonA
