#include "support/registry/Registry.h"


namespace Kestlib500 {

// Room for the elements objects append to their company's path (server,
// instance, sub-key), made at once rather than by each append.
Registry::Registry(const wchar_t* path) : path(path) { this->path.reserve(this->path.size() + 64); }

Registry::~Registry() = default;

void Registry::AppendToPath(const wchar_t* element)
{
    path += L'\\';
    path += element ? element : L"";
    key = RegistryKey();
}

void Registry::BeginReading()
{
    if (!snapshot)
        snapshot.emplace();
}

RegistryKey& Registry::OpenedKey()
{
    BeginReading();
    if (!key.IsOpen())
        key = RegistryKey::Open(path);
    return key;
}

const RawValue* Registry::ReadStored(const wchar_t* name)
{
    const wchar_t* spelling = name ? name : L"";
    if (!lastRead || lastRead->name != spelling) {
        BeginReading();
        StoredValue read{spelling, false, RawValue()};
        // Most objects read one value: that read goes by the key's path and
        // the value's name at once. Only a later one opens the key, once.
        read.found = lastRead || key.IsOpen() ? OpenedKey().Query(spelling, read.value)
                                              : RegistryKey::QueryAt(path, spelling, read.value);
        lastRead = std::move(read);
    }
    return lastRead->found ? &lastRead->value : nullptr;
}

bool Registry::Write(const SWCharString& name, const RawValue& value)
{
    EndReading();
    return RegistryKey::Create(path).Set(name.c_str(), value);
}

bool Registry::WriteValue(const SWCharString& name, DWORD value)
{
    RawValue number{REG_DWORD, std::vector<unsigned char>(4)};
    for (int i = 0; i < 4; ++i)
        number.data[i] = static_cast<unsigned char>(value >> (8 * i));
    return Write(name, number);
}

bool Registry::WriteValue(const SWCharString& name, const SWCharString& value)
{
    return Write(name, RawValue{REG_SZ, TextBytes(value.c_str())});
}

bool Registry::GetType(const SWCharString& name, DWORD& type)
{
    const RawValue* value = ReadStored(name.c_str());
    if (!value)
        return false;
    type = value->type;
    return true;
}

bool Registry::DeleteKey()
{
    key = RegistryKey();
    EndReading();
    return RegistryKey::DeleteTree(path);
}

bool Registry::DeleteValue(const SWCharString& name)
{
    EndReading();
    return RegistryKey::Open(path, RegistryKey::Access::ReadWrite).DeleteValue(name.c_str());
}

bool Registry::KeyExists()
{
    return OpenedKey().IsOpen();
}

Registry::ValueIterator::ValueIterator(RegistryKey key) : key(std::move(key)) { Load(); }

bool Registry::ValueIterator::NextValue()
{
    ++index;
    return Load();
}

SWCharStringCI Registry::ValueIterator::GetName() const { return SWCharStringCI(name.c_str()); }

SWCharString Registry::ValueIterator::GetValue() const { return SWCharString(text.c_str()); }

bool Registry::ValueIterator::Load()
{
    RawValue value;
    if (key.ValueAt(index, name, value)) {
        text = ValueAsText(value);
        return true;
    }
    name.clear();
    text.clear();
    return false;
}

Registry::KeyIterator::KeyIterator(RegistryKey key) : key(std::move(key)) { Load(); }

bool Registry::KeyIterator::NextKey()
{
    ++index;
    return Load();
}

SWCharStringCI Registry::KeyIterator::GetKey() const { return SWCharStringCI(name.c_str()); }

bool Registry::KeyIterator::Load()
{
    if (key.SubKeyAt(index, name))
        return true;
    name.clear();
    return false;
}

} // namespace Kestlib500
