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
// Paths and names follow the registry: case-insensitive, case-preserving,
// within the limits of KeyPath.h. A path that breaks its rule (an empty
// element, one too long, too deep) names no key: opening, creating or
// deleting it fails. Every query leaves its out-parameters untouched when it
// fails.
class RegistryKey {
public:
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
