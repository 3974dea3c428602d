// A seeded, reproducible fuzzer over IDispatch of every class of the component.
//
// The classes and their members come from the component's type library, read at run time. Each
// case is one call made from its own seed (the run's seed mixed with the case number), so any case
// can be replayed alone:
//
//   ATOMTABLES_FUZZ_SEED=<seed> ATOMTABLES_FUZZ_FIRST=<case> ATOMTABLES_FUZZ_CASES=1
//
// A case calls Invoke (and now and then GetIDsOfNames, GetTypeInfo, GetTypeInfoCount) on one of
// the instances, with a known or unknown dispatch identifier, any flags, 0 to 12 arguments (some
// named), every automation type by value and by reference (null, empty, huge and odd strings,
// strings outside the ANSI code page, numbers out of range, Null, Empty, errors, null and live
// objects, arrays, invalid types, null references), and null DISPPARAMS, result, exception and
// argument-error pointers. Everything the callee may write into lies between guard bytes.
//
// After every call: the HRESULT is S_OK or an error with its documented meaning, the result and the
// exception information match it, nothing outside what the callee may write changed, every
// reference the call took on the test's objects is given back, every report that reached the
// common library names a member of the component, and every message box is one the component
// shows (dismissed by the watcher). At the end: no live object (DllCanUnloadNow is S_OK), none of
// the test's objects still referenced, and the atom tables as they were at the start.
//
// Sizes: ATOMTABLES_FUZZ_CASES, else ATOMTABLES_FUZZ_CI_CASES (set by the test's definition), else
// 20 000. ATOMTABLES_FUZZ_SEED (default below), ATOMTABLES_FUZZ_FIRST (default 0).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <deque>
#include <limits>
#include <random>
#include <set>

#include "harness.h"
#include "support/recording_library.h"
#include "support/expected.h"

using namespace reliability;
using namespace testing_support;
using testing_support::BoxWatcher;
using testing_support::HaveDisplay;
using testing_support::RecordingLibrary;

namespace {

constexpr uint64_t kDefaultSeed = 0x5EED0007;
constexpr long long kDefaultCases = 20000;
constexpr UINT kMaxArgs = 12;
constexpr UINT kArgErrorUntouched = 0xFFFFFFFFu;
constexpr unsigned char kGuardByte = 0x5A;
constexpr unsigned char kFillByte = 0xA5;

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Random {
public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    uint64_t Bits() { return engine_(); }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Bits() % n) : 0; }
    bool Percent(unsigned p) { return Below(100) < p; }
    template <class T, size_t N>
    const T &Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

private:
    std::mt19937_64 engine_;
};

// ---------------------------------------------------------------------------------------------
// Memory the callee may write into, between guard bytes.
// ---------------------------------------------------------------------------------------------

template <size_t N>
struct Guard {
    alignas(16) unsigned char bytes[N];
    Guard() { std::memset(bytes, kGuardByte, N); }
    bool Intact() const {
        for (unsigned char b : bytes)
            if (b != kGuardByte) return false;
        return true;
    }
};

// Storage of one value passed by reference: 32 bytes (room for any automation value, VARIANT
// included), filled with a pattern beyond the value's own width.
struct Cell {
    Guard<16> front;
    alignas(16) unsigned char body[32];
    Guard<16> back;
    VARTYPE type = VT_EMPTY; // what the body holds; the cell owns it
    size_t width = 0;

    Cell() { std::memset(body, kFillByte, sizeof body); }
    void *Body() { return body; }
    bool Intact() const {
        if (!front.Intact() || !back.Intact()) return false;
        for (size_t i = width; i < sizeof body; ++i)
            if (body[i] != kFillByte) return false;
        return true;
    }
    void Release();
};
static_assert(sizeof(VARIANT) <= 32 && sizeof(DECIMAL) <= 32);

