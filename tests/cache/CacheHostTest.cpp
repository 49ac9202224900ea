// The cache as a host sees it, through the singleton. A value changed in the
// registry behind the library's back tells a cache hit (the old value) from
// a registry read (the new one).
#include "common/FreshProcess.h"
#include "common/HostInstance.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Cache = HostInstance;

TEST_F(Cache, AnEntryHidesLaterChangesInTheRegistry)
{
    const std::wstring a = SubKey(L"A");
    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"written", 8));
    Plant(a, L"written", REG_DWORD, RawRegistry::Dword(9));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"written", 0), 8);
    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"written", 10));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"written", 0), 10) << "a later write replaces the entry";

    Plant(a, L"read", REG_SZ, RawRegistry::Text(L"first"));
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"read", L"").c_str(), L"first");
    Plant(a, L"read", REG_SZ, RawRegistry::Text(L"second"));
    WString copy = settings.GetStringValue(a.c_str(), L"read", L"");
    EXPECT_STREQ(copy.c_str(), L"first");
    copy = L"changed by the caller";
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"read", L"").c_str(), L"first");

    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"minus", -1));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"minus", 0), -1);
}

TEST_F(Cache, TheFirstDefaultIsCachedForLaterCalls)
{
    const std::wstring a = SubKey(L"Defaults");
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"i", 5), 5);
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"s", L"five").c_str(), L"five");
    EXPECT_TRUE(settings.GetBoolValue(a.c_str(), L"b", true));
    Plant(a, L"i", REG_DWORD, RawRegistry::Dword(6));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"i", 7), 5);
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"s", L"seven").c_str(), L"five");
    EXPECT_TRUE(settings.GetBoolValue(a.c_str(), L"b", false));
}

TEST_F(Cache, FailuresLeaveTheCacheAsItWas)
{
    const std::wstring a = SubKey(L"Failures");
    Plant(a, L"typed", REG_SZ, RawRegistry::Text(L"12"));
    EXPECT_THROW(settings.GetIntValue(a.c_str(), L"typed", 0), VeskSettings::BadKeyTypeError);
    EXPECT_THROW(settings.GetIntValue(a.c_str(), L"typed", 0), VeskSettings::BadKeyTypeError);
    Plant(a, L"typed", REG_DWORD, RawRegistry::Dword(3));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"typed", 0), 3) << "the throwing read cached nothing";

    // A value name the registry refuses makes the write fail.
    const std::wstring tooLong(16384, L'n');
    EXPECT_EQ(settings.GetIntValue(a.c_str(), tooLong.c_str(), 1), 1);
    EXPECT_FALSE(settings.SetIntValue(a.c_str(), tooLong.c_str(), 2));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), tooLong.c_str(), 0), 1);
}

TEST_F(Cache, AWriteReplacesOnlyItsOwnKind)
{
    const std::wstring a = SubKey(L"Kinds");
    Plant(a, L"flag", REG_SZ, RawRegistry::Text(L"False"));
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"flag", L"").c_str(), L"False");
    ASSERT_TRUE(settings.SetBoolValue(a.c_str(), L"flag", true));
    EXPECT_TRUE(settings.GetBoolValue(a.c_str(), L"flag", false));
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"flag", L"").c_str(), L"False");

    // The cached text also hides a change of the stored type.
    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"flag", 4));
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"flag", L"").c_str(), L"False");
}

// Sub-key spellings are the slot table's own test, and DeleteKey's below.
TEST_F(Cache, ValueNamesAreComparedWithCase)
{
    const std::wstring a = SubKey(L"Case");
    Plant(a, L"Port", REG_DWORD, RawRegistry::Dword(1));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"Port", 0), 1);
    Plant(a, L"Port", REG_DWORD, RawRegistry::Dword(2));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"PORT", 0), 2) << "another spelling is another entry";
    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"port", 3));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"Port", 0), 1);
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"PORT", 0), 2);
}

TEST_F(Cache, ChangingTheInstanceKeepsTheCache)
{
    const std::wstring a = SubKey(L"Instance");
    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"x", 1));
    settings.SetInstanceName(RawRegistry::UniqueName(L"other").c_str());
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"x", 0), 1);
}

