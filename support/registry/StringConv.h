#pragma once

namespace Kestlib500 {

// The value of digit `c` in `base` (2 to 36, letters either case), or -1
// when `c` is no digit of it.
int DigitValue(wchar_t c, int base);

// Converts `text`, read up to `terminator`, to a number in `base`. With
// `allowSign` a leading '-' is accepted, and the negative range reaches one
// past `maxValue` (so -2147483648 converts). `maxDividedByBase` is
// `maxValue / base`, the largest value that may still take another digit.
// Always stores into `result`: the number when the text is one; 0 when it is
// no number (empty, or any character that is no digit of `base`); `maxValue`
// or its negative bound when the number does not fit. Returns whether the
// text was a number that fits.
bool StringConvToInteger(const wchar_t* text, int& result, wchar_t terminator, int maxValue,
    int maxDividedByBase, int base, bool allowSign);

} // namespace Kestlib500