size_t WidthOf(VARTYPE t) {
    if (t & VT_ARRAY) return sizeof(SAFEARRAY *);
    switch (t) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_BSTR: return sizeof(BSTR);
    case VT_DISPATCH: case VT_UNKNOWN: return sizeof(IUnknown *);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

void Cell::Release() {
    if (type & VT_ARRAY) {
        SAFEARRAY *array = nullptr;
        std::memcpy(&array, body, sizeof array);
        if (array) SafeArrayDestroy(array);
    } else if (type == VT_BSTR) {
        BSTR text = nullptr;
        std::memcpy(&text, body, sizeof text);
        SysFreeString(text);
    } else if (type == VT_DISPATCH || type == VT_UNKNOWN) {
        IUnknown *object = nullptr;
        std::memcpy(&object, body, sizeof object);
        if (object) object->Release();
    } else if (type == VT_VARIANT) {
        VariantClear(reinterpret_cast<VARIANT *>(body));
    }
    type = VT_EMPTY;
}

// ---------------------------------------------------------------------------------------------
// What the fuzzer works with.
// ---------------------------------------------------------------------------------------------

struct Target {
    const ClassInfo *info = nullptr;
    ComPtr<IDispatch> object;
};

struct World {
    std::vector<ClassInfo> classes;
    std::vector<Target> targets;
    std::vector<DISPID> allIds; // every member identifier of every class
    CountedObject objectA, objectB;
    CountedObject unknownOnly{false};
    std::set<std::wstring> reportSources;
    std::wstring lengthTitle, lengthText; // the over-long name box
    bool display = false;
};

// One argument as made, and what is checked after the call.
struct ArgRecord {
    VARIANT original;             // as built (owns its value when passed by value)
    bool byValueString = false;   // a BSTR by value: its bytes must stay as they were
    std::wstring stringBytes;
    UINT stringByteLength = 0;
    BSTR stringPointer = nullptr;
};

// Everything one case built, released when it is done.
struct CaseStore {
    std::deque<Cell> cells;
    std::vector<ArgRecord> args; // in rgvarg order
    std::vector<SAFEARRAY *> arrays;

    Cell &NewCell() { return cells.emplace_back(); }
    ~CaseStore() {
        for (ArgRecord &arg : args) VariantClear(&arg.original);
        for (Cell &cell : cells) cell.Release();
    }
};

// ---------------------------------------------------------------------------------------------
// Values.
// ---------------------------------------------------------------------------------------------

class Maker {
public:
    Maker(Random &random, World &world, CaseStore &store, std::string &text)
        : r_(random), w_(world), store_(store), d_(text) {}

    // A string of one of the interesting kinds (null, empty, names, 255/256, huge, embedded NULs,
    // odd byte lengths, characters outside the ANSI code page, numbers, integer-atom names, ...).
    BSTR String() {
        static const wchar_t *const kNames[] = {L"FuzzAtom", L"fuzzatom", L"FUZZ-atom-2", L"Fuzz Atom 3", L"f",
                                                L"Reliability.Fuzz.Name"};
        static const wchar_t *const kNumbers[] = {L"0", L"1", L"-1", L"123", L"-16384", L"49152", L"32767", L"32768",
                                                  L"-32769", L"65535", L"1e10", L"&HC000", L"  7  ", L"-0",
                                                  L"2147483648", L"True", L"12.5", L"NaN"};
        static const wchar_t *const kForeign[] = {L"\u03A9\u2248\u00E7", L"\u65E5\u672C\u8A9E", L"\xD83D\xDE00",
                                                  L"\xD800", L"\xDC00x", L"\xFFFF\xFFFE", L"caf\u00E9",
                                                  L"\u0410\u0442\u043E\u043C", L"\u20AC\u2122"};
        switch (r_.Below(16)) {
        case 0: d_ += "null"; return nullptr;
        case 1: d_ += "\"\""; return SysAllocString(L"");
        case 2: {
            const wchar_t *name = r_.Pick(kNames);
            d_ += "\"" + Narrow(name) + "\"";
            return SysAllocString(name);
        }
        case 3: return Letters(1 + r_.Below(40));
        case 4: return Letters(255);
        case 5: return Letters(256);
        case 6: return Letters(257 + r_.Below(800));
        case 7: return Letters(r_.Percent(15) ? (1u << 20) : 65536 + r_.Below(1000));
        case 8: {
            const wchar_t text[] = {L'a', L'b', 0, L'c', L'd', 0};
            const UINT n = 1 + static_cast<UINT>(r_.Below(5));
            d_ += "\"ab\\0cd\"[" + std::to_string(n) + "]";
            return SysAllocStringLen(text, n);
        }
        case 9: {
            const UINT bytes = 1 + 2 * static_cast<UINT>(r_.Below(8));
            d_ += "odd-bytes(" + std::to_string(bytes) + ")";
            return SysAllocStringByteLen("FuzzAtomOddLen!!!", bytes);
        }
        case 10: {
            const wchar_t *text = r_.Pick(kForeign);
            d_ += "\"" + Narrow(text) + "\"";
            return SysAllocString(text);
        }
        case 11: {
            const wchar_t *text = r_.Pick(kNumbers);
            d_ += "\"" + Narrow(text) + "\"";
            return SysAllocString(text);
        }
        case 12: {
            const std::wstring text = L"#" + std::to_wstring(static_cast<long>(r_.Below(70000)) - 100);
            d_ += "\"" + Narrow(text) + "\"";
            return SysAllocString(text.c_str());
        }
        case 13: {
            const size_t n = 100 + r_.Below(200);
            d_ += "foreign*" + std::to_string(n);
            return SysAllocString(std::wstring(n, L'\u65E5').c_str());
        }
        case 14: {
            const size_t n = 1 + r_.Below(64);
            std::wstring text(n, L' ');
            for (wchar_t &c : text) c = static_cast<wchar_t>(r_.Bits() & 0xFFFF);
            d_ += "units*" + std::to_string(n);
            return SysAllocStringLen(text.data(), static_cast<UINT>(n));
        }
        default: {
            const wchar_t *const kControl[] = {L"\t", L"\r\n", L" ", L"\x01\x02", L"?", L"\\", L"%s%n"};
            const wchar_t *text = r_.Pick(kControl);
            d_ += "ctl\"" + Narrow(text) + "\"";
            return SysAllocString(text);
        }
        }
    }

    // A by-value VARIANT of type t, owning its value.
    void Typed(VARTYPE t, VARIANT &v) {
        VariantInit(&v);
        if (t & VT_ARRAY) {
            d_ += "array:";
            V_ARRAY(&v) = Array(static_cast<VARTYPE>(t & VT_TYPEMASK));
            V_VT(&v) = t;
            return;
        }
        switch (t) {
        case VT_EMPTY: d_ += "Empty"; return;
        case VT_NULL: d_ += "Null"; V_VT(&v) = VT_NULL; return;
        case VT_ERROR: {
            static const SCODE kCodes[] = {DISP_E_PARAMNOTFOUND, DISP_E_PARAMNOTFOUND, E_FAIL, 0, S_FALSE,
                                           kOverflow};
            V_VT(&v) = VT_ERROR;
            V_ERROR(&v) = r_.Pick(kCodes);
            d_ += "Error(" + Hex(static_cast<unsigned long>(V_ERROR(&v))) + ")";
            return;
        }
        case VT_I1: V_VT(&v) = VT_I1; V_I1(&v) = static_cast<CHAR>(Integer()); d_ += "I1"; return;
        case VT_UI1: V_VT(&v) = VT_UI1; V_UI1(&v) = static_cast<BYTE>(Integer()); d_ += "UI1"; return;
        case VT_I2:
            V_VT(&v) = VT_I2;
            V_I2(&v) = static_cast<SHORT>(Integer());
            d_ += "I2(" + std::to_string(V_I2(&v)) + ")";
            return;
        case VT_UI2: V_VT(&v) = VT_UI2; V_UI2(&v) = static_cast<USHORT>(Integer()); d_ += "UI2"; return;
        case VT_I4:
            V_VT(&v) = VT_I4;
            V_I4(&v) = static_cast<LONG>(Integer());
            d_ += "I4(" + std::to_string(V_I4(&v)) + ")";
            return;
        case VT_UI4: V_VT(&v) = VT_UI4; V_UI4(&v) = static_cast<ULONG>(Integer()); d_ += "UI4"; return;
        case VT_INT: V_VT(&v) = VT_INT; V_INT(&v) = static_cast<INT>(Integer()); d_ += "INT"; return;
        case VT_UINT: V_VT(&v) = VT_UINT; V_UINT(&v) = static_cast<UINT>(Integer()); d_ += "UINT"; return;
        case VT_I8: V_VT(&v) = VT_I8; V_I8(&v) = Integer(); d_ += "I8(" + std::to_string(V_I8(&v)) + ")"; return;
        case VT_UI8: V_VT(&v) = VT_UI8; V_UI8(&v) = static_cast<ULONGLONG>(Integer()); d_ += "UI8"; return;
        case VT_R4: V_VT(&v) = VT_R4; V_R4(&v) = static_cast<float>(Real()); d_ += "R4"; return;
        case VT_R8: V_VT(&v) = VT_R8; V_R8(&v) = Real(); d_ += "R8(" + std::to_string(V_R8(&v)) + ")"; return;
        case VT_DATE: V_VT(&v) = VT_DATE; V_DATE(&v) = Real(); d_ += "DATE"; return;
        case VT_CY: V_VT(&v) = VT_CY; V_CY(&v).int64 = Integer() * (r_.Percent(50) ? 10000 : 1); d_ += "CY"; return;
        case VT_BOOL: {
            static const VARIANT_BOOL kBools[] = {VARIANT_TRUE, VARIANT_FALSE, 1, 0x1234};
            V_VT(&v) = VT_BOOL;
            V_BOOL(&v) = r_.Pick(kBools);
            d_ += "BOOL(" + std::to_string(V_BOOL(&v)) + ")";
            return;
        }
        case VT_DECIMAL: {
            DECIMAL dec{};
            dec.scale = static_cast<BYTE>(r_.Percent(80) ? r_.Below(29) : r_.Below(256));
            dec.sign = static_cast<BYTE>(r_.Percent(70) ? (r_.Percent(50) ? 0 : DECIMAL_NEG) : r_.Below(256));
            dec.Hi32 = r_.Percent(70) ? 0 : static_cast<ULONG>(r_.Bits());
            dec.Lo64 = r_.Percent(50) ? static_cast<ULONGLONG>(r_.Below(70000)) : r_.Bits();
            V_DECIMAL(&v) = dec;
            V_VT(&v) = VT_DECIMAL;
            d_ += "DECIMAL(scale " + std::to_string(dec.scale) + ")";
            return;
        }
        case VT_BSTR: V_VT(&v) = VT_BSTR; d_ += "BSTR:"; V_BSTR(&v) = String(); return;
        case VT_DISPATCH: V_VT(&v) = VT_DISPATCH; V_DISPATCH(&v) = Dispatch(); return;
        case VT_UNKNOWN: V_VT(&v) = VT_UNKNOWN; V_UNKNOWN(&v) = Unknown(); return;
        case VT_VARIANT: AnyValue(v); return;
        default:
            // Not a type a VARIANT can hold (VT_VOID, VT_HRESULT, VT_PTR, VT_LPSTR, 15, 0xFFF...).
            V_VT(&v) = t;
            V_UI8(&v) = 0;
            d_ += "vt" + Hex(t);
            return;
        }
    }

    VARTYPE AnyType() {
        static const VARTYPE kTypes[] = {
            VT_EMPTY, VT_NULL, VT_ERROR, VT_ERROR, VT_I1, VT_UI1, VT_I2, VT_I2, VT_I2, VT_UI2, VT_I4, VT_I4,
            VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_R8, VT_DATE, VT_CY, VT_BOOL, VT_DECIMAL,
            VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_DISPATCH, VT_DISPATCH, VT_UNKNOWN,
            VT_ARRAY | VT_I2, VT_ARRAY | VT_UI1, VT_ARRAY | VT_BSTR, VT_ARRAY | VT_VARIANT, VT_ARRAY | VT_DISPATCH,
            VT_ARRAY | VT_I4,
            // Types no VARIANT may hold.
            15, VT_VOID, VT_HRESULT, VT_PTR, VT_LPSTR, 0x0FFF};
        return r_.Pick(kTypes);
    }

    void AnyValue(VARIANT &v) { Typed(AnyType(), v); }

    // A type a reference may point at.
    VARTYPE AnyRefType() {
        static const VARTYPE kTypes[] = {VT_I1, VT_UI1, VT_I2, VT_I2, VT_I2, VT_UI2, VT_I4, VT_I4, VT_UI4, VT_INT,
                                         VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_ERROR,
                                         VT_DECIMAL, VT_BSTR, VT_BSTR, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT,
                                         VT_VARIANT, VT_VARIANT, VT_VARIANT, VT_ARRAY | VT_I2, VT_ARRAY | VT_VARIANT};
        return r_.Pick(kTypes);
    }

    // A reference (VT_BYREF | t) to a fresh cell holding a value of type t.
    void Reference(VARTYPE t, VARIANT &arg, int depth = 0) {
        Cell &cell = store_.NewCell();
        d_ += "&";
        if (t == VT_VARIANT) {
            VARIANT *inner = reinterpret_cast<VARIANT *>(cell.Body());
            if (depth < 2 && r_.Percent(15)) {
                // A variable that itself holds a reference (to another variable, now and then),
                // or a reference that points nowhere.
                const VARTYPE held = AnyRefType();
                if (r_.Percent(10)) {
                    V_VT(inner) = static_cast<VARTYPE>(VT_BYREF | held);
                    V_BYREF(inner) = nullptr;
                    d_ += "{&null(" + Hex(held) + ")}";
                } else {
                    d_ += "{";
                    Reference(held, *inner, depth + 1);
                    d_ += "}";
                }
            } else {
                d_ += "{";
                AnyValue(*inner);
                d_ += "}";
            }
        } else {
            VARIANT value;
            Typed(t, value);
            if (t == VT_DECIMAL)
                std::memcpy(cell.Body(), &V_DECIMAL(&value), sizeof(DECIMAL));
            else
                std::memcpy(cell.Body(), &V_UI1(&value), WidthOf(t));
        }
        cell.type = t;
        cell.width = WidthOf(t);
        V_VT(&arg) = static_cast<VARTYPE>(VT_BYREF | t);
        V_BYREF(&arg) = cell.Body();
    }

    // One argument for a parameter (null when the argument lies beyond the parameters).
    void Argument(const ParamInfo *param, VARIANT &arg) {
        VariantInit(&arg);
        const size_t roll = r_.Below(100);
        if (param && roll < 45) {
            VARTYPE t = param->type;
            if (t == VT_VARIANT || t == VT_EMPTY) t = AnyType();
            switch (r_.Below(4)) {
            case 0:
            case 1:
                if (WidthOf(t)) {
                    Reference(t, arg);
                    return;
                }
                Typed(t, arg);
                return;
            case 2: Typed(t, arg); return;
            default: {
                Cell &cell = store_.NewCell();
                d_ += "&{";
                Typed(t, *reinterpret_cast<VARIANT *>(cell.Body()));
                d_ += "}";
                cell.type = VT_VARIANT;
                cell.width = sizeof(VARIANT);
                V_VT(&arg) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&arg) = reinterpret_cast<VARIANT *>(cell.Body());
                return;
            }
            }
        }
        if (roll < 70) {
            AnyValue(arg);
        } else if (roll < 97) {
            Reference(AnyRefType(), arg);
        } else {
            // A reference that points nowhere.
            const VARTYPE t = AnyRefType();
            V_VT(&arg) = static_cast<VARTYPE>(VT_BYREF | t);
            V_BYREF(&arg) = nullptr;
            d_ += "&null(" + Hex(t) + ")";
        }
    }

private:
    long long Integer() {
        static const long long kValues[] = {0,      1,          -1,         2,          3,      4,     5,
                                            16,     101,        121,        122,        123,    254,   255,
                                            256,    32766,      32767,      32768,      -32768, -32769, 49152,
                                            65535,  65536,      -16384,     0x7FFFFFFF, -2147483647LL - 1,
                                            0xFFFFFFFFLL, 1LL << 40, -(1LL << 62)};
        if (r_.Percent(75)) return r_.Pick(kValues);
        return static_cast<long long>(r_.Bits()) >> r_.Below(64);
    }
    double Real() {
        const double kValues[] = {0.0,     -0.0,    0.5,     1.5,      -0.5,     2.5,  32767.0,  32767.5,
                                  32768.0, -32768.5, 65535.0, 1e300,    -1e300,   1e-300,
                                  std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 49152.0, -16384.0, 121.0};
        if (r_.Percent(80)) return r_.Pick(kValues);
        return static_cast<double>(static_cast<long long>(r_.Bits() >> 12)) / 1024.0 - 1e12;
    }
    IDispatch *Dispatch() {
        switch (r_.Below(5)) {
        case 0: d_ += "Nothing"; return nullptr;
        case 1: d_ += "objectA"; w_.objectA.AddRef(); return &w_.objectA;
        case 2: d_ += "objectB"; w_.objectB.AddRef(); return &w_.objectB;
        default: {
            Target &t = w_.targets[r_.Below(w_.targets.size())];
            d_ += "instance:" + Narrow(t.info->name);
            if (t.object) t.object->AddRef();
            return t.object.Get();
        }
        }
    }
    IUnknown *Unknown() {
        switch (r_.Below(3)) {
        case 0: d_ += "null-unknown"; return nullptr;
        case 1: d_ += "unknownOnly"; w_.unknownOnly.AddRef(); return w_.unknownOnly.Unknown();
        default: d_ += "objectA-unknown"; w_.objectA.AddRef(); return w_.objectA.Unknown();
        }
    }
    SAFEARRAY *Array(VARTYPE element) {
        if (r_.Percent(8)) {
            d_ += "null";
            return nullptr;
        }
        const bool twoDims = r_.Percent(10);
        SAFEARRAYBOUND bounds[2];
        bounds[0].cElements = static_cast<ULONG>(r_.Below(6));
        bounds[0].lLbound = static_cast<LONG>(r_.Below(5)) - 2;
        bounds[1].cElements = 2;
        bounds[1].lLbound = 0;
        SAFEARRAY *array = SafeArrayCreate(element, twoDims ? 2 : 1, bounds);
        d_ += Hex(element) + "[" + std::to_string(bounds[0].cElements) + (twoDims ? "x2]" : "]");
        if (!array || twoDims) return array;
        for (LONG i = 0; i < static_cast<LONG>(bounds[0].cElements); ++i) {
            LONG index = bounds[0].lLbound + i;
            VARIANT value;
            std::string ignored;
            std::swap(ignored, d_);
            switch (element) {
            case VT_BSTR: {
                BSTR text = String();
                SafeArrayPutElement(array, &index, text);
                SysFreeString(text);
                break;
            }
            case VT_VARIANT: {
                Typed(r_.Percent(50) ? VT_I4 : (r_.Percent(50) ? VT_BSTR : VT_DISPATCH), value);
                SafeArrayPutElement(array, &index, &value);
                VariantClear(&value);
                break;
            }
            case VT_DISPATCH: {
                IDispatch *object = Dispatch();
                SafeArrayPutElement(array, &index, object);
                if (object) object->Release();
                break;
            }
            default: {
                LONGLONG number = Integer();
                SafeArrayPutElement(array, &index, &number); // the element's own width of it
                break;
            }
            }
            std::swap(ignored, d_);
        }
        return array;
    }

    BSTR Letters(size_t n) {
        std::wstring text(n, L'n');
        for (size_t i = 0; i < n; i += 1 + r_.Below(7)) text[i] = static_cast<wchar_t>(L'a' + r_.Below(26));
        d_ += "letters*" + std::to_string(n);
        return SysAllocStringLen(text.data(), static_cast<UINT>(n));
    }

    Random &r_;
    World &w_;
    CaseStore &store_;
    std::string &d_;
};

