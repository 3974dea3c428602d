// Late binding as scripts do it: creating an object by ProgID and calling a method by name.
#pragma once

#include <span>
#include <string_view>

#include "owners.h"

namespace rt {

// A new instance of the class registered under progId. Error 429 when it cannot be created.
HRESULT CreateObject(std::wstring_view progId, ComPtr<IDispatch> &object);

// Calls method `name` with the arguments in order (a VT_BYREF argument passes the caller's own
// storage). Error 91 on no object, 438 when the object has no such member; a failure of the
// method itself comes back as the object's error (number, description, source).
HRESULT CallMethod(IDispatch *object, const wchar_t *name, std::span<VARIANT> args, VARIANT *result);

// Reads property `name` (with no arguments). Same errors as CallMethod.
HRESULT GetProperty(IDispatch *object, const wchar_t *name, VARIANT *result);

} // namespace rt
