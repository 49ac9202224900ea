#pragma once

#include <cstddef>
#include <cstdint>

// The registry keeps its numbers and UTF-16 units least significant byte
// first whatever the machine: this pair is the one packing of them.
namespace vesk_text {

// The unsigned number in the `width` bytes (at most 8) at `bytes`.
template <typename Byte>
std::uint64_t readLittleEndian(const Byte* bytes, std::size_t width)
{
    static_assert(sizeof(Byte) == 1);
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Appends the low `width` bytes (at most 8) of `value` to `out`.
template <typename Bytes>
void appendLittleEndian(Bytes& out, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(static_cast<typename Bytes::value_type>((value >> (8 * i)) & 0xFF));
}

} // namespace vesk_text
