#include "tools/vesk/fleet/Overlay.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/Fleet.h"

#include <nlohmann/json.hpp>

#include <set>

namespace vesk_fleet {
namespace {

using nlohmann::json;

constexpr int Format = 1;

// The overlay as kept: UTF-8 text, so that it travels as a JSON string.
std::string normalized(const std::string& document)
{
    return vesk_tool::writeRegFile(vesk_tool::readRegFile(document), vesk_tool::RegEncoding::Utf8);
}

// A change's value (or key) as the registry compares names: the same in
// both layers' differences.
std::wstring changeId(const Difference::Change& change)
{
    const bool key = change.kind == Difference::Kind::KeyCreated || change.kind == Difference::Kind::KeyRemoved;
    return foldedName(change.key) + (key ? L"\n[]" : L"\n\"" + foldedName(change.value.name));
}

} // namespace

std::string overlayToJson(const Overlay& overlay)
{
    json out{{"format", Format}, {"host", overlay.host}, {"document", overlay.document}, {"pushedAt", overlay.pushedAt}};
    if (!overlay.message.empty())
        out["message"] = overlay.message;
    return out.dump();
}

Overlay overlayFromJson(const std::string& text, std::int64_t revision)
{
    const json in = json::parse(text, nullptr, false);
    if (!in.is_object() || in.value("format", 0) != Format || !in.contains("document"))
        throw DamagedState("a host's overlay in etcd is damaged or not in a format this vesk reads: update "
                                    "vesk, or push the overlay again");
    Overlay overlay;
    overlay.revision = revision;
    try {
        overlay.host = in.value("host", std::string());
        overlay.document = in.at("document").get<std::string>();
        overlay.pushedAt = in.value("pushedAt", std::string());
        overlay.message = in.value("message", std::string());
    } catch (const json::exception& error) {
        throw DamagedState(std::string("a host's overlay in etcd is damaged: ") + error.what());
    }
    return overlay;
}

std::string composeDocuments(const std::string& state, const std::string& overlay)
{
    vesk_tool::RegDocument composed = state.empty() ? vesk_tool::RegDocument{} : vesk_tool::readRegFile(state);
    vesk_tool::RegDocument top = vesk_tool::readRegFile(overlay);
    for (vesk_tool::RegKey& key : top.keys)
        composed.keys.push_back(std::move(key));
    return vesk_tool::writeRegFile(composed, vesk_tool::RegEncoding::Utf16);
}

std::string FleetStore::overlayKey(const std::string& instance, const std::string& host) const
{
    return prefix + "/overlays/" + instance + "/" + host;
}

std::optional<Overlay> readOverlay(FleetStore& store, const std::string& instance, const std::string& host,
                                   std::int64_t atRevision)
{
    const KeyValue kv = store.client().get(store.overlayKey(instance, hostKey(host)), atRevision);
    if (!kv.found)
        return std::nullopt;
    return overlayFromJson(kv.value, kv.modRevision);
}

std::string Fleet::overlayKeyOf(const std::wstring& instance) const
{
    return hostName.empty() ? std::string() : store.overlayKey(instanceKey(instance), hostKey(hostName));
}

std::int64_t Fleet::overlayRevision(const std::wstring& instance)
{
    if (hostName.empty())
        return 0;
    const KeyValue kv = store.client().get(overlayKeyOf(instance));
    return kv.found ? kv.modRevision : 0;
}

Fleet::Target Fleet::targetOf(const std::wstring& instance, const Published& state)
{
    Target target;
    target.stateDocument = store.content(state.manifest);
    target.record = AppliedRecord{state.revision, state.clusterId, state.manifest.sha256};
    const auto overlay = hostName.empty() ? std::nullopt : readOverlay(store, instanceKey(instance), hostName);
    if (!overlay) {
        target.document = target.stateDocument;
        return target;
    }
    // The record names the composed document: drift, the kept copy and a
    // later pull all see the pair as this host's state.
    target.document = composeDocuments(target.stateDocument, overlay->document);
    target.record.digest = sha256Hex(target.document);
    target.record.overlay = overlay->revision;
    target.overlayHost = overlay->host.empty() ? hostName : overlay->host;
    return target;
}

std::optional<std::string> Fleet::composedFromStore(const std::wstring& instance, const Published& state,
                                                    const AppliedRecord& record)
{
    if (hostName.empty())
        return std::nullopt;
    const auto overlay = readOverlay(store, instanceKey(instance), hostName, record.overlay);
    if (!overlay || overlay->revision != record.overlay)
        return std::nullopt;
    std::string document = composeDocuments(store.content(state.manifest), overlay->document);
    if (sha256Hex(document) != record.digest)
        return std::nullopt;
    return document;
}

std::string Fleet::layeredDryRun(const std::wstring& instance, const Published& state, const Target& target)
{
    // A change the overlay makes to the state is the overlay's; the rest of
    // what the pull changes here is the state's.
    const Difference overlaid =
        host.compare(instance, Side::document(target.stateDocument), Side::document(target.document));
    std::set<std::wstring> fromOverlay;
    for (const Difference::Change& change : overlaid.changes)
        fromOverlay.insert(changeId(change));
    const Difference net = host.compare(instance, Side::local(), Side::document(target.document));
    Difference layers[2];
    for (const Difference::Change& change : net.changes)
        layers[fromOverlay.count(changeId(change))].changes.push_back(change);
    return "# from revision " + std::to_string(state.revision) + " of the fleet's state:\n" + layers[0].lines() +
           "# from overlay " + std::to_string(target.record.overlay) + " of host " + target.overlayHost + ":\n" +
           layers[1].lines();
}

std::int64_t Fleet::pushOverlay(const std::wstring& instance, const std::string& name, const std::string& document,
                                const PushOptions& options)
{
    if (document.size() > MaxOverlayBytes)
        throw vesk_tool::Failure(vesk_tool::BadInput, "the overlay is " + std::to_string(document.size()) +
                                                    " bytes, over the " + std::to_string(MaxOverlayBytes) +
                                                    " an overlay may hold: keep the values all hosts share in the "
                                                    "instance's state; nothing was pushed");
    host.checkDocument(instance, document);
    Overlay overlay{0, name, normalized(document), utcNow(), options.message};
    const std::string key = instanceKey(instance);
    if (!options.force)
        if (const auto state = store.read(key))
            guard(instance, composeDocuments(store.content(state->manifest), overlay.document), state);
    return store.client().put(store.overlayKey(key, hostKey(name)), overlayToJson(overlay));
}

std::int64_t Fleet::removeOverlay(const std::wstring& instance, const std::string& name)
{
    const std::string key = store.overlayKey(instanceKey(instance), hostKey(name));
    const auto revision = store.client().commit({TxnCompare{key, TxnCompare::Target::Version, TxnCompare::Result::Greater, 0}},
                                                {TxnWrite{key, std::nullopt, ""}});
    if (!revision)
        throw vesk_tool::Failure(vesk_tool::NotFound, "host " + name + " has no overlay of " + quotedInstance(instance) +
                                                    ": nothing was removed");
    return *revision;
}

std::string Fleet::overlayPreview(const std::wstring& instance, const std::string& name, const std::string& document)
{
    host.checkDocument(instance, document);
    const auto state = store.read(instanceKey(instance));
    const std::string base = state ? store.content(state->manifest) : std::string();
    const auto current = readOverlay(store, instanceKey(instance), name);
    const std::string before = current ? composeDocuments(base, current->document) : base;
    const std::string after = composeDocuments(base, normalized(document));
    return host.compare(instance, before.empty() ? Side::nothing() : Side::document(before), Side::document(after))
        .lines();
}

int runOverlayPush(const PushArguments& options, FleetContext& context, Fleet& fleet)
{
    const std::wstring instance = vesk_tool::fromUtf8(options.instance);
    if (options.removeOverlay != options.file.empty() || options.ifRevision)
        throw vesk_tool::Failure(vesk_tool::BadInput, "push an overlay with --host NAME --file F, or remove it with "
                                                      "--host NAME --remove-overlay (--if-revision is the state's)");
    if (options.removeOverlay) {
        if (options.dryRun)
            throw vesk_tool::Failure(vesk_tool::BadInput, "--remove-overlay has no --dry-run: it removes the whole "
                                                          "overlay; 'vesk fleet pull --dry-run' on the host shows it");
        context.out << fleet.removeOverlay(instance, options.overlayHost) << "\n";
        return vesk_tool::Success;
    }
    const std::string document = vesk_tool::readFile(vesk_tool::fromUtf8(options.file));
    if (options.dryRun) {
        context.out << fleet.overlayPreview(instance, options.overlayHost, document);
        return vesk_tool::Success;
    }
    const PushOptions push{std::nullopt, options.force, options.message, {}}; // no rollout: an overlay is one host's
    context.out << fleet.pushOverlay(instance, options.overlayHost, document, push) << "\n";
    return vesk_tool::Success;
}

} // namespace vesk_fleet
