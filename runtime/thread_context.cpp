#include "thread_context.h"

#include <new>

#include <objbase.h>

#include "app_object.h"
#include "errors.h"
#include "single_interface.h"
#include "thread_slot.h"

namespace rt {
namespace {
struct ContextTag;
// Constant-initialized, so that nothing guards its first use (the toolchain's guard allocates).
constinit ThreadSlot<ContextTag> g_contextSlot;
ThreadSlot<ContextTag> &ContextSlot() { return g_contextSlot; }
} // namespace

// The initialize spy of one context: it tells the context when the thread's apartment ends. It is
// an object of its own (COM keeps a reference until it is revoked, or until the thread ends), and
// forgets the context when the context goes.
class ThreadContext::ApartmentWatch final : public SingleInterface<IInitializeSpy> {
public:
    explicit ApartmentWatch(ThreadContext *context) : context_(context) {}

    void Forget() { context_ = nullptr; }

    STDMETHODIMP PreInitialize(DWORD, DWORD) override { return S_OK; }
    STDMETHODIMP PostInitialize(HRESULT result, DWORD, DWORD) override { return result; }
    STDMETHODIMP PreUninitialize(DWORD apartmentReferences) override {
        // The last uninitialization of the thread's apartment: it still works now, and will not after.
        if (apartmentReferences == 1 && context_) {
            AddRef(); // the context may revoke (and release) this spy meanwhile
            context_->ApartmentEnding();
            Release();
        }
        return S_OK;
    }
    STDMETHODIMP PostUninitialize(DWORD) override { return S_OK; }

private:
    ThreadContext *context_;
};

ThreadContext &ThreadContext::Current() {
    if (ThreadContext *context = Existing()) [[likely]]
        return *context;
    auto *context = new ThreadContext();
    try {
        context->watch_ = new ApartmentWatch(context);
        if (FAILED(CoRegisterInitializeSpy(context->watch_, &context->watchCookie_))) throw std::bad_alloc();
        context->watching_ = true;
        if (!ContextSlot().Set(context)) throw std::bad_alloc();
    } catch (...) {
        delete context; // revokes the spy if it was registered
        throw;
    }
    return *context;
}

ThreadContext *ThreadContext::Existing() noexcept { return static_cast<ThreadContext *>(ContextSlot().Get()); }

void ThreadContext::ThreadEnding() noexcept {
    ThreadContext *context = Existing();
    if (!context) return;
    context->threadEnded_ = true;
    if (context->pins_ > 0) return; // freed when its last instance goes
    ContextSlot().Set(nullptr);
    context->Abandon();
}

void ThreadContext::Pin() noexcept { ++pins_; }

void ThreadContext::Unpin() noexcept {
    if (--pins_ == 0) Discard(this);
}

void ThreadContext::Discard(ThreadContext *context) noexcept {
    // A context is only ever discarded on its own thread; an instance released on a foreign thread
    // (a client breaking the apartment rules) leaves it to its thread's end.
    if (Existing() != context) return;
    // Detached first: releasing what the context holds may run code that uses the component again
    // on this thread, and that code must find a fresh context, not this one half torn down.
    ContextSlot().Set(nullptr);
    if (context->threadEnded_)
        context->Abandon();
    else
        delete context;
}

void ThreadContext::ApartmentEnding() noexcept {
    // Pinned meanwhile, so that releasing the last instance (one parked in the slot) cannot discard
    // the context under this call; discarded at the end if nothing pins it any more.
    Pin();
    ReleaseObjects();
    Unpin();
}

void ThreadContext::ReleaseObjects() noexcept {
    // Taken out first, for the same reason as in Discard. Module variables go first, newest first,
    // then the runtime's own objects.
    std::vector<Entry> variables;
    variables.swap(variables_);
    ComPtr<IDispatch> app;
    app.Swap(app_);
    while (!variables.empty()) variables.pop_back();
    app.Reset();
}

ThreadContext::~ThreadContext() {
    ReleaseObjects();
    if (watch_) {
        watch_->Forget();
        if (watching_) CoRevokeInitializeSpy(watchCookie_);
        watch_->Release();
    }
}

void ThreadContext::Abandon() noexcept {
    for (Entry &entry : variables_) static_cast<void>(entry.holder.release());
    variables_.clear();
    static_cast<void>(app_.Detach());
    // The spy stays registered until COM lets go of it at the thread's end: only our reference goes.
    if (watch_) {
        watch_->Forget();
        watch_->Release();
        watch_ = nullptr;
    }
    delete this;
}

HRESULT ThreadContext::App(IDispatch **app) {
    if (!app) return E_POINTER;
    *app = nullptr;
    if (!app_) {
        HRESULT hr = AppObject::Create(&app_);
        if (FAILED(hr)) return RuntimeFailure(hr);
    }
    return app_.CopyTo(app);
}

} // namespace rt
