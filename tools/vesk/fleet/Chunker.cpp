#include "tools/vesk/fleet/Chunker.h"

#include <array>
#include <cstdint>

namespace vesk_fleet {
namespace {

// One fixed pseudo-random word per byte value (splitmix64 from a constant):
// every vesk must cut the same document the same way, or hosts stop sharing
// chunks across pushes from different machines.
std::array<std::uint64_t, 256> makeGear()
{
    std::array<std::uint64_t, 256> gear{};
    std::uint64_t state = 0x7665736b2d636463ull;
    for (std::uint64_t& word : gear) {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        word = z ^ (z >> 31);
    }
    return gear;
}

const std::array<std::uint64_t, 256> Gear = makeGear();

int log2Of(std::size_t power)
{
    int bits = 0;
    while ((std::size_t{1} << bits) < power)
        ++bits;
    return bits;
}

} // namespace

std::size_t chunkTarget(std::size_t bytes)
{
    std::size_t target = MinTargetBytes;
    while (target < MaxTargetBytes && bytes > 96 * target)
        target *= 2;
    return target;
}

std::vector<std::string_view> cutAt(std::string_view document, std::size_t target)
{
    // UTF-16LE (what export writes, after its byte order mark) ends a line
    // with the unit 0A 00; a cut never splits a unit.
    const bool wide = document.size() >= 2 && static_cast<unsigned char>(document[0]) == 0xFF &&
                      static_cast<unsigned char>(document[1]) == 0xFE;
    const std::size_t unit = wide ? 2 : 1;
    const std::size_t least = target / 4;
    const std::size_t most = std::min(4 * target, HardMaxChunkBytes);
    // The top bits of the rolling hash depend on the last 64 bytes: a cut is
    // armed about once per `target` bytes past the least size, and four
    // times as often past twice the target, which keeps long chunks rare.
    const int bits = log2Of(target);
    const std::uint64_t mask = ~std::uint64_t{0} << (64 - bits);
    const std::uint64_t easier = ~std::uint64_t{0} << (64 - bits + 2);
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    std::size_t lastLine = 0; // just after the last line end in this chunk
    std::uint64_t hash = 0;
    bool armed = false;
    for (std::size_t at = 0; at < document.size(); ++at) {
        const auto byte = static_cast<unsigned char>(document[at]);
        hash = (hash << 1) + Gear[byte];
        const bool lineEnd = wide ? (byte == 0 && (at % 2) == 1 && document[at - 1] == '\n') : byte == '\n';
        if (lineEnd)
            lastLine = at + 1;
        const std::size_t length = at + 1 - start;
        if (length < least)
            continue;
        armed = armed || (hash & (length < 2 * target ? mask : easier)) == 0;
        std::size_t cut = 0;
        if (armed && lineEnd)
            cut = at + 1;
        else if (length + unit > most && (at + 1) % unit == 0)
            cut = lastLine > start ? lastLine : at + 1; // a line longer than a chunk is cut inside
        if (cut == 0)
            continue;
        pieces.push_back(document.substr(start, cut - start));
        start = cut;
        armed = false;
    }
    if (start < document.size())
        pieces.push_back(document.substr(start));
    return pieces;
}

std::vector<std::string_view> cutDocument(std::string_view document)
{
    std::size_t target = chunkTarget(document.size());
    std::vector<std::string_view> pieces = cutAt(document, target);
    while (pieces.size() > MaxChunks && target < MaxTargetBytes) {
        target *= 2;
        pieces = cutAt(document, target);
    }
    return pieces;
}

} // namespace vesk_fleet
