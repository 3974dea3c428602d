#include "clsQxAtomTables10A.h"

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>

#include "modules/basQxAtomTables10A.h"
#include "modules/basQxelCommonA.h"
#include "modules/trap.h"
#include "runtime/ansi.h"
#include "runtime/message_box.h"
#include "runtime/module.h"
#include "runtime/resources.h"

namespace {

using namespace std::string_view_literals;
using basQxAtomTables10A::kNameBufferLength;

// The class's identity code as the traps' views take it. A view made here, and the members' names
// as sv literals, have their lengths fixed at compile time; a view made from a plain wide literal at
// run time measures it with wcslen on every call.
constexpr std::wstring_view kClassCode = clsQxAtomTables10A::kIdentityCode;

// The longest name the adding members accept, counted in characters of the caller's string.
constexpr UINT kMaxAtomName = 255;
// Strings of the message table: the over-long name box's prompt and title.
constexpr long kLengthMessageId = 121;
constexpr long kLengthTitleId = 122;
// The name buffer and its terminator: the most positions the platform is ever offered.
constexpr int kNameBufferPositions = static_cast<int>(kNameBufferLength) + 1;

using NameFunction = HRESULT (*)(LPCSTR, ATOM &);
using AtomFunction = HRESULT (*)(ATOM, ATOM &);
using NameReader = HRESULT (*)(ATOM, LPSTR, int, UINT &);

// Platform atoms and statuses are 16 bits; callers get them sign-extended, never masked.
LONG Widen(WORD value) { return static_cast<LONG>(static_cast<short>(value)); }

// True when the caller's string already is exactly `text` (and an ordinary string: not null, a
// whole number of characters long).
bool Holds(BSTR current, std::wstring_view text) {
    return current && SysStringByteLen(current) == text.size() * sizeof(wchar_t) &&
           std::equal(text.begin(), text.end(), current);
}

// Hands the caller's name to the platform in the ANSI code page and replaces the caller's string
// with its ANSI round trip. A caller's string that already holds the round trip's text is left in
// place rather than replaced by an equal copy: the caller cannot tell the two apart.
HRESULT CallWithAnsiName(NameFunction function, BSTR *sAtomName, LONG *result) {
    // The string's length in bytes, read once: its characters (as SysStringLen counts them), and
    // whether it is a whole number of characters long.
    const UINT bytes = SysStringByteLen(*sAtomName);
    const std::wstring_view name(*sAtomName ? *sAtomName : L"", bytes / sizeof(wchar_t));
    rt::ansi::AnsiText ansi;
    HRESULT hr = rt::ansi::FromWide(name, ansi);
    if (FAILED(hr)) return hr;
    ATOM atom = 0;
    hr = function(ansi.data(), atom);
    if (FAILED(hr)) return hr;
    if (ansi.Identity()) {
        // Converting back gives `name` itself, which the caller's string holds unless it is null or
        // not a whole number of characters long.
        if (!*sAtomName || bytes != name.size() * sizeof(wchar_t)) {
            rt::Bstr replacement(name);
            if (!replacement.Allocated()) return rt::Raise(rt::RtError::OutOfMemory);
            SysFreeString(*sAtomName);
            *sAtomName = replacement.Detach();
        }
    } else {
        rt::ansi::WideText roundTrip;
        hr = rt::ansi::ToWide(ansi.View(), roundTrip);
        if (FAILED(hr)) return hr;
        if (!Holds(*sAtomName, roundTrip.View())) {
            rt::Bstr replacement(roundTrip.View());
            if (!replacement.Allocated()) return rt::Raise(rt::RtError::OutOfMemory);
            SysFreeString(*sAtomName);
            *sAtomName = replacement.Detach();
        }
    }
    *result = Widen(atom);
    return S_OK;
}

HRESULT ShowLengthMessage() {
    rt::Bstr prompt, title;
    HRESULT hr = rt::resources::LoadString(rt::module::Instance(), kLengthMessageId, prompt.Receive());
    if (SUCCEEDED(hr)) hr = rt::resources::LoadString(rt::module::Instance(), kLengthTitleId, title.Receive());
    if (FAILED(hr)) return hr;
    return rt::MsgBox(prompt.View(), MB_OK | MB_ICONINFORMATION, title.View(), nullptr);
}

HRESULT AddName(NameFunction add, std::wstring_view member, BSTR *sAtomName, LONG *result) {
    if (!sAtomName || !result) return rt::Raise(E_POINTER);
    *result = 0;
    Trap trap(kClassCode, member);
    bool tooLong = false;
    trap.Run([&] {
        tooLong = SysStringLen(*sAtomName) > kMaxAtomName;
        return S_OK;
    });
    if (tooLong) {
        trap.Run([&] { return ShowLengthMessage(); });
        return trap.Result();
    }
    trap.Run([&] { return CallWithAnsiName(add, sAtomName, result); });
    return trap.Result();
}

HRESULT FindName(NameFunction find, std::wstring_view member, BSTR *sAtomName, LONG *result) {
    if (!sAtomName || !result) return rt::Raise(E_POINTER);
    *result = 0;
    Trap trap(kClassCode, member);
    trap.Run([&] { return CallWithAnsiName(find, sAtomName, result); });
    return trap.Result();
}

HRESULT DeleteNumber(AtomFunction remove, std::wstring_view member, const short *iAtomNumber, LONG *result) {
    if (!iAtomNumber || !result) return rt::Raise(E_POINTER);
    *result = 0;
    Trap trap(kClassCode, member);
    trap.Run([&] {
        ATOM status = 0;
        HRESULT hr = remove(static_cast<ATOM>(*iAtomNumber), status);
        if (SUCCEEDED(hr)) *result = Widen(status);
        return hr;
    });
    return trap.Result();
}

// Reads an atom's name into the thread's name buffer and returns the whole buffer.
HRESULT ReadName(NameReader read, std::wstring_view member, const short *iAtomNumber, short *iSizeToCopy,
                     short *iCharactersCopied, BSTR *result) {
    if (!iAtomNumber || !result) return rt::Raise(E_POINTER);
    *result = nullptr;
    Trap trap(kClassCode, member);
    // The thread's buffer comes into being with the thread's first read; without it nothing else
    // can run, and the result stays empty.
    basQxAtomTables10A::Variables *variables = nullptr;
    if (!trap.Run([&] {
            variables = &basQxAtomTables10A::Thread();
            return S_OK;
        }))
        return trap.Result();
    auto &buffer = variables->sAtomNameBuffer;
    // An omitted size reads as 0 and is not written back.
    short size = iSizeToCopy ? *iSizeToCopy : 0;

    trap.Run([&] {
        if (size == 0) {
            size = static_cast<short>(kNameBufferLength);
        } else {
            if (size == SHRT_MAX) return rt::Raise(rt::RtError::Overflow);
            size = static_cast<short>(size + 1);
        }
        if (iSizeToCopy) *iSizeToCopy = size;
        return S_OK;
    });

    trap.Run([&] {
        // The buffer's ANSI form and its terminator (AnsiText keeps a writable NUL after the text).
        rt::ansi::AnsiText copy;
        HRESULT hr = rt::ansi::FromWide({buffer.data(), buffer.size()}, copy);
        if (FAILED(hr)) return hr;
        const size_t length = copy.size();
        // The platform never gets more positions than the buffer holds with its terminator; a
        // size below 1 offers none at all.
        const int offered = std::clamp<int>(size, 0, std::min<int>(kNameBufferPositions, static_cast<int>(length + 1)));
        UINT copied = 0;
        hr = read(static_cast<ATOM>(*iAtomNumber), copy.data(), offered, copied);
        if (FAILED(hr)) return hr;
        rt::ansi::WideText back;
        hr = rt::ansi::ToWide({copy.data(), length}, back);
        if (FAILED(hr)) return hr;
        const size_t kept = std::min(back.size(), buffer.size());
        std::copy_n(back.data(), kept, buffer.begin());
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(kept), buffer.end(), L' ');
        if (copied > static_cast<UINT>(SHRT_MAX)) return rt::Raise(rt::RtError::Overflow);
        if (iCharactersCopied) *iCharactersCopied = static_cast<short>(copied);
        return S_OK;
    });

