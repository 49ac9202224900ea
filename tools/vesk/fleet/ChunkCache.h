#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The chunks a host has fetched, kept in a folder of the machine's, one file
// per chunk named by its SHA-256, so that a pull fetches from etcd only the
// chunks a push changed. The cache is only ever a shortcut: every chunk is
// checked against its name when read (a damaged one is removed and fetched
// again), and a cache that cannot be read or written makes a pull fetch, never
// fail.
namespace vesk_fleet {

// At least this much is kept, and up to four times the largest document a
// pull used: the current state and a few revisions back (a rollback) stay,
// while chunks no recent state names go first, oldest used first.
constexpr std::uintmax_t CacheFloorBytes = 64ull * 1024 * 1024;

// Puts `bytes` at `path` through a temporary file beside it renamed into
// place, unflushed: for copies checked by digest before every use, so a torn
// or stale one is never taken. False, with nothing left behind, when it could
// not be written.
bool placeCheckedCopy(const std::filesystem::path& path, std::string_view bytes);

class ChunkCache {
public:
    explicit ChunkCache(std::filesystem::path folder) : folder(std::move(folder)) {}

    // The chunk named `digest`, when the cache holds it intact; a damaged
    // copy is removed (counted in damaged()). Marks it as used now.
    std::optional<std::string> get(const std::string& digest);
    // Keeps `bytes` as the chunk `digest`, through a temporary file renamed
    // into place, so a reader never sees half a chunk; failures are ignored.
    void put(const std::string& digest, std::string_view bytes);
    // Removes the least recently used chunks past the bound for documents of
    // up to `largestDocument` bytes, and temporary files a killed pull left.
    void trim(std::uintmax_t largestDocument);

    int damaged() const { return damagedCount; }

private:
    std::filesystem::path pathOf(const std::string& digest) const { return folder / digest; }

    std::filesystem::path folder;
    int damagedCount = 0;
};

} // namespace vesk_fleet
