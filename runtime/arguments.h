// Arguments for IDispatch::Invoke built in place: VARIANTs that refer to the caller's own variables
// (VT_BYREF, so the callee's changes land in them) or carry a value they do not own. None of them
// is ever cleared: the variables, strings and objects stay their owners'.
#pragma once

#include <oaidl.h>

namespace rt::arg {

inline VARIANT Ref(short *value) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_I2;
    V_I2REF(&v) = value;
    return v;
}
inline VARIANT Ref(LONG *value) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = value;
    return v;
}
inline VARIANT Ref(BSTR *value) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = value;
    return v;
}
inline VARIANT Ref(VARIANT *value) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = value;
    return v;
}
inline VARIANT Ref(IDispatch **value) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&v) = value;
    return v;
}

// An object passed by value, still owned (and released) by the caller.
inline VARIANT Object(IDispatch *value) {
    VARIANT v;
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = value;
    return v;
}
inline VARIANT Bool(bool value) {
    VARIANT v;
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
inline VARIANT Short(short value) {
    VARIANT v;
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}
inline VARIANT Long(LONG value) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}
// A string passed by value, still owned (and freed) by the caller.
inline VARIANT String(BSTR value) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = value;
    return v;
}

// An omitted optional argument, as automation passes it.
inline VARIANT Missing() {
    VARIANT v;
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

} // namespace rt::arg
