#pragma once

#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/HostReport.h"

#include <optional>
#include <string>
#include <vector>

// What `vesk fleet hosts` and `status` show of the hosts' reports, as text
// for operators and as JSON for scripts.
namespace vesk_fleet {

// Where host `host` reports on the instance `instance` (as instanceKey() makes it).
std::string hostReportKey(const FleetStore& store, const std::string& instance, const std::string& host);

struct ListedHost {
    std::string instance; // as instanceKey() makes it
    HostRecord record;
};

// The reports of instance `instance` (of every instance when empty), newest
// state first; a record that does not read is left out.
std::vector<ListedHost> listHosts(FleetStore& store, const std::string& instance);

// One row per host: host, ring, revision, state, time, version, and the
// error of a failing host; `withInstance` puts the instance first.
std::string hostsText(const std::vector<ListedHost>& hosts, bool withInstance);
// {"hosts": [{"instance": ..., and the record's fields}, ...], `field`: ...},
// hosts newest first; `rollout` is rolloutJson()'s or allRolloutsJson()'s text.
std::string hostsJson(const std::vector<ListedHost>& hosts, const std::string& rollout = "null",
                      const char* field = "rollout");

// The instance's rollout under way as JSON (candidate, previous, rings, the
// open ring, paused, max_failures, and its hosts done, failing, reporting);
// "null" when none.
std::string rolloutJson(FleetStore& store, Fleet& fleet, const std::wstring& instance);
// Every instance's rollout under way, by instance key: {"a": {...}} as
// rolloutJson() writes each; {} when none.
std::string allRolloutsJson(FleetStore& store);
// Every instance's rollout under way, one "instance a: rollout of ..." line each.
std::string allRolloutsText(FleetStore& store);

// "host web-01 reports: up to date at revision 42 since ... (vesk 1.2.3)",
// or that no watcher reports under that name.
std::string hostStatusLine(FleetStore& store, const std::wstring& instance, const std::string& host);

// What `status` says, as one JSON document: the instance, its state
// ("up to date", "behind", "drifted", "never pulled" or "nothing pushed"),
// the revision applied here and the fleet's, the drift counts (and lines
// with `withDiff`), this host's report and the rollout under way.
std::string statusJson(Fleet& fleet, FleetStore& store, const std::wstring& instance, const std::string& host,
                       bool withDiff);

} // namespace vesk_fleet