// ---------------------------------------------------------------------------------------------
// What a call may answer.
// ---------------------------------------------------------------------------------------------

// The component's runtime errors (facility CONTROL, the numbers scripts know).
bool IsRuntimeError(HRESULT hr) {
    if (SUCCEEDED(hr) || HRESULT_FACILITY(hr) != FACILITY_CONTROL) return false;
    switch (HRESULT_CODE(hr)) {
    case 5: case 6: case 7: case 13: case 91: case 326: case 429: case 438: case 453: return true;
    default: return false;
    }
}

// How a member fails towards its caller: a runtime error, or (only where no box can be shown)
// the message box's own failure.
bool IsMemberFailure(HRESULT hr, bool display) {
    if (IsRuntimeError(hr)) return true;
    return !display && FAILED(hr) && (HRESULT_FACILITY(hr) == FACILITY_WIN32 || hr == E_FAIL);
}

// The errors IDispatch::Invoke documents for a call that cannot be made as asked.
bool IsDispatchError(HRESULT hr) {
    switch (hr) {
    case DISP_E_MEMBERNOTFOUND: case DISP_E_BADPARAMCOUNT: case DISP_E_PARAMNOTFOUND: case DISP_E_TYPEMISMATCH:
    case DISP_E_OVERFLOW: case DISP_E_BADVARTYPE: case DISP_E_NONAMEDARGS: case DISP_E_PARAMNOTOPTIONAL:
        return true;
    default: return false;
    }
}

