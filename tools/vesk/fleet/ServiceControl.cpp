#include "tools/vesk/fleet/ServiceControl.h"

#include "tools/vesk/core/Failure.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vesk_fleet {
namespace {

// Waits until the service is in `wanted` or `seconds` passed; false on timeout or error.
bool waitFor(SC_HANDLE service, DWORD wanted, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status)) {
        if (status.dwCurrentState == wanted)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

std::string windowsError(const std::string& what, DWORD error)
{
    return what + " failed with Windows error " + std::to_string(error);
}

std::string stopAndWait(SC_HANDLE service, int seconds)
{
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE)
            return windowsError("asking it to stop", error);
    }
    if (!waitFor(service, SERVICE_STOPPED, seconds))
        return "it did not stop within " + std::to_string(seconds) + " s; it is still running or stopping";
    return std::string();
}

// A manager busy starting others (its database locked) or a process slow
// to connect is tried again until `seconds` passed.
std::string startAndWait(SC_HANDLE service, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!StartServiceW(service, 0, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_ALREADY_RUNNING)
            break;
        if ((error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT) ||
            std::chrono::steady_clock::now() >= deadline)
            return windowsError("starting it", error);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
    if (!waitFor(service, SERVICE_RUNNING, std::max(1, static_cast<int>(left.count()))))
        return "it did not report running within " + std::to_string(seconds) + " s of its start";
    return std::string();
}

ServiceHandle openManager(DWORD access)
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, access));
    const DWORD error = GetLastError();
    if (!manager)
        throw vesk_tool::Failure(vesk_tool::StoreFailure,
                                 windowsError("opening the Service Control Manager", error) + ": run as an administrator");
    return manager;
}

} // namespace vesk_fleet
