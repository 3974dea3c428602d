// The IUnknown of the runtime's small helper objects that offer one interface besides IUnknown
// (a class factory, an initialize spy): counted references, deleted at the last release.
#pragma once

#include <objbase.h>

namespace rt {

template <class Interface>
class SingleInterface : public Interface {
public:
    SingleInterface() = default;
    SingleInterface(const SingleInterface &) = delete;
    SingleInterface &operator=(const SingleInterface &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *object = static_cast<Interface *>(this);
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

protected:
    virtual ~SingleInterface() = default;

private:
    LONG volatile references_ = 1;
};

} // namespace rt
