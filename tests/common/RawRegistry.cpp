#include "common/RawRegistry.h"

#include "support/registry/RegistryKey.h"

#include <atomic>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace RawRegistry {

#if defined(_WIN32)

namespace {
// Straight advapi32, so that the library's own wrapper is not what checks it.
HKEY OpenRaw(const std::wstring& path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}
} // namespace

bool Set(const std::wstring& path, const wchar_t* name, DWORD type, const std::vector<unsigned char>& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
            nullptr)
        != ERROR_SUCCESS)
        return false;
    const std::vector<unsigned char> framed = Kestlib500::FramedForSetValue(data);
    const LONG status =
        RegSetValueExW(key, name, 0, type, framed.data() + Kestlib500::SetValueOffset, static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool Get(const std::wstring& path, const wchar_t* name, Kestlib500::RawValue& value)
{
    HKEY key = OpenRaw(path, KEY_READ);
    if (!key)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.data.resize(size);
        status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool KeyExists(const std::wstring& path)
{
    HKEY key = OpenRaw(path, KEY_READ);
    if (key)
        RegCloseKey(key);
    return key != nullptr;
}

bool DeleteTree(const std::wstring& path)
{
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS;
}

#else

using Kestlib500::RegistryKey;

bool Set(const std::wstring& path, const wchar_t* name, DWORD type, const std::vector<unsigned char>& data)
{
    return RegistryKey::Create(path).Set(name, Kestlib500::RawValue{type, data});
}

bool Get(const std::wstring& path, const wchar_t* name, Kestlib500::RawValue& value)
{
    return RegistryKey::Open(path).Query(name, value);
}

bool KeyExists(const std::wstring& path) { return RegistryKey::Open(path).IsOpen(); }

bool DeleteTree(const std::wstring& path) { return RegistryKey::DeleteTree(path); }

#endif

std::vector<unsigned char> Dword(DWORD value)
{
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

std::vector<unsigned char> Text(const wchar_t* text) { return Kestlib500::TextBytes(text); }

std::wstring UniqueName(const wchar_t* prefix)
{
    static std::atomic<int> counter{0};
    return std::wstring(prefix) + L"-" + std::to_wstring(getpid()) + L"-" + std::to_wstring(++counter);
}

} // namespace RawRegistry
