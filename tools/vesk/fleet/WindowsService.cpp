#include "tools/vesk/fleet/WindowsService.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/MachineFolder.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/StopSignal.h"

#include <filesystem>

#if defined(_WIN32)
#include "tools/vesk/fleet/ServiceControl.h"

#include <windows.h>

#include <fstream>
#include <vector>
#endif

namespace vesk_fleet {
namespace {

// The instance's key with what neither a service nor a file name may hold
// replaced by '_'.
std::string safeKey(const std::string& instance)
{
    std::string key = instanceKey(vesk_tool::fromUtf8(instance));
    for (char& c : key)
        if (static_cast<unsigned char>(c) < 0x20 || std::string("\\/:*?\"<>|").find(c) != std::string::npos)
            c = '_';
    return key;
}

} // namespace

std::wstring serviceName(const std::string& instance)
{
    return L"vesk-fleet-" + vesk_tool::fromUtf8(safeKey(instance));
}

std::wstring serviceLogFile(const std::string& instance)
{
    const std::filesystem::path folder(vesk_tool::machineFolder(L"logs"));
    return (folder / std::filesystem::u8path("fleet-" + safeKey(instance) + ".log")).wstring();
}

#if !defined(_WIN32)

namespace {

int onWindowsOnly(FleetContext& context)
{
    context.err << "vesk: 'vesk fleet service' installs a Windows service; here, run the watcher with the systemd unit "
                   "vesk-fleet@.service ('systemctl enable --now vesk-fleet@INSTANCE')\n";
    return vesk_tool::BadInput;
}

} // namespace

int installService(const WatchArguments&, FleetContext& context)
{
    return onWindowsOnly(context);
}

int uninstallService(const CommandArguments&, FleetContext& context)
{
    return onWindowsOnly(context);
}

int runService(const WatchArguments&, FleetContext& context)
{
    return onWindowsOnly(context);
}

std::string restartService(const std::string&, int)
{
    return "services are restarted through the Service Control Manager, on Windows only; here use --on-apply "
           "'systemctl restart NAME'";
}

#else

namespace {

// One argument as the C runtime of the started program reads it back.
std::wstring quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

// The service's command line: this vesk.exe running the watcher with the
// options of the install; files by absolute path, since a service starts in
// the system folder.
std::wstring serviceCommandLine(const WatchArguments& options)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<std::string> args{"--instance", options.instance, "fleet", "service", "run"};
    auto add = [&args](const char* name, const std::string& value, bool file = false) {
        if (value.empty())
            return;
        args.push_back(name);
        args.push_back(file ? std::filesystem::absolute(std::filesystem::u8path(value)).u8string() : value);
    };
    std::string endpoints;
    for (const std::string& endpoint : options.access.endpoints)
        endpoints += (endpoints.empty() ? "" : ",") + endpoint;
    add("--endpoints", endpoints);
    add("--config", options.access.configFile, true);
    add("--user", options.access.user);
    add("--cacert", options.access.caFile, true);
    add("--cert", options.access.certFile, true);
    add("--key", options.access.keyFile, true);
    add("--prefix", options.access.prefix);
    add("--splay", options.splaySeconds ? std::to_string(options.splaySeconds) : "");
    add("--on-apply", options.after.command);
    add("--on-apply-timeout", std::to_string(options.after.timeoutSeconds));
    add("--restart-service", options.after.restartService);
    add("--ring", options.ring);
    add("--host-name", options.hostName);
    std::wstring line = quoted(self);
    for (const std::string& arg : args)
        line += L" " + quoted(vesk_tool::fromUtf8(arg));
    return line;
}

int install(const WatchArguments& options, FleetContext& context)
{
    const std::wstring name = serviceName(options.instance);
    const std::wstring display = L"vesk fleet watcher for instance " + vesk_tool::fromUtf8(options.instance);
    ServiceHandle manager = openManager(SC_MANAGER_CREATE_SERVICE);
    const std::wstring command = serviceCommandLine(options);
    ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            throw vesk_tool::Failure(vesk_tool::WrongType, "the service " + vesk_tool::toUtf8(name) +
                                                               " is installed already: uninstall it first to change it");
        throw vesk_tool::Failure(vesk_tool::StoreFailure, windowsError("creating the service " + vesk_tool::toUtf8(name), error));
    }
    std::wstring description = L"Keeps instance " + vesk_tool::fromUtf8(options.instance) +
                               L" at the fleet's state in etcd; logs to " + serviceLogFile(options.instance);
    SERVICE_DESCRIPTIONW describe{description.data()};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &describe);
    // Restarted 5 s after each failure, 3 times; the count resets after a day.
    SC_ACTION restart[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
    SERVICE_FAILURE_ACTIONSW actions{24 * 60 * 60, nullptr, nullptr, 3, restart};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) {
        const DWORD error = GetLastError();
        context.err << "vesk: warning: " << windowsError("setting the service's recovery actions", error)
                    << "; it is installed, but not restarted when it fails\n";
    }
    // A watcher that ends with an error status (etcd refused its login) counts as a failure too.
    SERVICE_FAILURE_ACTIONS_FLAG onErrors{TRUE};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrors);
    const std::string started = startAndWait(service.get(), 60);
    if (!started.empty()) {
        throw vesk_tool::Failure(vesk_tool::StoreFailure,
                                 "the service " + vesk_tool::toUtf8(name) + ": " + started +
                                     "; it is installed: see " + vesk_tool::toUtf8(serviceLogFile(options.instance)) +
                                     ", then 'sc start " + vesk_tool::toUtf8(name) + "'");
    }
    context.out << "installed and started the service " << vesk_tool::toUtf8(name) << "; it logs to "
                << vesk_tool::toUtf8(serviceLogFile(options.instance)) << "\n";
    return vesk_tool::Success;
}

