#pragma once

#include <string>

// Owners of the operating system's handles, closed when they go.
#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vesk_tool {

#if defined(_WIN32)

// A Win32 handle, closed when it goes. Files fail as INVALID_HANDLE_VALUE,
// most other objects as null: neither holds one.
class Handle {
public:
    explicit Handle(HANDLE handle) : value(handle) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(value);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return value; }
    bool valid() const { return value != nullptr && value != INVALID_HANDLE_VALUE; }

private:
    HANDLE value;
};

// The calling thread's last Win32 error, for a failure message.
inline std::string lastError()
{
    return "error " + std::to_string(GetLastError());
}

#else

// A file descriptor, closed when it goes; a negative one holds none.
class Descriptor {
public:
    explicit Descriptor(int fd) : value(fd) {}
    ~Descriptor()
    {
        if (value >= 0)
            ::close(value);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return value; }

private:
    int value;
};

#endif

} // namespace vesk_tool
