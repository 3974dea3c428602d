// typelib-reference: writes the reference of every class and member (docs/reference.md) from a type
// library, so that the members are described once, in the IDL, and the reference follows from the build.
//
//   typelib-reference <type library: a .tlb, or a DLL that embeds one> <output .md>
//
// It reads what the type library holds: the coclasses with their flags and default interfaces, each
// member's kind, dispatch identifier, parameters and result, its help string, and what the member
// does when it fails (the custom data the IDL attaches with ON_FAILURE). The output is UTF-8 with
// LF line ends, the whole page.
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/owners.h"

namespace {

using rt::Bstr;
using rt::ComPtr;
using rt::Variant;

// The custom data that says what a member or a class does when it fails (ON_FAILURE in the IDL).
constexpr GUID kOnFailure = {0x24E62274, 0xAB18, 0x4671, {0xB6, 0x0D, 0xC5, 0x80, 0x27, 0xE0, 0xF3, 0x9C}};

// The text "<member>" in a failure note stands for the member's own name.
constexpr std::wstring_view kMemberPlaceholder = L"<member>";

class Failed {
public:
    Failed(std::wstring what, HRESULT hr) : what_(std::move(what)), hr_(hr) {}
    const std::wstring &What() const { return what_; }
    HRESULT Hr() const { return hr_; }

private:
    std::wstring what_;
    HRESULT hr_;
};

void Check(HRESULT hr, const wchar_t *what) {
    if (FAILED(hr)) throw Failed(what, hr);
}

// A description read from a type description, or Failed.
template <class T, class... Index>
void Read(rt::TypeDescription<T> &description, ITypeInfo *info, const wchar_t *what, Index... index) {
    Check(description.Read(info, index...), what);
}

std::wstring GuidText(const GUID &guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Hex(long value) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

struct Doc {
    std::wstring name;
    std::wstring help;
};

Doc DocOf(ITypeInfo *info, MEMBERID id) {
    Bstr name, help;
    Check(info->GetDocumentation(id, name.Receive(), help.Receive(), nullptr, nullptr), L"GetDocumentation");
    return {std::wstring(name.View()), std::wstring(help.View())};
}

std::wstring FromCustomData(Variant &data, const std::wstring &memberName) {
    if (data.Type() != VT_BSTR) return {};
    std::wstring text(V_BSTR(data.Get()), SysStringLen(V_BSTR(data.Get())));
    for (size_t at = text.find(kMemberPlaceholder); at != std::wstring::npos;
         at = text.find(kMemberPlaceholder, at + memberName.size()))
        text.replace(at, kMemberPlaceholder.size(), memberName);
    return text;
}

std::wstring FailureOfMember(ITypeInfo *info, UINT index, const std::wstring &memberName) {
    ComPtr<ITypeInfo2> info2;
    if (FAILED(info->QueryInterface(IID_PPV_ARGS(&info2)))) return {};
    Variant data;
    if (FAILED(info2->GetFuncCustData(index, kOnFailure, data.Receive()))) return {};
    return FromCustomData(data, memberName);
}

std::wstring FailureOfType(ITypeInfo *info) {
    ComPtr<ITypeInfo2> info2;
    if (FAILED(info->QueryInterface(IID_PPV_ARGS(&info2)))) return {};
    Variant data;
    if (FAILED(info2->GetCustData(kOnFailure, data.Receive()))) return {};
    return FromCustomData(data, L"");
}

// The automation name of a type, as script authors know it.
std::wstring TypeName(ITypeInfo *context, const TYPEDESC &type) {
    switch (type.vt) {
    case VT_PTR: return TypeName(context, *type.lptdesc);
    case VT_I2: return L"Integer";
    case VT_I4: return L"Long";
    case VT_BSTR: return L"String";
    case VT_VARIANT: return L"Variant";
    case VT_DISPATCH: return L"Object";
    case VT_UNKNOWN: return L"IUnknown";
    case VT_BOOL: return L"Boolean";
    case VT_R8: return L"Double";
    case VT_DATE: return L"Date";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> referenced;
        Check(context->GetRefTypeInfo(type.hreftype, &referenced), L"GetRefTypeInfo");
        return DocOf(referenced.Get(), MEMBERID_NIL).name;
    }
    default: return L"VT " + std::to_wstring(type.vt);
    }
}

std::wstring KindOf(INVOKEKIND kind) {
    switch (kind) {
    case INVOKE_FUNC: return L"method";
    case INVOKE_PROPERTYGET: return L"property get";
    case INVOKE_PROPERTYPUT: return L"property put";
    case INVOKE_PROPERTYPUTREF: return L"property put by reference";
    }
    return L"?";
}

std::wstring DirectionOf(USHORT flags) {
    const bool in = flags & PARAMFLAG_FIN, out = flags & PARAMFLAG_FOUT;
    std::wstring text = in && out ? L"in-out" : out ? L"out" : L"in";
    if (flags & PARAMFLAG_FOPT) text += L", optional";
    return text;
}

// Table cells hold no line breaks and no column separators.
std::wstring Cell(std::wstring text) {
    if (text.empty()) return L"—";
    for (wchar_t &c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    for (size_t at = text.find(L'|'); at != std::wstring::npos; at = text.find(L'|', at + 2)) text.replace(at, 1, L"\\|");
    return text;
}

class Writer {
public:
    void Line(const std::wstring &text = {}) { out_ += text + L"\n"; }
    const std::wstring &Text() const { return out_; }

private:
    std::wstring out_;
};

void WriteMembers(Writer &w, ITypeInfo *interfaceInfo) {
    rt::TypeAttr attr;
    Read(attr, interfaceInfo, L"GetTypeAttr");
    if (attr->cFuncs == 0) {
        w.Line(L"No members.");
        return;
    }
    w.Line(L"| Member | Kind | DISPID | Parameters | Result | What it does | On failure |");
    w.Line(L"|---|---|---|---|---|---|---|");
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        rt::FuncDesc func;
        Read(func, interfaceInfo, L"GetFuncDesc", i);
        const Doc doc = DocOf(interfaceInfo, func->memid);

        std::vector<Bstr> names(static_cast<size_t>(func->cParams) + 1);
        std::vector<BSTR> raw(names.size(), nullptr);
        UINT count = 0;
        Check(interfaceInfo->GetNames(func->memid, raw.data(), static_cast<UINT>(raw.size()), &count), L"GetNames");
        for (size_t n = 0; n < raw.size(); ++n) names[n] = Bstr::Attach(raw[n]);

        std::wstring parameters, result;
        for (SHORT p = 0; p < func->cParams; ++p) {
            const ELEMDESC &param = func->lprgelemdescParam[p];
            const USHORT flags = param.paramdesc.wParamFlags;
            const std::wstring type = TypeName(interfaceInfo, param.tdesc);
            if (flags & PARAMFLAG_FRETVAL) {
                result = type;
                continue;
            }
            // A property put's value has no name of its own in the type library.
            const size_t nameIndex = static_cast<size_t>(p) + 1;
            std::wstring name = nameIndex < count ? std::wstring(names[nameIndex].View()) : L"value";
            if (!parameters.empty()) parameters += L"; ";
            parameters += L"`" + name + L"` " + type + L", " + DirectionOf(flags);
        }
        w.Line(L"| `" + doc.name + L"` | " + KindOf(func->invkind) + L" | `" + Hex(func->memid) + L"` | " +
               Cell(parameters) + L" | " + Cell(result) + L" | " + Cell(doc.help) + L" | " +
               Cell(FailureOfMember(interfaceInfo, i, doc.name)) + L" |");
    }
}

// The vtable view of a dual interface (its dispinterface view lists the IDispatch members too).
ComPtr<ITypeInfo> VtableView(ITypeInfo *info) {
    rt::TypeAttr attr;
    Read(attr, info, L"GetTypeAttr");
    if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtable;
        if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
            SUCCEEDED(info->GetRefTypeInfo(ref, &vtable)))
            return vtable;
    }
    return ComPtr<ITypeInfo>(info);
}

