#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The byte encodings the fleet's etcd traffic needs: base64 for keys and
// values in the JSON gateway, SHA-256 to name content chunks and check what
// comes back.
namespace vesk_fleet {

std::string toBase64(std::string_view bytes);
// Throws std::invalid_argument on anything that is not padded base64.
std::string fromBase64(std::string_view text);

// Lowercase hex of the SHA-256 of `bytes` (OpenSSL natively, CNG on Windows).
std::string sha256Hex(std::string_view bytes);

} // namespace vesk_fleet
