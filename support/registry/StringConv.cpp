#include "support/registry/StringConv.h"

namespace Kestlib500 {

int DigitValue(wchar_t c, int base)
{
    int value = -1;
    if (c >= L'0' && c <= L'9')
        value = c - L'0';
    else if (c >= L'a' && c <= L'z')
        value = c - L'a' + 10;
    else if (c >= L'A' && c <= L'Z')
        value = c - L'A' + 10;
    return value < base ? value : -1;
}

bool StringConvToInteger(const wchar_t* text, int& result, wchar_t terminator, int maxValue,
    int maxDividedByBase, int base, bool allowSign)
{
    result = 0;
    if (!text)
        return false;
    const bool negative = allowSign && *text == L'-';
    if (negative)
        ++text;
    if (*text == terminator || *text == L'\0')
        return false;

    const long long limit = negative ? maxValue + 1LL : maxValue;
    const long long bound = negative ? -limit : limit;
    long long magnitude = 0;
    for (; *text != terminator && *text != L'\0'; ++text) {
        const int digit = DigitValue(*text, base);
        if (digit < 0)
            return false;
        if (magnitude > maxDividedByBase || magnitude * base + digit > limit) {
            result = static_cast<int>(bound);
            return false;
        }
        magnitude = magnitude * base + digit;
    }
    result = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

} // namespace Kestlib500
