#include "common/HostLibrary.h"

#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace HostLibrary {
namespace {

// VESK_LIBRARY: the library's file, given by the build.
struct Loaded {
    Loaded()
    {
#if defined(_WIN32)
        HMODULE module = LoadLibraryW(VESK_LIBRARY);
        if (!module)
            throw std::runtime_error("cannot load the library: error " + std::to_string(GetLastError()));
        // Through void (*)(), the one function type every other converts to
        // without a warning.
        using AnyFunction = void (*)();
        getSettings = reinterpret_cast<GetVeskSettingsPtrFn>(
            reinterpret_cast<AnyFunction>(GetProcAddress(module, "GetVeskSettingsPtr")));
        getFullKey = reinterpret_cast<GetFullVeskRegistryKeyFn>(
            reinterpret_cast<AnyFunction>(GetProcAddress(module, "GetFullVeskRegistryKey")));
#else
        void* module = dlopen(VESK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!module)
            throw std::runtime_error(std::string("cannot load the library: ") + dlerror());
        getSettings = reinterpret_cast<GetVeskSettingsPtrFn>(dlsym(module, "GetVeskSettingsPtr"));
        getFullKey = reinterpret_cast<GetFullVeskRegistryKeyFn>(dlsym(module, "GetFullVeskRegistryKey"));
#endif
        if (!getSettings || !getFullKey)
            throw std::runtime_error("the library does not export its two entry points");
    }
    GetVeskSettingsPtrFn getSettings = nullptr;
    GetFullVeskRegistryKeyFn getFullKey = nullptr;
};

const Loaded& Library()
{
    static const Loaded loaded;
    return loaded;
}

} // namespace

GetVeskSettingsPtrFn GetSettings() { return Library().getSettings; }
GetFullVeskRegistryKeyFn GetFullKey() { return Library().getFullKey; }
VeskSettings& Settings() { return *GetSettings()(); }

} // namespace HostLibrary
