#include "tools/vesk/core/JournalFile.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/OsHandle.h"
#include "tools/vesk/core/Text.h"

#include <windows.h>

#include <algorithm>
#include <vector>

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
    // Written whole under a name of this process's own, then renamed through
    // the same handle, which holds the journal from then on.
    const std::wstring fresh = path + L".new-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE created = CreateFileW(fresh.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE)
        throw Failure(StoreFailure, nothingChanged(path, lastError()));
    JournalFile journal(fresh, created);
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(created, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0)
            journal.fail(nothingChanged(path, lastError()));
        done += wrote;
    }
    if (!FlushFileBuffers(created))
        journal.fail(nothingChanged(path, lastError()));
    if (!journal.renameTo(path)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            journal.fail("another import is running (its journal " + toUtf8(path) +
                         " is there): wait for it to end and try again; nothing was changed");
        journal.fail(nothingChanged(path, "error " + std::to_string(error)));
    }
    return journal;
}

bool JournalFile::renameTo(const std::wstring& target)
{
    // FILE_RENAME_INFO ends in the name's first character; the rest follows it.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!SetFileInformationByHandle(handle.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
        return false;
    path = target;
    return true;
}

void JournalFile::fail(const std::string& message)
{
    remove();
    throw Failure(StoreFailure, message);
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