// The argument bound to parameter `index` (named, else positional), or null.
const VARIANT *BoundTo(const DISPPARAMS &params, UINT index) {
    for (UINT k = 0; k < params.cNamedArgs; ++k)
        if (params.rgdispidNamedArgs[k] == static_cast<DISPID>(index)) return &params.rgvarg[k];
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (index < positional) return &params.rgvarg[params.cArgs - 1 - index];
    return nullptr;
}

// The value an argument has as type t, as a binder coerces it (false when it cannot be).
bool Coerced(const VARIANT *arg, VARTYPE t, Variant &out) {
    const VARIANT *v = arg;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        if (!V_VARIANTREF(v)) return false;
        v = V_VARIANTREF(v);
    }
    if ((V_VT(v) & VT_BYREF) && !V_BYREF(v)) return false;
    Variant plain;
    if (FAILED(VariantCopyInd(plain.Get(), const_cast<VARIANT *>(v)))) return false;
    // A DECIMAL no automation value can be (Wine's conversion to a string reads beyond its digits).
    if (plain.Type() == VT_DECIMAL && (V_DECIMAL(plain.Get()).scale > 28 || (V_DECIMAL(plain.Get()).sign & 0x7F)))
        return false;
    return SUCCEEDED(VariantChangeType(out.Get(), plain.Get(), 0, t));
}

// The atoms the fuzzer has added to one table and not yet deleted, with how often.
struct AtomBook {
    bool global = false;
    std::map<ATOM, long> owned;

    bool Exists(ATOM atom) const {
        wchar_t name[300];
        return (global ? GlobalGetAtomNameW(atom, name, 300) : GetAtomNameW(atom, name, 300)) != 0;
    }
    ATOM Find(const std::string &ansi) const { return global ? GlobalFindAtomA(ansi.c_str()) : FindAtomA(ansi.c_str()); }
    void DeleteAll() {
        for (auto &[atom, count] : owned) {
            for (; count > 0; --count) {
                if (global)
                    GlobalDeleteAtom(atom);
                else
                    DeleteAtom(atom);
            }
        }
        owned.clear();
    }
};

AtomTable LocalAtoms() {
    AtomTable table;
    for (unsigned atom = 0xC000; atom <= 0xFFFF; ++atom) {
        wchar_t name[512];
        const UINT n = GetAtomNameW(static_cast<ATOM>(atom), name, 512);
        if (n) table.emplace(static_cast<ATOM>(atom), std::wstring(name, n));
    }
    return table;
}

// ---------------------------------------------------------------------------------------------
// A crash ends the process: say which case it was first.
// ---------------------------------------------------------------------------------------------

uint64_t g_seed = 0;
long long g_case = -1;
const std::string *g_description = nullptr;

LONG WINAPI SayWhichCase(EXCEPTION_POINTERS *exception) {
    // Where it happened: the module and the offset in it.
    void *address = exception ? exception->ExceptionRecord->ExceptionAddress : nullptr;
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (address && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<LPCSTR>(address), &module))
        GetModuleFileNameA(module, name, MAX_PATH);
    std::fprintf(stderr, "\nfuzz: CRASH at %s+0x%llX\n", name,
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(address) - reinterpret_cast<ULONG_PTR>(module)));
    std::fprintf(stderr, "fuzz: CRASH (exception 0x%08lX) in case %lld of seed 0x%llX: %s\n"
                         "fuzz: replay with ATOMTABLES_FUZZ_SEED=0x%llX ATOMTABLES_FUZZ_FIRST=%lld ATOMTABLES_FUZZ_CASES=1\n",
                 exception ? static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode) : 0ul, g_case,
                 static_cast<unsigned long long>(g_seed), g_description ? g_description->c_str() : "?",
                 static_cast<unsigned long long>(g_seed), g_case);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

// ---------------------------------------------------------------------------------------------
// The fuzzer.
// ---------------------------------------------------------------------------------------------

class Fuzzer {
public:
    Fuzzer(World &world, RecordingLibrary &library, uint64_t seed)
        : w_(world), library_(library), seed_(seed) {
        local_.global = false;
        global_.global = true;
    }

    void Run(long long first, long long count);
    void Finish();

    // Figures for the summary.
    long long cases = 0, invokes = 0, succeeded = 0, boxes = 0, reports = 0, recreated = 0, failures = 0;
    std::map<HRESULT, long long> outcomes;

private:
    void OneCase(long long index);
    void InvokeCase(Random &r, Target &target, std::string &d);
    void NamesCase(Random &r, Target &target, std::string &d);
    void TypeInfoCase(Random &r, Target &target, std::string &d);
    void Recreate(Target &target);
    void CheckNeighbours(const std::string &d);
    void Fail(const std::string &what, const std::string &d);
    const MemberInfo *MemberOf(const Target &t, DISPID id, WORD flags) const;

    World &w_;
    RecordingLibrary &library_;
    uint64_t seed_;
    long long index_ = 0;
    AtomBook local_, global_;
    size_t boxesSeen_ = 0;
    BoxWatcher watcher_;
};

