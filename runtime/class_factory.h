// Class factories and DllGetClassObject over a table of the module's creatable classes.
#pragma once

#include <span>

#include "owners.h"

namespace rt {

using Creator = HRESULT (*)(REFIID riid, void **object);

struct CreatableClass {
    const CLSID *clsid;
    const wchar_t *name; // the class name; the ProgID is "<project>.<name>"
    Creator create;
};

// Creates an instance of T (running its initializer) and hands out interface riid. (Called by the
// factory's guarded CreateInstance.)
template <class T>
HRESULT Create(REFIID riid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    T *instance = nullptr;
    HRESULT hr = T::CreateInstance(&instance);
    if (FAILED(hr)) return hr;
    hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
}

// DllGetClassObject: the factory of a class in the table; CLASS_E_CLASSNOTAVAILABLE for any other.
HRESULT GetClassObject(std::span<const CreatableClass> classes, REFCLSID clsid, REFIID riid, void **object);

} // namespace rt
