// The module's count of live objects and server locks: what DllCanUnloadNow reports.
#pragma once

#include <windows.h>

namespace rt::objects {

void Added();
void Removed();
void Lock();
void Unlock();
LONG Live();
LONG Locks();
// S_OK when nothing is outstanding, S_FALSE otherwise.
HRESULT CanUnloadNow();

} // namespace rt::objects
