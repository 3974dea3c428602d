#include "harness.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <charconv>
#include <cwctype>

namespace reliability {

long long EnvCount(std::initializer_list<const wchar_t *> names, long long fallback) {
    for (const wchar_t *name : names) {
        wchar_t text[64];
        const DWORD n = GetEnvironmentVariableW(name, text, 64);
        if (n == 0 || n >= 64) continue;
        long long value = 0;
        bool digits = false;
        for (DWORD i = 0; i < n; ++i) {
            if (text[i] == L'_') continue;
            if (!std::iswdigit(text[i])) return fallback;
            value = value * 10 + (text[i] - L'0');
            digits = true;
        }
        if (digits) return value;
    }
    return fallback;
}

uint64_t EnvSeed(const wchar_t *name, uint64_t fallback) {
    wchar_t text[64];
    const DWORD n = GetEnvironmentVariableW(name, text, 64);
    if (n == 0 || n >= 64) return fallback;
    wchar_t *end = nullptr;
    const uint64_t value = wcstoull(text, &end, 0);
    return end && *end == 0 ? value : fallback;
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

namespace {

// The system's handle table (SystemHandleInformation), as both Windows and Wine lay it out.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

} // namespace

long HandleCount() {
    using Query = NTSTATUS(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    // The table is read into pages of its own, given back at once, so that counting handles leaves
    // the heap (and so the private-memory figure) as it was.
    SIZE_T size = 1 << 16;
    for (int attempt = 0; attempt < 16; ++attempt) {
        void *buffer = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!buffer) return -1;
        ULONG needed = 0;
        const NTSTATUS status = query(kSystemHandleInformation, buffer, static_cast<ULONG>(size), &needed);
        long count = -1;
        if (status == 0) {
            const auto *table = static_cast<const HandleTable *>(buffer);
            const ULONG self = GetCurrentProcessId();
            count = 0;
            for (ULONG i = 0; i < table->count; ++i)
                if (table->entries[i].ownerPid == self) ++count;
        }
        VirtualFree(buffer, 0, MEM_RELEASE);
        if (status == kInfoLengthMismatch) {
            size = std::max<SIZE_T>(size * 2, static_cast<SIZE_T>(needed) + 4096);
            continue;
        }
        return count;
    }
    return -1;
}

namespace {

// The automation type a parameter's description comes down to, and whether it is passed by
// reference (an interface pointer is the object itself).
void Describe(ITypeInfo *context, const TYPEDESC &desc, ParamInfo &param) {
    const TYPEDESC *t = &desc;
    int pointers = 0;
    while (t->vt == VT_PTR) {
        ++pointers;
        t = t->lptdesc;
    }
    VARTYPE vt = t->vt;
    if (vt == VT_USERDEFINED) {
        ComPtr<ITypeInfo> ref;
        rt::TypeAttr attr;
        vt = VT_EMPTY;
        if (SUCCEEDED(context->GetRefTypeInfo(t->hreftype, &ref)) && SUCCEEDED(attr.Read(ref.Get()))) {
            if (attr->typekind == TKIND_ENUM) {
                vt = VT_I4;
            } else if (attr->typekind == TKIND_DISPATCH || attr->typekind == TKIND_INTERFACE) {
                vt = (attr->typekind == TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE)) ? VT_DISPATCH
                                                                                                       : VT_UNKNOWN;
                --pointers;
            } else if (attr->typekind == TKIND_ALIAS) {
                ParamInfo inner;
                Describe(ref.Get(), attr->tdescAlias, inner);
                vt = inner.type;
                pointers += inner.byRef ? 1 : 0;
            }
        }
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        --pointers;
    }
    param.type = vt;
    param.byRef = pointers >= 1;
}

std::vector<MemberInfo> ReadMembers(ITypeInfo *info) {
    std::vector<MemberInfo> members;
    rt::TypeAttr attr;
    if (FAILED(attr.Read(info))) return members;
    for (WORD i = 0; i < attr->cFuncs; ++i) {
        rt::FuncDesc desc;
        if (FAILED(desc.Read(info, i))) continue;
        MemberInfo member;
        member.id = desc->memid;
        member.kind = desc->invkind;
        member.vtableOffset = static_cast<ULONG_PTR>(desc->oVft);
        Bstr name;
        if (SUCCEEDED(info->GetDocumentation(desc->memid, name.Receive(), nullptr, nullptr, nullptr)))
            member.name = name.View();
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const ELEMDESC &elem = desc->lprgelemdescParam[p];
            ParamInfo param;
            Describe(info, elem.tdesc, param);
            if (elem.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
                member.result = param.type;
                continue;
            }
            param.optional = (elem.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0;
            member.params.push_back(param);
        }
        members.push_back(std::move(member));
    }
    return members;
}

} // namespace

std::vector<ClassInfo> ReadClasses() {
    std::vector<ClassInfo> classes;
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(testing_support::ComponentPath().c_str(), REGKIND_NONE, &library))) return classes;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ComPtr<ITypeInfo> coclass;
        if (FAILED(library->GetTypeInfo(i, &coclass))) continue;
        rt::TypeAttr attr;
        if (FAILED(attr.Read(coclass.Get()))) continue;
        ClassInfo info;
        info.clsid = attr->guid;
        info.creatable = (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0;
        const WORD interfaces = attr->cImplTypes;
        Bstr name;
        if (SUCCEEDED(coclass->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr)))
            info.name = name.View();
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(info.clsid, &progId)) && progId) {
            info.progId = progId;
            CoTaskMemFree(progId);
        }
        for (WORD k = 0; k < interfaces; ++k) {
            INT flags = 0;
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> face;
            if (FAILED(coclass->GetImplTypeFlags(k, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
            if (FAILED(coclass->GetRefTypeOfImplType(k, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, &face))) continue;
            // A dual interface is listed as its dispinterface; its vtable face holds the members
            // without those of IDispatch.
            rt::TypeAttr faceAttr;
            if (SUCCEEDED(faceAttr.Read(face.Get()))) {
                for (WORD f = 0; f < faceAttr->cFuncs; ++f) {
                    rt::FuncDesc desc;
                    if (SUCCEEDED(desc.Read(face.Get(), f))) info.dispatchIds.push_back(desc->memid);
                }
            }
            ComPtr<ITypeInfo> vtable;
            HREFTYPE other = 0;
            if (SUCCEEDED(face->GetRefTypeOfImplType(-1, &other)) && SUCCEEDED(face->GetRefTypeInfo(other, &vtable)))
                info.members = ReadMembers(vtable.Get());
            else
                info.members = ReadMembers(face.Get());
        }
        classes.push_back(std::move(info));
    }
    return classes;
}

std::vector<MemberInfo> MembersOf(IDispatch *object) {
    ComPtr<ITypeInfo> face, vtable;
    HREFTYPE other = 0;
    if (!object || FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &face))) return {};
    if (SUCCEEDED(face->GetRefTypeOfImplType(-1, &other)) && SUCCEEDED(face->GetRefTypeInfo(other, &vtable)))
        return ReadMembers(vtable.Get());
    return ReadMembers(face.Get());
}

