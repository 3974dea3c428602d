// The common frame of every automation object of the project: reference counting, the module's
// object count, QueryInterface for its one dual interface, IDispatch served from the type library
// (dispatch.h), ISupportErrorInfo and IProvideClassInfo. A class derives from
// AutomationObject<Class, Interface> and implements only the members of Interface. Coclass names
// the class in the type library when it is not the C++ class itself.
//
// Every method here runs under the module's one guard (rt::Guarded, errors.h), and so must every
// member a class implements: its body is `return rt::Guarded([&] { ... });`, whatever it does.
// (reliability.out_of_memory fails any allocation of any member of the type library in turn, so a
// member that forgets is found.)
#pragma once

#include "dispatch.h"
#include "errors.h"
#include "objects.h"

namespace rt {

template <class Derived, class Interface, class Coclass = Derived, int TypelibIndex = 1>
class AutomationObject : public Interface, public ISupportErrorInfo, public IProvideClassInfo {
public:
    AutomationObject(const AutomationObject &) = delete;
    AutomationObject &operator=(const AutomationObject &) = delete;

    // The description of Interface, read from the type library on first use.
    static const DispatchInterface &Description() { return description_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Interface)) {
            *object = static_cast<Interface *>(this);
        } else if (riid == __uuidof(ISupportErrorInfo)) {
            *object = static_cast<ISupportErrorInfo *>(this);
        } else if (riid == __uuidof(IProvideClassInfo)) {
            *object = static_cast<IProvideClassInfo *>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT *count) override {
        return Guarded<Plumbing>([&] { return Description().GetTypeInfoCount(count); });
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override {
        return Guarded<Plumbing>([&] { return Description().GetTypeInfo(index, lcid, info); });
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override {
        return Description().GetIDsOfNames(riid, names, count, lcid, ids); // (never throws)
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override {
        // (The description's Invoke guards whatever in it may run out of memory.)
        return Description().Invoke(static_cast<Interface *>(this), id, riid, flags, params, result, exception,
                                    argError);
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return Guarded<Plumbing>([&] { return riid == __uuidof(Interface) || riid == IID_IDispatch ? S_OK : S_FALSE; });
    }

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo **info) override {
        return Guarded<Plumbing>([&] { return Description().GetClassInfo(info); });
    }

    // Creates an instance (reference count 1) and runs its initializer, if it has one. Without the
    // memory for it (the instance, or its thread's context) the creation fails with E_OUTOFMEMORY
    // and leaves nothing behind; a failing initializer fails it with its own error.
    static HRESULT CreateInstance(Derived **out) noexcept {
        *out = nullptr;
        Derived *object = nullptr;
        HRESULT hr = Guarded<Plumbing>([&] {
            object = new Derived();
            return S_OK;
        });
        if (FAILED(hr)) return hr;
        hr = Guarded([&] { return object->Initialize(); });
        if (FAILED(hr)) {
            object->Release();
            return hr;
        }
        *out = object;
        return S_OK;
    }

protected:
    AutomationObject() { objects::Added(); }
    virtual ~AutomationObject() { objects::Removed(); }
    // The class initializer; a failure fails the creation.
    HRESULT Initialize() { return S_OK; }

private:
    LONG volatile references_ = 1;
    // Made when the module loads (it reads nothing then): a function-local static would be guarded
    // on first use, and the toolchain's guard allocates and does not survive running out of memory.
    static inline const DispatchInterface description_{__uuidof(Interface), __uuidof(Coclass), TypelibIndex};
};

} // namespace rt
