#include "tools/vesk/fleet/Manifest.h"

#include "tools/vesk/fleet/Digest.h"

#include <nlohmann/json.hpp>

namespace vesk_fleet {
namespace {

using nlohmann::json;

constexpr int Format = 2;

} // namespace

std::string manifestToJson(const Manifest& manifest)
{
    json out{{"format", Format},           {"instance", manifest.instance}, {"bytes", manifest.bytes},
             {"sha256", manifest.sha256},  {"chunks", manifest.chunks},     {"pushedAt", manifest.pushedAt},
             {"pushedBy", manifest.pushedBy}, {"pushId", manifest.pushId}};
    if (!manifest.message.empty())
        out["message"] = manifest.message;
    if (!manifest.note.empty())
        out["note"] = manifest.note;
    return out.dump();
}

Manifest manifestFromJson(const std::string& text)
{
    const json in = json::parse(text, nullptr, false);
    const int format = in.is_object() ? in.value("format", 0) : 0;
    if (format != 1 && format != Format)
        throw DamagedState("the fleet state in etcd is not in a format this vesk reads: update vesk");
    Manifest manifest;
    manifest.format = format;
    try {
        if (format == Format)
            manifest.instance = in.at("instance").get<std::string>();
        manifest.bytes = in.at("bytes").get<std::uint64_t>();
        manifest.sha256 = in.at("sha256").get<std::string>();
        manifest.chunks = in.at("chunks").get<std::vector<std::string>>();
        manifest.pushedAt = in.value("pushedAt", std::string());
        manifest.pushedBy = in.value("pushedBy", std::string());
        manifest.pushId = in.value("pushId", std::string());
        manifest.message = in.value("message", std::string());
        manifest.note = in.value("note", std::string());
    } catch (const json::exception& error) {
        throw DamagedState(std::string("the fleet state in etcd is damaged: ") + error.what());
    }
    return manifest;
}

} // namespace vesk_fleet
