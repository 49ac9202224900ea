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

// The smallest target size. Measured on a 100,000-value instance (2.4 MB),
// what each host reads after a one-value push (the chunk holding the value,
// plus the manifest, 67 bytes per chunk) and the chunks of a first pull:
//   target 8 KiB: 30 KB, 258 chunks; 16 KiB: 34 KB, 129; 32 KiB: 56 KB, 60;
//   64 KiB: 104 KB, 31; 128 KiB: 197 KB, 17.
// Below 16 KiB the manifest eats what the smaller chunk saves, for twice the
// requests; above it each doubling nearly doubles the bytes. The transaction
// limit (MaxChunks) then raises the target with the document: bytes / 96, to
// a power of two, keeps the count near 80 at most (chunks average 1.25 times
// the target), so that 100,000 values go at 32 KiB, 60 chunks.
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
