// FileReplacement and replaceFile: a file replaced whole, through a
// temporary beside it.
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/OsHandle.h"
#include "tools/vesk/core/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace vesk_tool {

#if defined(_WIN32)

FileReplacement::FileReplacement(const std::wstring& path)
    : path(path), temporary(path + L".vesk-" + std::to_wstring(GetCurrentProcessId()))
{
    const HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fail("create a temporary file beside");
    handle = reinterpret_cast<std::intptr_t>(file);
}

FileReplacement::~FileReplacement()
{
    if (handle == -1)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    DeleteFileW(temporary.c_str());
}

void FileReplacement::fail(const std::string& what)
{
    const std::string why = lastError();
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    handle = -1;
    DeleteFileW(temporary.c_str());
    throw Failure(StoreFailure, "cannot " + what + " " + toUtf8(path) + " (" + why + "): it was left as it was");
}

void FileReplacement::write(std::string_view bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0)
            fail("write");
        done += wrote;
    }
}

void FileReplacement::commit()
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    if (!FlushFileBuffers(file))
        fail("write");
    handle = -1;
    if (!CloseHandle(file))
        fail("write");
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail("replace");
}

#else

namespace {

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}


mode_t newFileMode()
{
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

FileReplacement::FileReplacement(const std::wstring& path) : path(path)
{
    const std::string target = toUtf8(path);
    std::string name = target + ".vesk-XXXXXX";
    const int fd = mkstemp(&name[0]);
    if (fd < 0) {
        const std::string why = std::strerror(errno);
        throw Failure(StoreFailure, "cannot create a temporary file beside " + target + " (" + why + "): it was left as it was");
    }
    handle = fd;
    temporary = fromUtf8(name);
    struct stat existing {};
    const mode_t mode = stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : newFileMode();
    if (fchmod(fd, mode) != 0)
        fail("set the permissions of a temporary file beside");
}

FileReplacement::~FileReplacement()
{
    if (handle == -1)
        return;
    ::close(static_cast<int>(handle));
    unlink(toUtf8(temporary).c_str());
}

void FileReplacement::fail(const std::string& what)
{
    const std::string why = std::strerror(errno);
    if (handle != -1)
        ::close(static_cast<int>(handle));
    handle = -1;
    unlink(toUtf8(temporary).c_str());
    throw Failure(StoreFailure, "cannot " + what + " " + toUtf8(path) + " (" + why + "): it was left as it was");
}

void FileReplacement::write(std::string_view bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(static_cast<int>(handle), bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            fail("write");
        done += static_cast<std::size_t>(wrote);
    }
}

void FileReplacement::commit()
{
    const int fd = static_cast<int>(handle);
    if (fsync(fd) != 0)
        fail("write");
    handle = -1;
    if (::close(fd) != 0)
        fail("write");
    const std::string target = toUtf8(path);
    if (rename(toUtf8(temporary).c_str(), target.c_str()) != 0)
        fail("replace");
    // The rename itself reaches the disk with its directory.
    Descriptor directory(open(directoryOf(target).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (directory.get() >= 0)
        fsync(directory.get());
}

#endif

void replaceFile(const std::wstring& path, const std::string& bytes)
{
    FileReplacement file(path);
    file.write(bytes);
    file.commit();
}

} // namespace vesk_tool