void Fuzzer::Fail(const std::string &what, const std::string &d) {
    ++failures;
    if (failures > 20) return;
    ADD_FAILURE() << what << "\n  case " << index_ << " of seed " << Hex(seed_) << ": " << d
                  << "\n  replay: ATOMTABLES_FUZZ_SEED=" << Hex(seed_) << " ATOMTABLES_FUZZ_FIRST=" << index_
                  << " ATOMTABLES_FUZZ_CASES=1";
}

void Fuzzer::Recreate(Target &target) {
    target.object.Reset();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(target.info->progId.c_str(), &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void **>(target.object.GetAddressOf()));
    if (FAILED(hr)) Fail("creating " + Narrow(target.info->progId) + " failed: " + Hex(static_cast<unsigned long>(hr)), "");
    ++recreated;
}

void Fuzzer::Run(long long first, long long count) {
    const std::string none;
    for (long long i = first; i < first + count; ++i) {
        OneCase(i);
        if (failures > 20) {
            ADD_FAILURE() << "stopped after " << failures << " failures";
            break;
        }
    }
    g_description = &none;
    g_case = -1;
}

void Fuzzer::OneCase(long long index) {
    index_ = index;
    g_case = index;
    ++cases;
    Random r(SplitMix(seed_ ^ SplitMix(static_cast<uint64_t>(index))));
    std::string d;
    d.reserve(256);
    g_description = &d;

    // The instance: weighted by its class's members, so that every member gets its share (a class
    // without members counts as one).
    size_t weights = 0;
    for (const Target &t : w_.targets) weights += std::max<size_t>(t.info->members.size(), 1);
    size_t pick = r.Below(weights);
    Target *target = &w_.targets.front();
    for (Target &t : w_.targets) {
        const size_t weight = std::max<size_t>(t.info->members.size(), 1);
        if (pick < weight) {
            target = &t;
            break;
        }
        pick -= weight;
    }
    d += Narrow(target->info->name) + " ";
    if (r.Percent(1) || !target->object) {
        d += "(new instance) ";
        Recreate(*target);
        CheckNeighbours(d);
        if (!target->object) return;
    }
    const size_t kind = r.Below(100);
    if (kind < 4)
        NamesCase(r, *target, d);
    else if (kind < 5)
        TypeInfoCase(r, *target, d);
    else
        InvokeCase(r, *target, d);
    CheckNeighbours(d);
}

const MemberInfo *Fuzzer::MemberOf(const Target &t, DISPID id, WORD) const {
    for (const MemberInfo &m : t.info->members)
        if (m.id == id) return &m;
    return nullptr;
}

