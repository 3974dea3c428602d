// The common frame of every automation object of the project: reference counting, the module's
// object count, QueryInterface for its one dual interface, IDispatch served from the type library
// (dispatch.h), ISupportErrorInfo and IProvideClassInfo. A class derives from
// AutomationObject<Class, Interface> and implements only the members of Interface. Coclass names
// the class in the type library when it is not the C++ class itself.
#pragma once

#include <new>

#include "dispatch.h"
#include "objects.h"

namespace rt {

template <class Derived, class Interface, class Coclass = Derived, int TypelibIndex = 1>
class AutomationObject : public Interface, public ISupportErrorInfo, public IProvideClassInfo {
public:
    AutomationObject(const AutomationObject &) = delete;
    AutomationObject &operator=(const AutomationObject &) = delete;

    // The description of Interface, read once per process.
    static const DispatchInterface &Description() {
        static const DispatchInterface description(__uuidof(Interface), __uuidof(Coclass), TypelibIndex);
        return description;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Interface)) {
            *object = static_cast<Interface *>(this);
        } else if (riid == IID_ISupportErrorInfo) {
            *object = static_cast<ISupportErrorInfo *>(this);
        } else if (riid == IID_IProvideClassInfo) {
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
    STDMETHODIMP GetTypeInfoCount(UINT *count) override { return Description().GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override {
        return Description().GetTypeInfo(index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override {
        return Description().GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override {
        // Keeps the object alive while a member runs, whatever the member releases.
        AddRef();
        HRESULT hr = Description().Invoke(static_cast<Interface *>(this), id, riid, flags, params, result,
                                          exception, argError);
        Release();
        return hr;
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == __uuidof(Interface) || riid == IID_IDispatch ? S_OK : S_FALSE;
    }

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo **info) override { return Description().GetClassInfo(info); }

    // Creates an instance (reference count 1) and runs its initializer, if it has one.
    static HRESULT CreateInstance(Derived **out) {
        *out = nullptr;
        auto *object = new (std::nothrow) Derived();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->Initialize();
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
};

} // namespace rt
