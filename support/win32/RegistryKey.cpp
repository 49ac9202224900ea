// The Win32 back end: advapi32 on HKEY_LOCAL_MACHINE, 64-bit view.
#include "support/registry/RegistryKey.h"

namespace Kestlib500 {
namespace {

constexpr REGSAM View = KEY_WOW64_64KEY;

} // namespace

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(HKEY key) : handle(key) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

RegistryKey RegistryKey::Open(const std::wstring& path, Access access)
{
    // Deleting a tree takes DELETE on its top key besides the writing rights.
    const REGSAM rights = access == Access::Read ? KEY_READ : KEY_READ | KEY_WRITE | DELETE;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, rights | View, &key) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(key);
}

RegistryKey RegistryKey::Create(const std::wstring& path)
{
    // Wine accepts longer names than Windows does; the limit is Windows'.
    if (!PathFits(path))
        return RegistryKey();
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_READ | KEY_WRITE | View, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(key);
}

bool RegistryKey::DeleteTree(const std::wstring& path)
{
    RegistryKey key = Open(path, Access::ReadWrite);
    if (!key.IsOpen())
        return false;
    if (RegDeleteTreeW(key.handle.get(), nullptr) != ERROR_SUCCESS)
        return false;
    key = RegistryKey();
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), View, 0) == ERROR_SUCCESS;
}

bool RegistryKey::IsOpen() const { return handle != nullptr; }

bool RegistryKey::QueryType(const wchar_t* name, DWORD& type) const
{
    if (!IsOpen() || !NameFits(name))
        return false;
    DWORD found = REG_NONE;
    if (RegQueryValueExW(handle.get(), name, nullptr, &found, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    type = found;
    return true;
}

bool RegistryKey::Query(const wchar_t* name, RawValue& value) const
{
    if (!IsOpen() || !NameFits(name))
        return false;
    // Most values fit a small buffer, so one call usually does; a larger
    // value is read again at the size the registry reports.
    RawValue found;
    found.data.resize(256);
    for (;;) {
        DWORD size = static_cast<DWORD>(found.data.size());
        const LONG status = RegQueryValueExW(handle.get(), name, nullptr, &found.type, found.data.data(), &size);
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

bool RegistryKey::Set(const wchar_t* name, const RawValue& value)
{
    if (!IsOpen() || !NameFits(name))
        return false;
    return RegSetValueExW(handle.get(), name, 0, value.type, value.data.data(),
               static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(const wchar_t* name)
{
    if (!IsOpen() || !NameFits(name))
        return false;
    return RegDeleteValueW(handle.get(), name) == ERROR_SUCCESS;
}

bool RegistryKey::ValueAt(DWORD index, std::wstring& name, RawValue& value) const
{
    if (!IsOpen())
        return false;
    DWORD nameCapacity = 0;
    DWORD dataCapacity = 0;
    if (RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
            &nameCapacity, &dataCapacity, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring foundName(nameCapacity + 1, L'\0');
    RawValue found;
    found.data.resize(dataCapacity);
    DWORD nameLength = nameCapacity + 1;
    DWORD size = dataCapacity;
    if (RegEnumValueW(handle.get(), index, &foundName[0], &nameLength, nullptr, &found.type, found.data.data(), &size)
        != ERROR_SUCCESS)
        return false;
    foundName.resize(nameLength);
    found.data.resize(size);
    name = std::move(foundName);
    value = std::move(found);
    return true;
}

bool RegistryKey::SubKeyAt(DWORD index, std::wstring& name) const
{
    if (!IsOpen())
        return false;
    wchar_t found[MaxKeyNameLength + 1];
    DWORD length = MaxKeyNameLength + 1;
    if (RegEnumKeyExW(handle.get(), index, found, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name.assign(found, length);
    return true;
}

} // namespace Kestlib500
