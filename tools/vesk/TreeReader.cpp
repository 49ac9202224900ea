#include "tools/vesk/TreeReader.h"

#include "tools/vesk/Text.h"
#include "support/registry/RegistryKey.h"
#include "support/registry/KeyPath.h"

namespace vesk_tool {

using Kestlib500::RawValue;
using Kestlib500::RegistryKey;

struct TreeReader::Walk {
    TreeReader& reader;
    RegDocument& into;

    void key(const RegistryKey& open, const std::wstring& path)
    {
        RegKey block;
        block.path = Kestlib500::FullKeyPath(path);
        std::wstring name;
        RawValue value;
        for (DWORD i = 0; open.ValueAt(i, name, value); ++i) {
            reader.progress.advance();
            if (!canWriteName(name)) {
                reader.skipped.push_back("value \"" + toUtf8(name) + "\" of " + toUtf8(block.path) +
                                         " has a name a .reg file cannot carry (a line break, a NUL or a lone surrogate)");
                continue;
            }
            // Copied to its size: the registry's read leaves room for 1 KiB
            // (100 MiB over 100,000 values), which `value` keeps for the next.
            block.values.push_back(RegValue{0, name, false, RawValue{value.type, {value.data.begin(), value.data.end()}}});
        }
        into.keys.push_back(std::move(block));

        std::vector<std::wstring> children;
        for (DWORD i = 0; open.SubKeyAt(i, name); ++i)
            children.push_back(name);
        for (const std::wstring& child : children) {
            const std::wstring childPath = Kestlib500::JoinKeyPath(path, child);
            const std::wstring shown = Kestlib500::FullKeyPath(childPath);
            // The whole path is checked: a name such as -x is only a deletion at its start.
            if (!canWriteKeyPath(shown)) {
                reader.skipped.push_back("key " + toUtf8(shown) +
                                         " has a name a .reg file cannot carry (a line break, a NUL or a lone surrogate); its subtree with it");
                continue;
            }
            // Gone since it was listed: the registry has no snapshots on Windows.
            const RegistryKey sub = RegistryKey::Open(childPath);
            if (!sub.IsOpen())
                continue;
            reader.progress.advance();
            key(sub, childPath);
        }
    }
};

bool TreeReader::read(const std::wstring& key, RegDocument& into)
{
    const RegistryKey open = RegistryKey::Open(key);
    if (!open.IsOpen())
        return false;
    Walk{*this, into}.key(open, key);
    return true;
}

} // namespace vesk_tool
