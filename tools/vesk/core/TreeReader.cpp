#include "tools/vesk/core/TreeReader.h"

#include "tools/vesk/core/Text.h"
#include "support/registry/KeyPath.h"
#include "support/registry/RegistryKey.h"

namespace vesk_tool {

using Kestlib500::RegistryKey;

struct TreeReader::Walk {
    TreeReader& reader;
    TreeVisitor& visitor;
    // One value's room for the whole walk: the registry's read fills it in place.
    RegValue current;

    void key(const RegistryKey& open, const std::wstring& path)
    {
        const std::wstring shown = Kestlib500::FullKeyPath(path);
        visitor.key(shown);
        for (DWORD i = 0; open.ValueAt(i, current.name, current.value); ++i) {
            reader.progress.advance();
            if (!canWriteName(current.name)) {
                reader.skipped.push_back("value \"" + toUtf8(current.name) + "\" of " + toUtf8(shown) +
                                         " has a name a .reg file cannot carry (a line break, a NUL or a lone surrogate)");
                continue;
            }
            visitor.value(current);
        }

        // Each sub-key walked as it is listed: only its name is kept meanwhile.
        std::wstring child;
        for (DWORD i = 0; open.SubKeyAt(i, child); ++i) {
            const std::wstring childPath = Kestlib500::JoinKeyPath(path, child);
            const std::wstring childShown = Kestlib500::FullKeyPath(childPath);
            // The whole path is checked: a name such as -x is only a deletion at its start.
            if (!canWriteKeyPath(childShown)) {
                reader.skipped.push_back("key " + toUtf8(childShown) +
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

bool TreeReader::walk(const std::wstring& key, TreeVisitor& visitor)
{
    const RegistryKey open = RegistryKey::Open(key);
    if (!open.IsOpen())
        return false;
    Walk{*this, visitor, {}}.key(open, key);
    return true;
}

namespace {

class Collector : public TreeVisitor {
public:
    explicit Collector(RegDocument& into) : into(into) {}
    void key(const std::wstring& path) override { into.keys.push_back(RegKey{0, path, false, {}}); }
    // Copied to its size: the walk's own room is kept for the next value.
    void value(const RegValue& value) override { into.keys.back().values.push_back(value); }

private:
    RegDocument& into;
};

} // namespace

bool TreeReader::read(const std::wstring& key, RegDocument& into)
{
    Collector collector(into);
    return walk(key, collector);
}

} // namespace vesk_tool
