#include "tools/vesk/fleet/Digest.h"

#include <array>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/sha.h>
#endif

namespace vesk_fleet {
namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string hex(const unsigned char* digest, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

} // namespace

std::string toBase64(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16 |
                                std::uint32_t(std::uint8_t(bytes[i + 1])) << 8 | std::uint8_t(bytes[i + 2]);
        out += Alphabet[n >> 18];
        out += Alphabet[(n >> 12) & 63];
        out += Alphabet[(n >> 6) & 63];
        out += Alphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0)
        return out;
    std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
    if (rest == 2)
        n |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
    out += Alphabet[n >> 18];
    out += Alphabet[(n >> 12) & 63];
    out += rest == 2 ? Alphabet[(n >> 6) & 63] : '=';
    out += '=';
    return out;
}

std::string fromBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        throw DamagedState("base64 text of a length that is no multiple of 4");
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t n = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const int value = j >= 4 - std::size_t(padding) ? 0 : sextet(text[i + j]);
            if (value < 0)
                throw DamagedState("a character outside base64");
            n = n << 6 | std::uint32_t(value);
        }
        out += char(n >> 16);
        if (padding < 2)
            out += char((n >> 8) & 255);
        if (padding < 1)
            out += char(n & 255);
    }
    return out;
}

#if defined(_WIN32)

std::string sha256Hex(std::string_view bytes)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::array<unsigned char, 32> digest{};
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
                BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
                BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                               static_cast<ULONG>(bytes.size()), 0) == 0 &&
                BCryptFinishHash(hash, digest.data(), 32, 0) == 0;
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done)
        throw std::runtime_error("SHA-256 is not available from the system's cryptography");
    return hex(digest.data(), digest.size());
}

#else

std::string sha256Hex(std::string_view bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
    return hex(digest.data(), digest.size());
}

#endif

} // namespace vesk_fleet