    trap.Run([&] {
        *result = SysAllocStringLen(buffer.data(), static_cast<UINT>(buffer.size()));
        return *result ? S_OK : rt::Raise(rt::RtError::OutOfMemory);
    });
    return trap.Result();
}

} // namespace

// Every member runs under the module's guard (see runtime/automation_object.h).

HRESULT clsQxAtomTables10A::get_GetProStdProperties(IDispatch **result) {
    return rt::Guarded([&] {
        if (!result) return rt::Raise(E_POINTER);
        *result = nullptr;
        HRESULT hr = rt::ThreadContext::Current().App(result);
        return FAILED(hr) ? rt::Raise(hr) : S_OK;
    });
}

HRESULT clsQxAtomTables10A::get_GetProResStrings(LONG *lResId, BSTR *result) {
    return rt::Guarded([&] {
        if (!lResId || !result) return rt::Raise(E_POINTER);
        return rt::resources::LoadString(rt::module::Instance(), *lResId, result);
    });
}

HRESULT clsQxAtomTables10A::get_GetProResPicture(LONG *lResId, LoadResConstants *lRestype, IPictureDisp **result) {
    return rt::Guarded([&] {
        if (!lResId || !lRestype || !result) return rt::Raise(E_POINTER);
        *result = nullptr;
        const LONG kind = static_cast<LONG>(*lRestype);
        if (kind < SHRT_MIN || kind > SHRT_MAX) return rt::Raise(rt::RtError::Overflow);
        VARIANT id;
        V_VT(&id) = VT_I4;
        V_I4(&id) = *lResId;
        return rt::resources::LoadPicture(rt::module::Instance(), id, static_cast<short>(kind), result);
    });
}

