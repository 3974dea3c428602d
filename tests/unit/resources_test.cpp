// The runtime's resource services with this program's own resources (unit_resources.rc): pictures
// of each kind, custom data by numeric type and by type name, and the component's string table; and
// the main class's accessors over them.
#include <fstream>
#include <iterator>
#include <olectl.h>
#include <vector>

#include "runtime/resources.h"
#include "unit_resources.h"
#include "unit_support.h"
#include "support/expected.h"

using namespace unit;

namespace {


VARIANT Number(long value) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

// A file the resource script embedded, read from the source tree (Wine's drive Z: is the root).
std::vector<unsigned char> FileBytes(const char *name) {
    std::string path = std::string("Z:") + UNIT_RESOURCE_DIR + "/" + name;
    for (char &c : path)
        if (c == '/') c = '\\';
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << name;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The bytes of a VT_ARRAY|VT_UI1 variant, after checking that it is a one-dimensional byte array
// with lower bound 0.
std::vector<unsigned char> ArrayBytes(const VARIANT &value) {
    EXPECT_EQ(VT_ARRAY | VT_UI1, V_VT(&value));
    if (V_VT(&value) != (VT_ARRAY | VT_UI1)) return {};
    SAFEARRAY *array = V_ARRAY(&value);
    EXPECT_EQ(1u, SafeArrayGetDim(array));
    VARTYPE element = VT_EMPTY;
    EXPECT_EQ(S_OK, SafeArrayGetVartype(array, &element));
    EXPECT_EQ(VT_UI1, element);
    LONG lower = -1, upper = -2;
    EXPECT_EQ(S_OK, SafeArrayGetLBound(array, 1, &lower));
    EXPECT_EQ(S_OK, SafeArrayGetUBound(array, 1, &upper));
    EXPECT_EQ(0, lower);
    rt::SafeArrayAccess access(array);
    if (!access.Data() || upper < lower) return {};
    const auto *bytes = static_cast<const unsigned char *>(access.Data());
    return {bytes, bytes + (upper - lower + 1)};
}

struct Pictures : ::testing::Test {
    HRESULT Load(long id, short kind) { return rt::resources::LoadPicture(GetModuleHandleW(nullptr), Number(id), kind, picture.ReleaseAndGetAddressOf()); }
    SHORT Type() {
        ComPtr<IPicture> described;
        EXPECT_EQ(S_OK, picture.As(&described));
        SHORT type = PICTYPE_UNINITIALIZED;
        if (described) {
            EXPECT_EQ(S_OK, described->get_Type(&type));
        }
        return type;
    }
    OLE_HANDLE Handle() {
        ComPtr<IPicture> described;
        OLE_HANDLE handle = 0;
        if (SUCCEEDED(picture.As(&described))) described->get_Handle(&handle);
        return handle;
    }
    ComPtr<IPictureDisp> picture;
};

} // namespace

TEST_F(Pictures, ABitmapIsABitmapPicture) {
    ASSERT_EQ(S_OK, Load(UNIT_BITMAP, rt::resources::Bitmap));
    ASSERT_TRUE(picture);
    EXPECT_EQ(PICTYPE_BITMAP, Type());
    BITMAP bitmap{};
    ASSERT_NE(0, GetObjectW(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(Handle())), sizeof bitmap, &bitmap));
    EXPECT_EQ(3, bitmap.bmWidth) << "the picture holds this program's 3x2 bitmap";
    EXPECT_EQ(2, bitmap.bmHeight);
}

TEST_F(Pictures, AnIconIsAnIconPicture) {
    ASSERT_EQ(S_OK, Load(UNIT_ICON, rt::resources::Icon));
    ASSERT_TRUE(picture);
    EXPECT_EQ(PICTYPE_ICON, Type());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(Handle())), &info));
    EXPECT_TRUE(info.fIcon);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Pictures, ACursorIsAnIconPictureHoldingTheCursor) {
    ASSERT_EQ(S_OK, Load(UNIT_CURSOR, rt::resources::Cursor));
    ASSERT_TRUE(picture);
    EXPECT_EQ(PICTYPE_ICON, Type());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(Handle())), &info));
    EXPECT_FALSE(info.fIcon) << "a cursor, with its hot spot";
    EXPECT_EQ(3u, info.xHotspot);
    EXPECT_EQ(5u, info.yHotspot);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Pictures, AMissingPictureIsResourceNotFound) {
    for (short kind : {rt::resources::Bitmap, rt::resources::Icon, rt::resources::Cursor}) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(kResourceNotFound, Load(UNIT_NO_RESOURCE, kind)) << "kind " << kind;
        EXPECT_FALSE(picture);
        const Raised raised = TakeRaised();
        EXPECT_NE(std::wstring::npos, raised.description.find(L"299")) << raised.description;
        EXPECT_EQ(L"AtomTables10", raised.source);
    }
    // A picture of another kind under that identifier is not the one asked for.
    EXPECT_EQ(kResourceNotFound, Load(UNIT_BITMAP, rt::resources::Icon));
    EXPECT_EQ(kResourceNotFound, Load(UNIT_ICON, rt::resources::Bitmap));
}

