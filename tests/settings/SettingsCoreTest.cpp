// Failure paths from inside the library: allocations made to fail, a store
// the registry layer refuses, and the settings object's first creation failing.
#include "cache/VeskCachedSettings.h"
#include "common/Allocations.h"
#include "common/RawRegistry.h"
#include "support/registry/RegistryKey.h"
#include "vesk/Vesk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// True when `operation` completes on another thread; a lock left held would
// block it for good, so the wait is bounded.
bool FinishesOnAnotherThread(const std::function<void()>& operation)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([operation, done] {
        try {
            operation();
        } catch (const std::exception&) {
            // The lock was taken: what the operation met does not matter here.
        }
        done->set_value();
    }).detach();
    return finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

// Runs each operation on a fresh object (nothing cached) while `arm(attempt)`
// arms a fault (false: no more attempts), until an attempt does not throw E:
// the first must throw, and none may leave the lock held.
template <typename E>
void EachOperationFails(const std::wstring& instance, const std::function<bool(int)>& arm)
{
    WString name, value;
    const std::pair<const char*, std::function<void(VeskCachedSettings&)>> operations[] = {
        {"GetLoggingPath", [](VeskCachedSettings& s) { s.GetLoggingPath(); }},
        {"SetIntValue", [](VeskCachedSettings& s) { s.SetIntValue(L"k", L"i", 1); }},
        {"GetIntValue", [](VeskCachedSettings& s) { s.GetIntValue(L"k", L"i", 1); }},
        {"SetStringValue", [](VeskCachedSettings& s) { s.SetStringValue(L"k", L"s", L"text"); }},
        {"GetStringValue", [](VeskCachedSettings& s) { s.GetStringValue(L"k", L"s", L"default"); }},
        {"SetBoolValue", [](VeskCachedSettings& s) { s.SetBoolValue(L"k", L"b", true); }},
        {"GetBoolValue", [](VeskCachedSettings& s) { s.GetBoolValue(L"k", L"b", true); }},
        {"EnumerateValues", [&](VeskCachedSettings& s) { s.EnumerateValues(L"k", 0, name, value); }},
        {"EnumerateSubKeys", [&](VeskCachedSettings& s) { s.EnumerateSubKeys(L"", 0, name); }},
        {"DeleteValue", [](VeskCachedSettings& s) { s.DeleteValue(L"k", L"i"); }},
        {"DeleteKey", [](VeskCachedSettings& s) { s.DeleteKey(L"k"); }},
        {"KeyExists", [](VeskCachedSettings& s) { s.KeyExists(L"k"); }},
    };
    for (const auto& [operation, call] : operations) {
        VeskCachedSettings settings;
        settings.SetInstanceName(instance.c_str());
        for (int attempt = 0; attempt < 400 && arm(attempt); ++attempt) {
            bool thrown = false;
            try {
                call(settings);
            } catch (const E&) {
                thrown = true;
            }
            Allocations::StopFailing();
            EXPECT_TRUE(thrown || attempt > 0) << operation << " did not fail";
            if (!FinishesOnAnotherThread([&] { settings.KeyExists(L"k"); })) {
                ADD_FAILURE() << operation << " left the lock held after attempt " << attempt;
                return; // every later wait would block as well
            }
            if (!thrown)
                break;
        }
    }
}

// Exhausted memory at each allocation in turn, and (natively) a store the
// registry layer refuses, an emptied file, reach the caller.
TEST(RegistryFailure, PassesToTheCallerAndLeavesTheLockFree)
{
    const std::wstring instance = RawRegistry::UniqueName(L"core");
    EachOperationFails<std::bad_alloc>(instance, [](int attempt) {
        Allocations::FailAfter(static_cast<std::size_t>(attempt));
        return true;
    });
#if !defined(_WIN32)
    const std::string store = std::getenv("KESTLIB_REGISTRY");
    std::ofstream{store + ".emptied"};
    Kestlib500::RegistryKey::ReleaseProcessResources();
    setenv("KESTLIB_REGISTRY", (store + ".emptied").c_str(), 1);
    EachOperationFails<std::runtime_error>(instance, [](int attempt) { return attempt == 0; });
    Kestlib500::RegistryKey::ReleaseProcessResources();
    setenv("KESTLIB_REGISTRY", store.c_str(), 1);
#endif
    RawRegistry::DeleteTree(L"Software\\Halvorn\\Tessaly\\Orvane\\" + instance);
}

TEST(InstanceName, AFailedCopyLeavesANameThatAddressesNoKey)
{
    const std::wstring server = L"Software\\Halvorn\\Tessaly\\Orvane";
    const std::wstring sibling = RawRegistry::UniqueName(L"sibling");
    ASSERT_TRUE(RawRegistry::Set(server + L"\\" + sibling, L"v", REG_DWORD, RawRegistry::Dword(1)));

    // Copying the name fails at one of the copies on its way in; the one
    // that replaces the stored name leaves it null.
    VeskCachedSettings settings;
    const WString name(L"instance");
    for (std::size_t copies = 0; settings.GetInstanceName().c_str() && copies < 8; ++copies) {
        Allocations::FailAfter(copies);
        EXPECT_THROW(settings.SetInstanceName(name), std::bad_alloc);
        Allocations::StopFailing();
    }
    ASSERT_EQ(settings.GetInstanceName().c_str(), nullptr);

    EXPECT_FALSE(settings.KeyExists(L"")) << "the server key above every instance exists";
    EXPECT_FALSE(settings.KeyExists(sibling.c_str()));
    EXPECT_EQ(settings.GetIntValue(sibling.c_str(), L"v", 7), 7);
    EXPECT_FALSE(settings.SetIntValue(L"", L"w", 2));
    EXPECT_FALSE(settings.DeleteValue(sibling.c_str(), L"v"));
    EXPECT_FALSE(settings.DeleteKey(L""));
    EXPECT_TRUE(RawRegistry::KeyExists(server + L"\\" + sibling)) << "a sibling instance was deleted";
    RawRegistry::DeleteTree(server + L"\\" + sibling);
}

TEST(SettingsObject, AFailedFirstCreationLeavesNothingAndTheLockFree)
{
    Allocations::FailAfter(0);
    EXPECT_THROW(GetVeskSettingsPtr(), std::bad_alloc);
    VeskSettings* created = GetVeskSettingsPtr();
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetVeskSettingsPtr(), created);
    EXPECT_STREQ(created->GetInstanceName().c_str(), L"");
}

} // namespace
