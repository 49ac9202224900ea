#pragma once

#include "common/HostLibrary.h"
#include "common/RawRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A host's test: the library's settings object pointed at an instance of the
// test's own. Afterwards every sub-key taken with SubKey is deleted through
// the library, which frees its slot in the process's cache for later tests
// (the cache files values by sub-key alone), and the instance's key goes.
class HostInstance : public testing::Test {
protected:
    void SetUp() override { settings.SetInstanceName(instance.c_str()); }
    void TearDown() override
    {
        for (const std::wstring& subKey : used)
            settings.DeleteKey(subKey.c_str());
        RawRegistry::DeleteTree(Key());
    }

    // A sub-key name no other test uses.
    std::wstring SubKey(const wchar_t* prefix)
    {
        used.push_back(RawRegistry::UniqueName(prefix));
        return used.back();
    }
    // The instance's key, or `below` it, as a path below HKEY_LOCAL_MACHINE.
    std::wstring Key(const std::wstring& below = L"") const
    {
        return ServerKey + L"\\" + instance + (below.empty() ? L"" : L"\\" + below);
    }
    // Writes a value behind the library's back.
    void Plant(const std::wstring& subKey, const wchar_t* name, DWORD type, const std::vector<unsigned char>& data)
    {
        ASSERT_TRUE(RawRegistry::Set(Key(subKey), name, type, data));
    }

    static inline const std::wstring ServerKey = L"Software\\Halvorn\\Tessaly\\Orvane";
    VeskSettings& settings = HostLibrary::Settings();
    const std::wstring instance = RawRegistry::UniqueName(L"host");
    std::vector<std::wstring> used;
};
