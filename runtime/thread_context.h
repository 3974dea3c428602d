// The per-thread state of the component: one container per thread, created on the thread's first
// use and shared by every object of the module on that thread, never seen by another thread.
//
// It holds the per-thread variables of the project's standard modules (Get<T>) and the runtime's
// own per-thread objects (the application-properties object).
//
// Lifetime: every instance of a project class pins the context of the thread that created it
// (ThreadPin). When the last pinned instance on a thread is released, the context is discarded:
// module variables are destroyed (object references they hold are released) and the runtime's
// objects are let go. The next use on that thread starts a fresh context. So once a client has
// released everything it holds, nothing of the component remains and DllCanUnloadNow reports S_OK.
// (An instance parked in its own thread's module variables keeps the context pinned until it is
// released from there: such a cycle is the client's to break.) A context that no instance pins
// when its thread ends is discarded then.
#pragma once

#include <memory>
#include <vector>

#include "owners.h"

namespace rt {

class ThreadContext {
public:
    // The calling thread's context, created on first use.
    static ThreadContext &Current();
    // The calling thread's context if it exists.
    static ThreadContext *Existing();
    // Called when a thread of the process ends.
    static void ThreadEnding();

    void Pin();
    void Unpin();
    LONG Pins() const { return pins_; }

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

private:
    ThreadContext() = default;
    ~ThreadContext();
    static void Discard(ThreadContext *context);

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
    std::vector<Entry> variables_;
    ComPtr<IDispatch> app_;
};

// Held by every instance of a project class: pins the context of the thread that created it.
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
