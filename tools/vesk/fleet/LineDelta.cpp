#include "tools/vesk/fleet/LineDelta.h"

#include <algorithm>

namespace vesk_fleet {
namespace {

// A document seen as UTF-16LE units; offsets are in bytes and even.
class Units {
public:
    explicit Units(std::string_view bytes) : bytes(bytes) {}

    std::size_t size() const { return bytes.size(); }
    char16_t at(std::size_t offset) const
    {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[offset]) |
                                     (static_cast<unsigned char>(bytes[offset + 1]) << 8));
    }
    bool isBreak(std::size_t offset) const { return at(offset) == u'\n' || at(offset) == u'\r'; }
    // After a '\n' (the end of a line however it is written).
    bool afterNewline(std::size_t offset) const { return offset >= 2 && at(offset - 2) == u'\n'; }
    // The line ending just before `offset` (a line start) goes on to the
    // next one (a hex value's trailing backslash): no place to cut.
    bool continued(std::size_t offset) const
    {
        std::size_t at = offset;
        while (at >= 2 && isBreak(at - 2))
            at -= 2;
        while (at >= 2 && (this->at(at - 2) == u' ' || this->at(at - 2) == u'\t'))
            at -= 2;
        return at >= 2 && this->at(at - 2) == u'\\';
    }
    bool cutAt(std::size_t offset) const { return offset == 0 || (afterNewline(offset) && !continued(offset)); }
    // The start of the line holding `offset`, lines split at '\r' or '\n'.
    std::size_t lineStart(std::size_t offset) const
    {
        while (offset >= 2 && !isBreak(offset - 2))
            offset -= 2;
        return offset;
    }
    std::size_t lineEnd(std::size_t offset) const
    {
        while (offset < size() && !isBreak(offset))
            offset += 2;
        return offset;
    }
    // The line starting at `offset`, blanks ahead of it skipped, opens a key.
    bool keyLine(std::size_t offset) const
    {
        while (offset < size() && (at(offset) == u' ' || at(offset) == u'\t'))
            offset += 2;
        return offset < size() && at(offset) == u'[';
    }

    std::string_view bytes;
};

bool utf16(std::string_view bytes)
{
    return bytes.size() % 2 == 0 && bytes.size() >= 2 && bytes[0] == '\xff' && bytes[1] == '\xfe';
}

} // namespace

std::optional<LineDelta> lineDelta(std::string_view before, std::string_view after)
{
    if (!utf16(before) || !utf16(after))
        return std::nullopt;
    const Units a(before);
    const Units b(after);
    const std::size_t shorter = std::min(a.size(), b.size());
    std::size_t same = std::mismatch(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(shorter), after.begin()).first -
                       before.begin();
    same &= ~std::size_t(1);
    // Back to a line both documents are read alike up to.
    std::size_t cut = same;
    while (!a.cutAt(cut))
        cut = a.lineStart(cut == a.lineStart(cut) ? cut - 2 : cut);
    // The same lines at the end, not reaching back into what is shared at the front.
    std::size_t tail = 0;
    while (tail + 2 <= shorter - cut && before[a.size() - tail - 1] == after[b.size() - tail - 1] &&
           before[a.size() - tail - 2] == after[b.size() - tail - 2])
        tail += 2;
    // The end of each side: a line start whose line break is itself shared,
    // so it is a line start in both.
    std::size_t end = a.size() - tail;
    while (end < a.size() && !(end >= a.size() - tail + 2 && a.cutAt(end) && b.cutAt(end - a.size() + b.size())))
        end += 2;
    const std::size_t endAfter = end - a.size() + b.size();
    // The [key] line the differing lines belong to, and the document's first line.
    std::size_t key = cut;
    do {
        if (key == 0)
            return std::nullopt;
        key = a.lineStart(key - 2);
    } while (!a.keyLine(key));
    const std::size_t firstEnd = a.lineEnd(0);
    if (key <= firstEnd)
        return std::nullopt;
    const std::string lead = std::string(before.substr(0, firstEnd)) + std::string("\r\0\n\0", 4) +
                             std::string(before.substr(key, a.lineEnd(key) - key)) + std::string("\r\0\n\0", 4);
    return LineDelta{lead + std::string(before.substr(cut, end - cut)), lead + std::string(after.substr(cut, endAfter - cut)),
                     end - cut + endAfter - cut};
}

} // namespace vesk_fleet
