// One pointer-sized value per thread, kept in a TLS index of the module's own.
//
// The compiler's thread_local goes through emulated TLS on this toolchain (a lookup function and
// a key per variable on every access); a TLS index is one read of the thread's slot array. Should
// the process have no index left, the slot quietly falls back to thread_local, so it always works.
// Reading and writing leave the thread's last-error value as it was (TlsGetValue clears it), so a
// slot may be used between a platform call and the reading of its error.
//
// Make slots function-local statics (constructed on first use), so that no static initializer of
// another unit can reach one before its index exists.
#pragma once

#include <windows.h>

namespace rt {

template <typename Tag>
class ThreadSlot {
public:
    ThreadSlot() : index_(TlsAlloc()) {}
    ~ThreadSlot() {
        if (index_ != TLS_OUT_OF_INDEXES) TlsFree(index_);
    }
    ThreadSlot(const ThreadSlot &) = delete;
    ThreadSlot &operator=(const ThreadSlot &) = delete;

    void *Get() const {
        if (index_ == TLS_OUT_OF_INDEXES) [[unlikely]]
            return fallback_;
        const DWORD error = GetLastError();
        void *value = TlsGetValue(index_);
        SetLastError(error);
        return value;
    }

    void Set(void *value) {
        if (index_ == TLS_OUT_OF_INDEXES) [[unlikely]] {
            fallback_ = value;
            return;
        }
        const DWORD error = GetLastError();
        TlsSetValue(index_, value); // cannot fail for an index of our own
        SetLastError(error);
    }

private:
    DWORD index_;
    static inline thread_local void *fallback_ = nullptr;
};

} // namespace rt
