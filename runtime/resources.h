// The runtime's resource services: strings, pictures and custom data of a module, by identifier.
// A resource that does not exist fails with error 326.
#pragma once

#include "owners.h"

namespace rt::resources {

// The kinds of picture LoadPicture loads (the values of the type library's LoadResConstants).
enum PictureKind : short { Bitmap = 0, Icon = 1, Cursor = 2 };

// A string of the module's string table.
HRESULT LoadString(HMODULE module, long id, BSTR *result);

// A bitmap, icon or cursor resource as an automation picture; id is a number (or a name).
HRESULT LoadPicture(HMODULE module, const VARIANT &id, short kind, IPictureDisp **result);

// The bytes of a custom resource as a byte array (VT_ARRAY | VT_UI1). id and type are each a
// number or a name; a type name is used exactly as given.
HRESULT LoadData(HMODULE module, const VARIANT &id, const VARIANT &type, VARIANT *result);

} // namespace rt::resources