TEST_F(Cache, DeleteValueDropsEveryKindEvenWhenTheRegistryFails)
{
    const std::wstring a = SubKey(L"DeleteValue");
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"v", 5), 5);
    EXPECT_STREQ(settings.GetStringValue(a.c_str(), L"v", L"s").c_str(), L"s");
    EXPECT_FALSE(settings.DeleteValue(a.c_str(), L"v")) << "nothing stored to delete";
    Plant(a, L"v", REG_DWORD, RawRegistry::Dword(9));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"v", 0), 9);
    EXPECT_THROW(settings.GetStringValue(a.c_str(), L"v", L""), VeskSettings::BadKeyTypeError);

    ASSERT_TRUE(settings.SetIntValue(a.c_str(), L"w", 5));
    EXPECT_TRUE(settings.DeleteValue(a.c_str(), L"w"));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"w", 7), 7);
}

TEST_F(Cache, DeleteKeyDropsExactlyItsOwnSlot)
{
    const std::wstring a = SubKey(L"Tree");
    const std::wstring below = a + L"\\B";
    std::wstring lower = a;
    lower[0] = L't';
    used.push_back(below);
    used.push_back(lower);
    for (const std::wstring& subKey : {a, below, lower})
        EXPECT_EQ(settings.GetIntValue(subKey.c_str(), L"x", 1), 1);

    EXPECT_FALSE(settings.DeleteKey(a.c_str())) << "the key was never written";
    for (const std::wstring& subKey : {a, below})
        Plant(subKey, L"x", REG_DWORD, RawRegistry::Dword(2));
    EXPECT_EQ(settings.GetIntValue(a.c_str(), L"x", 0), 2) << "its own entries are gone";
    EXPECT_EQ(settings.GetIntValue(below.c_str(), L"x", 0), 1) << "a deeper sub-key keeps its slot";
    EXPECT_EQ(settings.GetIntValue(lower.c_str(), L"x", 0), 1) << "another spelling keeps its slot";
}

TEST(CacheCapacity, TwentyFiveSubKeysAreCachedAndATwentySixthIsNot)
{
    EXPECT_EQ(FreshProcess::Run("InAFreshProcess.FillsTheSlotTable", "slots"), 0);
}

// The table of a fresh process, filled, and both sides of its edge.
using InAFreshProcess = HostInstance;
TEST_F(InAFreshProcess, FillsTheSlotTable)
{
    if (!FreshProcess::Argument())
        GTEST_SKIP() << FreshProcess::OnlyThere;
    // Whether `subKey` is cached: a change behind the library's back is not seen.
    const auto cached = [&](const std::wstring& subKey) {
        settings.SetIntValue(subKey.c_str(), L"x", 1);
        RawRegistry::Set(Key(subKey), L"x", REG_DWORD, RawRegistry::Dword(2));
        return settings.GetIntValue(subKey.c_str(), L"x", 0) == 1;
    };

    // Key operations on new sub-keys take no slot.
    WString name, value;
    settings.EnumerateValues(L"none", 0, name, value);
    settings.EnumerateSubKeys(L"none2", 0, name);
    settings.KeyExists(L"none3");
    for (int i = 1; i <= 25; ++i)
        EXPECT_TRUE(cached(L"S" + std::to_wstring(i))) << "sub-key " << i << " of 25";
    EXPECT_FALSE(cached(L"extra")) << "a 26th sub-key goes uncached";
    EXPECT_EQ(settings.GetIntValue(L"extra", L"missing", 4), 4);

    // The first slot, one in the middle and the last.
    for (int freed : {1, 13, 25}) {
        const std::wstring subKey = L"S" + std::to_wstring(freed);
        EXPECT_TRUE(settings.DeleteKey(subKey.c_str())) << "S" << freed;
        EXPECT_TRUE(cached(L"takes-the-freed-slot-of-" + subKey)) << "S" << freed;
        EXPECT_FALSE(cached(L"full-again-after-" + subKey)) << "S" << freed;
    }
    EXPECT_EQ(settings.GetIntValue(L"S5", L"x", 0), 1) << "the others keep their entries";
}

} // namespace
