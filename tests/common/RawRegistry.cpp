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
