#pragma once

#include "support/registry/ValueText.h"
#include "support/win32shim/Win32.h"

#include <memory>
#include <string>

namespace Kestlib500 {

#if !defined(_WIN32)
class StoreCursor;
#endif

// One open key of HKEY_LOCAL_MACHINE (native 64-bit view), named by its path
// below the hive. Owns its handle alone: closed when the object goes, moved
// but never copied. The two back ends (the Win32 registry, or the SQLite
// store where there is none) live behind this one class.
//
// Paths and names follow the registry: case-insensitive, case-preserving;
// a key name element of at most 255 characters, a value name of at most
// 16,383. Every query leaves its out-parameters untouched when it fails.
class RegistryKey {
public:
    static constexpr std::size_t MaxKeyNameLength = 255;
    static constexpr std::size_t MaxValueNameLength = 16383;

    // No key: IsOpen() is false and every operation fails.
    RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // Readers ask for no more than reading: in Windows' HKEY_LOCAL_MACHINE
    // only administrators may write, and every process may read.
    enum class Access { Read, ReadWrite };

    // The existing key at `path`, or no key.
    static RegistryKey Open(const std::wstring& path, Access access = Access::Read);
    // The key at `path`, creating it and every missing key above it; no key
    // when that fails.
    static RegistryKey Create(const std::wstring& path);
    // Deletes the key at `path` with its whole subtree; false when missing.
    static bool DeleteTree(const std::wstring& path);

    bool IsOpen() const;

    bool QueryType(const wchar_t* name, DWORD& type) const;
    bool Query(const wchar_t* name, RawValue& value) const;
    bool Set(const wchar_t* name, const RawValue& value);
    bool DeleteValue(const wchar_t* name);

    // The value or sub-key at a position of the registry's own enumeration
    // order; false past the last one. Asking for positions 0, 1, 2, ... in
    // turn costs one step each (on the native store, of one live cursor that
    // holds the store and one state of it until the walk ends or the key goes).
    bool ValueAt(DWORD index, std::wstring& name, RawValue& value) const;
    bool SubKeyAt(DWORD index, std::wstring& name) const;

    // Whether a value name is within MaxValueNameLength (null is the empty name).
    static bool NameFits(const wchar_t* name)
    {
        return !name || std::char_traits<wchar_t>::length(name) <= MaxValueNameLength;
    }

    // Whether every element of `path` is within MaxKeyNameLength.
    static bool PathFits(const std::wstring& path)
    {
        std::size_t length = 0;
        for (wchar_t c : path) {
            length = c == L'\\' ? 0 : length + 1;
            if (length > MaxKeyNameLength)
                return false;
        }
        return true;
    }

private:
#if defined(_WIN32)
    struct Closer {
        void operator()(HKEY key) const { RegCloseKey(key); }
    };
    explicit RegistryKey(HKEY key);
    std::unique_ptr<HKEY__, Closer> handle;
#else
    explicit RegistryKey(long long id);
    long long id;
    mutable std::unique_ptr<StoreCursor> values, subKeys;
#endif
};

} // namespace Kestlib500