HRESULT clsQxAtomTables10A::get_GetProResData(LONG *lResId, VARIANT *vRestype, VARIANT *result) {
    return rt::Guarded([&] {
        if (!lResId || !vRestype || !result) return rt::Raise(E_POINTER);
        VARIANT id;
        V_VT(&id) = VT_I4;
        V_I4(&id) = *lResId;
        return rt::resources::LoadData(rt::module::Instance(), id, *vRestype, result);
    });
}

HRESULT clsQxAtomTables10A::About(LONG *result) {
    return rt::Guarded([&] {
        if (!result) return rt::Raise(E_POINTER);
        *result = 0;
        return basQxelCommonA::AppAboutQxel_Pro();
    });
}

HRESULT clsQxAtomTables10A::get_BuddyObjectGlobal(IDispatch **result) {
    return rt::Guarded([&] {
        if (!result) return rt::Raise(E_POINTER);
        return basQxAtomTables10A::Thread().oBuddyObjectGlobal.CopyTo(result);
    });
}

HRESULT clsQxAtomTables10A::putref_BuddyObjectGlobal(IDispatch *oNewValue) {
    return rt::Guarded([&] {
        basQxAtomTables10A::Thread().oBuddyObjectGlobal = oNewValue;
        return S_OK;
    });
}

HRESULT clsQxAtomTables10A::InitAtomTableAmts(short *iSizeToSet, LONG *result) {
    return rt::Guarded([&] {
        if (!iSizeToSet || !result) return rt::Raise(E_POINTER);
        *result = 0;
        Trap trap(kClassCode, L"InitAtomTableAmts"sv);
        trap.Run([&] {
            // Only positive sizes mean anything; the others ask for the platform's default size.
            BOOL status = FALSE;
            HRESULT hr =
                basQxAtomTables10A::InitAtomTable(*iSizeToSet > 0 ? static_cast<DWORD>(*iSizeToSet) : 0, status);
            if (SUCCEEDED(hr)) *result = Widen(LOWORD(static_cast<DWORD>(status)));
            return hr;
        });
        return trap.Result();
    });
}

HRESULT clsQxAtomTables10A::AddAtomAmts(BSTR *sAtomName, LONG *result) {
    return rt::Guarded([&] { return AddName(basQxAtomTables10A::AddAtomA, L"AddAtomAmts"sv, sAtomName, result); });
}

HRESULT clsQxAtomTables10A::DeleteAtomAmts(short *iAtomNumber, LONG *result) {
    return rt::Guarded(
        [&] { return DeleteNumber(basQxAtomTables10A::DeleteAtom, L"DeleteAtomAmts"sv, iAtomNumber, result); });
}

HRESULT clsQxAtomTables10A::FindAtomAmts(BSTR *sAtomName, LONG *result) {
    return rt::Guarded([&] { return FindName(basQxAtomTables10A::FindAtomA, L"FindAtomAmts"sv, sAtomName, result); });
}

HRESULT clsQxAtomTables10A::GetAtomNameAmts(short *iAtomNumber, short *iSizeToCopy, short *iCharactersCopied,
                                            BSTR *result) {
    return rt::Guarded([&] {
        return ReadName(basQxAtomTables10A::GetAtomNameA, L"GetAtomNameAmts"sv, iAtomNumber, iSizeToCopy,
                        iCharactersCopied, result);
    });
}

HRESULT clsQxAtomTables10A::GlobalAddAtomAmts(BSTR *sAtomName, LONG *result) {
    return rt::Guarded(
        [&] { return AddName(basQxAtomTables10A::GlobalAddAtomA, L"GlobalAddAtomAmts"sv, sAtomName, result); });
}

HRESULT clsQxAtomTables10A::GlobalDeleteAtomAmts(short *iAtomNumber, LONG *result) {
    return rt::Guarded([&] {
        return DeleteNumber(basQxAtomTables10A::GlobalDeleteAtom, L"GlobalDeleteAtomAmts"sv, iAtomNumber, result);
    });
}

HRESULT clsQxAtomTables10A::GlobalFindAtomAmts(BSTR *sAtomName, LONG *result) {
    return rt::Guarded(
        [&] { return FindName(basQxAtomTables10A::GlobalFindAtomA, L"GlobalFindAtomAmts"sv, sAtomName, result); });
}

HRESULT clsQxAtomTables10A::GlobalGetAtomNameAmts(short *iAtomNumber, short *iSizeToCopy, short *iCharactersCopied,
                                                  BSTR *result) {
    return rt::Guarded([&] {
        return ReadName(basQxAtomTables10A::GlobalGetAtomNameA, L"GlobalGetAtomNameAmts"sv, iAtomNumber,
                        iSizeToCopy, iCharactersCopied, result);
    });
}
