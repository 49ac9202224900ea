#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The registry editor's export format: a header line, then [key] blocks of
// "name"=data lines. Only what the settings can hold is modelled: strings,
// dwords and deletions. Paths and names are kept as written; deciding which
// keys belong to an instance is the importer's job.
namespace vesk_tool {

struct RegValue {
    enum class Kind { String, Dword, Delete };

    int line = 0;
    std::wstring name; // empty for the key's default value, written @
    Kind kind = Kind::String;
    std::wstring text;       // Kind::String
    std::uint32_t dword = 0; // Kind::Dword
};

struct RegKey {
    int line = 0;
    std::wstring path;   // e.g. HKEY_LOCAL_MACHINE\Software\...
    bool remove = false; // [-path]: the key and its subtree go
    std::vector<RegValue> values;
};

struct RegDocument {
    std::vector<RegKey> keys;
};

// What is wrong with a file and on which line (1-based), for "FILE:LINE: ...".
class RegFileError : public std::runtime_error {
public:
    RegFileError(int at, const std::string& message) : std::runtime_error(message), line(at) {}
    int line;
};

enum class RegEncoding { Utf8, Utf16 };

// Accepts UTF-16LE or UTF-8, with or without a byte-order mark, CRLF or LF
// line ends, and either header ("Windows Registry Editor Version 5.00" or
// "REGEDIT4"). Throws RegFileError on the first problem, so a caller that
// gets a document back knows every line of it is sound.
RegDocument readRegFile(std::string_view bytes);

// UTF-16 is written as the editor does (byte-order mark, CRLF); UTF-8 without
// a byte-order mark and with LF, as text files are kept on Linux.
std::string writeRegFile(const RegDocument& document, RegEncoding encoding);

} // namespace vesk_tool
