#pragma once

#include "support/registry/ValueText.h"
#include "support/win32shim/Win32.h"

#include <memory>
#include <string>

namespace Kestlib500 {

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

    // Where the registry is kept, for messages and files kept beside it: the
    // store's file natively; "" on Windows, where it is the system's own.
    static std::string StoreFile();
    // Lets go of what the back end holds for the whole process (natively the
    // store's connection, once nothing uses it); the next use takes it again.
    static void ReleaseProcessResources();

    bool QueryType(const wchar_t* name, DWORD& type) const;
    bool Query(const wchar_t* name, RawValue& value) const;
    // Open(path).Query(name, value), in one step where the back end can (the
    // store finds the value by the key's path and its name at once).
    static bool QueryAt(const std::wstring& path, const wchar_t* name, RawValue& value);
    bool Set(const wchar_t* name, const RawValue& value);
    bool DeleteValue(const wchar_t* name);

    // The value or sub-key at a position of the registry's own enumeration
    // order; false past the last one. Asking for positions 0, 1, 2, ... in
    // turn costs one step each (on the native store, of one live cursor that
    // holds the store and one state of it until the walk ends or the key goes).
    bool ValueAt(DWORD index, std::wstring& name, RawValue& value) const;
    bool SubKeyAt(DWORD index, std::wstring& name) const;

private:
    // The back end's open key, defined by the back end; null when no key.
    struct Handle;
    explicit RegistryKey(std::unique_ptr<Handle> open);
    std::unique_ptr<Handle> handle;
};

} // namespace Kestlib500
