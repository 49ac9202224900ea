#include "Scenarios.h"

#include "cache/CriticalSectionGuard.h"
#include "vesk/Vesk.h"

#include <cstring>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include "support/win32shim/Win32.h"
#else
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/SortKey.h"

#include <sqlite3.h>
#endif

namespace {

const wchar_t* const Instance = L"bench";
const wchar_t* const CachedKey = L"cached";
const wchar_t* const UncachedKey = L"uncached";
const wchar_t* const UncachedPath = L"Software\\Halvorn\\Tessaly\\Orvane\\bench\\uncached";

} // namespace

#if defined(_WIN32)

class Scenarios::RawRegistry {
public:
    int Read()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UncachedPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            throw std::runtime_error("raw read: no key");
        DWORD type = 0;
        RegQueryValueExW(key, L"port", nullptr, &type, nullptr, nullptr);
        DWORD value = 0;
        DWORD size = sizeof value;
        RegQueryValueExW(key, L"port", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        return static_cast<int>(value);
    }
};

#else

// The store's three statements for a read, prepared once, with the folded
// path and name computed once: the floor under the store's own layers.
class Scenarios::RawRegistry {
public:
    RawRegistry()
    {
        if (sqlite3_open_v2(Kestlib500::RegistryStore::FilePath().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                nullptr)
            != SQLITE_OK)
            throw std::runtime_error("raw read: cannot open the store");
        sqlite3_prepare_v3(db, "SELECT id FROM registry_keys WHERE path = ?1", -1, SQLITE_PREPARE_PERSISTENT, &findKey, nullptr);
        sqlite3_prepare_v3(db, "SELECT type FROM registry_values WHERE key = ?1 AND fold = ?2", -1,
            SQLITE_PREPARE_PERSISTENT, &queryType, nullptr);
        sqlite3_prepare_v3(db, "SELECT type, data FROM registry_values WHERE key = ?1 AND fold = ?2", -1,
            SQLITE_PREPARE_PERSISTENT, &queryValue, nullptr);
        sqlite3_prepare_v3(db,
            "SELECT v.type, v.data FROM registry_values v JOIN registry_keys k ON v.key = k.id "
            "WHERE k.path = ?1 AND v.fold = ?2",
            -1, SQLITE_PREPARE_PERSISTENT, &pointSelect, nullptr);
        foldedPath = Kestlib500::PathSortKey(UncachedPath);
        foldedName = Kestlib500::NameSortKey(L"port");
    }
    ~RawRegistry()
    {
        sqlite3_finalize(findKey);
        sqlite3_finalize(queryType);
        sqlite3_finalize(queryValue);
        sqlite3_finalize(pointSelect);
        sqlite3_close(db);
    }

    int Read()
    {
        sqlite3_bind_blob(findKey, 1, foldedPath.data(), static_cast<int>(foldedPath.size()), SQLITE_TRANSIENT);
        sqlite3_step(findKey);
        const sqlite3_int64 key = sqlite3_column_int64(findKey, 0);
        sqlite3_reset(findKey);

        sqlite3_bind_int64(queryType, 1, key);
        sqlite3_bind_blob(queryType, 2, foldedName.data(), static_cast<int>(foldedName.size()), SQLITE_TRANSIENT);
        sqlite3_step(queryType);
        sqlite3_reset(queryType);

        sqlite3_bind_int64(queryValue, 1, key);
        sqlite3_bind_blob(queryValue, 2, foldedName.data(), static_cast<int>(foldedName.size()), SQLITE_TRANSIENT);
        sqlite3_step(queryValue);
        int value = 0;
        std::memcpy(&value, sqlite3_column_blob(queryValue, 1), sizeof value);
        sqlite3_reset(queryValue);
        return value;
    }

    // The least any store can do: one prepared statement finding the value
    // row by key path and name.
    int PointSelect()
    {
        sqlite3_bind_blob(pointSelect, 1, foldedPath.data(), static_cast<int>(foldedPath.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(pointSelect, 2, foldedName.data(), static_cast<int>(foldedName.size()), SQLITE_TRANSIENT);
        sqlite3_step(pointSelect);
        int value = 0;
        std::memcpy(&value, sqlite3_column_blob(pointSelect, 1), sizeof value);
        sqlite3_reset(pointSelect);
        return value;
    }

private:
    sqlite3* db = nullptr;
    sqlite3_stmt* pointSelect = nullptr;
    sqlite3_stmt* findKey = nullptr;
    sqlite3_stmt* queryType = nullptr;
    sqlite3_stmt* queryValue = nullptr;
    std::string foldedPath;
    std::string foldedName;
};

#endif

Scenarios::Scenarios() : settings(*GetVeskSettingsPtr())
{
    settings.SetInstanceName(Instance);
    settings.SetIntValue(CachedKey, L"port", 8080);
    settings.SetStringValue(CachedKey, L"host", L"example.org");
    for (int slot = 1; slot < SlotTable::SlotCount; ++slot)
        settings.SetIntValue((L"filler" + std::to_wstring(slot)).c_str(), L"x", slot);
    settings.SetIntValue(UncachedKey, L"port", 8081);
    CachedGetInt();
    CachedGetString();

    floorMap.emplace(WString(L"port"), 8080);
    for (int slot = 0; slot < SlotTable::SlotCount; ++slot)
        fullTable.FindOrCreateSlot(WString((L"sub-key " + std::to_wstring(slot)).c_str()));
    raw.reset(new RawRegistry());
    if (RawRead() != 8081 || RegistryGetInt() != 8081)
        throw std::runtime_error("the benchmark's registry values are not where they should be");
}

Scenarios::~Scenarios() { settings.DeleteKey(L""); }

int Scenarios::CachedGetInt() { return settings.GetIntValue(CachedKey, L"port", 0); }

WString Scenarios::CachedGetString() { return settings.GetStringValue(CachedKey, L"host", L""); }

int Scenarios::RegistryGetInt() { return settings.GetIntValue(UncachedKey, L"port", 0); }

bool Scenarios::SetInt() { return settings.SetIntValue(CachedKey, L"port", 8080); }

namespace {
// Out of line, like the virtual call a host makes, so the compiler cannot
// fold the floor into its caller.
__attribute__((noinline)) int FloorLookup(
    CRITICAL_SECTION* lock, std::map<WString, int>& map, WString subKey, WString valueName)
{
    CriticalSectionGuard guard(lock);
    const WString copy(subKey);
    const auto found = map.find(valueName);
    return found == map.end() ? 0 : found->second;
}
} // namespace

int Scenarios::FloorRead() { return FloorLookup(floorLock.get(), floorMap, CachedKey, L"port"); }

int Scenarios::RawRead() { return raw->Read(); }

#if !defined(_WIN32)
int Scenarios::PointSelect() { return raw->PointSelect(); }
#endif

int Scenarios::FindSlotInFullTable() { return fullTable.FindOrCreateSlot(WString(L"absent")); }
