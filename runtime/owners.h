// The owners of COM resources. Every interface pointer, BSTR, VARIANT and SAFEARRAY the project
// holds beyond a single expression lives in one of these, so that every path frees it exactly once.
#pragma once

#include <utility>
#include <string_view>

#include <wrl/client.h>

#include "automation_base.h"

namespace rt {

using Microsoft::WRL::ComPtr;

// Hands an owned reference to a ComPtr. (The toolchain's ComPtr::Attach adds a reference of its
// own, unlike the original: never use it.) Handing it the object it holds is harmless: the holder's
// reference goes and the one handed over stays.
template <class T, class U>
void Adopt(ComPtr<T> &holder, U *owned) {
    *holder.ReleaseAndGetAddressOf() = owned;
}

// An owned BSTR. Null and empty both read as the empty string.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text)
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    Bstr(Bstr &&other) noexcept : value_(other.Detach()) {}
    Bstr &operator=(Bstr &&other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~Bstr() { SysFreeString(value_); }

    // Takes ownership of an allocated string.
    static Bstr Attach(BSTR owned) {
        Bstr b;
        b.value_ = owned;
        return b;
    }

    BSTR Get() const { return value_; }
    BSTR Detach() { return std::exchange(value_, nullptr); }
    // Frees the string held and takes `owned`; handed the very string it holds, it keeps it.
    void Reset(BSTR owned = nullptr) {
        if (owned != value_) SysFreeString(std::exchange(value_, owned));
    }
    // For out-parameters: frees the current string and hands out the slot.
    BSTR *Receive() { Reset(); return &value_; }
    // For in-out parameters: the slot as it is; whoever writes into it frees what it held.
    BSTR *Address() { return &value_; }
    bool Allocated() const { return value_ != nullptr; }

    UINT Length() const { return SysStringLen(value_); }
    std::wstring_view View() const { return {value_ ? value_ : L"", Length()}; }

private:
    BSTR value_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    Variant(Variant &&other) noexcept : Variant() { std::swap(value_, other.value_); }
    Variant &operator=(Variant &&other) noexcept {
        if (this != &other) {
            Clear();
            std::swap(value_, other.value_);
        }
        return *this;
    }
    ~Variant() { VariantClear(&value_); }

    VARIANT *Get() { return &value_; }
    const VARIANT *Get() const { return &value_; }
    VARIANT *operator->() { return &value_; }
    const VARIANT *operator->() const { return &value_; }
    VARTYPE Type() const { return V_VT(&value_); }

    void Clear() { VariantClear(&value_); }
    // For out-parameters: clears the current value and hands out the slot.
    VARIANT *Receive() { Clear(); return &value_; }
    // Moves the value out to a caller-owned VARIANT (which must not hold anything owned).
    void DetachTo(VARIANT *target) {
        *target = value_;
        VariantInit(&value_);
    }

private:
    VARIANT value_;
};

// An owned SAFEARRAY, destroyed when it goes.
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY *owned) : value_(owned) {}
    SafeArray(const SafeArray &) = delete;
    SafeArray &operator=(const SafeArray &) = delete;
    SafeArray(SafeArray &&other) noexcept : value_(other.Detach()) {}
    SafeArray &operator=(SafeArray &&other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~SafeArray() { Reset(); }

    SAFEARRAY *Get() const { return value_; }
    SAFEARRAY *Detach() { return std::exchange(value_, nullptr); }
    // Destroys the array held and takes `owned`; handed the very array it holds, it keeps it.
    void Reset(SAFEARRAY *owned = nullptr) {
        if (owned == value_) return;
        if (SAFEARRAY *old = std::exchange(value_, owned)) SafeArrayDestroy(old);
    }

private:
    SAFEARRAY *value_ = nullptr;
};

