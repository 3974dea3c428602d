// IDispatch for every automation object of the project, driven by the type library.
//
// The members of a dual interface (identifiers, kinds, vtable slots, parameter types and
// directions) are read once from the type library embedded in the module. Invoke binds the
// caller's arguments to the parameters the way script clients need it:
//   - a variable passed by reference (VT_BYREF|VT_VARIANT, or VT_BYREF of another type) reaches an
//     in-out parameter coerced to the parameter's type, and the member's new value is written back
//     into the caller's variable;
//   - a value passed by value is coerced into a temporary that the member may change freely;
//   - an omitted optional parameter (missing, or VT_ERROR/DISP_E_PARAMNOTFOUND) reaches the member
//     as a null pointer;
// and then calls the member through the interface's vtable. Nothing here knows any member by name.
#pragma once

#include <string>
#include <utility>
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
    };

    // Reads interface iid, and the class clsid whose default interface it is, from the module's
    // type library resource `typelibIndex` (1 is the first).
    DispatchInterface(REFIID iid, REFCLSID clsid, int typelibIndex);
    DispatchInterface(const DispatchInterface &) = delete;
    DispatchInterface &operator=(const DispatchInterface &) = delete;

    HRESULT LoadResult() const { return loaded_; }
    const std::vector<Member> &Members() const { return members_; }

    HRESULT GetClassInfo(ITypeInfo **info) const;
    HRESULT GetTypeInfoCount(UINT *count) const;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) const;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) const;
    // object: the interface pointer whose vtable holds the members.
    HRESULT Invoke(void *object, DISPID id, REFIID riid, WORD flags, DISPPARAMS *params, VARIANT *result,
                   EXCEPINFO *exception, UINT *argError) const;

    // The member that a call with these flags reaches, or null.
    const Member *Find(DISPID id, WORD flags) const;

private:
    HRESULT Load(REFIID iid, REFCLSID clsid, int typelibIndex);
    HRESULT Describe(ITypeInfo *info, const TYPEDESC &desc, Param &param) const;

    HRESULT loaded_ = E_UNEXPECTED;
    ComPtr<ITypeInfo> dispatchInfo_;
    ComPtr<ITypeInfo> classInfo_;
    std::vector<Member> members_;
    // Names GetIDsOfNames answers without asking the type information again (see there).
    std::vector<std::pair<std::wstring, DISPID>> names_;
};

// Converts a caller's value (references followed) to `type` as the automation library does, except
// where that library goes wrong: a malformed DECIMAL is a type mismatch and a NaN for an integer,
// currency or decimal type an overflow. Returns S_OK, DISP_E_OVERFLOW or DISP_E_TYPEMISMATCH.
HRESULT ChangeType(const VARIANT *value, VARTYPE type, Variant &out);

} // namespace rt
