#include "tools/vesk/core/JournalFile.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Text.h"

#include <windows.h>

namespace vesk_tool {
namespace {

std::string nothingChanged(const std::wstring& path, const std::string& why)
{
    return "cannot write the recovery journal " + toUtf8(path) + " (" + why + "): nothing was changed";
}

HANDLE openHeld(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

void JournalFile::Closer::operator()(void* handle) const { CloseHandle(handle); }

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

std::string JournalFile::contents() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > MaxImportFileBytes)
        throw Failure(StoreFailure, "cannot read the journal " + toUtf8(path));
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(handle.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
        throw Failure(StoreFailure, "cannot read the journal " + toUtf8(path) + ": error " + std::to_string(GetLastError()));
    return bytes;
}

void JournalFile::remove()
{
    DeleteFileW(path.c_str());
    handle.reset();
}

} // namespace vesk_tool
