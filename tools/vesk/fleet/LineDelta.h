#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where two .reg documents (UTF-16LE, as export writes them) differ, as two
// small documents that parse alone: the first line, the [key] line in
// effect where the two part, and each one's lines up to where they agree
// again. A pull that changes a few values of a large document parses these
// instead of the whole of it.
namespace vesk_fleet {

struct LineDelta {
    std::string before; // from the first document
    std::string after;  // from the second
    std::size_t differing = 0; // bytes of both sides' own lines, the lines led by left out
};

// nullopt when either is not UTF-16LE with a byte-order mark, or no [key]
// line comes before the first line that differs. Each side starts at a line
// a value or key begins on and ends just after a line break, so what lies
// around it is read the same in both documents.
std::optional<LineDelta> lineDelta(std::string_view before, std::string_view after);

} // namespace vesk_fleet
