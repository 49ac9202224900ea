#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The built vesk program (or another) as a child process of a test, started directly with
// exactly these arguments (no shell, whose quoting or line limit could change
// them) and its standard output and error going to files; then waited for,
// or killed at once (SIGKILL natively, TerminateProcess on Windows: no
// clean-up runs).
namespace tool_test {

// The program beside the test: both are built into bin/.
std::filesystem::path toolPath();

class ToolChild {
public:
    // `fileSizeLimit` > 0 sets RLIMIT_FSIZE in the child (natively only).
    ToolChild(const std::vector<std::wstring>& args, const std::filesystem::path& out, const std::filesystem::path& err,
              unsigned long fileSizeLimit = 0)
        : ToolChild(toolPath(), args, out, err, fileSizeLimit)
    {
    }
    // Another program; under Windows a bare name is looked for where
    // CreateProcess looks (reg.exe in system32).
    ToolChild(const std::filesystem::path& program, const std::vector<std::wstring>& args,
              const std::filesystem::path& out, const std::filesystem::path& err, unsigned long fileSizeLimit = 0);
    ~ToolChild();
    ToolChild(const ToolChild&) = delete;
    ToolChild& operator=(const ToolChild&) = delete;

    // The exit status; -1 when it was killed.
    int wait();
    void kill();
#if !defined(_WIN32)
    // Asks it to stop (SIGTERM), then waits.
    int terminate();
#endif

private:
#if defined(_WIN32)
    void* process = nullptr;
#else
    int pid = -1;
#endif
    bool waited = false;
    int status = -1;
};

} // namespace tool_test
