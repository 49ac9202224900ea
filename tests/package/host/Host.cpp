// A host as the README describes one: compiled against the installed headers
// alone, it loads the installed library at run time and prints the headers'
// version and one string setting: vesk_host INSTANCE SUBKEY NAME.
#include "vesk/Version.h"
#include "vesk/Vesk.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

// ASCII only, which is all the check passes.
static std::wstring widen(const char* text)
{
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: vesk_host INSTANCE SUBKEY NAME\n");
        return 2;
    }
    void* library = dlopen(VESK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto getSettings = library ? reinterpret_cast<GetVeskSettingsPtrFn>(dlsym(library, "GetVeskSettingsPtr")) : nullptr;
    if (!getSettings) {
        std::fprintf(stderr, "vesk_host: cannot load %s: %s\n", VESK_LIBRARY, dlerror());
        return 1;
    }
    VeskSettings& settings = *getSettings();
    settings.SetInstanceName(widen(argv[1]).c_str());
    const WString value = settings.GetStringValue(widen(argv[2]).c_str(), widen(argv[3]).c_str(), L"(not set)");
    std::printf("%s ", VESK_VERSION);
    for (const wchar_t* c = value.c_str(); *c; ++c)
        std::putchar(static_cast<char>(*c));
    std::putchar('\n');
    return 0;
}
