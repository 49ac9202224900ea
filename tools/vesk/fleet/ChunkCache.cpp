#include "tools/vesk/fleet/ChunkCache.h"

#include "tools/vesk/fleet/Digest.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

namespace vesk_fleet {
namespace {

namespace fs = std::filesystem;

bool isDigestName(const std::string& name)
{
    return name.size() == 64 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

std::optional<std::string> ChunkCache::get(const std::string& digest)
{
    const fs::path path = pathOf(digest);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    std::string chunk = bytes.str();
    std::error_code ignored;
    if (sha256Hex(chunk) != digest) {
        ++damagedCount;
        fs::remove(path, ignored);
        return std::nullopt;
    }
    // Its time is its last use: trim drops the oldest.
    fs::last_write_time(path, fs::file_time_type::clock::now(), ignored);
    return chunk;
}

bool placeCheckedCopy(const fs::path& path, std::string_view bytes)
{
    std::random_device random;
    const fs::path temporary = fs::path(path).concat(".tmp" + std::to_string(random()));
    std::error_code error;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, path, error);
    if (error)
        fs::remove(temporary, error);
    return !error;
}

void ChunkCache::put(const std::string& digest, std::string_view bytes)
{
    std::error_code error;
    fs::create_directories(folder, error);
    placeCheckedCopy(pathOf(digest), bytes);
}

void ChunkCache::trim(std::uintmax_t largestDocument)
{
    const std::uintmax_t bound = std::max(CacheFloorBytes, 4 * largestDocument);
    const auto now = fs::file_time_type::clock::now();
    struct Entry {
        fs::file_time_type used;
        std::uintmax_t bytes;
        fs::path path;
    };
    std::vector<Entry> entries;
    std::uintmax_t total = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        const fs::path path = it->path();
        const fs::file_time_type used = fs::last_write_time(path, ignored);
        if (!isDigestName(path.filename().string())) {
            // A pull killed between writing and renaming; an hour leaves any
            // running pull's own file alone.
            if (!ignored && now - used > std::chrono::hours(1))
                fs::remove(path, ignored);
            continue;
        }
        const std::uintmax_t bytes = fs::file_size(path, ignored);
        if (ignored)
            continue;
        entries.push_back({used, bytes, path});
        total += bytes;
    }
    if (total <= bound)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    for (const Entry& entry : entries) {
        if (total <= bound)
            break;
        std::error_code ignored;
        if (fs::remove(entry.path, ignored))
            total -= entry.bytes;
    }
}

} // namespace vesk_fleet
