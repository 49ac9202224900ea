#include "tools/vesk/core/MachineFolder.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#include <sddl.h>
#else
#include "support/registry/RegistryKey.h"
#endif

namespace vesk_tool {
namespace {

std::filesystem::path machineRoot()
{
#if defined(_WIN32)
    // Where the system keeps the folder's location, not the environment's
    // %ProgramData%: a service has no user profile and may run with an
    // environment of its own. Not asked of the shell: every run looks here
    // for a journal, and loading the shell (with the window and COM
    // libraries it brings) was most of a short run's cost.
    wchar_t programData[MAX_PATH];
    DWORD bytes = sizeof programData;
    const LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                                     L"ProgramData", RRF_RT_REG_SZ, nullptr, programData, &bytes);
    if (status != ERROR_SUCCESS)
        throw Failure(StoreFailure, "Windows does not name the ProgramData folder (error " + std::to_string(status) +
                                        "); nothing was changed");
    return std::filesystem::path(programData) / L"halvorn" / L"vesk";
#else
    return std::filesystem::u8path(Kestlib500::RegistryKey::StoreFile()).parent_path() / "vesk";
#endif
}

std::wstring wide(const std::filesystem::path& path)
{
#if defined(_WIN32)
    return path.wstring();
#else
    return fromUtf8(path.string());
#endif
}

Failure cannotMake(const std::filesystem::path& folder, const std::string& why)
{
    return Failure(StoreFailure, "cannot make the folder " + toUtf8(wide(folder)) + " (" + why +
                                     "): give this account the right to write there; nothing was changed");
}

#if defined(_WIN32)
// Protected from what ProgramData hands down (there users may add files):
// SYSTEM and Administrators have full control, so a service and an
// administrator each take over what the other left; users may only read,
// so none can plant a journal that an administrator's run would restore.
constexpr wchar_t FolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

void makeGuarded(const std::filesystem::path& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(FolderAccess, SDDL_REVISION_1, &descriptor, nullptr))
        throw cannotMake(folder, "its access list was refused, error " + std::to_string(GetLastError()));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryW(folder.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!made && error != ERROR_ALREADY_EXISTS)
        throw cannotMake(folder, "error " + std::to_string(error));
}
#endif

void makeFolders(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw cannotMake(folder, error.message());
}

} // namespace

std::wstring machineFolder(const std::wstring& name)
{
    const std::filesystem::path root = machineRoot();
#if defined(_WIN32)
    makeFolders(root.parent_path());
    makeGuarded(root);
#endif
    std::filesystem::path folder = root;
    if (!name.empty())
        folder /= std::filesystem::u8path(toUtf8(name));
    makeFolders(folder);
    return wide(folder);
}

std::wstring machineFile(const std::wstring& name)
{
    return wide(machineRoot() / std::filesystem::u8path(toUtf8(name)));
}

} // namespace vesk_tool
