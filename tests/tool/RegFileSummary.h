#pragma once

#include "tools/vesk/core/RegFile.h"

#include <string>
#include <vector>

// A document as one line of text per key and value, so tests compare whole
// documents and a failure shows what differs:
//   [path] / [-path], then  name=type:bytes  or  name=-  (@ for the default).
namespace regfile_test {

std::string summary(const vesk_tool::RegDocument& document);

// The bytes of a value as lowercase hex pairs without separators.
std::string hexOf(const std::vector<unsigned char>& bytes);

// Expected values in summary form.
std::string sz(const std::wstring& text, unsigned type = 1); // UTF-16LE with its NUL
std::string dw(unsigned long bits);

// One value of every registry type, in the shapes with a plain form and in
// those only the hex form carries unchanged, names that need escapes and a
// default value among them. Sorted as the registry enumerates them.
struct TypedValue {
    std::wstring name;
    DWORD type;
    std::vector<unsigned char> data;
    bool carried;       // a .reg file carries it: false for string data lacking its final NUL, which reading appends
    bool carriedIn8Bit; // an 8-bit one too: not string data of odd length or with a lone surrogate
};
std::vector<TypedValue> everyTypeValues();

std::vector<unsigned char> counting(std::size_t count); // 01 02 03 ...

} // namespace regfile_test