// Holds a SAFEARRAY's data locked for the lifetime of the scope.
class SafeArrayAccess {
public:
    explicit SafeArrayAccess(SAFEARRAY *array) : array_(array) {
        if (FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
    }
    SafeArrayAccess(const SafeArrayAccess &) = delete;
    SafeArrayAccess &operator=(const SafeArrayAccess &) = delete;
    ~SafeArrayAccess() {
        if (data_) SafeArrayUnaccessData(array_);
    }
    void *Data() const { return data_; }

private:
    SAFEARRAY *array_;
    void *data_ = nullptr;
};

// What a type description hands out (its attributes, one function's or one variable's
// description; a type library's attributes), given back to it when the owner goes.
namespace type_description {
inline HRESULT Get(ITypeInfo *info, TYPEATTR **out) { return info->GetTypeAttr(out); }
inline HRESULT Get(ITypeInfo *info, UINT index, FUNCDESC **out) { return info->GetFuncDesc(index, out); }
inline HRESULT Get(ITypeInfo *info, UINT index, VARDESC **out) { return info->GetVarDesc(index, out); }
inline HRESULT Get(ITypeLib *library, TLIBATTR **out) { return library->GetLibAttr(out); }
inline void GiveBack(ITypeInfo *info, TYPEATTR *held) { info->ReleaseTypeAttr(held); }
inline void GiveBack(ITypeInfo *info, FUNCDESC *held) { info->ReleaseFuncDesc(held); }
inline void GiveBack(ITypeInfo *info, VARDESC *held) { info->ReleaseVarDesc(held); }
inline void GiveBack(ITypeLib *library, TLIBATTR *held) { library->ReleaseTLibAttr(held); }
// Who hands it out: a type description, or for TLIBATTR the type library.
template <class T>
struct Source {
    using type = ITypeInfo;
};
template <>
struct Source<TLIBATTR> {
    using type = ITypeLib;
};
} // namespace type_description

template <class T>
class TypeDescription {
public:
    TypeDescription() = default;
    TypeDescription(const TypeDescription &) = delete;
    TypeDescription &operator=(const TypeDescription &) = delete;
    ~TypeDescription() { Reset(); }

    using Source = typename type_description::Source<T>::type;

    // Reads it from `info` (with the function's or variable's index where there is one).
    template <class... Index>
    HRESULT Read(Source *info, Index... index) {
        Reset();
        HRESULT hr = type_description::Get(info, static_cast<UINT>(index)..., &held_);
        if (SUCCEEDED(hr)) info_ = info;
        else held_ = nullptr;
        return hr;
    }
    const T *operator->() const { return held_; }

private:
    void Reset() {
        if (held_) type_description::GiveBack(info_.Get(), held_);
        held_ = nullptr;
    }
    ComPtr<Source> info_;
    T *held_ = nullptr;
};

using TypeAttr = TypeDescription<TYPEATTR>;
using FuncDesc = TypeDescription<FUNCDESC>;
using VarDesc = TypeDescription<VARDESC>;
using TLibAttr = TypeDescription<TLIBATTR>;

// An open registry key, closed when it goes.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey() { Reset(); }
    HKEY Get() const { return key_; }
    // For out-parameters: closes the key held and hands out the slot.
    HKEY *Receive() {
        Reset();
        return &key_;
    }

private:
    void Reset() {
        if (key_) RegCloseKey(std::exchange(key_, nullptr));
    }
    HKEY key_ = nullptr;
};

// A kernel handle (a process, a thread, a file, a pipe), closed when it goes. Both null and
// INVALID_HANDLE_VALUE read as none.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE owned) : handle_(owned) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle(Handle &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle &operator=(Handle &&other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~Handle() { Reset(); }
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    // Closes the handle held and takes `owned`; handed the very handle it holds, it keeps it.
    void Reset(HANDLE owned = nullptr) {
        if (owned == handle_) return;
        if (Valid()) CloseHandle(handle_);
        handle_ = owned;
    }
    // For out-parameters: closes the handle held and hands out the slot.
    HANDLE *Receive() {
        Reset();
        return &handle_;
    }

private:
    HANDLE handle_ = nullptr;
};

} // namespace rt
