#pragma once

#include <string>

// The watcher as a Windows service, through the Service Control Manager:
// `vesk fleet service install|uninstall|run`, and the service restart a
// watcher may do after each apply. Natively these say they are for Windows
// and point at the systemd unit.
namespace vesk_fleet {

struct CommandArguments;
struct WatchArguments;
struct FleetContext;

// `vesk fleet service install`: registers "vesk-fleet-<instance>" to run the
// watcher with the options given, as LocalSystem, restarted on failure, and
// starts it. Returns the exit status; failures throw.
int installService(const WatchArguments& watch, FleetContext& context);

// `vesk fleet service uninstall`: stops and removes the instance's service.
int uninstallService(const CommandArguments& service, FleetContext& context);

// `vesk fleet service run`: what the installed service itself runs, the
// watch until the service's stop control.
int runService(const WatchArguments& watch, FleetContext& context);

// Stops the service `name`, waits until it stopped, starts it and waits
// until it runs, each wait at most `timeoutSeconds`; "" when done, else
// what failed and the state the service was left in.
std::string restartService(const std::string& name, int timeoutSeconds);

// The service's name for an instance: "vesk-fleet-" and the instance's key,
// with what a service name may not hold replaced.
std::wstring serviceName(const std::string& instance);

// Where the service of an instance logs: <machine folder>\logs\fleet-<instance's key>.log.
std::wstring serviceLogFile(const std::string& instance);

} // namespace vesk_fleet
