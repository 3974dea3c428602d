// One pointer-sized value per thread, kept in a TLS index of the module's own.
//
// The compiler's thread_local goes through emulated TLS on this toolchain (a lookup function and
// a key per variable on every access, and a process abort when the key's memory cannot be had); a
// TLS index is one read of the thread's slot array. The index is taken when a value is first
// stored: should the process have none left (or no memory for the thread's slots), Set() says so,
// nothing is stored, and the next Set() tries again. Reading and writing leave the thread's
// last-error value as it was (TlsGetValue clears it), so a slot may be used between a platform call
// and the reading of its error.
//
// Make slots constinit objects of namespace scope: constant-initialized, so that no static
// initializer of another unit can reach one before it exists, and without the guard a function-local
// static gets (the toolchain's guard allocates, and does not survive running out of memory).
#pragma once

#include <atomic>

#include <windows.h>

namespace rt {

template <typename Tag>
class ThreadSlot {
public:
    constexpr ThreadSlot() = default;
    ~ThreadSlot() {
        const DWORD index = index_.load();
        if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    }
    ThreadSlot(const ThreadSlot &) = delete;
    ThreadSlot &operator=(const ThreadSlot &) = delete;

    // The calling thread's value; null when none was ever stored.
    void *Get() const {
        const DWORD index = index_.load(std::memory_order_acquire);
        if (index == TLS_OUT_OF_INDEXES) [[unlikely]]
            return nullptr;
        const DWORD error = GetLastError();
        void *value = TlsGetValue(index);
        SetLastError(error);
        return value;
    }

    // Stores the calling thread's value. False when it could not be stored.
    bool Set(void *value) {
        const DWORD index = Index();
        if (index == TLS_OUT_OF_INDEXES) [[unlikely]]
            return false;
        const DWORD error = GetLastError();
        const BOOL stored = TlsSetValue(index, value);
        SetLastError(error);
        return stored != FALSE;
    }

private:
    DWORD Index() {
        DWORD index = index_.load(std::memory_order_acquire);
        if (index != TLS_OUT_OF_INDEXES) [[likely]]
            return index;
        const DWORD error = GetLastError();
        const DWORD mine = TlsAlloc();
        SetLastError(error);
        if (mine == TLS_OUT_OF_INDEXES) return mine;
        // Two threads may get here at once: the first index published is the slot's.
        if (!index_.compare_exchange_strong(index, mine, std::memory_order_acq_rel)) {
            TlsFree(mine);
            return index;
        }
        return mine;
    }

    std::atomic<DWORD> index_{TLS_OUT_OF_INDEXES};
};

} // namespace rt
