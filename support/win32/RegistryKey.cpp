// The Win32 back end: advapi32 on HKEY_LOCAL_MACHINE, 64-bit view.
#include "support/registry/RegistryKey.h"

#include "support/registry/KeyPath.h"
#include "support/registry/ValueText.h"

#include <algorithm>
#include <vector>

namespace Kestlib500 {
namespace {

constexpr REGSAM View = KEY_WOW64_64KEY;

// Wine skips empty elements and has no depth limit of its own; the one
// key-path rule holds here as on the store.
bool NamesAKey(const std::wstring& path) { return CheckKeyPath(path) == KeyPathProblem::None; }

} // namespace

struct RegistryKey::Handle {
    explicit Handle(HKEY key) : key(key) {}
    ~Handle() { RegCloseKey(key); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    const HKEY key;
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(std::unique_ptr<Handle> open) : handle(std::move(open)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

RegistryKey RegistryKey::Open(const std::wstring& path, Access access)
{
    // Deleting a tree takes DELETE on its top key besides the writing rights.
    const REGSAM rights = access == Access::Read ? KEY_READ : KEY_READ | KEY_WRITE | DELETE;
    if (!NamesAKey(path))
        return RegistryKey();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, rights | View, &key) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(std::make_unique<Handle>(key));
}

RegistryKey RegistryKey::Create(const std::wstring& path)
{
    if (!NamesAKey(path))
        return RegistryKey();
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_READ | KEY_WRITE | View, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(std::make_unique<Handle>(key));
}

bool RegistryKey::DeleteTree(const std::wstring& path)
{
    RegistryKey key = Open(path, Access::ReadWrite);
    if (!key.IsOpen())
        return false;
    if (RegDeleteTreeW(key.handle->key, nullptr) != ERROR_SUCCESS)
        return false;
    key = RegistryKey();
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), View, 0) == ERROR_SUCCESS;
}

bool RegistryKey::IsOpen() const { return handle != nullptr; }

std::string RegistryKey::StoreFile() { return std::string(); }

void RegistryKey::ReleaseProcessResources() {}

bool RegistryKey::QueryType(const wchar_t* name, DWORD& type) const
{
    if (!IsOpen() || !ValueNameFits(name))
        return false;
    DWORD found = REG_NONE;
    if (RegQueryValueExW(handle->key, name, nullptr, &found, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    type = found;
    return true;
}

bool RegistryKey::Query(const wchar_t* name, RawValue& value) const
{
    if (!IsOpen() || !ValueNameFits(name))
        return false;
    // Most values fit a small buffer, so one call usually does; a larger
    // value is read again at the size the registry reports.
    RawValue found;
    found.data.resize(256);
    for (;;) {
        DWORD size = static_cast<DWORD>(found.data.size());
        const LONG status = RegQueryValueExW(handle->key, name, nullptr, &found.type, found.data.data(), &size);
        if (status == ERROR_SUCCESS) {
            found.data.resize(size);
            value = std::move(found);
            return true;
        }
        if (status != ERROR_MORE_DATA)
            return false;
        found.data.resize(size);
    }
}

bool RegistryKey::QueryAt(const std::wstring& path, const wchar_t* name, RawValue& value)
{
    return Open(path).Query(name, value);
}

bool RegistryKey::Set(const wchar_t* name, const RawValue& value)
{
    if (!IsOpen() || !ValueNameFits(name))
        return false;
    const auto size = static_cast<DWORD>(value.data.size());
    if (!NeedsFrameForSetValue(value))
        return RegSetValueExW(handle->key, name, 0, value.type, value.data.data(), size) == ERROR_SUCCESS;
    const std::vector<unsigned char> framed = FramedForSetValue(value.data);
    return RegSetValueExW(handle->key, name, 0, value.type, framed.data() + SetValueOffset, size) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(const wchar_t* name)
{
    if (!IsOpen() || !ValueNameFits(name))
        return false;
    return RegDeleteValueW(handle->key, name) == ERROR_SUCCESS;
}

bool RegistryKey::ValueAt(DWORD index, std::wstring& name, RawValue& value) const
{
    if (!IsOpen())
        return false;
    // The name buffer holds the longest name the registry allows, so only
    // the data can be too large; then the registry says how large and the
    // read is tried again (the value may also grow between two tries).
    // No sizing query first: Wine answers it by scanning every value, which
    // would make a walk of a key cost the square of its size. The buffers
    // live as long as the thread: made and cleared once, not per value (a
    // 32 KiB name buffer per step was most of a walk's own time).
    thread_local std::vector<wchar_t> nameBuffer(MaxValueNameLength + 1);
    thread_local std::vector<unsigned char> dataBuffer(1024);
    for (;;) {
        DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
        DWORD size = static_cast<DWORD>(dataBuffer.size());
        DWORD type = REG_NONE;
        const LONG status = RegEnumValueW(
            handle->key, index, nameBuffer.data(), &nameLength, nullptr, &type, dataBuffer.data(), &size);
        if (status == ERROR_SUCCESS) {
            // Into the caller's strings, whose room a walk reuses.
            name.assign(nameBuffer.data(), nameLength);
            value.type = type;
            value.data.assign(dataBuffer.data(), dataBuffer.data() + size);
            return true;
        }
        if (status != ERROR_MORE_DATA)
            return false;
        dataBuffer.resize(std::max<std::size_t>(size, dataBuffer.size() * 2));
    }
}

bool RegistryKey::SubKeyAt(DWORD index, std::wstring& name) const
{
    if (!IsOpen())
        return false;
    wchar_t found[MaxKeyNameLength + 1];
    DWORD length = MaxKeyNameLength + 1;
    if (RegEnumKeyExW(handle->key, index, found, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name.assign(found, length);
    return true;
}

} // namespace Kestlib500
