#include "Io.h"

#include "Failure.h"
#include "Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace vesk_tool {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File open(const std::wstring& path, const char* mode)
{
#if defined(_WIN32)
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return File(_wfopen(path.c_str(), wideMode.c_str()), &std::fclose);
#else
    return File(std::fopen(toUtf8(path).c_str(), mode), &std::fclose);
#endif
}

[[noreturn]] void fileFailure(const std::string& what, const std::wstring& path)
{
    throw Failure(BadInput, "cannot " + what + " " + toUtf8(path) + ": " + std::strerror(errno));
}

} // namespace

void prepareConsole()
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (GetConsoleWindow())
        SetConsoleOutputCP(CP_UTF8);
#endif
}

void writeOut(const std::string& bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeOutLine(const std::wstring& line)
{
    writeOut(toUtf8(line) + "\n");
}

void writeErrLine(const std::string& utf8)
{
    const std::string line = utf8 + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string readFile(const std::wstring& path)
{
    File file = open(path, "rb");
    if (!file)
        fileFailure("open", path);
    std::string bytes;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        bytes.append(buffer, got);
    if (std::ferror(file.get()))
        fileFailure("read", path);
    return bytes;
}

void writeFile(const std::wstring& path, const std::string& bytes)
{
    File file = open(path, "wb");
    if (!file)
        fileFailure("create", path);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0)
        fileFailure("write", path);
}

} // namespace vesk_tool