void Fuzzer::InvokeCase(Random &r, Target &target, std::string &d) {
    const ClassInfo &info = *target.info;
    CaseStore store;
    Maker make(r, w_, store, d);

    // The member: one of the class's, one of another class's, or an identifier nobody has.
    const MemberInfo *member = nullptr;
    DISPID id;
    const size_t which = r.Below(100);
    if (which < 80 && !info.members.empty()) {
        member = &info.members[r.Below(info.members.size())];
        id = member->id;
    } else if (which < 88 && !w_.allIds.empty()) {
        id = w_.allIds[r.Below(w_.allIds.size())];
    } else {
        static const DISPID kOdd[] = {DISPID_VALUE, DISPID_UNKNOWN, DISPID_PROPERTYPUT, DISPID_NEWENUM,
                                      DISPID_EVALUATE, 0x60000000, 0x60000003, 0x60010000, 0x60020002,
                                      0x68030005, 0x60030000, 0x60030010, 1, 0x7FFFFFFF, static_cast<DISPID>(0x80000000)};
        id = r.Percent(70) ? r.Pick(kOdd) : static_cast<DISPID>(r.Bits());
    }
    const MemberInfo *known = MemberOf(target, id, 0);
    d += "id " + Hex(static_cast<unsigned long>(id)) + (known ? " (" + Narrow(known->name) + ")" : "");

    // Flags: those of the member, or anything.
    WORD flags;
    const size_t flagRoll = r.Below(100);
    if (member && flagRoll < 60) {
        switch (member->kind) {
        case INVOKE_FUNC: flags = r.Percent(50) ? DISPATCH_METHOD : DISPATCH_METHOD | DISPATCH_PROPERTYGET; break;
        case INVOKE_PROPERTYGET: flags = r.Percent(50) ? DISPATCH_PROPERTYGET : DISPATCH_METHOD | DISPATCH_PROPERTYGET; break;
        case INVOKE_PROPERTYPUT: flags = DISPATCH_PROPERTYPUT; break;
        default: flags = r.Percent(50) ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF; break;
        }
    } else if (flagRoll < 95) {
        flags = static_cast<WORD>(r.Below(16));
    } else {
        flags = static_cast<WORD>(r.Bits());
    }
    d += " flags " + Hex(flags);

    // Arguments: as many as the member has, or any number up to 12; some named.
    const UINT memberParams = member ? static_cast<UINT>(member->params.size()) : 0;
    UINT count;
    const size_t countRoll = r.Below(100);
    if (member && countRoll < 50)
        count = memberParams;
    else if (member && countRoll < 65)
        count = static_cast<UINT>(r.Below(memberParams + 1));
    else
        count = static_cast<UINT>(r.Below(kMaxArgs + 1));
    UINT named = 0;
    if (count && r.Percent(20)) named = 1 + static_cast<UINT>(r.Below(count));

    // rgvarg and the named identifiers, each between two sentinels the callee must not touch.
    std::vector<VARIANTARG> argSpace(count + 2);
    std::vector<DISPID> namedSpace(named + 2, static_cast<DISPID>(0x5A5A5A5A));
    for (VARIANTARG &s : argSpace) {
        V_VT(&s) = VT_I4;
        V_I4(&s) = 0x5A5A5A5A;
    }
    VARIANTARG *rgvarg = argSpace.data() + 1;
    DISPID *namedIds = namedSpace.data() + 1;
    for (UINT k = 0; k < named; ++k) {
        const size_t roll = r.Below(100);
        if (roll < 35)
            namedIds[k] = DISPID_PROPERTYPUT;
        else if (roll < 85)
            namedIds[k] = static_cast<DISPID>(r.Below(memberParams + 2));
        else
            namedIds[k] = static_cast<DISPID>(r.Bits());
    }
    store.args.resize(count);
    d += " args[";
    for (UINT k = 0; k < count; ++k) {
        // rgvarg lists the positional arguments last to first, after the named ones.
        const UINT position = k < named ? (namedIds[k] >= 0 ? static_cast<UINT>(namedIds[k]) : memberParams)
                                        : count - 1 - k;
        const ParamInfo *param = member && position < memberParams ? &member->params[position] : nullptr;
        if (k) d += ", ";
        if (k < named) d += "#" + std::to_string(namedIds[k]) + "=";
        make.Argument(param, store.args[k].original);
        rgvarg[k] = store.args[k].original;
        ArgRecord &rec = store.args[k];
        if (V_VT(&rec.original) == VT_BSTR) {
            rec.byValueString = true;
            rec.stringPointer = V_BSTR(&rec.original);
            rec.stringByteLength = SysStringByteLen(rec.stringPointer);
            rec.stringBytes.assign(rec.stringPointer ? rec.stringPointer : L"", SysStringLen(rec.stringPointer));
        }
    }
    d += "]";
    if (named) d += " named " + std::to_string(named);

    DISPPARAMS params{rgvarg, namedIds, count, named};
    DISPPARAMS *paramsPointer = &params;
    const size_t shapeRoll = r.Below(100);
    if (shapeRoll < 2) {
        paramsPointer = nullptr;
        d += " params=null";
    } else if (shapeRoll < 3 && count) {
        params.rgvarg = nullptr;
        d += " rgvarg=null";
    } else if (shapeRoll < 4) {
        params.cNamedArgs = count + 1 + static_cast<UINT>(r.Below(3));
        d += " too-many-named";
    } else if (shapeRoll < 5 && named) {
        params.rgdispidNamedArgs = nullptr;
        d += " named-ids=null";
    }
    const bool wantResult = !r.Percent(10), wantException = !r.Percent(10), wantArgError = !r.Percent(10);
    IID riid = IID_NULL;
    if (r.Percent(2)) {
        riid = IID_IDispatch;
        d += " riid=IDispatch";
    }
    const LCID lcid = r.Percent(80) ? LOCALE_USER_DEFAULT : static_cast<LCID>(r.Bits());
    if (!wantResult) d += " result=null";
    if (!wantException) d += " excepinfo=null";
    if (!wantArgError) d += " argerr=null";

    const bool validShape = paramsPointer && (params.cArgs == 0 || params.rgvarg) && params.cNamedArgs <= params.cArgs &&
                            (params.cNamedArgs == 0 || params.rgdispidNamedArgs);

    // Atom tables: the fuzzer deletes only atoms it added itself (or that do not exist), so that
    // nothing else in the process or the prefix loses one; what it adds it books.
    const bool adding = known && known->name.find(L"AddAtom") != std::wstring::npos;
    const bool deleting = known && known->name.find(L"DeleteAtom") != std::wstring::npos;
    AtomBook &book = known && known->name.rfind(L"Global", 0) == 0 ? global_ : local_;
    std::string ansiName;
    bool predictedName = false;
    ATOM deleted = 0;
    const bool mayReach = riid == IID_NULL && validShape && known && (known->kind & flags);
    if (mayReach && (adding || deleting)) {
        const VARIANT *first = BoundTo(params, 0);
        if (first && adding) {
            Variant name;
            if (Coerced(first, VT_BSTR, name) && SysStringLen(V_BSTR(name.Get())) <= 255) {
                const UINT n = SysStringLen(V_BSTR(name.Get()));
                const int bytes = n ? WideCharToMultiByte(CP_ACP, 0, V_BSTR(name.Get()), static_cast<int>(n), nullptr, 0,
                                                          nullptr, nullptr)
                                    : 0;
                ansiName.assign(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
                if (bytes > 0)
                    WideCharToMultiByte(CP_ACP, 0, V_BSTR(name.Get()), static_cast<int>(n), ansiName.data(), bytes,
                                        nullptr, nullptr);
                predictedName = true;
            }
        }
        if (first && deleting) {
            Variant number;
            if (Coerced(first, VT_I2, number)) {
                const ATOM atom = static_cast<ATOM>(V_I2(number.Get()));
                if (atom >= 0xC000 && book.owned[atom] <= 0 && book.Exists(atom)) {
                    // Not ours: the call gets atom 0 instead.
                    const UINT slot = static_cast<UINT>(first - params.rgvarg);
                    V_VT(&rgvarg[slot]) = VT_I2;
                    V_I2(&rgvarg[slot]) = 0;
                    store.args[slot].byValueString = false;
                    d += " (atom " + Hex(atom) + " is not the fuzzer's: 0 instead)";
                } else if (atom >= 0xC000) {
                    deleted = atom;
                }
            }
        }
    }
    std::vector<VARIANTARG> sentArgs(argSpace.begin(), argSpace.end());
    const std::vector<DISPID> sentNamed(namedSpace);

    struct Outputs {
        Guard<16> a;
        VARIANT result;
        Guard<16> b;
        EXCEPINFO exception;
        Guard<16> c;
        UINT argError;
        Guard<16> e;
    } out;
    VariantInit(&out.result);
    out.exception = EXCEPINFO{};
    out.argError = kArgErrorUntouched;

    ++invokes;
    const HRESULT hr = target.object->Invoke(id, riid, lcid, flags, paramsPointer, wantResult ? &out.result : nullptr,
                                            wantException ? &out.exception : nullptr,
                                            wantArgError ? &out.argError : nullptr);
    ++outcomes[hr];
    if (hr == S_OK) ++succeeded;
    d += " -> " + Hex(static_cast<unsigned long>(hr));

    // Nothing beyond what the callee may write changed.
    if (!out.a.Intact() || !out.b.Intact() || !out.c.Intact() || !out.e.Intact())
        Fail("a write beyond the result, exception or argument-error pointer", d);
    if (std::memcmp(sentArgs.data(), argSpace.data(), sentArgs.size() * sizeof(VARIANTARG)) != 0)
        Fail("rgvarg (or the memory around it) was changed: arguments are the caller's", d);
    if (sentNamed != namedSpace) Fail("the named identifiers (or the memory around them) were changed", d);
    for (const ArgRecord &rec : store.args) {
        if (!rec.byValueString) continue;
        if (SysStringByteLen(rec.stringPointer) != rec.stringByteLength ||
            std::wstring(rec.stringPointer ? rec.stringPointer : L"", SysStringLen(rec.stringPointer)) != rec.stringBytes)
            Fail("a string passed by value was changed", d);
    }
    for (const Cell &cell : store.cells)
        if (!cell.Intact()) Fail("a write beyond a value passed by reference", d);

    // The answer has its documented meaning.
    const bool knownId = known != nullptr;
    if (riid != IID_NULL) {
        if (hr != DISP_E_UNKNOWNINTERFACE) Fail("an interface other than IID_NULL must give DISP_E_UNKNOWNINTERFACE", d);
    } else if (!validShape) {
        if (hr != E_INVALIDARG) Fail("null or inconsistent DISPPARAMS must give E_INVALIDARG", d);
    } else if (!knownId) {
        if (hr != DISP_E_MEMBERNOTFOUND) Fail("an identifier the class does not have must give DISP_E_MEMBERNOTFOUND", d);
    } else if (hr == DISP_E_EXCEPTION) {
        if (!wantException) Fail("DISP_E_EXCEPTION without an EXCEPINFO to fill", d);
        if (!IsMemberFailure(out.exception.scode, w_.display))
            Fail("EXCEPINFO carries " + Hex(static_cast<unsigned long>(out.exception.scode)) +
                     ", which is no failure a member has",
                 d);
        if (!out.exception.bstrSource || !SysStringLen(out.exception.bstrSource) || !out.exception.bstrDescription ||
            !SysStringLen(out.exception.bstrDescription))
            Fail("EXCEPINFO without source or description", d);
        if (out.exception.wCode || out.exception.pfnDeferredFillIn) Fail("EXCEPINFO with wCode or a deferred fill-in", d);
    } else if (hr != S_OK && !IsDispatchError(hr) && !(IsMemberFailure(hr, w_.display) && !wantException)) {
        Fail("an HRESULT without a documented meaning here", d);
    }
    if (hr != DISP_E_EXCEPTION && wantException &&
        (out.exception.bstrSource || out.exception.bstrDescription || out.exception.bstrHelpFile || out.exception.scode))
        Fail("EXCEPINFO filled although the call did not answer DISP_E_EXCEPTION", d);
    if (wantArgError && out.argError != kArgErrorUntouched) {
        const bool aboutAnArgument = hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_OVERFLOW ||
                                     hr == DISP_E_BADVARTYPE;
        if (!aboutAnArgument || out.argError >= count) Fail("argument error set to " + std::to_string(out.argError), d);
    }
    if (wantResult) {
        const VARTYPE got = V_VT(&out.result);
        if (FAILED(hr) && got != VT_EMPTY) Fail("a failed call left a result", d);
        if (hr == S_OK && known) {
            bool fits = false;
            for (const MemberInfo &m : target.info->members) {
                if (m.id != id) continue;
                fits = fits || m.result == VT_VARIANT || got == m.result || (m.result == VT_DISPATCH && got == VT_DISPATCH);
            }
            if (!fits) Fail("the result's type " + Hex(got) + " is none the member returns", d);
        }
    }

    // The atoms the call added, and the one it deleted.
    if (hr == S_OK && adding && predictedName) {
        const ATOM atom = book.Find(ansiName);
        if (atom >= 0xC000) ++book.owned[atom];
        if (wantResult && V_VT(&out.result) == VT_I4 && V_I4(&out.result) != 0 &&
            static_cast<ATOM>(V_I4(&out.result)) != atom)
            Fail("the atom returned (" + Hex(static_cast<unsigned long>(V_I4(&out.result))) +
                     ") is not the one the name has (" + Hex(atom) + ")",
                 d);
    }
    if (hr == S_OK && deleting && deleted && book.owned[deleted] > 0) --book.owned[deleted];

    Bstr source = Bstr::Attach(out.exception.bstrSource);
    Bstr description = Bstr::Attach(out.exception.bstrDescription);
    Bstr help = Bstr::Attach(out.exception.bstrHelpFile);
    VariantClear(&out.result);
}

void Fuzzer::NamesCase(Random &r, Target &target, std::string &d) {
    const ClassInfo &info = *target.info;
    static const wchar_t *const kOther[] = {L"", L"NoSuchMember", L"iSizeToCopy", L"isizetocopy", L"lResId",
                                            L"oNewValue", L"TestA", L"AddAtomAmts ", L"\u00C4tom", L"Invoke",
                                            L"QueryInterface"};
    std::vector<std::wstring> names;
    const UINT count = static_cast<UINT>(r.Below(4));
    for (UINT i = 0; i < count; ++i) {
        std::wstring name;
        if (!info.members.empty() && r.Percent(60)) {
            name = info.members[r.Below(info.members.size())].name;
            for (wchar_t &c : name)
                if (r.Percent(30)) c = static_cast<wchar_t>(std::iswupper(c) ? std::towlower(c) : std::towupper(c));
        } else {
            name = r.Pick(kOther);
        }
        names.push_back(name);
    }
    std::vector<LPOLESTR> pointers;
    for (std::wstring &name : names) pointers.push_back(r.Percent(5) ? nullptr : name.data());
    struct {
        Guard<16> a;
        DISPID ids[4];
        Guard<16> b;
    } out;
    for (DISPID &i : out.ids) i = 0x5A5A5A5A;
    const IID riid = r.Percent(5) ? IID_IUnknown : IID_NULL;
    LPOLESTR *namesPointer = r.Percent(3) ? nullptr : pointers.data();
    DISPID *idsPointer = r.Percent(3) ? nullptr : out.ids;
    d += "GetIDsOfNames(";
    for (UINT i = 0; i < count; ++i) d += (pointers[i] ? "\"" + Narrow(names[i]) + "\"" : std::string("null")) + ", ";
    d += std::to_string(count) + " names" + (namesPointer ? "" : ", names=null") +
         (idsPointer ? "" : ", ids=null") + (riid == IID_NULL ? "" : ", riid") + ")";
    const HRESULT hr = target.object->GetIDsOfNames(riid, count ? namesPointer : pointers.data(), count,
                                                    LOCALE_USER_DEFAULT, idsPointer);
    d += " -> " + Hex(static_cast<unsigned long>(hr));
    ++outcomes[hr];
    if (!out.a.Intact() || !out.b.Intact()) Fail("GetIDsOfNames wrote beyond the identifiers", d);
    for (UINT i = count; i < 4; ++i)
        if (out.ids[i] != 0x5A5A5A5A) Fail("GetIDsOfNames wrote more identifiers than names", d);
    if (hr != S_OK && hr != DISP_E_UNKNOWNNAME && hr != DISP_E_UNKNOWNINTERFACE && hr != E_INVALIDARG)
        Fail("GetIDsOfNames answered an HRESULT without a documented meaning", d);
    if (hr == S_OK && count && idsPointer) {
        bool member = false;
        for (const MemberInfo &m : info.members) member = member || m.id == out.ids[0];
        for (DISPID listed : info.dispatchIds) member = member || listed == out.ids[0];
        if (!member) Fail("GetIDsOfNames gave " + Hex(static_cast<unsigned long>(out.ids[0])) + ", which the class does not have", d);
    }
}

void Fuzzer::TypeInfoCase(Random &r, Target &target, std::string &d) {
    UINT count = 7;
    const bool nullCount = r.Percent(30);
    HRESULT hr = target.object->GetTypeInfoCount(nullCount ? nullptr : &count);
    d += "GetTypeInfoCount -> " + Hex(static_cast<unsigned long>(hr));
    if (nullCount ? hr != E_POINTER && hr != E_INVALIDARG : (hr != S_OK || count != 1))
        Fail("GetTypeInfoCount", d);
    ComPtr<ITypeInfo> info;
    const UINT index = r.Percent(50) ? 0 : static_cast<UINT>(r.Bits());
    const bool nullInfo = r.Percent(20);
    hr = target.object->GetTypeInfo(index, LOCALE_USER_DEFAULT, nullInfo ? nullptr : info.GetAddressOf());
    d += "; GetTypeInfo(" + std::to_string(index) + (nullInfo ? ", null" : "") + ") -> " +
         Hex(static_cast<unsigned long>(hr));
    if (nullInfo ? hr != E_POINTER && hr != E_INVALIDARG
                 : (index == 0 ? hr != S_OK || !info : hr != DISP_E_BADINDEX || info))
        Fail("GetTypeInfo", d);
}

void Fuzzer::CheckNeighbours(const std::string &d) {
    // Every report names a member of the component; every library instance lived for one call.
    for (const testing_support::RecordedCall &call : library_.Calls()) {
        if (call.method == L"ErrorHandlerMessageQx") {
            ++reports;
            if (call.args.size() != 8 || !w_.reportSources.count(call.args[3].text) ||
                call.args[7].scode != DISP_E_PARAMNOTFOUND)
                Fail("a report with source \"" + (call.args.size() > 3 ? Narrow(call.args[3].text) : "?") +
                         "\" or arguments no report has",
                     d);
        } else if (call.method != L"EnsureQxEnvironmentStatus" && call.method != L"AppAboutQxel") {
            Fail("a call of " + Narrow(call.method) + " on the common library", d);
        }
    }
    library_.Clear();
    if (library_.Alive() != 0) Fail("an instance of the common library outlived its call", d);

    // The test's objects: only the buddy slot may keep one.
    const long held = w_.objectA.Held() + w_.objectB.Held() + w_.unknownOnly.Held();
    if (held < 0 || held > 1)
        Fail("the test's objects are referenced " + std::to_string(held) + " times after the call", d);

    // Message boxes: only the component's two, and none where none can be shown.
    const auto &seen = watcher_.Boxes();
    for (; boxesSeen_ < seen.size(); ++boxesSeen_) {
        ++boxes;
        const testing_support::Box &box = seen[boxesSeen_];
        const bool lengthBox = box.caption == w_.lengthTitle && box.text == w_.lengthText;
        if (!lengthBox && box.text != L"TestA") Fail("a message box \"" + Narrow(box.text) + "\"", d);
    }
    if (!w_.display && !seen.empty()) Fail("a message box appeared without a display", d);
}

void Fuzzer::Finish() {
    const std::string d = "the end";
    for (Target &t : w_.targets) t.object.Reset();
    // A parked object (an instance of the component in its own thread's slot keeps the thread's
    // state) is the client's to take out: empty the slot through every class that has one.
    for (const ClassInfo &c : w_.classes) {
        if (!c.creatable || c.progId.empty()) continue;
        for (const MemberInfo &m : c.members) {
            if (m.kind != INVOKE_PROPERTYPUTREF) continue;
            ComPtr<IDispatch> object;
            ASSERT_EQ(S_OK, testing_support::TryCreate(c.progId.c_str(), object));
            VARIANT nothing;
            V_VT(&nothing) = VT_DISPATCH;
            V_DISPATCH(&nothing) = nullptr;
            DISPID put = DISPID_PROPERTYPUT;
            DISPPARAMS params{&nothing, &put, 1, 1};
            EXPECT_EQ(S_OK, object->Invoke(m.id, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr, nullptr));
        }
    }
    CheckNeighbours(d);
    local_.DeleteAll();
    global_.DeleteAll();
}

// Builds the world: the classes from the type library, two instances of each creatable one.
void Build(World &w) {
    w.classes = ReadClasses();
    ASSERT_FALSE(w.classes.empty()) << "the type library lists no classes";
    for (const ClassInfo &c : w.classes) {
        for (const MemberInfo &m : c.members) {
            w.allIds.push_back(m.id);
            w.reportSources.insert(L"czAtomTables." + m.name);
        }
        if (!c.creatable) {
            ComPtr<IDispatch> object;
            EXPECT_NE(S_OK, CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             reinterpret_cast<void **>(object.GetAddressOf())))
                << Narrow(c.name) << " is not creatable";
            continue;
        }
        EXPECT_FALSE(c.progId.empty()) << Narrow(c.name) << " has no registered ProgID";
        if (c.progId.empty()) continue;
        for (int i = 0; i < 2; ++i) {
            Target t;
            t.info = &c;
            ASSERT_EQ(S_OK, testing_support::TryCreate(c.progId.c_str(), t.object)) << Narrow(c.progId);
            w.targets.push_back(std::move(t));
        }
    }
    w.reportSources.insert(L"basQxelCommonA.EnsureQxEnvironmentStatus_Pro");
    w.reportSources.insert(L"basQxelCommonA.AppAboutQxel_Pro");
    ASSERT_FALSE(w.targets.empty());
}

