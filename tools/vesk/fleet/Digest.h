#pragma once

#include "tools/vesk/core/Failure.h"

#include <string>
#include <string_view>

// The byte encodings the fleet's etcd traffic needs: base64 for keys and
// values in the JSON gateway, SHA-256 to name content chunks and check what
// comes back.
namespace vesk_fleet {

// Data from etcd that does not read back as what was written (not base64, a
// manifest of no known format, a chunk that lost its digest): etcd's side is
// broken, so the command fails as etcd failing would, changing nothing here.
class DamagedState : public vesk_tool::Failure {
public:
    explicit DamagedState(const std::string& message) : Failure(vesk_tool::StoreFailure, message) {}
    std::string explanation() const override { return std::string(what()) + "; the local registry is unchanged"; }
};

std::string toBase64(std::string_view bytes);
// Throws DamagedState on anything that is not padded base64.
std::string fromBase64(std::string_view text);

// Lowercase hex of the SHA-256 of `bytes` (OpenSSL natively, CNG on Windows).
std::string sha256Hex(std::string_view bytes);

} // namespace vesk_fleet
