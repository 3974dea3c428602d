#include "class_factory.h"

#include "errors.h"
#include "objects.h"

namespace rt {
namespace {

// A factory counts as a live object, so the module stays loaded while a client holds one.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Creator create) : create_(create) { objects::Added(); }
    ClassFactory(const ClassFactory &) = delete;
    ClassFactory &operator=(const ClassFactory &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
        return Guarded<Plumbing>([&] {
            if (!object) return E_POINTER;
            *object = nullptr;
            if (outer) return CLASS_E_NOAGGREGATION;
            return create_(riid, object);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        return Guarded<Plumbing>([&] {
            if (lock)
                objects::Lock();
            else
                objects::Unlock();
            return S_OK;
        });
    }

private:
    ~ClassFactory() { objects::Removed(); }

    Creator create_;
    LONG volatile references_ = 1;
};

} // namespace

HRESULT GetClassObject(std::span<const CreatableClass> classes, REFCLSID clsid, REFIID riid, void **object) {
    return Guarded<Plumbing>([&] {
        if (!object) return E_POINTER;
        *object = nullptr;
        for (const CreatableClass &entry : classes) {
            if (*entry.clsid != clsid) continue;
            auto *factory = new ClassFactory(entry.create);
            HRESULT hr = factory->QueryInterface(riid, object);
            factory->Release();
            return hr;
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

} // namespace rt
