#pragma once

#include <cstddef>
#include <type_traits>

// An owned, NUL-terminated wide string: one buffer, deep copies, no sharing.
// Three states stay apart: null (no buffer), empty (just the NUL) and text.
// Defined in full here because hosts build their own arguments with it and
// release the library's results; both sides use one allocator (array new).
// No move operations: a moved-from value would be a null value nobody made.
class WString {
public:
    // Empty, not null.
    WString() : text(copyOf(L"")) {}

    // A copy of `source` up to its first NUL; a null pointer gives empty.
    WString(const wchar_t* source) : text(copyOf(source ? source : L"")) {}

    // A deep copy; a null value copies as null.
    WString(const WString& other) : text(other.text ? copyOf(other.text) : nullptr) {}

    // Assigning a value that holds this very buffer (itself, or null to null)
    // changes nothing. Otherwise the old buffer goes first, so a failed copy
    // leaves this value null.
    WString& operator=(const WString& other)
    {
        if (other.text == text)
            return *this;
        release();
        if (other.text)
            text = copyOf(other.text);
        return *this;
    }

    // Releases first, then copies: `source` must not point into this buffer.
    // A null pointer gives empty.
    WString& operator=(const wchar_t* source)
    {
        release();
        text = copyOf(source ? source : L"");
        return *this;
    }

    ~WString() { release(); }

    // The buffer itself, no copy; null for a null value.
    const wchar_t* c_str() const { return text; }

    // Ordinal comparison on unsigned code units, no case folding: negative,
    // zero or positive. A null value compares as the empty text.
    static int compare(const WString& a, const WString& b)
    {
        const wchar_t* left = a.text ? a.text : L"";
        const wchar_t* right = b.text ? b.text : L"";
        for (;; ++left, ++right) {
            const auto l = static_cast<Unit>(*left);
            const auto r = static_cast<Unit>(*right);
            if (l != r)
                return l < r ? -1 : 1;
            if (l == 0)
                return 0;
        }
    }

private:
    // The code unit as an unsigned number, whatever the width of wchar_t.
    using Unit = std::make_unsigned<wchar_t>::type;

    static wchar_t* copyOf(const wchar_t* source)
    {
        std::size_t length = 0;
        while (source[length] != L'\0')
            ++length;
        wchar_t* copy = new wchar_t[length + 1];
        for (std::size_t i = 0; i <= length; ++i)
            copy[i] = source[i];
        return copy;
    }

    void release()
    {
        delete[] text;
        text = nullptr;
    }

    wchar_t* text;
};

inline bool operator<(const WString& a, const WString& b)
{
    return WString::compare(a, b) < 0;
}
