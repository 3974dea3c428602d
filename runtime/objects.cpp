#include "objects.h"

namespace rt::objects {
namespace {
LONG volatile g_live = 0;
LONG volatile g_locks = 0;
} // namespace

void Added() { InterlockedIncrement(&g_live); }
void Removed() { InterlockedDecrement(&g_live); }
void Lock() { InterlockedIncrement(&g_locks); }
void Unlock() { InterlockedDecrement(&g_locks); }
LONG Live() { return InterlockedCompareExchange(&g_live, 0, 0); }
LONG Locks() { return InterlockedCompareExchange(&g_locks, 0, 0); }
HRESULT CanUnloadNow() { return Live() == 0 && Locks() == 0 ? S_OK : S_FALSE; }

} // namespace rt::objects
