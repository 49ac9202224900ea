// Failure paths from inside the library: the registry layer made to throw,
// and the first allocation of the settings object made to fail.
#include "cache/VeskCachedSettings.h"
#include "common/Allocations.h"
#include "common/RawRegistry.h"
#include "support/registry/FaultInjection.h"
#include "vesk/Vesk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

// True when `operation` completes on another thread; a lock left held would
// block it for good, so the wait is bounded.
bool FinishesOnAnotherThread(const std::function<void()>& operation)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([operation, done] {
        operation();
        done->set_value();
    }).detach();
    return finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

TEST(RegistryFailure, PassesToTheCallerAndLeavesTheLockFree)
{
    VeskCachedSettings settings;
    const std::wstring instance = RawRegistry::UniqueName(L"core");
    settings.SetInstanceName(instance.c_str());
    WString name, value;

    struct Row {
        const char* operation;
        std::function<void()> call;
    };
    const Row rows[] = {
        {"GetLoggingPath", [&] { settings.GetLoggingPath(); }},
        {"SetIntValue", [&] { settings.SetIntValue(L"k", L"i", 1); }},
        {"GetIntValue", [&] { settings.GetIntValue(L"k", L"i", 1); }},
        {"SetStringValue", [&] { settings.SetStringValue(L"k", L"s", L"text"); }},
        {"GetStringValue", [&] { settings.GetStringValue(L"k", L"s", L"default"); }},
        {"SetBoolValue", [&] { settings.SetBoolValue(L"k", L"b", true); }},
        {"GetBoolValue", [&] { settings.GetBoolValue(L"k", L"b", true); }},
        {"EnumerateValues", [&] { settings.EnumerateValues(L"k", 0, name, value); }},
        {"EnumerateSubKeys", [&] { settings.EnumerateSubKeys(L"", 0, name); }},
        {"DeleteValue", [&] { settings.DeleteValue(L"k", L"i"); }},
        {"DeleteKey", [&] { settings.DeleteKey(L"k"); }},
        {"KeyExists", [&] { settings.KeyExists(L"k"); }},
    };
    for (const Row& row : rows) {
        Kestlib500::FaultInjection::ThrowOnNextCall();
        EXPECT_THROW(row.call(), std::runtime_error) << row.operation;
        EXPECT_TRUE(FinishesOnAnotherThread([&] { settings.KeyExists(L"k"); })) << row.operation << " left the lock held";
    }
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
