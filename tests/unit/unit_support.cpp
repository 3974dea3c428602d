#include "unit_support.h"

#include <climits>
#include <cstring>
#include <map>

#include "modules/basQxAtomTables10A.h"
#include "runtime/late_bound.h"

namespace unit {
namespace {

const char *g_unbound = nullptr;
std::map<std::string, int> g_lookups;

} // namespace

ComPtr<_clsQxAtomTables10A> NewTables() {
    clsQxAtomTables10A *instance = nullptr;
    EXPECT_EQ(S_OK, clsQxAtomTables10A::CreateInstance(&instance));
    ComPtr<_clsQxAtomTables10A> tables;
    rt::Adopt(tables, static_cast<_clsQxAtomTables10A *>(instance));
    return tables;
}

ComPtr<IDispatch> DispatchOf(const ComPtr<_clsQxAtomTables10A> &tables) {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, tables.As(&dispatch));
    return dispatch;
}

PlatformLookup::PlatformLookup(const char *unbound) {
    g_unbound = unbound;
    g_lookups.clear();
    basQxAtomTables10A::SetResolver(&Resolve);
}

PlatformLookup::~PlatformLookup() {
    basQxAtomTables10A::SetResolver(nullptr);
    g_unbound = nullptr;
}

int PlatformLookup::Lookups(const std::string &name) const {
    auto found = g_lookups.find(name);
    return found == g_lookups.end() ? 0 : found->second;
}

FARPROC PlatformLookup::Resolve(const char *name) {
    ++g_lookups[name];
    if (g_unbound && std::strcmp(name, g_unbound) == 0) return nullptr;
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

Raised TakeRaised() {
    Raised raised;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return raised;
    raised.present = true;
    Bstr description, source;
    if (SUCCEEDED(info->GetDescription(description.Receive()))) raised.description = description.View();
    if (SUCCEEDED(info->GetSource(source.Receive()))) raised.source = source.View();
    return raised;
}

long NumberProperty(IDispatch *object, const wchar_t *name) {
    Variant value;
    if (FAILED(rt::GetProperty(object, name, value.Get()))) return LONG_MIN;
    if (FAILED(VariantChangeType(value.Get(), value.Get(), 0, VT_I4))) return LONG_MIN;
    return V_I4(value.Get());
}

std::wstring Text(BSTR value) { return std::wstring(value ? value : L"", SysStringLen(value)); }

} // namespace unit
