#include "class_factory.h"

#include "errors.h"
#include "objects.h"
#include "single_interface.h"

namespace rt {
namespace {

// A factory counts as a live object, so the module stays loaded while a client holds one.
class ClassFactory final : public SingleInterface<IClassFactory> {
public:
    explicit ClassFactory(Creator create) : create_(create) { objects::Added(); }

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
    ~ClassFactory() override { objects::Removed(); }

    Creator create_;
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
