#include "tools/vesk/fleet/InstanceFiles.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/MachineFolder.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/ChunkCache.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/FleetStore.h"
#include "tools/vesk/fleet/InstanceTree.h"

#include <cstdio>
#include <map>
#include <regex>

namespace vesk_fleet {
namespace {

namespace fs = std::filesystem;
using vesk_tool::Failure;

fs::path pathOf(const std::wstring& path)
{
#if defined(_WIN32)
    return fs::path(path);
#else
    return fs::u8path(vesk_tool::toUtf8(path));
#endif
}

std::wstring wide(const fs::path& path)
{
#if defined(_WIN32)
    return path.wstring();
#else
    return vesk_tool::fromUtf8(path.string());
#endif
}

std::string shown(const fs::path& path)
{
#if defined(_WIN32)
    return vesk_tool::toUtf8(path.wstring());
#else
    return path.string();
#endif
}

// A file name for the instance: its folded name where that is plain, with
// a digest of it when something had to be replaced, so names never collide.
std::string fileStem(const std::wstring& instance)
{
    const std::string folded = vesk_tool::toUtf8(foldedName(instance));
    std::string stem;
    bool replaced = false;
    for (const char c : folded) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        stem += plain ? c : '_';
        replaced = replaced || !plain;
    }
    return replaced ? stem + "~" + sha256Hex(folded).substr(0, 8) : stem;
}

// Saved states are named <stem>-<sequence>-<time>.reg: the sequence orders
// them whatever the clock does.
std::map<long, fs::path> savedStates(const fs::path& folder, const std::string& stem)
{
    static const std::regex tail(R"((\d{6})-\d{8}T\d{6}Z\.reg)");
    std::map<long, fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = shown(entry.path().filename());
        std::smatch match;
        const std::string rest = name.size() > stem.size() + 1 ? name.substr(stem.size() + 1) : std::string();
        if (name.compare(0, stem.size() + 1, stem + "-") == 0 && std::regex_match(rest, match, tail))
            found.emplace(std::stol(match[1].str()), entry.path());
    }
    return found;
}

std::string compactUtcNow()
{
    std::string stamp;
    for (const char c : utcNow())
        if (c != '-' && c != ':')
            stamp += c;
    return stamp;
}

} // namespace

InstanceFiles::InstanceFiles(const std::wstring& instance) : stem(fileStem(instance))
{
}

fs::path InstanceFiles::appliedCopyPath() const
{
    return pathOf(vesk_tool::machineFolder(L"fleet")) / (stem + ".reg");
}

std::optional<std::string> InstanceFiles::appliedCopy() const
{
    try {
        return vesk_tool::readFile(wide(appliedCopyPath()));
    } catch (const Failure&) {
        return std::nullopt; // no machine folder, or no copy
    }
}

// The copy is kept after the registry holds the record; a copy that is
// missing or stale no longer matches the digest and is not used. It only
// spares asking etcd, so the pull stands without it.
void InstanceFiles::keepAppliedCopy(std::string_view regBytes, bool sameDocument) const
{
    std::error_code ignored;
    try {
        const fs::path copy = appliedCopyPath();
        if (sameDocument && fs::exists(copy, ignored))
            return;
        placeCheckedCopy(copy, regBytes);
    } catch (const Failure&) {
    }
}

std::string InstanceFiles::save(const std::string& bytes, std::size_t kept) const
{
    const fs::path folder = pathOf(vesk_tool::machineFolder(L"saved"));
    std::map<long, fs::path> saved = savedStates(folder, stem);
    char sequence[16];
    std::snprintf(sequence, sizeof sequence, "%06ld", saved.empty() ? 1L : (saved.rbegin()->first + 1) % 1000000);
    const fs::path file = folder / (stem + "-" + sequence + "-" + compactUtcNow() + ".reg");
    // The operator's only copy of what the pull overwrites: whole and on the disk first.
    vesk_tool::replaceFile(wide(file), bytes);
    saved.emplace(std::stol(sequence), file);
    while (saved.size() > kept) {
        std::error_code ignored;
        fs::remove(saved.begin()->second, ignored);
        saved.erase(saved.begin());
    }
    return shown(file);
}

} // namespace vesk_fleet