// The over-long name box's texts, read through the component itself.
void ReadBoxTexts(World &w) {
    for (const Target &t : w.targets) {
        ComPtr<_clsQxAtomTables10A> tables;
        if (FAILED(t.object.As(&tables))) continue;
        LONG id = 121;
        Bstr text;
        ASSERT_EQ(S_OK, tables->get_GetProResStrings(&id, text.Receive()));
        w.lengthText = text.View();
        id = 122;
        ASSERT_EQ(S_OK, tables->get_GetProResStrings(&id, text.Receive()));
        w.lengthTitle = text.View();
        return;
    }
}

// Every member called once the plain way (zeros, a name over 255 characters, no object) before
// the atom tables are looked at: whatever the platform creates lazily on first use (windows,
// classes, input methods for a message box) exists by then.
void WarmUp(World &w, RecordingLibrary &library) {
    BoxWatcher watcher;
    for (Target &t : w.targets) {
        for (const MemberInfo &m : t.info->members) {
            std::vector<VARIANTARG> args(m.params.size());
            std::vector<Bstr> names;
            for (size_t p = 0; p < m.params.size(); ++p) {
                VARIANTARG &a = args[m.params.size() - 1 - p];
                VariantInit(&a);
                switch (m.params[p].type) {
                case VT_BSTR:
                    names.emplace_back(std::wstring(256, L'w'));
                    V_VT(&a) = VT_BSTR;
                    V_BSTR(&a) = names.back().Get();
                    break;
                case VT_DISPATCH: case VT_UNKNOWN: V_VT(&a) = VT_DISPATCH; V_DISPATCH(&a) = nullptr; break;
                case VT_VARIANT: V_VT(&a) = VT_I4; V_I4(&a) = 16; break;
                default: V_VT(&a) = VT_I2; V_I2(&a) = 0; break;
                }
            }
            const bool assigning = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
            DISPID put = DISPID_PROPERTYPUT;
            DISPPARAMS params{args.data(), assigning ? &put : nullptr, static_cast<UINT>(args.size()),
                              assigning ? 1u : 0u};
            Variant result;
            EXCEPINFO exception{};
            const WORD flags = m.kind == INVOKE_FUNC ? DISPATCH_METHOD : static_cast<WORD>(m.kind);
            t.object->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Get(), &exception, nullptr);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
    }
    library.Clear();
}

} // namespace

