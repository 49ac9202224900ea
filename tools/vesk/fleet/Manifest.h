#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The small key a push writes last: it names the chunks of one document
// (FleetStore.h tells where each is kept in etcd).
namespace vesk_fleet {

struct Manifest {
    int format = 2;       // 1: chunks shared by every instance
    std::string instance; // the instance key it belongs to (format 2)
    std::uint64_t bytes = 0;
    std::string sha256;
    std::vector<std::string> chunks;
    std::string pushedAt; // UTC, ISO 8601
    std::string pushedBy;
    std::string pushId;  // random, so a push whose answer was lost can be found
    std::string message; // the operator's reason (push -m)
    std::string note;    // e.g. "rollback to 42"
};

// The manifest as the JSON kept in etcd.
std::string manifestToJson(const Manifest& manifest);
// Throws DamagedState when the text is no manifest of a format
// this vesk reads.
Manifest manifestFromJson(const std::string& text);

} // namespace vesk_fleet
