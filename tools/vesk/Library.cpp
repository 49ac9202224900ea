#include "Library.h"

#include "Failure.h"
#include "Text.h"

#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace vesk_tool {
namespace {

#if defined(_WIN32)

using Symbol = FARPROC;

std::wstring ownDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            throw Failure(StoreFailure, "cannot find where vesk.exe is installed (GetModuleFileNameW failed)");
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/"));
}

// The DLL beside the executable, by full path, so no other copy on the
// search path is picked up.
HMODULE load(std::string& tried)
{
    const std::wstring file = ownDirectory() + L"\\vesk.dll";
    HMODULE module = LoadLibraryW(file.c_str());
    if (!module)
        tried = toUtf8(file) + " (error " + std::to_string(GetLastError()) + ")";
    return module;
}

Symbol resolve(HMODULE module, const char* name) { return GetProcAddress(module, name); }

#else

using Symbol = void*;

std::string ownDirectory()
{
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        throw Failure(StoreFailure, "cannot find where vesk is installed (/proc/self/exe unreadable)");
    const std::string file(path.data(), static_cast<std::size_t>(length));
    return file.substr(0, file.find_last_of('/'));
}

// Beside the executable first (an installed copy), then ../lib (the build
// tree, where executables go to bin and shared libraries to lib).
void* load(std::string& tried)
{
    const std::string directory = ownDirectory();
    for (const std::string& file : {directory + "/libvesk.so", directory + "/../lib/libvesk.so"}) {
        if (void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL))
            return module;
        const char* why = dlerror();
        tried += (tried.empty() ? "" : "; ") + std::string(why ? why : file);
    }
    return nullptr;
}

Symbol resolve(void* module, const char* name) { return dlsym(module, name); }

#endif

template <typename Function>
Function entryPoint(Symbol symbol, const char* name)
{
    if (!symbol)
        throw Failure(StoreFailure, std::string("the vesk library lacks ") + name + ": install a matching build of the library");
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(symbol));
}

} // namespace

Library::Library()
{
    std::string tried;
    auto module = load(tried);
    if (!module)
        throw Failure(StoreFailure, "cannot load the vesk library: " + tried + "; install it next to this program");
    getSettings = entryPoint<GetVeskSettingsPtrFn>(resolve(module, "GetVeskSettingsPtr"), "GetVeskSettingsPtr");
    getServerKey = entryPoint<GetFullVeskRegistryKeyFn>(resolve(module, "GetFullVeskRegistryKey"), "GetFullVeskRegistryKey");
}

VeskSettings& Library::settings() const
{
    VeskSettings* object = getSettings();
    if (!object)
        throw Failure(StoreFailure, "the vesk library returned no settings object: check its log");
    return *object;
}

std::wstring Library::serverKey() const
{
    const wchar_t* key = getServerKey();
    return key ? key : L"";
}

} // namespace vesk_tool