void WriteClass(Writer &w, ITypeInfo *coclass, const std::wstring &libraryName) {
    rt::TypeAttr attr;
    Read(attr, coclass, L"GetTypeAttr");
    const Doc doc = DocOf(coclass, MEMBERID_NIL);
    w.Line(L"## " + doc.name);
    w.Line();
    if (!doc.help.empty()) {
        w.Line(doc.help);
        w.Line();
    }

    ComPtr<ITypeInfo> defaultInterface;
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        INT flags = 0;
        Check(coclass->GetImplTypeFlags(i, &flags), L"GetImplTypeFlags");
        if (!(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
        HREFTYPE ref = 0;
        Check(coclass->GetRefTypeOfImplType(i, &ref), L"GetRefTypeOfImplType");
        Check(coclass->GetRefTypeInfo(ref, &defaultInterface), L"GetRefTypeInfo");
    }

    std::wstring facts;
    if (attr->wTypeFlags & TYPEFLAG_FCANCREATE)
        facts = L"ProgID `" + libraryName + L"." + doc.name + L"`, creatable";
    else
        facts = L"Not creatable: published in the type library only";
    if (attr->wTypeFlags & TYPEFLAG_FAPPOBJECT) facts += L", application object (predeclared instance)";
    facts += L". CLSID `" + GuidText(attr->guid) + L"`";
    ComPtr<ITypeInfo> members;
    if (defaultInterface) {
        members = VtableView(defaultInterface.Get());
        rt::TypeAttr interfaceAttr;
        Read(interfaceAttr, members.Get(), L"GetTypeAttr");
        facts += L"; default interface `" + DocOf(members.Get(), MEMBERID_NIL).name + L"` `" +
                 GuidText(interfaceAttr->guid) + L"`" +
                 ((interfaceAttr->wTypeFlags & TYPEFLAG_FDUAL) ? L", dual." : L".");
    } else {
        facts += L".";
    }
    w.Line(facts);
    w.Line();
    if (members) {
        const std::wstring failure = FailureOfType(members.Get());
        if (!failure.empty()) {
            w.Line(failure);
            w.Line();
        }
        WriteMembers(w, members.Get());
        w.Line();
    }
}

void WriteEnum(Writer &w, ITypeInfo *info) {
    rt::TypeAttr attr;
    Read(attr, info, L"GetTypeAttr");
    const Doc doc = DocOf(info, MEMBERID_NIL);
    w.Line(L"## " + doc.name + L" (enumeration)");
    w.Line();
    if (!doc.help.empty()) {
        w.Line(doc.help);
        w.Line();
    }
    w.Line(L"| Name | Value |");
    w.Line(L"|---|---|");
    for (UINT i = 0; i < attr->cVars; ++i) {
        rt::VarDesc var;
        Read(var, info, L"GetVarDesc", i);
        Variant value;
        Check(VariantChangeType(value.Get(), var->lpvarValue, 0, VT_I4), L"VariantChangeType");
        w.Line(L"| `" + DocOf(info, var->memid).name + L"` | " + std::to_wstring(V_I4(value.Get())) + L" |");
    }
    w.Line();
}

std::wstring Reference(ITypeLib *library) {
    Bstr name, help;
    Check(library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr), L"GetDocumentation");
    TLIBATTR *libraryAttr = nullptr;
    Check(library->GetLibAttr(&libraryAttr), L"GetLibAttr");
    const GUID libid = libraryAttr->guid;
    const WORD major = libraryAttr->wMajorVerNum, minor = libraryAttr->wMinorVerNum;
    library->ReleaseTLibAttr(libraryAttr);
    const std::wstring libraryName(name.View());

    Writer w;
    w.Line(L"# Reference");
    w.Line();
    w.Line(L"<!-- Generated from the type library by tools/typelib-reference: edit the IDL, not this page. -->");
    w.Line();
    w.Line(L"Type library `" + libraryName + L"` " + std::to_wstring(major) + L"." + std::to_wstring(minor) +
           L", LIBID `" + GuidText(libid) + L"`: " + std::wstring(help.View()) + L".");
    w.Line();
    w.Line(L"Each class publishes one dual interface. Its members are listed in interface order, which is "
           L"also their vtable order after the seven slots of `IDispatch`; early-bound C++ callers get them "
           L"from `AtomTables10.h`, where every member returns an `HRESULT` and delivers its result through "
           L"a last out-parameter. Types: Integer is 16-bit (`short`), Long 32-bit (`long`), String a `BSTR`, "
           L"Object an `IDispatch*`. In-out parameters are passed by reference: see "
           L"[How arguments are taken](scripts.md#how-arguments-are-taken).");
    w.Line();

    const UINT count = library->GetTypeInfoCount();
    for (TYPEKIND wanted : {TKIND_COCLASS, TKIND_ENUM}) {
        for (UINT i = 0; i < count; ++i) {
            TYPEKIND kind;
            Check(library->GetTypeInfoType(i, &kind), L"GetTypeInfoType");
            if (kind != wanted) continue;
            ComPtr<ITypeInfo> info;
            Check(library->GetTypeInfo(i, &info), L"GetTypeInfo");
            if (kind == TKIND_COCLASS)
                WriteClass(w, info.Get(), libraryName);
            else
                WriteEnum(w, info.Get());
        }
    }
    std::wstring text = w.Text();
    // The page ends with one line end.
    while (text.size() >= 2 && text.ends_with(L"\n\n")) text.pop_back();
    return text;
}

std::string Utf8(const std::wstring &text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        std::fputs("usage: typelib-reference <type library or DLL> <output.md>\n", stderr);
        return 2;
    }
    const std::wstring source = argv[1], target = argv[2];
    LocalFree(argv);

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    try {
        ComPtr<ITypeLib> library;
        Check(LoadTypeLibEx(source.c_str(), REGKIND_NONE, &library), L"LoadTypeLibEx");
        const std::string text = Utf8(Reference(library.Get()));
        FILE *file = _wfopen(target.c_str(), L"wb");
        if (!file) throw Failed(L"cannot write " + target, E_FAIL);
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written) throw Failed(L"cannot write " + target, E_FAIL);
    } catch (const Failed &failure) {
        std::fprintf(stderr, "typelib-reference: %s failed (0x%08lX)\n", Utf8(failure.What()).c_str(),
                     static_cast<unsigned long>(failure.Hr()));
        status = 1;
    }
    if (SUCCEEDED(hr)) CoUninitialize();
    return status;
}
