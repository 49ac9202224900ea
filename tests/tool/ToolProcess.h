#pragma once

// The built vesk program run as a user runs it: a separate process with its
// own exit status, standard output and standard error. Every test works in
// instances of its own; natively the whole store is TestMain's scratch file.
#include "Text.h"
#include "common/RawRegistry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <sys/wait.h>
#endif

namespace vesk_tool_test {

using namespace vesk_tool;
namespace fs = std::filesystem;

inline const std::wstring ServerKey = L"Software\\Halvorn\\Tessaly\\Orvane";
inline const std::string Server = "HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\";
constexpr auto npos = std::string::npos;

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// The program beside this test: both are built into bin/.
inline fs::path tool()
{
#if defined(_WIN32)
    wchar_t path[MAX_PATH];
    return fs::path(std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH))).parent_path() / L"vesk.exe";
#else
    return fs::read_symlink("/proc/self/exe").parent_path() / "vesk";
#endif
}

// One argument as the shell (POSIX) or the C runtime's argument splitter
// (Windows) reads it back unchanged, backslashes and all.
inline std::wstring quoteArgument(const std::wstring& text)
{
#if defined(_WIN32)
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, L'\\') + L"\"";
#else
    std::wstring quoted = L"'";
    for (wchar_t c : text)
        quoted += c == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, c);
    return quoted + L"'";
#endif
}

#if defined(_WIN32)
// Standard output or error pointed at a file for as long as the object lives.
class Redirected {
public:
    Redirected(int stream, const fs::path& file) : stream(stream), saved(_dup(stream))
    {
        const int opened = _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(opened, stream);
        _close(opened);
    }
    ~Redirected()
    {
        _dup2(saved, stream);
        _close(saved);
    }

private:
    int stream, saved;
};
#endif

// The program with exactly these arguments, its output into files. Windows
// starts it directly: cmd.exe would cut a line past 8,191 characters.
inline int spawn(const fs::path& program, const std::vector<std::wstring>& args, const fs::path& out, const fs::path& err)
{
#if defined(_WIN32)
    std::vector<std::wstring> quoted{quoteArgument(program.wstring())};
    for (const std::wstring& arg : args)
        quoted.push_back(quoteArgument(arg));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : quoted)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const Redirected toOut(1, out), toErr(2, err);
    return static_cast<int>(_wspawnv(_P_WAIT, program.c_str(), argv.data()));
#else
    std::wstring line = quoteArgument(program.wstring());
    for (const std::wstring& arg : args)
        line += L" " + quoteArgument(arg);
    line += L" >" + quoteArgument(out.wstring()) + L" 2>" + quoteArgument(err.wstring());
    const int status = std::system(toUtf8(line).c_str()); // arguments as UTF-8, whatever the locale
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

inline std::string readBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct ToolRun {
    int status;
    std::string out, err; // bytes as written (UTF-8)
};

class VeskTool : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }

    void TearDown() override
    {
        for (const std::wstring& name : instances)
            RawRegistry::DeleteTree(ServerKey + L"\\" + name);
        fs::remove_all(dir);
    }

    std::wstring instance() { return instances.emplace_back(RawRegistry::UniqueName(L"vesk-tool")); }

    fs::path write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }

    ToolRun run(const std::vector<std::wstring>& args, const fs::path& program = tool())
    {
        return {spawn(program, args, dir / "stdout", dir / "stderr"), readBytes(dir / "stdout"), readBytes(dir / "stderr")};
    }

    ToolRun vesk(const std::wstring& instance, std::vector<std::wstring> args)
    {
        args.insert(args.begin(), {L"--instance", instance});
        return run(args);
    }

    // The instance's whole tree, as UTF-8 registry text.
    std::string snapshot(const std::wstring& instance) { return vesk(instance, {L"export", L"--encoding", L"utf8"}).out; }

    static void expectOk(const ToolRun& result, const std::string& out = "")
    {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }

    const fs::path dir = fs::temp_directory_path() / RawRegistry::UniqueName(L"vesk-tool");
    std::vector<std::wstring> instances;
};

} // namespace vesk_tool_test
