// The per-thread state of the component: one container per thread, created on the thread's first
// use and shared by every object of the module on that thread, never seen by another thread.
//
// It holds the per-thread variables of the project's standard modules (Get<T>), the runtime's own
// per-thread objects (the application-properties object) and the platform's last error.
//
// Lifetime: every instance of a project class pins the context of the thread that created it
// (ThreadPin). What the context holds of others (objects parked in module variables, the runtime's
// objects) is released only at a safe point of the thread, where releasing may run any code:
//   - when the last pinned instance on the thread is released: then the whole context is discarded
//     (the next use on that thread starts a fresh one), so once a client has released everything it
//     holds, nothing of the component remains and DllCanUnloadNow reports S_OK;
//   - when the thread's apartment is uninitialized (the last CoUninitialize of the thread: an
//     initialize spy registered with the context sees it coming): the context lets go of what it
//     holds and stays, empty, for the instances that may still pin it.
// Never under the loader lock: when the thread ends (DLL_THREAD_DETACH) a context that no instance
// pins has its own memory freed there and releases nothing; one still pinned is marked, and when
// its last instance goes later in the thread's end (a client's thread-local storage), it is freed
// the same way. What such a context still held of others is left unreleased: their code must not run
// under the loader lock, and a thread that ends without uninitializing its apartment leaves that
// apartment's objects behind in any case.
// (An instance parked in its own thread's module variables keeps the context pinned until it is
// released from there or the apartment ends: such a cycle is the client's to break.)
#pragma once

#include <memory>
#include <vector>

#include "owners.h"

namespace rt {

class ThreadContext {
public:
    // The calling thread's context, created on first use. Creating one needs memory, a TLS index
    // and an initialize spy; without them it throws std::bad_alloc (callers run guarded) and leaves
    // nothing behind.
    static ThreadContext &Current();
    // The calling thread's context if it exists.
    static ThreadContext *Existing() noexcept;
    // Called when a thread of the process ends, under the loader lock: frees plain memory only.
    static void ThreadEnding() noexcept;

    void Pin() noexcept;
    void Unpin() noexcept;

    // The per-thread variables of one standard module (a default-constructed T on first use).
    template <class T>
    T &Get() {
        static const char tag = 0;
        for (auto &entry : variables_)
            if (entry.tag == &tag) return static_cast<Holder<T> *>(entry.holder.get())->value;
        auto holder = std::make_unique<Holder<T>>();
        T &value = holder->value;
        variables_.push_back({&tag, std::move(holder)});
        return value;
    }

    // The application-properties object of this thread, created on first use.
    HRESULT App(IDispatch **app);

    // The platform's last error after the thread's most recent platform call (errors.h).
    DWORD lastDllError = 0;

private:
    class ApartmentWatch;

    ThreadContext() = default;
    ~ThreadContext();
    static void Discard(ThreadContext *context) noexcept;
    // Releases what the context holds of others (module variables, the runtime's objects): only at a
    // safe point.
    void ReleaseObjects() noexcept;
    // The thread's apartment is ending (seen by the spy).
    void ApartmentEnding() noexcept;
    // Frees the context at the thread's end, leaving what it holds of others unreleased.
    void Abandon() noexcept;

    struct HolderBase {
        virtual ~HolderBase() = default;
    };
    template <class T>
    struct Holder : HolderBase {
        T value{};
    };
    struct Entry {
        const void *tag;
        std::unique_ptr<HolderBase> holder;
    };

    LONG pins_ = 0;
    bool threadEnded_ = false;
    std::vector<Entry> variables_;
    ComPtr<IDispatch> app_;
    ApartmentWatch *watch_ = nullptr; // owned reference
    ULARGE_INTEGER watchCookie_{};
    bool watching_ = false; // the spy is registered
};

// Held by every instance of a project class: pins the context of the thread that created it.
// (Constructing one may throw std::bad_alloc: see ThreadContext::Current.)
class ThreadPin {
public:
    ThreadPin() : context_(&ThreadContext::Current()) { context_->Pin(); }
    ThreadPin(const ThreadPin &) = delete;
    ThreadPin &operator=(const ThreadPin &) = delete;
    ~ThreadPin() { context_->Unpin(); }

private:
    ThreadContext *context_;
};

} // namespace rt
