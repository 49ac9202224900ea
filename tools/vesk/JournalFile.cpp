#include "JournalFile.h"

#include "Failure.h"
#include "Io.h"
#include "Text.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vesk_tool {
namespace {

std::string nothingChanged(const std::wstring& path, const std::string& why)
{
    return "cannot write the recovery journal " + toUtf8(path) + " (" + why + "): nothing was changed";
}

} // namespace

JournalFile::JournalFile(JournalFile&& other) noexcept : path(std::move(other.path)), handle(other.handle)
{
    other.handle = nullptr;
}

#if defined(_WIN32)

namespace {

HANDLE openHeld(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

JournalFile JournalFile::create(const std::wstring& path, const std::string& bytes)
{
    const std::wstring fresh = path + L".new-" + std::to_wstring(GetCurrentProcessId());
    try {
        replaceFile(fresh, bytes);
    } catch (const Failure& failure) {
        throw Failure(StoreFailure, nothingChanged(path, failure.what()));
    }
    if (!MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(fresh.c_str());
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            throw Failure(StoreFailure, "another import is running (its journal " + toUtf8(path) +
                                            " is there): wait for it to end and try again; nothing was changed");
        throw Failure(StoreFailure, nothingChanged(path, "error " + std::to_string(error)));
    }
    const HANDLE held = openHeld(path);
    if (held == INVALID_HANDLE_VALUE) // another run restored it already: nothing was written yet
        throw Failure(StoreFailure, nothingChanged(path, "error " + std::to_string(GetLastError())));
    return JournalFile(path, held);
}

std::optional<JournalFile> JournalFile::claim(const std::wstring& path)
{
    const HANDLE held = openHeld(path);
    if (held == INVALID_HANDLE_VALUE)
        return std::nullopt; // none there, or a running import holds it
    return JournalFile(path, held);
}

JournalFile::~JournalFile()
{
    if (handle)
        CloseHandle(handle);
}

std::string JournalFile::contents() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size) || static_cast<std::uint64_t>(size.QuadPart) > MaxImportFileBytes)
        throw Failure(StoreFailure, "cannot read the journal " + toUtf8(path));
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(handle, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
        throw Failure(StoreFailure, "cannot read the journal " + toUtf8(path) + ": error " + std::to_string(GetLastError()));
    return bytes;
}

void JournalFile::remove()
{
    DeleteFileW(path.c_str());
    CloseHandle(handle);
    handle = nullptr;
}

#else

// Natively the store's transactions make imports whole and no journal is
// written; these keep the code path whole for tests.
JournalFile JournalFile::create(const std::wstring& path, const std::string& bytes)
{
    const std::string target = toUtf8(path);
    const std::string fresh = target + ".new-" + std::to_string(getpid());
    try {
        replaceFile(fromUtf8(fresh), bytes);
    } catch (const Failure& failure) {
        throw Failure(StoreFailure, nothingChanged(path, failure.what()));
    }
    const int linked = link(fresh.c_str(), target.c_str());
    const int error = errno;
    unlink(fresh.c_str());
    if (linked != 0)
        throw Failure(StoreFailure, error == EEXIST ? "another import is running (its journal " + target +
                                                          " is there): wait for it to end and try again; nothing was changed"
                                                    : nothingChanged(path, std::strerror(error)));
    return JournalFile(path, nullptr);
}

std::optional<JournalFile> JournalFile::claim(const std::wstring& path)
{
    if (access(toUtf8(path).c_str(), F_OK) != 0)
        return std::nullopt;
    return JournalFile(path, nullptr);
}

JournalFile::~JournalFile() = default;

std::string JournalFile::contents() const
{
    return readFile(path);
}

void JournalFile::remove()
{
    unlink(toUtf8(path).c_str());
}

#endif

} // namespace vesk_tool
