#include "thread_context.h"

#include "app_object.h"
#include "thread_slot.h"

namespace rt {
namespace {
struct ContextTag;
ThreadSlot<ContextTag> &ContextSlot() {
    static ThreadSlot<ContextTag> slot;
    return slot;
}
} // namespace

ThreadContext &ThreadContext::Current() {
    auto *context = static_cast<ThreadContext *>(ContextSlot().Get());
    if (!context) {
        context = new ThreadContext();
        ContextSlot().Set(context);
    }
    return *context;
}

ThreadContext *ThreadContext::Existing() { return static_cast<ThreadContext *>(ContextSlot().Get()); }

void ThreadContext::ThreadEnding() {
    ThreadContext *context = Existing();
    if (context && context->pins_ == 0) Discard(context);
}

void ThreadContext::Pin() { ++pins_; }

void ThreadContext::Unpin() {
    if (--pins_ == 0) Discard(this);
}

void ThreadContext::Discard(ThreadContext *context) {
    // Detached first: releasing what the context holds may run code that uses the component again
    // on this thread, and that code must find a fresh context, not this one half torn down.
    // A context is only ever discarded on its own thread; an instance released on a foreign
    // thread (a client breaking the apartment rules) leaves it to its thread's end.
    if (Existing() != context) return;
    ContextSlot().Set(nullptr);
    delete context;
}

ThreadContext::~ThreadContext() {
    // Module variables go first, newest first, then the runtime's own objects.
    while (!variables_.empty()) {
        auto holder = std::move(variables_.back().holder);
        variables_.pop_back();
        holder.reset();
    }
    app_.Reset();
}

HRESULT ThreadContext::App(IDispatch **app) {
    if (!app) return E_POINTER;
    *app = nullptr;
    if (!app_) {
        HRESULT hr = AppObject::Create(&app_);
        if (FAILED(hr)) return hr;
    }
    return app_.CopyTo(app);
}

} // namespace rt
