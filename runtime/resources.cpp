#include "resources.h"

#include <cstring>
#include <string>

#include "dispatch.h"
#include "errors.h"
#include "decimal.h"

namespace rt::resources {
namespace {

HRESULT NotFound(const std::wstring &what) {
    return Raise(RtError::ResourceNotFound, L"Resource with identifier '" + what + L"' not found");
}

// A resource name: a 16-bit number (MAKEINTRESOURCE) or a string.
class ResourceName {
public:
    // Fails with a type mismatch for values that are neither; `valid` is false for numbers
    // outside 0..65535, which name no resource.
    HRESULT Parse(const VARIANT &value) {
        Variant plain;
        HRESULT hr = VariantCopyInd(plain.Get(), const_cast<VARIANT *>(&value));
        if (hr == E_OUTOFMEMORY) return RuntimeFailure(hr);
        if (FAILED(hr)) return Raise(RtError::TypeMismatch);
        if (plain.Type() == VT_BSTR) {
            text_.assign(V_BSTR(plain.Get()) ? V_BSTR(plain.Get()) : L"", SysStringLen(V_BSTR(plain.Get())));
            // A name ends at its first NUL, as the platform reads it.
            text_ = text_.c_str();
            display_ = text_;
            isNumber_ = false;
            valid_ = true;
            return S_OK;
        }
        Variant number;
        if (plain.Type() == VT_EMPTY || plain.Type() == VT_NULL || plain.Type() == VT_DISPATCH ||
            plain.Type() == VT_UNKNOWN || (plain.Type() & VT_ARRAY))
            return Raise(RtError::TypeMismatch);
        hr = ChangeType(plain.Get(), VT_I4, number);
        if (hr == E_OUTOFMEMORY) return RuntimeFailure(hr);
        if (FAILED(hr)) return Raise(RtError::TypeMismatch);
        const LONG n = V_I4(number.Get());
        display_ = Decimal(n);
        isNumber_ = true;
        number_ = static_cast<WORD>(n);
        valid_ = n >= 0 && n <= 0xFFFF;
        return S_OK;
    }
    bool Valid() const { return valid_; }
    LPCWSTR Get() const { return isNumber_ ? MAKEINTRESOURCEW(number_) : text_.c_str(); }
    const std::wstring &Display() const { return display_; }

private:
    bool isNumber_ = true;
    bool valid_ = false;
    WORD number_ = 0;
    std::wstring text_;
    std::wstring display_;
};

} // namespace

HRESULT LoadString(HMODULE module, long id, BSTR *result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Guarded([&] {
        if (id < 0 || id > 0xFFFF) return NotFound(Decimal(id));
        const wchar_t *text = nullptr;
        int length = LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
        if (length <= 0 || !text) return NotFound(Decimal(id));
        *result = SysAllocStringLen(text, static_cast<UINT>(length));
        return *result ? S_OK : Raise(RtError::OutOfMemory);
    });
}

HRESULT LoadPicture(HMODULE module, const VARIANT &id, short kind, IPictureDisp **result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Guarded([&]() -> HRESULT {
        UINT imageType;
        switch (kind) {
        case Bitmap: imageType = IMAGE_BITMAP; break;
        case Icon: imageType = IMAGE_ICON; break;
        case Cursor: imageType = IMAGE_CURSOR; break;
        default: return Raise(RtError::InvalidCall);
        }
        ResourceName name;
        HRESULT hr = name.Parse(id);
        if (FAILED(hr)) return hr;
        if (!name.Valid()) return NotFound(name.Display());
        HANDLE image = LoadImageW(module, name.Get(), imageType, 0, 0, kind == Bitmap ? 0 : LR_DEFAULTSIZE);
        if (!image) return NotFound(name.Display());

        PICTDESC desc{};
        desc.cbSizeofstruct = sizeof(desc);
        if (kind == Bitmap) {
            desc.picType = PICTYPE_BITMAP;
            desc.bmp.hbitmap = static_cast<HBITMAP>(image);
        } else {
            desc.picType = PICTYPE_ICON;
            desc.icon.hicon = static_cast<HICON>(image);
        }
        // The picture owns the handle from here on.
        hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void **>(result));
        if (FAILED(hr)) {
            if (kind == Bitmap)
                DeleteObject(image);
            else
                DestroyIcon(static_cast<HICON>(image));
            return hr == E_OUTOFMEMORY ? RuntimeFailure(hr) : Raise(hr);
        }
        return S_OK;
    });
}

HRESULT LoadData(HMODULE module, const VARIANT &id, const VARIANT &type, VARIANT *result) {
    if (!result) return E_POINTER;
    VariantInit(result);
    return Guarded([&]() -> HRESULT {
        ResourceName name, kind;
        HRESULT hr = name.Parse(id);
        if (SUCCEEDED(hr)) hr = kind.Parse(type);
        if (FAILED(hr)) return hr;
        if (!name.Valid() || !kind.Valid()) return NotFound(name.Display());
        HRSRC found = FindResourceW(module, name.Get(), kind.Get());
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        const void *bytes = loaded ? LockResource(loaded) : nullptr;
        if (!bytes) return NotFound(name.Display());
        const DWORD size = SizeofResource(module, found);

        SafeArray array(SafeArrayCreateVector(VT_UI1, 0, size));
        if (!array.Get()) return Raise(RtError::OutOfMemory);
        if (size) {
            SafeArrayAccess access(array.Get());
            if (!access.Data()) return Raise(RtError::OutOfMemory);
            std::memcpy(access.Data(), bytes, size);
        }
        V_VT(result) = VT_ARRAY | VT_UI1;
        V_ARRAY(result) = array.Detach();
        return S_OK;
    });
}

} // namespace rt::resources
