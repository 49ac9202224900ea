#pragma once

#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"
#include "support/registry/SString.h"
#include "support/win32shim/Win32.h"

#include <optional>
#include <string>

namespace Kestlib500 {

// A key of HKEY_LOCAL_MACHINE named by its path, whether or not it exists.
// The first value read goes by the path and the value's name at once; the
// key is opened for reading by any later use and kept until the object goes,
// so reading several values opens it once. Reads
// through one object (and its iterators, while it lives) see one state of
// the registry: the first read takes a snapshot, kept until the object goes
// or it writes. So one object serves one operation and is then dropped.
//
// Every operation may throw when the registry itself fails (never for a
// missing key or value).
class Registry {
public:
    class ValueIterator;
    class KeyIterator;

    virtual ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Stores a REG_DWORD / REG_SZ (its NUL counted), creating every missing
    // key on the path. False when the registry refuses.
    bool WriteValue(const SWCharString& name, DWORD value);
    bool WriteValue(const SWCharString& name, const SWCharString& value);

    // The stored type of `name`; false, and `type` untouched, when the key
    // or value is missing.
    bool GetType(const SWCharString& name, DWORD& type);

    // Deletes the key with its whole subtree; false when it is missing.
    bool DeleteKey();
    bool DeleteValue(const SWCharString& name);
    bool KeyExists();

    // The path below HKEY_LOCAL_MACHINE.
    const std::wstring& GetPath() const { return path; }

protected:
    explicit Registry(const wchar_t* path);
    // Adds "\element" to the path; `element` may itself hold backslashes.
    void AppendToPath(const wchar_t* element);
    // The key opened for reading by this object, or no key while it does not
    // exist (writes and deletions open their own, with the rights they need).
    RegistryKey& OpenedKey();
    // Every read calls this first: the object's snapshot, taken once.
    void BeginReading();
    // The stored value `name` (exactly that spelling) in the object's
    // snapshot, valid until the next read or write through the object; null
    // when it is missing. The value last read is kept, so a typed read's type
    // check and its read that follows ask the registry once.
    const RawValue* ReadStored(const wchar_t* name);

private:
    struct StoredValue {
        std::wstring name;
        bool found = false;
        RawValue value;
    };

    bool Write(const SWCharString& name, const RawValue& value);

    // Ends the snapshot: a write commits at once, and reads after it see it.
    void EndReading()
    {
        lastRead.reset();
        snapshot.reset();
    }

    std::wstring path;
    std::optional<RegistrySnapshot> snapshot;
    RegistryKey key;
    std::optional<StoredValue> lastRead;
};

// Walks the values of a key in the registry's order, standing on the first
// one from the start. Standing on no entry (an empty or missing key), it
// yields empty texts.
class Registry::ValueIterator {
public:
    explicit ValueIterator(RegistryKey key);

    // Moves one value on; false when none is left.
    bool NextValue();
    SWCharStringCI GetName() const;
    // The data as text (see ValueAsText).
    SWCharString GetValue() const;

private:
    bool Load();

    RegistryKey key;
    DWORD index = 0;
    std::wstring name;
    std::wstring text;
};

// Walks the sub-keys of a key in the registry's order (by name, ignoring
// case), standing on the first one from the start. Owns its open key, closed
// when the iterator goes.
class Registry::KeyIterator {
public:
    explicit KeyIterator(RegistryKey key);

    // Moves one sub-key on; false when none is left.
    bool NextKey();
    SWCharStringCI GetKey() const;

private:
    bool Load();

    RegistryKey key;
    DWORD index = 0;
    std::wstring name;
};

} // namespace Kestlib500
