#include "MachineFolder.h"

#include "Failure.h"
#include "Text.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#include <shlobj.h>
#else
#include "support/sqlite/RegistryStore.h"
#endif

namespace vesk_tool {
namespace {

std::filesystem::path machineRoot()
{
#if defined(_WIN32)
    // Asked of the shell, not the environment: a service has no user profile
    // and may run with an environment of its own.
    PWSTR programData = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData)))
        throw Failure(StoreFailure, "Windows does not name the ProgramData folder; nothing was changed");
    std::filesystem::path root = std::filesystem::path(programData) / L"halvorn" / L"vesk";
    CoTaskMemFree(programData);
    return root;
#else
    return std::filesystem::u8path(Kestlib500::RegistryStore::FilePath()).parent_path() / "vesk";
#endif
}

} // namespace

std::wstring machineFolder(const std::wstring& name)
{
#if defined(_WIN32)
    auto wide = [](const std::filesystem::path& path) { return path.wstring(); };
#else
    auto wide = [](const std::filesystem::path& path) { return fromUtf8(path.string()); };
#endif
    std::filesystem::path folder = machineRoot();
    if (!name.empty())
        folder /= std::filesystem::u8path(toUtf8(name));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw Failure(StoreFailure, "cannot make the folder " + toUtf8(wide(folder)) + " (" + error.message() +
                                        "): give this account the right to write there; nothing was changed");
    return wide(folder);
}

} // namespace vesk_tool