TEST_F(Pictures, AnUnknownKindIsAnInvalidCall) {
    EXPECT_EQ(RuntimeError(5), Load(UNIT_BITMAP, 7));
    EXPECT_EQ(RuntimeError(5), Load(UNIT_BITMAP, -1));
    EXPECT_FALSE(picture);
}

TEST_F(Pictures, IdentifiersBeyondSixteenBitsNameNoPicture) {
    // Truncated to 16 bits these would name the bitmap.
    EXPECT_EQ(kResourceNotFound, Load(UNIT_BITMAP + 0x10000, rt::resources::Bitmap));
    EXPECT_EQ(kResourceNotFound, Load(UNIT_BITMAP - 0x10000, rt::resources::Bitmap));
    EXPECT_EQ(kResourceNotFound, Load(-1, rt::resources::Bitmap));
    EXPECT_FALSE(picture);
}

TEST(CustomData, ByNumericTypeTheExactBytes) {
    Variant data;
    ASSERT_EQ(S_OK, rt::resources::LoadData(GetModuleHandleW(nullptr), Number(UNIT_DATA_NUMERIC), Number(UNIT_DATA_TYPE),
                                            data.Receive()));
    EXPECT_EQ(FileBytes("numeric-type.bin"), ArrayBytes(*data.Get()));
    // A script's small number arrives as a 16-bit integer.
    VARIANT shortType;
    V_VT(&shortType) = VT_I2;
    V_I2(&shortType) = UNIT_DATA_TYPE;
    ASSERT_EQ(S_OK, rt::resources::LoadData(GetModuleHandleW(nullptr), Number(UNIT_DATA_NUMERIC), shortType, data.Receive()));
    EXPECT_EQ(FileBytes("numeric-type.bin"), ArrayBytes(*data.Get()));
}

TEST(CustomData, ByTypeNameTheExactBytes) {
    Bstr name(L"QXDATA");
    VARIANT type;
    V_VT(&type) = VT_BSTR;
    V_BSTR(&type) = name.Get();
    Variant data;
    ASSERT_EQ(S_OK, rt::resources::LoadData(GetModuleHandleW(nullptr), Number(UNIT_DATA_NAMED), type, data.Receive()));
    const std::vector<unsigned char> expected = FileBytes("named-type.bin");
    ASSERT_EQ(20u, expected.size());
    EXPECT_EQ(expected, ArrayBytes(*data.Get()));
}

TEST(CustomData, ATypeNameIsUsedAsItIs) {
    // The name "300" is a name, not the number 300.
    Bstr digits(L"300");
    VARIANT type;
    V_VT(&type) = VT_BSTR;
    V_BSTR(&type) = digits.Get();
    Variant data;
    EXPECT_EQ(kResourceNotFound,
              rt::resources::LoadData(GetModuleHandleW(nullptr), Number(UNIT_DATA_NUMERIC), type, data.Receive()));
    EXPECT_EQ(VT_EMPTY, data.Type());
    // The name ends where the platform reads it: at its first NUL.
    Bstr withTail(std::wstring_view(L"QXDATA\0tail", 11));
    V_BSTR(&type) = withTail.Get();
    EXPECT_EQ(S_OK, rt::resources::LoadData(GetModuleHandleW(nullptr), Number(UNIT_DATA_NAMED), type, data.Receive()));
}

TEST(CustomData, MissingDataIsResourceNotFound) {
    Variant data;
    const HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_EQ(kResourceNotFound, rt::resources::LoadData(self, Number(UNIT_NO_RESOURCE), Number(UNIT_DATA_TYPE), data.Receive()));
    EXPECT_EQ(kResourceNotFound, rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC), Number(UNIT_DATA_TYPE + 1), data.Receive()));
    Bstr name(L"QXDATA");
    VARIANT type;
    V_VT(&type) = VT_BSTR;
    V_BSTR(&type) = name.Get();
    EXPECT_EQ(kResourceNotFound, rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC), type, data.Receive()))
        << "under another type";
    EXPECT_EQ(VT_EMPTY, data.Type());
}

TEST(CustomData, IdentifiersBeyondSixteenBitsNameNoData) {
    Variant data;
    const HMODULE self = GetModuleHandleW(nullptr);
    // Truncated to 16 bits each of these would name the data.
    EXPECT_EQ(kResourceNotFound,
              rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC + 0x10000), Number(UNIT_DATA_TYPE), data.Receive()));
    EXPECT_EQ(kResourceNotFound,
              rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC - 0x10000), Number(UNIT_DATA_TYPE), data.Receive()));
    EXPECT_EQ(kResourceNotFound,
              rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC), Number(UNIT_DATA_TYPE + 0x10000), data.Receive()));
    EXPECT_EQ(kResourceNotFound,
              rt::resources::LoadData(self, Number(UNIT_DATA_NUMERIC), Number(UNIT_DATA_TYPE - 0x10000), data.Receive()));
    EXPECT_EQ(kResourceNotFound, rt::resources::LoadData(self, Number(-1), Number(UNIT_DATA_TYPE), data.Receive()));
    EXPECT_EQ(VT_EMPTY, data.Type());
}

