#include "ToolProcess.h"

#include "Text.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)

fs::path ownDirectory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, length)).parent_path();
}

// Quoted so CommandLineToArgvW gives back exactly `arg`.
std::wstring quoted(const std::wstring& arg)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L'"';
}

HANDLE inheritable(const fs::path& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path.string());
    return handle;
}

int spawn(const std::vector<std::wstring>& args, const fs::path& out, const fs::path& err)
{
    const fs::path program = ownDirectory() / L"vesk.exe";
    std::wstring line = quoted(program.wstring());
    for (const std::wstring& arg : args)
        line += L' ' + quoted(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = inheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = inheritable(err, GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(handle);
    if (!started)
        throw std::runtime_error("cannot start " + program.string());
    DWORD status = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(status);
}

#else

fs::path ownDirectory()
{
    return fs::read_symlink("/proc/self/exe").parent_path();
}

int spawn(const std::vector<std::wstring>& args, const fs::path& out, const fs::path& err)
{
    const std::string program = (ownDirectory() / "vesk").string();
    std::vector<std::string> texts{program};
    for (const std::wstring& arg : args)
        texts.push_back(vesk_tool::toUtf8(arg));
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    const int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        throw std::runtime_error("cannot start " + program);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

} // namespace

const fs::path& scratchDirectory()
{
#if defined(_WIN32)
    static const std::string pid = std::to_string(GetCurrentProcessId());
#else
    static const std::string pid = std::to_string(getpid());
#endif
    static const fs::path directory = [] {
        const fs::path path = fs::temp_directory_path() / ("vesk-tool-test-" + pid);
        fs::create_directories(path);
        return path;
    }();
    return directory;
}

ToolRun runTool(const std::vector<std::wstring>& args)
{
    const fs::path out = scratchDirectory() / "stdout";
    const fs::path err = scratchDirectory() / "stderr";
    ToolRun run;
    run.status = spawn(args, out, err);
    run.out = readBytes(out);
    run.err = readBytes(err);
    return run;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush())
        throw std::runtime_error("cannot write " + path.string());
}
