#pragma once

#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/HostReport.h"

#include <cstdint>
#include <optional>
#include <string>

// Per-host overlays: the few values that differ on one host (a node id, a
// bind address), kept at <prefix>/overlays/<instance>/<host> beside the
// instance's state. That host applies the state with its overlay on top, as
// one document: overlay values win, its keys and values are added, and its
// deletions ("name"=-, [-key]) act on the state's. An overlay's version is
// the mod revision etcd gives its key; it keeps no history of its own (put
// an earlier one back by pushing its file again).
namespace vesk_fleet {

// One host's overlay as etcd keeps it.
struct Overlay {
    std::int64_t revision = 0; // the mod revision of its key
    std::string host;          // as pushed
    std::string document;      // UTF-8 .reg text
    std::string pushedAt;      // UTC, ISO 8601
    std::string message;       // the operator's reason (push -m)
};

// An overlay is a few values: well within one etcd request.
constexpr std::size_t MaxOverlayBytes = 512 * 1024;

// The overlay as the value of its key (its revision is the key's).
std::string overlayToJson(const Overlay& overlay);
// Throws DamagedState when the text is no overlay this vesk reads.
Overlay overlayFromJson(const std::string& text, std::int64_t revision);

// The document a host with `overlay` applies: the state's keys, then the
// overlay's, so that what both set is the overlay's. UTF-16LE .reg, as
// export writes it; `state` may be empty (nothing pushed yet).
std::string composeDocuments(const std::string& state, const std::string& overlay);

// The overlay of `host` on instance key `instance` (at etcd revision
// `atRevision`, 0: the latest); nullopt when it has none.
std::optional<Overlay> readOverlay(FleetStore& store, const std::string& instance, const std::string& host,
                                   std::int64_t atRevision = 0);

// `vesk fleet push --host NAME (--file F | --remove-overlay)`: prints the
// revision of the write; returns the exit status.
int runOverlayPush(const PushArguments& options, FleetContext& context, Fleet& fleet);

} // namespace vesk_fleet
