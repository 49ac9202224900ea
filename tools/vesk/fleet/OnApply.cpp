#include "tools/vesk/fleet/OnApply.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/WindowsService.h"

#include <chrono>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include "tools/vesk/core/OsHandle.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace vesk_fleet {
namespace {

std::string timedOut(int timeoutSeconds)
{
    return "did not finish within " + std::to_string(timeoutSeconds) +
           " s and was killed (raise --on-apply-timeout if it needs longer)";
}

#if defined(_WIN32)

using vesk_tool::Handle;

// Reads the error first: building the text may reset it.
std::string lastError(const std::string& what)
{
    const DWORD error = GetLastError();
    return what + " failed with Windows error " + std::to_string(error);
}

// Sets the step's variables in this process for the child to inherit; the
// watcher's next run sets them again, so nothing stale is left to matter.
void setStepEnvironment(const AppliedStep& step)
{
    SetEnvironmentVariableW(L"VESK_FLEET_INSTANCE", vesk_tool::fromUtf8(step.instance).c_str());
    SetEnvironmentVariableW(L"VESK_FLEET_REVISION", std::to_wstring(step.revision).c_str());
    SetEnvironmentVariableW(L"VESK_FLEET_PREVIOUS", std::to_wstring(step.previous).c_str());
}

#else

// The watcher's environment with the step's variables put first, which
// the shell takes over any inherited ones of the same name.
std::vector<std::string> stepEnvironment(const AppliedStep& step)
{
    std::vector<std::string> entries{"VESK_FLEET_INSTANCE=" + step.instance,
                                     "VESK_FLEET_REVISION=" + std::to_string(step.revision),
                                     "VESK_FLEET_PREVIOUS=" + std::to_string(step.previous)};
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "VESK_FLEET_INSTANCE=", 20) != 0 && std::strncmp(*entry, "VESK_FLEET_REVISION=", 20) != 0 &&
            std::strncmp(*entry, "VESK_FLEET_PREVIOUS=", 20) != 0)
            entries.emplace_back(*entry);
    return entries;
}

#endif

} // namespace

#if defined(_WIN32)

std::string runCommand(const std::string& command, int timeoutSeconds, const AppliedStep& step)
{
    // The job holds the command and whatever it starts, so a timeout ends them all.
    Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.valid())
        return lastError("CreateJobObject");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    wchar_t shell[MAX_PATH] = L"cmd.exe";
    GetEnvironmentVariableW(L"ComSpec", shell, MAX_PATH);
    // /s takes the outer quotes off, leaving the operator's text as written.
    std::wstring line = L"\"" + std::wstring(shell) + L"\" /d /s /c \"" + vesk_tool::fromUtf8(command) + L"\"";
    setStepEnvironment(step);
    // No flag for the console: the command shares the watcher's, and prints where it does.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &process))
        return "cannot be started: " + lastError("CreateProcess");
    Handle processHandle(process.hProcess);
    Handle thread(process.hThread);
    if (!AssignProcessToJobObject(job.get(), process.hProcess)) {
        TerminateProcess(process.hProcess, 1);
        return "cannot be started: " + lastError("AssignProcessToJobObject");
    }
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        TerminateJobObject(job.get(), 1);
        WaitForSingleObject(process.hProcess, 5000);
        return timedOut(timeoutSeconds);
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return status == 0 ? std::string() : "exited with status " + std::to_string(status);
}

#else

std::string runCommand(const std::string& command, int timeoutSeconds, const AppliedStep& step)
{
    std::vector<std::string> environment = stepEnvironment(step);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", flag = "-c", text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

    // A group of its own, so a timeout ends what the command started too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    if (failed != 0)
        return std::string("cannot be started: ") + std::strerror(failed);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return timedOut(timeoutSeconds);
    }
    if (done < 0)
        return std::string("could not be waited for: ") + std::strerror(errno);
    if (WIFSIGNALED(status))
        return "was ended by signal " + std::to_string(WTERMSIG(status));
    return WEXITSTATUS(status) == 0 ? std::string() : "exited with status " + std::to_string(WEXITSTATUS(status));
}

#endif

std::string runAfterApply(const AfterApply& after, const AppliedStep& step)
{
    if (!after.command.empty()) {
        const std::string failed = runCommand(after.command, after.timeoutSeconds, step);
        if (!failed.empty())
            return "the --on-apply command '" + after.command + "' " + failed;
    }
    if (!after.restartService.empty()) {
        const std::string failed = restartService(after.restartService, after.timeoutSeconds);
        if (!failed.empty())
            return "restarting the service '" + after.restartService + "' failed: " + failed;
    }
    return std::string();
}

std::function<std::string(const AppliedStep&)> afterApplyStep(const AfterApply& after)
{
#if !defined(_WIN32)
    if (!after.restartService.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "--restart-service: " + restartService(after.restartService, 0));
#endif
    if (after.command.empty() && after.restartService.empty())
        return nullptr;
    return [after](const AppliedStep& step) { return runAfterApply(after, step); };
}

} // namespace vesk_fleet
