#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Cuts a .reg document into chunks whose boundaries follow its content: a
// rolling hash over the bytes arms a cut, which is made at the next line end.
// A change to one value then changes the chunk that holds it (or two, when
// it moves a boundary) and leaves every other chunk byte for byte the same,
// so a host that keeps its chunks fetches only what changed.
namespace vesk_fleet {

// The smallest target size. Measured on a 100,000-value instance (2.9 MB):
// a one-value push costs each host about one chunk plus the manifest's list
// of digests, and a first pull one request per chunk. 32 KiB is where the
// two meet (see the fleet README's Sizing); the transaction limit below
// raises it for documents past about 1.5 MB (bytes / 96, to a power of two).
constexpr std::size_t MinTargetBytes = 16 * 1024;
constexpr std::size_t MaxTargetBytes = 512 * 1024;
// No chunk is longer, whatever its lines: well under etcd's default request
// limit of 1.5 MiB, with room for the put's own framing.
constexpr std::size_t HardMaxChunkBytes = 1024 * 1024;
// etcd takes at most 128 comparisons in a transaction (its --max-txn-ops);
// a push compares the state key, the fence and each chunk it names.
constexpr std::size_t MaxChunks = 126;

// The target chunk size for a document of `bytes` (a power of two).
std::size_t chunkTarget(std::size_t bytes);

// The document cut at `target` (power of two): consecutive pieces covering it.
std::vector<std::string_view> cutAt(std::string_view document, std::size_t target);

// The document cut at chunkTarget(), or at a larger target while that leaves
// more than MaxChunks pieces; the caller refuses a document still over it.
std::vector<std::string_view> cutDocument(std::string_view document);

} // namespace vesk_fleet