CanUnloadNowFn ComponentCanUnloadNow() {
    HMODULE module = GetModuleHandleW(testing_support::ComponentPath().c_str());
    if (!module) return nullptr;
    return reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void *>(GetProcAddress(module, "DllCanUnloadNow")));
}

AtomTable GlobalAtoms() {
    AtomTable table;
    for (unsigned atom = 0xC000; atom <= 0xFFFF; ++atom) {
        wchar_t name[512];
        const UINT n = GlobalGetAtomNameW(static_cast<ATOM>(atom), name, 512);
        if (n) table.emplace(static_cast<ATOM>(atom), std::wstring(name, n));
    }
    return table;
}

std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char code[12];
            wsprintfA(code, "\\u%04X", static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

std::string Hex(unsigned long long value) {
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::string text(digits, end);
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "0x" + text;
}

std::string AtomDiff(const AtomTable &before, const AtomTable &after) {
    std::string out;
    for (const auto &[atom, name] : before) {
        auto found = after.find(atom);
        if (found == after.end())
            out += "  gone: " + Hex(atom) + " " + Narrow(name.substr(0, 60)) + "\n";
        else if (found->second != name)
            out += "  renamed: " + Hex(atom) + "\n";
    }
    for (const auto &[atom, name] : after)
        if (!before.count(atom)) out += "  left behind: " + Hex(atom) + " " + Narrow(name.substr(0, 60)) + "\n";
    return out;
}

Journal::Journal(const std::wstring &name) {
    wchar_t folder[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
    path_ = std::wstring(folder, n) + L"\\" + name;
    DeleteFileW(path_.c_str());
    wchar_t previous[MAX_PATH * 2];
    const DWORD p = GetEnvironmentVariableW(L"QXBEDROCK10_LOG", previous, MAX_PATH * 2);
    hadPrevious_ = p > 0 && p < MAX_PATH * 2;
    if (hadPrevious_) previous_.assign(previous, p);
    SetEnvironmentVariableW(L"QXBEDROCK10_LOG", path_.c_str());
}

Journal::~Journal() {
    SetEnvironmentVariableW(L"QXBEDROCK10_LOG", hadPrevious_ ? previous_.c_str() : nullptr);
    // Kept for a look when the test failed.
    if (::testing::Test::HasFailure())
        std::printf("journal kept: %s\n", Narrow(path_).c_str());
    else
        DeleteFileW(path_.c_str());
}

std::vector<std::wstring> Journal::Lines() const {
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read) bytes.append(chunk, read);
    CloseHandle(file);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        const int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        if (n) MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(), n);
        lines.push_back(std::move(wide));
        start = end + 2;
    }
    return lines;
}

} // namespace reliability
