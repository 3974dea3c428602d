// IDispatch for every automation object of the project, driven by the type library.
//
// The members of a dual interface (identifiers, kinds, vtable slots, parameter types and
// directions) are read from the type library embedded in the module on first use. Invoke binds the
// caller's arguments to the parameters the way script clients need it:
//   - a variable passed by reference (VT_BYREF|VT_VARIANT, or VT_BYREF of another type) reaches an
//     in-out parameter coerced to the parameter's type, and the member's new value is written back
//     into the caller's variable;
//   - a value passed by value is coerced into a temporary that the member may change freely;
//   - an omitted optional parameter (missing, or VT_ERROR/DISP_E_PARAMNOTFOUND) reaches the member
//     as a null pointer;
// and then calls the member through the interface's vtable. Nothing here knows any member by name.
// (Why the binding is done here rather than by ITypeInfo::Invoke: see dispatch.cpp.)
//
// Running out of memory anywhere on the way is the runtime's error 7: Invoke answers it as
// DISP_E_EXCEPTION, the other methods as E_OUTOFMEMORY. A reading of the type library that fails
// leaves nothing behind; the next call reads it again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "owners.h"

namespace rt {

class DispatchInterface {
public:
    // How a parameter's value travels to the member.
    struct Param {
        VARTYPE type = VT_EMPTY; // the value's automation type (VT_I2, VT_BSTR, VT_VARIANT, VT_DISPATCH, ...)
        bool byRef = false;      // passed as a pointer to the value
        bool optional = false;
        bool out = false;        // the member may change it (in-out or out)
    };
    struct Member {
        DISPID id = DISPID_UNKNOWN;
        INVOKEKIND kind = INVOKE_FUNC;
        ULONG_PTR vtableOffset = 0;
        std::vector<Param> params; // without the result
        VARTYPE result = VT_EMPTY; // type of the [out, retval] parameter, VT_EMPTY when none
        UINT required = 0;         // parameters before the first optional one
        UINT paramCount = 0;       // params.size()
        // Whether a call may take the direct route: every parameter a reference to a plain value
        // (not a VARIANT, not an object), and few enough of them for a direct vtable call
        // (dispatch.cpp); and what that route reads of the parameters, kept here beside the rest:
        // each one's type, and bit p set when parameter p is optional.
        static constexpr size_t kDirectSlots = 8; // the most arguments, with the result, called directly
        bool direct = false;
        uint8_t directOptional = 0;
        VARTYPE directType[kDirectSlots] = {};
    };

    // Interface iid, and the class clsid whose default interface it is, in the module's type
    // library resource `typelibIndex` (1 is the first). Nothing is read yet.
    DispatchInterface(REFIID iid, REFCLSID clsid, int typelibIndex) noexcept;
    DispatchInterface(const DispatchInterface &) = delete;
    DispatchInterface &operator=(const DispatchInterface &) = delete;
    ~DispatchInterface();

    HRESULT GetClassInfo(ITypeInfo **info) const;
    HRESULT GetTypeInfoCount(UINT *count) const;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) const;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) const noexcept;
    // object: the interface pointer whose vtable holds the members. Never throws: what may run
    // out of memory on the way runs guarded inside.
    HRESULT Invoke(IDispatch *object, DISPID id, REFIID riid, WORD flags, DISPPARAMS *params, VARIANT *result,
                   EXCEPINFO *exception, UINT *argError) const noexcept;

    // What the type library says of the interface.
    struct Description {
        ComPtr<ITypeInfo> dispatchInfo;
        ComPtr<ITypeInfo> classInfo;
        std::vector<Member> members;
        // Names GetIDsOfNames answers without asking the type information again (see there),
        // shortest first; the names of length n are names[nameStart[n]] to names[nameStart[n + 1]].
        struct Name {
            std::wstring spelling;
            DISPID id = DISPID_UNKNOWN;
        };
        std::vector<Name> names;
        std::vector<size_t> nameStart;

        // Which member a call reaches: per identifier, the member each combination of the four
        // DISPATCH_ flags reaches.
        struct Lookup {
            static constexpr WORD kFlags = DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT |
                                           DISPATCH_PROPERTYPUTREF;
            static constexpr short kFree = -2; // member[0] of a slot without an identifier
            static constexpr short kNone = -1; // no member
            DISPID id = DISPID_UNKNOWN;
            short member[kFlags + 1] = {kFree}; // index into members, by flags
        };
        std::vector<Lookup> lookup; // a power of two long
        size_t lookupMask = 0;      // its length less one
        static size_t LookupSlot(DISPID id, size_t mask) {
            return (static_cast<uint32_t>(id) * 0x9E3779B1u >> 16) & mask;
        }
    };

private:
    // The description, read on first use: S_OK and `out`, or the reading's failure.
    HRESULT Read(const Description *&out) const {
        out = description_.load(std::memory_order_acquire);
        return out ? S_OK : ReadTypeLibrary(out);
    }
    HRESULT ReadTypeLibrary(const Description *&out) const;

    IID iid_;
    CLSID clsid_;
    int typelibIndex_;
    // Published once a reading has succeeded.
    mutable std::atomic<const Description *> description_{nullptr};
    // Readings take turns (see ReadTypeLibrary).
    mutable SRWLOCK reading_ = SRWLOCK_INIT;
};

// Converts a caller's value (references followed) to `type` as the automation library does, except
// where that library goes wrong: a malformed DECIMAL is a type mismatch and a NaN for an integer,
// currency or decimal type an overflow. Returns S_OK, DISP_E_OVERFLOW, DISP_E_TYPEMISMATCH or
// E_OUTOFMEMORY.
HRESULT ChangeType(const VARIANT *value, VARTYPE type, Variant &out);

} // namespace rt
