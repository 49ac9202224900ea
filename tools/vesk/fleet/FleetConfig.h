#pragma once

#include "tools/vesk/fleet/EtcdClient.h"

#include <functional>
#include <string>
#include <vector>

// Where the fleet commands find etcd. Command line first, then the
// environment, then the configuration file; a password comes from the
// environment or the file only, so it never shows in a process listing.
//
// File (--config, else VESK_FLEET_CONFIG, else the platform's default):
//   # comment
//   endpoints = https://10.0.0.1:2379, https://10.0.0.2:2379
//   user = vesk
//   password = ...
//   cacert = /etc/vesk/ca.pem
//   cert = /etc/vesk/client.pem
//   key = /etc/vesk/client-key.pem
//   prefix = vesk/fleet
//   timeout-ms = 5000
namespace vesk_fleet {

struct AccessOptions {
    std::string configFile;
    std::vector<std::string> endpoints;
    std::string user;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string prefix;
};

struct FleetAccess {
    EtcdSettings etcd;
    std::string prefix = "vesk/fleet";
};

using GetEnv = std::function<const char*(const char*)>;

// Throws vesk_tool::Failure (BadInput) naming the file and line of a bad
// configuration, when no endpoint is given anywhere, or when the file holds
// a password that users other than its owner may read.
FleetAccess resolveAccess(const AccessOptions& options, const GetEnv& getenv);

std::string defaultConfigFile();

} // namespace vesk_fleet
