#pragma once

#include <windows.h>

#include <string>

// The Service Control Manager's calls the watcher's service needs, on
// Windows only: handles that close themselves, and waits for a state.
namespace vesk_fleet {

// A service handle closed when it goes out of scope.
class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle(handle) {}
    ~ServiceHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
    ServiceHandle(ServiceHandle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

private:
    SC_HANDLE handle;
};

// "<what> failed with Windows error N". Callers read GetLastError() before
// building any text: that may reset it.
std::string windowsError(const std::string& what, DWORD error);

// Stops the service and waits at most `seconds`; "" when it is stopped.
std::string stopAndWait(SC_HANDLE service, int seconds);

// Starts the service and waits at most `seconds` until it runs; "" when it does.
std::string startAndWait(SC_HANDLE service, int seconds);

// The Service Control Manager opened for `access`; Failure(StoreFailure),
// saying to run as an administrator, when it refuses.
ServiceHandle openManager(DWORD access);

} // namespace vesk_fleet
