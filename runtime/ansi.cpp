#include "ansi.h"

#include <algorithm>
#include <atomic>
#include <climits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "errors.h"

namespace rt::ansi {
namespace {

// Whether the ANSI code page maps each ASCII character (U+0000-U+007F) to the byte of the same
// value and back. Every code page Windows allows as the ANSI one is stateless and does, but this is
// asked of the platform once per process rather than assumed; when it holds, the conversion of
// pure-ASCII text is the identity either way.
// (Asked once and kept in an atomic rather than a function-local static: the toolchain's guard for
// those allocates, and does not survive running out of memory.)
std::atomic<int> g_asciiMapsToItself{-1};
bool AsciiMapsToItself() {
    const int known = g_asciiMapsToItself.load(std::memory_order_relaxed);
    if (known >= 0) [[likely]]
        return known != 0;
    const bool identity = [] {
        wchar_t wide[128], wideBack[256];
        char bytes[128], bytesBack[256];
        for (int i = 0; i < 128; ++i) {
            wide[i] = static_cast<wchar_t>(i);
            bytes[i] = static_cast<char>(i);
        }
        const int narrowed = WideCharToMultiByte(CP_ACP, 0, wide, 128, bytesBack, 256, nullptr, nullptr);
        const int widened = MultiByteToWideChar(CP_ACP, 0, bytes, 128, wideBack, 256);
        return narrowed == 128 && widened == 128 && std::equal(bytes, bytes + 128, bytesBack) &&
               std::equal(wide, wide + 128, wideBack);
    }();
    g_asciiMapsToItself.store(identity ? 1 : 0, std::memory_order_relaxed);
    return identity;
}

// The most bytes one UTF-16 code unit can become in the ANSI code page.
std::atomic<int> g_maxBytesPerUnit{0};
int MaxBytesPerUnit() {
    int most = g_maxBytesPerUnit.load(std::memory_order_relaxed);
    if (most > 0) [[likely]]
        return most;
    CPINFO info{};
    // UTF-8 (the widest a code page gets) when the platform cannot say.
    most = GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 0 ? static_cast<int>(info.MaxCharSize) : 4;
    g_maxBytesPerUnit.store(most, std::memory_order_relaxed);
    return most;
}

// Narrows pure-ASCII UTF-16 text to bytes. False (and `out` unspecified) when a character is not
// ASCII. Sixteen characters a step (then eight) where SSE2 is there (always on x64).
bool NarrowAscii(const wchar_t *in, std::size_t n, char *out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 8));
        const __m128i beyond = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(a, b));
    }
    if (i + 8 <= n) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(a, high), _mm_setzero_si128())) != 0xFFFF) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(a, a));
        i += 8;
    }
#endif
    unsigned bits = 0;
    for (; i < n; ++i) {
        bits |= static_cast<unsigned>(in[i]);
        out[i] = static_cast<char>(in[i]);
    }
    return bits < 0x80;
}

// Widens pure-ASCII bytes to UTF-16. False (and `out` unspecified) when a byte is not ASCII.
bool WidenAscii(const char *in, std::size_t n, wchar_t *out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        if (_mm_movemask_epi8(v) != 0) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    if (i + 8 <= n) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + i));
        if ((_mm_movemask_epi8(v) & 0xFF) != 0) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
        i += 8;
    }
#endif
    unsigned bits = 0;
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        bits |= c;
        out[i] = static_cast<wchar_t>(c);
    }
    return bits < 0x80;
}

} // namespace

HRESULT FromWide(std::wstring_view text, std::string &out) {
    out.clear();
    if (text.empty()) return S_OK;
    if (text.size() > static_cast<size_t>(INT_MAX / 2)) return Raise(RtError::OutOfMemory);
    const int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return Raise(HRESULT_FROM_WIN32(GetLastError()));
    out.resize(static_cast<size_t>(needed));
    if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr) !=
        needed) {
        out.clear();
        return Raise(HRESULT_FROM_WIN32(GetLastError()));
    }
    return S_OK;
}

HRESULT ToWide(std::string_view bytes, std::wstring &out) {
    out.clear();
    if (bytes.empty()) return S_OK;
    if (bytes.size() > static_cast<size_t>(INT_MAX / 2)) return Raise(RtError::OutOfMemory);
    const int length = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return Raise(HRESULT_FROM_WIN32(GetLastError()));
    out.resize(static_cast<size_t>(needed));
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), needed) != needed) {
        out.clear();
        return Raise(HRESULT_FROM_WIN32(GetLastError()));
    }
    return S_OK;
}

HRESULT FromWide(std::wstring_view text, AnsiText &out) {
    out.Clear();
    if (text.empty()) {
        out.SetIdentity(true);
        return S_OK;
    }
    if (text.size() <= AnsiText::kInline && AsciiMapsToItself() &&
        NarrowAscii(text.data(), text.size(), out.Resize(text.size()))) {
        out.SetIdentity(true);
        return S_OK;
    }
    // One conversion straight into the inline buffer when the result is sure to fit; otherwise (and
    // whenever that conversion fails) the general way, which also reports the failure as it does.
    if (text.size() <= AnsiText::kInline / static_cast<std::size_t>(MaxBytesPerUnit())) {
        char *bytes = out.Resize(AnsiText::kInline);
        const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes,
                                          static_cast<int>(AnsiText::kInline), nullptr, nullptr);
        if (n > 0) {
            out.Resize(static_cast<std::size_t>(n));
            return S_OK;
        }
    }
    std::string general;
    const HRESULT hr = FromWide(text, general);
    out.Clear();
    if (FAILED(hr)) return hr;
    std::copy(general.begin(), general.end(), out.Resize(general.size()));
    return S_OK;
}

HRESULT ToWide(std::string_view bytes, WideText &out) {
    out.Clear();
    if (bytes.empty()) {
        out.SetIdentity(true);
        return S_OK;
    }
    if (bytes.size() <= WideText::kInline && AsciiMapsToItself() &&
        WidenAscii(bytes.data(), bytes.size(), out.Resize(bytes.size()))) {
        out.SetIdentity(true);
        return S_OK;
    }
    // Every byte becomes at most one UTF-16 code unit.
    if (bytes.size() <= WideText::kInline) {
        wchar_t *text = out.Resize(WideText::kInline);
        const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text,
                                          static_cast<int>(WideText::kInline));
        if (n > 0) {
            out.Resize(static_cast<std::size_t>(n));
            return S_OK;
        }
    }
    std::wstring general;
    const HRESULT hr = ToWide(bytes, general);
    out.Clear();
    if (FAILED(hr)) return hr;
    std::copy(general.begin(), general.end(), out.Resize(general.size()));
    return S_OK;
}

} // namespace rt::ansi
