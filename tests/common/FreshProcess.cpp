#include "common/FreshProcess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;
#endif

namespace FreshProcess {
namespace {

const char* const Flag = "--fresh-process=";
const char* argument = nullptr;

#if defined(_WIN32)
int Start(const std::string& filter, const std::string& given)
{
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        throw std::runtime_error("cannot find this test program's own file: error " + std::to_string(GetLastError()));
    // Every character here is plain ASCII, so widening is a copy.
    const std::string arguments = " " + filter + " \"" + given + "\"";
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"" + std::wstring(arguments.begin(), arguments.end());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("cannot start a fresh test process: error " + std::to_string(GetLastError()));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
#else
int Start(std::string filter, std::string given)
{
    char program[] = "/proc/self/exe";
    std::vector<char*> arguments = {program, filter.data(), given.data(), nullptr};
    pid_t child = 0;
    const int error = posix_spawn(&child, program, nullptr, nullptr, arguments.data(), environ);
    if (error != 0)
        throw std::runtime_error(std::string("cannot start a fresh test process: ") + std::strerror(error));
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        throw std::runtime_error(std::string("cannot wait for the fresh test process: ") + std::strerror(errno));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

} // namespace

const char* const OnlyThere = "runs in a process of its own, started by another test";

int Run(const char* test, const std::string& given)
{
    if (given.empty() || given.find('"') != std::string::npos)
        throw std::invalid_argument("a fresh process's argument must be neither empty nor quoted: " + given);
    // What this process has printed comes before what the new one prints.
    std::fflush(stdout);
    std::fflush(stderr);
    return Start(std::string("--gtest_filter=") + test, Flag + given);
}

const char* Argument() { return argument; }

void TakeArgument(int argc, char** argv)
{
    const std::size_t length = std::strlen(Flag);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], Flag, length) == 0)
            argument = argv[i] + length;
}

} // namespace FreshProcess
