// The native back end: every operation goes to the process's RegistryStore.
#include "support/registry/RegistryKey.h"

#include "support/registry/KeyPath.h"
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/StoreCursor.h"

namespace Kestlib500 {
namespace {

bool NamesAKey(const std::wstring& path) { return CheckKeyPath(path) == KeyPathProblem::None; }

} // namespace

// A key of the store: its id, and the cursors of a walk through it.
struct RegistryKey::Handle {
    explicit Handle(long long id) : id(id) {}
    const long long id;
    std::unique_ptr<StoreCursor> values, subKeys;
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(std::unique_ptr<Handle> open) : handle(std::move(open)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

// The store has no access rights: every open may write.
RegistryKey RegistryKey::Open(const std::wstring& path, Access)
{
    if (!NamesAKey(path))
        return RegistryKey();
    RegistryStore::Session store;
    const long long id = store->FindKey(path);
    return id ? RegistryKey(std::make_unique<Handle>(id)) : RegistryKey();
}

RegistryKey RegistryKey::Create(const std::wstring& path)
{
    if (!NamesAKey(path))
        return RegistryKey();
    RegistryStore::Session store;
    const long long id = store->CreateKey(path);
    return id ? RegistryKey(std::make_unique<Handle>(id)) : RegistryKey();
}

bool RegistryKey::DeleteTree(const std::wstring& path)
{
    if (!NamesAKey(path))
        return false;
    RegistryStore::Session store;
    return store->DeleteTree(path);
}

bool RegistryKey::IsOpen() const { return handle != nullptr; }

std::string RegistryKey::StoreFile() { return RegistryStore::FilePath(); }

void RegistryKey::ReleaseProcessResources() { RegistryStore::Close(); }

bool RegistryKey::QueryType(const wchar_t* name, DWORD& type) const
{
    RegistryStore::Session store;
    return IsOpen() && store->QueryType(handle->id, name, type);
}

bool RegistryKey::Query(const wchar_t* name, RawValue& value) const
{
    RegistryStore::Session store;
    return IsOpen() && store->Query(handle->id, name, value);
}

bool RegistryKey::QueryAt(const std::wstring& path, const wchar_t* name, RawValue& value)
{
    if (!NamesAKey(path))
        return false;
    RegistryStore::Session store;
    return store->QueryAt(path, name, value);
}

bool RegistryKey::Set(const wchar_t* name, const RawValue& value)
{
    RegistryStore::Session store;
    return IsOpen() && store->Set(handle->id, name, value);
}

bool RegistryKey::DeleteValue(const wchar_t* name)
{
    RegistryStore::Session store;
    return IsOpen() && store->DeleteValue(handle->id, name);
}

bool RegistryKey::ValueAt(DWORD index, std::wstring& name, RawValue& value) const
{
    if (!IsOpen())
        return false;
    if (!handle->values)
        handle->values = std::make_unique<StoreCursor>(StoreCursor::Kind::Values, handle->id);
    return handle->values->At(index, name, &value);
}

bool RegistryKey::SubKeyAt(DWORD index, std::wstring& name) const
{
    if (!IsOpen())
        return false;
    if (!handle->subKeys)
        handle->subKeys = std::make_unique<StoreCursor>(StoreCursor::Kind::SubKeys, handle->id);
    return handle->subKeys->At(index, name, nullptr);
}

} // namespace Kestlib500
