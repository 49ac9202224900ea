#include "tools/vesk/core/Io.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/OsHandle.h"
#include "tools/vesk/core/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vesk_tool {
namespace {

[[noreturn]] void outputFailure(const std::string& why)
{
    throw Failure(StoreFailure, "cannot write to standard output (" + why + "): the output is incomplete");
}

std::string tooBig(const std::wstring& path)
{
    return toUtf8(path) + " is larger than " + std::to_string(MaxImportFileBytes >> 20) +
           " MiB, the most an import reads: is it a settings file?";
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

void writeOut(std::string_view bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        outputFailure(std::strerror(errno));
}

void writeOutLine(const std::wstring& line)
{
    writeOut(toUtf8(line) + "\n");
}

void flushOut()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        outputFailure(std::strerror(errno));
}

void writeErrLine(const std::string& utf8)
{
    const std::string line = utf8 + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

#if defined(_WIN32)

bool errIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

void keepRunningPastFileSizeLimit() {}

std::string readFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw Failure(BadInput, toUtf8(path) + " is not a regular file: import reads .reg files only");
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw Failure(BadInput, "cannot open " + toUtf8(path) + ": " + lastError());
    LARGE_INTEGER size{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size))
        throw Failure(BadInput, toUtf8(path) + " is not a regular file: import reads .reg files only");
    if (static_cast<std::uint64_t>(size.QuadPart) > MaxImportFileBytes)
        throw Failure(BadInput, tooBig(path));
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
        throw Failure(BadInput, "cannot read " + toUtf8(path) + ": " + lastError());
    return bytes;
}

bool isRegularOrMissing(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return !file.valid() || GetFileType(file.get()) == FILE_TYPE_DISK;
}

bool sameFile(const std::wstring& a, const std::wstring& b)
{
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::wstring* paths[] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        Handle file(CreateFileW(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.valid() || !GetFileInformationByHandle(file.get(), &info[i]))
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

bool errIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

void keepRunningPastFileSizeLimit()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string readFile(const std::wstring& path)
{
    // Non-blocking, so a FIFO is refused instead of waited on.
    Descriptor file(open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        throw Failure(BadInput, "cannot open " + toUtf8(path) + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw Failure(BadInput, toUtf8(path) + " is not a regular file: import reads .reg files only");
    if (static_cast<std::uint64_t>(info.st_size) > MaxImportFileBytes)
        throw Failure(BadInput, tooBig(path));
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Failure(BadInput, "cannot read " + toUtf8(path) + ": " + std::strerror(errno));
        if (got == 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > MaxImportFileBytes) // it grew while being read
            throw Failure(BadInput, tooBig(path));
    }
}

bool isRegularOrMissing(const std::wstring& path)
{
    struct stat info {};
    if (stat(toUtf8(path).c_str(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

bool sameFile(const std::wstring& a, const std::wstring& b)
{
    struct stat first {}, second {};
    return stat(toUtf8(a).c_str(), &first) == 0 && stat(toUtf8(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

#endif

} // namespace vesk_tool
