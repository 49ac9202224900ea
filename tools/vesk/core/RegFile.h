#pragma once

#include "support/registry/ValueText.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The registry editor's export format: a header line, then [key] blocks of
// "name"=data lines. Every registry type is carried as its raw bytes. Paths
// and names are kept as written; deciding which keys belong to an instance
// is the importer's job.
namespace vesk_tool {

struct RegValue {
    int line = 0;
    std::wstring name;     // empty for the key's default value, written @
    bool remove = false;   // "name"=-: the value goes
    Kestlib500::RawValue value; // type code and bytes as the registry holds them
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

enum class RegEncoding { Utf16, Utf8 };

// Accepts what the registry's own tools accept (see the reader for the
// forms). Throws RegFileError on the first line they would skip or refuse,
// so a caller that gets a document back knows every line of it is sound.
RegDocument readRegFile(std::string_view bytes);

// Takes a read file entry by entry, in the file's order.
class RegVisitor {
public:
    virtual ~RegVisitor() = default;
    // A [key] or [-key] line; the values that follow are its own (`key.values` stays empty).
    virtual void key(RegKey& key) = 0;
    // A value line of the key last begun; the visitor may move from it.
    virtual void value(RegValue& value) = 0;
};

// A .reg file decoded once and read as often as asked, entry by entry, so a
// caller can check a whole file and then act on it without ever holding its
// document: a value at a time besides the text.
class RegText {
public:
    // Throws RegFileError when the bytes are no .reg text (encoding, header, a NUL).
    explicit RegText(std::string_view bytes);

    // readRegFile's reading, handing each entry on as it is read; throws
    // RegFileError on the same lines, after the entries before it.
    void read(RegVisitor& visitor) const;

private:
    std::wstring text;
    bool eightBit = false;
    bool windows1252 = false;
};

// Where a written .reg file's bytes go, piece by piece in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::string_view bytes) = 0;
};

// A .reg file written as it is made, in writeRegFile's bytes: the header at
// once, then each key's block and its values in turn, through a buffer of
// about 64 KiB, so the whole file is never held. What the sink throws passes.
class RegFileWriter {
public:
    RegFileWriter(ByteSink& sink, RegEncoding encoding);
    RegFileWriter(const RegFileWriter&) = delete;
    RegFileWriter& operator=(const RegFileWriter&) = delete;

    // Begins the block of `path` ([-path] when `remove`), ending the one before.
    void key(const std::wstring& path, bool remove = false);
    // One value line of the block last begun.
    void value(const RegValue& value);
    // Ends the last block and hands everything still buffered to the sink.
    void finish();

private:
    static constexpr std::size_t FlushBytes = 64 * 1024;

    void endBlock();
    void put(std::wstring_view text);

    ByteSink& sink;
    RegEncoding encoding;
    std::wstring eol;
    std::string buffer;
    bool inBlock = false;
};

// UTF-16LE with a byte-order mark and CRLF, as the registry editor writes;
// UTF-8 without a byte-order mark and with LF when asked, string data in hex
// as UTF-8 text then. A value canWriteValue refuses is written, but reads
// back otherwise.
std::string writeRegFile(const RegDocument& document, RegEncoding encoding);

// Whether a value name, or a key path, can be written so that it reads back
// unchanged; export leaves out what cannot, with a warning.
bool canWriteName(std::wstring_view name);
bool canWriteKeyPath(std::wstring_view path);

// Whether a value's data, in `encoding`, reads back unchanged: not string
// data that lacks its final NUL (reading appends one, as the registry tools
// do), nor, in UTF-8, string data of odd length or with a lone surrogate.
bool canWriteValue(const Kestlib500::RawValue& value, RegEncoding encoding);

} // namespace vesk_tool
