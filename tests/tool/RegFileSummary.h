#pragma once

#include "RegFile.h"

#include <string>

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

} // namespace regfile_test