int uninstall(const CommandArguments& options, FleetContext& context)
{
    const std::wstring name = serviceName(options.instance);
    ServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            throw vesk_tool::Failure(vesk_tool::NotFound, "no service " + vesk_tool::toUtf8(name) + " is installed");
        throw vesk_tool::Failure(vesk_tool::StoreFailure, windowsError("opening the service " + vesk_tool::toUtf8(name), error));
    }
    const std::string stopped = stopAndWait(service.get(), 30);
    if (!stopped.empty())
        throw vesk_tool::Failure(vesk_tool::StoreFailure,
                                 "stopping the service " + vesk_tool::toUtf8(name) + ": " + stopped + "; it is still installed");
    if (!DeleteService(service.get())) {
        const DWORD error = GetLastError();
        throw vesk_tool::Failure(vesk_tool::StoreFailure, windowsError("removing the stopped service " + vesk_tool::toUtf8(name), error));
    }
    context.out << "stopped and removed the service " << vesk_tool::toUtf8(name) << "\n";
    return vesk_tool::Success;
}

// What the service process hands its service's main function: the
// dispatcher calls it on a thread of its own, with no argument of ours.
struct ServiceRun {
    const WatchArguments* options = nullptr;
    FleetContext* context = nullptr;
    std::wstring name;
    SERVICE_STATUS_HANDLE handle = nullptr;
    int status = vesk_tool::Success;
};
ServiceRun running;

void report(DWORD state, int exitStatus = 0)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 30000 : 0;
    SetServiceStatus(running.handle, &status);
}

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        requestStop(); // the watcher finishes what it is writing, then returns
        report(SERVICE_STOP_PENDING);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI serviceMain(DWORD, LPWSTR*)
{
    running.handle = RegisterServiceCtrlHandlerExW(running.name.c_str(), onControl, nullptr);
    if (!running.handle)
        return;
    std::ofstream log;
    try {
        log.open(std::filesystem::path(serviceLogFile(running.options->instance)), std::ios::app);
    } catch (const vesk_tool::Failure&) {
        // No machine folder: the watcher still runs, unlogged, rather than not at all.
    }
    report(SERVICE_RUNNING);
    FleetContext context(running.context->host, log, log);
    context.connect = running.context->connect;
    running.status = runWatch(*running.options, context); // until the stop control asks a stop
    log.flush();
    report(SERVICE_STOPPED, running.status);
}

int runAsService(const WatchArguments& options, FleetContext& context)
{
    running.options = &options;
    running.context = &context;
    running.name = serviceName(options.instance);
    SERVICE_TABLE_ENTRYW table[] = {{running.name.data(), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        context.err << "vesk: " << windowsError("connecting to the Service Control Manager", error)
                    << ": 'fleet service run' is what the installed service runs; to watch from a console, use "
                       "'vesk fleet watch'\n";
        return vesk_tool::BadInput;
    }
    return running.status;
}

} // namespace

int installService(const WatchArguments& watch, FleetContext& context)
{
    return install(watch, context);
}

int uninstallService(const CommandArguments& service, FleetContext& context)
{
    return uninstall(service, context);
}

int runService(const WatchArguments& watch, FleetContext& context)
{
    return runAsService(watch, context);
}

std::string restartService(const std::string& name, int timeoutSeconds)
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return windowsError("opening the Service Control Manager", GetLastError());
    ServiceHandle service(OpenServiceW(manager.get(), vesk_tool::fromUtf8(name).c_str(),
                                       SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service)
        return windowsError("opening the service", GetLastError());
    const std::string stopped = stopAndWait(service.get(), timeoutSeconds);
    if (!stopped.empty())
        return stopped;
    return startAndWait(service.get(), timeoutSeconds);
}

#endif

} // namespace vesk_fleet
