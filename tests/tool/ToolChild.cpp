#include "ToolChild.h"

#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include "tools/vesk/core/Text.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tool_test {

namespace fs = std::filesystem;

#if defined(_WIN32)

fs::path toolPath()
{
    wchar_t path[MAX_PATH];
    return fs::path(std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH))).parent_path() / L"vesk.exe";
}

namespace {

HANDLE inheritable(const fs::path& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One argument as the C runtime's argument splitter reads it back unchanged,
// quotes and backslashes included.
std::wstring quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    return out.append(2 * backslashes, L'\\') + L"\"";
}

} // namespace

ToolChild::ToolChild(const fs::path& program, const std::vector<std::wstring>& args, const fs::path& out,
                     const fs::path& err, unsigned long)
{
    std::wstring line = quoted(program.wstring());
    for (const std::wstring& arg : args)
        line += L" " + quoted(arg);
    const HANDLE output = inheritable(out);
    const HANDLE error = inheritable(err);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = output;
    start.hStdError = error;
    PROCESS_INFORMATION info{};
    // Wine now and then fails a start under load with ERROR_INTERNAL_ERROR,
    // the child gone before its loader ran: that start is tried again.
    DWORD failure = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info)) {
            failure = 0;
            break;
        }
        failure = GetLastError();
        if (failure != ERROR_INTERNAL_ERROR)
            break;
        Sleep(200);
    }
    CloseHandle(output);
    CloseHandle(error);
    if (failure != 0)
        throw std::runtime_error("cannot start " + program.string() + ": error " + std::to_string(failure));
    CloseHandle(info.hThread);
    process = info.hProcess;
}

ToolChild::~ToolChild()
{
    if (!waited)
        kill();
    CloseHandle(process);
}

int ToolChild::wait()
{
    if (waited)
        return status;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    waited = true;
    status = code == 0xDEAD ? -1 : static_cast<int>(code);
    return status;
}

void ToolChild::kill()
{
    if (!waited)
        TerminateProcess(process, 0xDEAD);
    wait();
}

#else

fs::path toolPath()
{
    return fs::read_symlink("/proc/self/exe").parent_path() / "vesk";
}

ToolChild::ToolChild(const fs::path& path, const std::vector<std::wstring>& args, const fs::path& out,
                     const fs::path& err, unsigned long fileSizeLimit)
{
    const std::string program = path.string();
    std::vector<std::string> strings{program};
    for (const std::wstring& arg : args)
        strings.push_back(vesk_tool::toUtf8(arg));
    std::vector<char*> argv;
    for (std::string& text : strings)
        argv.push_back(&text[0]);
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot fork");
    if (pid > 0)
        return;
    // The child: only async-signal-safe calls from here on. It dies with the test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0 || error < 0 || dup2(output, 1) < 0 || dup2(error, 2) < 0)
        _exit(127);
    if (fileSizeLimit > 0) {
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
}

ToolChild::~ToolChild()
{
    if (!waited)
        kill();
}

int ToolChild::wait()
{
    if (waited)
        return status;
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    waited = true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status;
}

void ToolChild::kill()
{
    if (!waited)
        ::kill(pid, SIGKILL);
    wait();
}

int ToolChild::terminate()
{
    if (!waited)
        ::kill(pid, SIGTERM);
    return wait();
}

#endif

} // namespace tool_test