TEST(Strings, TheMessageTable) {
    const HMODULE self = GetModuleHandleW(nullptr);
    Bstr text;
    ASSERT_EQ(S_OK, rt::resources::LoadString(self, 121, text.Receive()));
    EXPECT_EQ(kLengthPrompt, text.View());
    ASSERT_EQ(S_OK, rt::resources::LoadString(self, 122, text.Receive()));
    EXPECT_EQ(kLengthTitle, text.View());
    for (long id = 101; id <= 120; ++id) {
        ASSERT_EQ(S_OK, rt::resources::LoadString(self, id, text.Receive()));
        EXPECT_EQ(L"-", text.View()) << id;
    }
    for (long id : {100L, 123L, 0L, -1L, 121L + 0x10000, 121L - 0x10000}) {
        EXPECT_EQ(kResourceNotFound, rt::resources::LoadString(self, id, text.Receive())) << id;
        EXPECT_FALSE(text.Allocated());
    }
}

// The main class's accessors read the module they are linked into: here, this program.
TEST(Accessors, PictureByIdentifierAndKind) {
    ComPtr<_clsQxAtomTables10A> tables = NewTables();
    LONG id = UNIT_BITMAP;
    LoadResConstants kind = vbResBitmap;
    ComPtr<IPictureDisp> picture;
    ASSERT_EQ(S_OK, tables->get_GetProResPicture(&id, &kind, &picture));
    ComPtr<IPicture> described;
    ASSERT_EQ(S_OK, picture.As(&described));
    SHORT type = 0;
    described->get_Type(&type);
    EXPECT_EQ(PICTYPE_BITMAP, type);
    EXPECT_EQ(UNIT_BITMAP, id);
    EXPECT_EQ(vbResBitmap, kind);

    id = UNIT_CURSOR;
    kind = vbResCursor;
    ASSERT_EQ(S_OK, tables->get_GetProResPicture(&id, &kind, picture.ReleaseAndGetAddressOf()));
    ASSERT_EQ(S_OK, picture.As(&described));
    described->get_Type(&type);
    EXPECT_EQ(PICTYPE_ICON, type);
}

TEST(Accessors, APictureKindBeyondSixteenBitsOverflowsBeforeAnyLookup) {
    ComPtr<_clsQxAtomTables10A> tables = NewTables();
    LONG id = UNIT_NO_RESOURCE;
    auto kind = static_cast<LoadResConstants>(40000);
    ComPtr<IPictureDisp> picture;
    EXPECT_EQ(RuntimeError(6), tables->get_GetProResPicture(&id, &kind, &picture)) << "not 326: no lookup was made";
    kind = static_cast<LoadResConstants>(-40000);
    EXPECT_EQ(RuntimeError(6), tables->get_GetProResPicture(&id, &kind, &picture));
    kind = static_cast<LoadResConstants>(7);
    EXPECT_EQ(RuntimeError(5), tables->get_GetProResPicture(&id, &kind, &picture));
    EXPECT_FALSE(picture);
}

TEST(Accessors, DataByNumericTypeAndByName) {
    ComPtr<_clsQxAtomTables10A> tables = NewTables();
    LONG id = UNIT_DATA_NUMERIC;
    Variant type, data;
    V_VT(type.Get()) = VT_I4;
    V_I4(type.Get()) = UNIT_DATA_TYPE;
    ASSERT_EQ(S_OK, tables->get_GetProResData(&id, type.Get(), data.Receive()));
    EXPECT_EQ(FileBytes("numeric-type.bin"), ArrayBytes(*data.Get()));

    id = UNIT_DATA_NAMED;
    V_VT(type.Receive()) = VT_BSTR;
    V_BSTR(type.Get()) = SysAllocString(L"QXDATA");
    ASSERT_EQ(S_OK, tables->get_GetProResData(&id, type.Get(), data.Receive()));
    EXPECT_EQ(FileBytes("named-type.bin"), ArrayBytes(*data.Get()));
    EXPECT_EQ(VT_BSTR, type.Type()) << "the type is not written";
    EXPECT_EQ(L"QXDATA", Text(V_BSTR(type.Get())));

    id = UNIT_NO_RESOURCE;
    EXPECT_EQ(kResourceNotFound, tables->get_GetProResData(&id, type.Get(), data.Receive()));
}

TEST(Accessors, StringsFailTowardsTheCaller) {
    ComPtr<_clsQxAtomTables10A> tables = NewTables();
    testing_support::RecordingLibrary library;
    LONG id = 105;
    Bstr text;
    ASSERT_EQ(S_OK, tables->get_GetProResStrings(&id, text.Receive()));
    EXPECT_EQ(L"-", text.View());
    id = 100;
    EXPECT_EQ(kResourceNotFound, tables->get_GetProResStrings(&id, text.Receive()));
    EXPECT_TRUE(library.Calls().empty()) << "accessors do not report";
}
