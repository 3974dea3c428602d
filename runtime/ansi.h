// The one place that converts between automation (UTF-16) strings and the system ANSI code page,
// as the platform's ...A entry points need them. Characters the code page cannot represent become
// its default substitute; embedded NULs are kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <windows.h>

namespace rt::ansi {

// Converts text to the ANSI code page. On failure returns a raised error (and leaves out empty).
HRESULT FromWide(std::wstring_view text, std::string &out);

// Converts ANSI bytes back to UTF-16. On failure returns a raised error (and leaves out empty).
HRESULT ToWide(std::string_view bytes, std::wstring &out);

// Text whose usual sizes live inside the object (on the caller's stack), with the heap only beyond
// them. data()[size()] is a writable NUL position of its own, so that the text plus its terminator
// can be handed to a function that writes into it.
template <class Char, std::size_t Inline>
class SmallText {
public:
    static constexpr std::size_t kInline = Inline;

    SmallText() { inline_[0] = Char(); }
    SmallText(const SmallText &) = delete;
    SmallText &operator=(const SmallText &) = delete;

    Char *data() { return data_; }
    const Char *data() const { return data_; }
    std::size_t size() const { return size_; }
    std::basic_string_view<Char> View() const { return {data_, size_}; }
    // True when the conversion that made this text was the identity character for character (pure
    // ASCII, in a code page that maps ASCII to itself): converting back gives the source again.
    bool Identity() const { return identity_; }

    // Room for n characters and a terminator; the characters' values are left to the caller.
    Char *Resize(std::size_t n) {
        if (n <= Inline) {
            data_ = inline_;
        } else {
            heap_.assign(n + 1, Char());
            data_ = heap_.data();
        }
        size_ = n;
        data_[n] = Char();
        identity_ = false;
        return data_;
    }
    void Clear() { Resize(0); }
    void SetIdentity(bool identity) { identity_ = identity; }

private:
    Char inline_[Inline + 1]; // not cleared: only what Resize hands out is ever read
    std::basic_string<Char> heap_;
    Char *data_ = inline_;
    std::size_t size_ = 0;
    bool identity_ = false;
};

// The ANSI form of a name of up to 255 characters fits inline in any ANSI code page (even UTF-8,
// three bytes a character); so does the UTF-16 form of up to 768 ANSI bytes.
using AnsiText = SmallText<char, 768>;
using WideText = SmallText<wchar_t, 768>;

// The same conversions, with the same results and the same failures, into small-buffer text: no
// allocation for text that fits inline.
HRESULT FromWide(std::wstring_view text, AnsiText &out);
HRESULT ToWide(std::string_view bytes, WideText &out);

} // namespace rt::ansi
