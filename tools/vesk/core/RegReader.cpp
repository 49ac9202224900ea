#include "tools/vesk/core/RegEncoding.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/RegLines.h"
#include "tools/vesk/core/Text.h"
#include "support/registry/KeyPath.h"

namespace vesk_tool {
namespace {

const std::wstring_view Header5 = L"Windows Registry Editor Version 5.00";
const std::wstring_view Header4 = L"REGEDIT4";

// The tools take the key up to the last ] and ignore the rest of the line;
// they drop trailing backslashes. A backslash doubled or leading elsewhere
// would name a key the registry does not have, so it is refused.
RegKey parseKeyLine(std::wstring_view line, int number)
{
    const std::size_t close = line.rfind(L']');
    if (close == std::wstring_view::npos)
        throw RegFileError(number, "the key has no closing ] (is the file truncated?)");
    RegKey key;
    key.line = number;
    std::wstring_view path = line.substr(1, close - 1);
    if (!path.empty() && path.front() == L'-') {
        key.remove = true;
        path.remove_prefix(1);
    }
    while (!path.empty() && path.back() == L'\\')
        path.remove_suffix(1);
    if (path.empty())
        throw RegFileError(number, "empty key name in []");
    if (Kestlib500::HasEmptyElement(path))
        throw RegFileError(number, Kestlib500::DescribeKeyPathProblem(Kestlib500::KeyPathProblem::EmptyElement));
    key.path = path;
    return key;
}

void checkHeader(std::wstring_view line, const DecodedFile& file)
{
    line = withoutLeadingBlanks(line);
    if (line == Header5 || line == Header4)
        return;
    std::string message = "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"";
    if (file.eightBit && line.size() > 1 && line[1] == L'\0')
        message += " (a UTF-16 file needs its byte-order mark)";
    throw RegFileError(1, message);
}

} // namespace

bool RegLines::next(std::wstring_view& line)
{
    if (pos > text.size() || (pos == text.size() && lineNumber > 0))
        return false;
    std::size_t end = pos;
    while (end < text.size() && text[end] != L'\n' && text[end] != L'\r')
        ++end;
    line = text.substr(pos, end - pos);
    pos = end + 1;
    if (end < text.size() && text[end] == L'\r' && pos < text.size() && text[pos] == L'\n')
        ++pos;
    ++lineNumber;
    return true;
}

RegText::RegText(std::string_view bytes)
{
    DecodedFile file = decodeRegFile(bytes);
    RegLines lines(file.text);
    std::wstring_view line;
    lines.next(line);
    checkHeader(line, file);
    if (const std::size_t nul = file.text.find(L'\0'); nul != std::wstring::npos) {
        RegLines counter(std::wstring_view(file.text).substr(0, nul + 1));
        while (counter.next(line)) {
        }
        throw RegFileError(counter.number(), "NUL character in the text: is this a binary file?");
    }
    text = std::move(file.text);
    eightBit = file.eightBit;
    windows1252 = file.windows1252;
}

void RegText::read(RegVisitor& visitor) const
{
    RegLines lines(text);
    std::wstring_view line;
    lines.next(line); // the header, checked when the text was made
    LegacyStrings legacy;
    legacy.enabled = eightBit;
    legacy.windows1252 = windows1252;
    bool inKey = false, inRemovedKey = false;
    RegValue value; // one for every line, its buffers reused
    while (lines.next(line)) {
        line = withoutLeadingBlanks(line);
        const int number = lines.number();
        if (line.empty() || line.front() == L';' || line.front() == L'#')
            continue;
        if (line.front() == L'[') {
            RegKey key = parseKeyLine(line, number);
            inKey = true;
            inRemovedKey = key.remove;
            visitor.key(key);
            continue;
        }
        if (line.front() != L'"' && line.front() != L'@')
            throw RegFileError(number, "expected [key], \"name\"=data, @=data or a comment (; or #)");
        if (!inKey)
            throw RegFileError(number, "a value before the first [key]: values belong under a key");
        if (inRemovedKey)
            throw RegFileError(number, "a value under a [-key] that is being deleted: remove the - or the value");
        parseValue(line, lines, legacy, value);
        visitor.value(value);
    }
}

RegDocument readRegFile(std::string_view bytes)
{
    struct Collector : RegVisitor {
        RegDocument document;
        void key(RegKey& key) override { document.keys.push_back(std::move(key)); }
        void value(RegValue& value) override { document.keys.back().values.push_back(std::move(value)); }
    } collector;
    RegText(bytes).read(collector);
    return std::move(collector.document);
}

} // namespace vesk_tool
