#pragma once

#include <string>

namespace Kestlib500 {

// The store's sort key of a name: its UTF-16 units folded (FoldUnit), as
// big-endian bytes, so that comparing keys byte by byte orders names as the
// registry does. A null name folds as the empty one.
std::string NameSortKey(const wchar_t* name);
// The same into `key`, whose room is reused.
void NameSortKey(const wchar_t* name, std::string& key);

// The comparison key of a whole key path: its elements folded and joined by
// a big-endian backslash, empty elements skipped.
std::string PathSortKey(const std::wstring& path);
void PathSortKey(const std::wstring& path, std::string& key);

} // namespace Kestlib500
