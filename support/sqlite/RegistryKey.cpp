// The native back end: every operation goes to the process's RegistryStore.
#include "support/registry/RegistryKey.h"

#include "support/registry/KeyPath.h"
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/StoreCursor.h"

namespace Kestlib500 {
namespace {

bool NamesAKey(const std::wstring& path) { return CheckKeyPath(path) == KeyPathProblem::None; }

} // namespace

RegistryKey::RegistryKey() : id(0) {}
RegistryKey::RegistryKey(long long key) : id(key) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : id(other.id), values(std::move(other.values)), subKeys(std::move(other.subKeys))
{
    other.id = 0;
}
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    id = other.id;
    values = std::move(other.values);
    subKeys = std::move(other.subKeys);
    other.id = 0;
    return *this;
}
RegistryKey::~RegistryKey() = default;

// The store has no access rights: every open may write.
RegistryKey RegistryKey::Open(const std::wstring& path, Access)
{
    if (!NamesAKey(path))
        return RegistryKey();
    RegistryStore::Session store;
    return RegistryKey(store->FindKey(path));
}

RegistryKey RegistryKey::Create(const std::wstring& path)
{
    if (!NamesAKey(path))
        return RegistryKey();
    RegistryStore::Session store;
    return RegistryKey(store->CreateKey(path));
}

bool RegistryKey::DeleteTree(const std::wstring& path)
{
    if (!NamesAKey(path))
        return false;
    RegistryStore::Session store;
    return store->DeleteTree(path);
}

bool RegistryKey::IsOpen() const { return id != 0; }

bool RegistryKey::QueryType(const wchar_t* name, DWORD& type) const
{
    RegistryStore::Session store;
    return IsOpen() && store->QueryType(id, name, type);
}

bool RegistryKey::Query(const wchar_t* name, RawValue& value) const
{
    RegistryStore::Session store;
    return IsOpen() && store->Query(id, name, value);
}

bool RegistryKey::Set(const wchar_t* name, const RawValue& value)
{
    RegistryStore::Session store;
    return IsOpen() && store->Set(id, name, value);
}

bool RegistryKey::DeleteValue(const wchar_t* name)
{
    RegistryStore::Session store;
    return IsOpen() && store->DeleteValue(id, name);
}

bool RegistryKey::ValueAt(DWORD index, std::wstring& name, RawValue& value) const
{
    if (!IsOpen())
        return false;
    if (!values)
        values.reset(new StoreCursor(StoreCursor::Kind::Values, id));
    return values->At(index, name, &value);
}

bool RegistryKey::SubKeyAt(DWORD index, std::wstring& name) const
{
    if (!IsOpen())
        return false;
    if (!subKeys)
        subKeys.reset(new StoreCursor(StoreCursor::Kind::SubKeys, id));
    return subKeys->At(index, name, nullptr);
}

} // namespace Kestlib500
