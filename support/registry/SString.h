#pragma once

#include <cstddef>
#include <memory>

namespace Kestlib500 {

// Ordinal comparison ignoring case, the way the registry compares names:
// each UTF-16 unit case-folded, then compared as unsigned numbers. Null
// reads as the empty text. Negative, zero or positive.
int CompareNoCase(const wchar_t* a, const wchar_t* b);

// An owned wide string, built from a NUL-terminated text and released with
// it. `Terminators` NULs follow the text in the buffer. A string built from a
// null pointer holds no buffer: c_str() is null and isEmpty() true.
template <typename Char, int Terminators>
class SString_t {
public:
    SString_t() = default;
    SString_t(const Char* source) { assign(source); }
    SString_t(const SString_t& other) { assign(other.c_str()); }
    SString_t(SString_t&& other) noexcept = default;
    SString_t& operator=(const SString_t& other)
    {
        if (this != &other)
            assign(other.c_str());
        return *this;
    }
    SString_t& operator=(SString_t&& other) noexcept = default;

    // True for no buffer as well as for an empty text.
    bool isEmpty() const { return !buffer || buffer[0] == Char(); }

    // 0 when both texts are equal ignoring case.
    int compareNoCase(const Char* other) const { return CompareNoCase(c_str(), other); }

    // The characters, NUL-terminated; null when there is no buffer.
    const Char* c_str() const { return buffer.get(); }

private:
    void assign(const Char* source)
    {
        if (!source) {
            buffer.reset();
            return;
        }
        std::size_t length = 0;
        while (source[length] != Char())
            ++length;
        std::unique_ptr<Char[]> copy(new Char[length + Terminators]);
        for (std::size_t i = 0; i < length; ++i)
            copy[i] = source[i];
        for (std::size_t i = length; i < length + Terminators; ++i)
            copy[i] = Char();
        buffer = std::move(copy);
    }

    std::unique_ptr<Char[]> buffer;
};

using SWCharString = SString_t<wchar_t, 1>;

// A registry name: the same text, equal to another ignoring case.
class SWCharStringCI : public SWCharString {
public:
    using SWCharString::SWCharString;
    bool operator==(const SWCharStringCI& other) const { return compareNoCase(other.c_str()) == 0; }
    bool operator!=(const SWCharStringCI& other) const { return !(*this == other); }
};

} // namespace Kestlib500
