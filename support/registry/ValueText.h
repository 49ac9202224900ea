#pragma once

#include "support/win32shim/Win32.h"

#include <string>
#include <vector>

namespace Kestlib500 {

// A value as the registry holds it: its type code and its raw bytes.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
};

// The data as text: REG_SZ and REG_EXPAND_SZ as stored (unexpanded, up to the
// first NUL), REG_DWORD as the signed decimal of its 32 bits, REG_QWORD in
// decimal, REG_MULTI_SZ its strings joined by '\n', anything else as
// lowercase hex byte pairs.
std::wstring ValueAsText(const RawValue& value);

// The bytes of a REG_SZ holding `text`, its terminating NUL included.
std::vector<unsigned char> TextBytes(const wchar_t* text);

// `data` with a non-zero UTF-16 unit on either side, for RegSetValueExW to
// read from offset SetValueOffset: Wine's adds a NUL to string-typed data
// whose next unit (past its end) is zero, and reads the unit before data of
// one byte, so only a framed copy is stored exactly as given.
constexpr std::size_t SetValueOffset = 2;
std::vector<unsigned char> FramedForSetValue(const std::vector<unsigned char>& data);
// Whether `value` needs that copy: string-typed data that ends mid-unit or
// in a unit other than NUL, and empty data. The rest (a string with its NUL,
// any number or binary) is stored as given.
bool NeedsFrameForSetValue(const RawValue& value);

} // namespace Kestlib500