TEST(Fuzz, EveryCallAnswersAsDocumentedAndLeavesNothingBehind) {
    const uint64_t seed = EnvSeed(L"ATOMTABLES_FUZZ_SEED", kDefaultSeed);
    const long long count = EnvCount({L"ATOMTABLES_FUZZ_CASES", L"ATOMTABLES_FUZZ_CI_CASES"}, kDefaultCases);
    const long long first = EnvCount({L"ATOMTABLES_FUZZ_FIRST"}, 0);
    g_seed = seed;
    std::printf("fuzz: seed 0x%llX, cases %lld to %lld, %s\n", static_cast<unsigned long long>(seed), first,
                first + count - 1, HaveDisplay() ? "with a display" : "without a display");
    std::fflush(stdout);
    SetUnhandledExceptionFilter(SayWhichCase);

    RecordingLibrary library;
    // The world outlives the test if the component kept a reference to one of its objects.
    auto *world = new World;
    world->display = HaveDisplay();
    Build(*world);
    if (HasFatalFailure()) return;
    ReadBoxTexts(*world);
    WarmUp(*world, library);
    const AtomTable globalBefore = GlobalAtoms();
    const AtomTable localBefore = LocalAtoms();
    const DWORD start = GetTickCount();
    {
        CanUnloadNowFn canUnloadNow = ComponentCanUnloadNow();
        ASSERT_TRUE(canUnloadNow) << "the component is not loaded";
        HMODULE pinned = LoadLibraryW(testing_support::ComponentPath().c_str()); // kept loaded for the end
        EXPECT_EQ(S_FALSE, canUnloadNow()) << "instances are alive";

        Fuzzer fuzzer(*world, library, seed);
        fuzzer.Run(first, count);
        fuzzer.Finish();

        const long held = world->objectA.Held() + world->objectB.Held() + world->unknownOnly.Held();
        EXPECT_EQ(0, held) << "references to the test's objects were kept";
        EXPECT_EQ(0, library.Alive());
        EXPECT_EQ(S_OK, canUnloadNow()) << "objects of the component are still alive after " << fuzzer.cases << " cases";
        if (pinned) FreeLibrary(pinned);
        if (held == 0) delete world;

        std::printf("fuzz: %lld cases (%lld Invoke calls, %lld S_OK) in %lu ms; %lld message boxes dismissed, %lld "
                    "reports, %lld instances created anew; %lld failures\n",
                    fuzzer.cases, fuzzer.invokes, fuzzer.succeeded, GetTickCount() - start, fuzzer.boxes,
                    fuzzer.reports, fuzzer.recreated, fuzzer.failures);
        std::printf("fuzz: answers:");
        for (const auto &[hr, n] : fuzzer.outcomes) std::printf(" %s x%lld", Hex(static_cast<unsigned long>(hr)).c_str(), n);
        std::printf("\n");
    }
    const AtomTable globalAfter = GlobalAtoms();
    const AtomTable localAfter = LocalAtoms();
    EXPECT_EQ(globalBefore, globalAfter) << "the global atom table changed:\n" << AtomDiff(globalBefore, globalAfter);
    EXPECT_EQ(localBefore, localAfter) << "the local atom table changed:\n" << AtomDiff(localBefore, localAfter);
    std::printf("fuzz: atom tables as before (global %zu atoms, local %zu)\n", globalAfter.size(), localAfter.size());
}
