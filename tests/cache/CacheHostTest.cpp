// The cache as a host sees it, through the singleton. A value changed in the
// registry behind the library's back tells a cache hit (the old value) from
// a registry read (the new one).
#include "common/FreshProcess.h"
#include "common/HostInstance.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One call on a sub-key of the test's own and the answer it must give: reads
// (their default in `arg`) give the value as text or "throws", writes and
// deletions "ok" or "failed"; plants change the registry behind the
// library's back and answer nothing.
struct Step {
    const char* call; // int, text, bool, set-int, set-text, set-bool, delete, plant-int, plant-text
    const wchar_t* name;
    const wchar_t* arg;
    const wchar_t* answer;
};

class Cache : public HostInstance {
protected:
    std::wstring Run(const std::wstring& key, const Step& step);
};

std::wstring Cache::Run(const std::wstring& key, const Step& step)
{
    const std::string call = step.call;
    const wchar_t* subKey = key.c_str();
    const auto done = [](bool ok) { return std::wstring(ok ? L"ok" : L"failed"); };
    try {
        if (call == "int")
            return std::to_wstring(settings.GetIntValue(subKey, step.name, std::stoi(step.arg)));
        if (call == "text")
            return settings.GetStringValue(subKey, step.name, step.arg).c_str();
        if (call == "bool")
            return settings.GetBoolValue(subKey, step.name, step.arg == std::wstring(L"true")) ? L"true" : L"false";
    } catch (const VeskSettings::BadKeyTypeError&) {
        return L"throws";
    }
    if (call == "set-int")
        return done(settings.SetIntValue(subKey, step.name, std::stoi(step.arg)));
    if (call == "set-text")
        return done(settings.SetStringValue(subKey, step.name, step.arg));
    if (call == "set-bool")
        return done(settings.SetBoolValue(subKey, step.name, step.arg == std::wstring(L"true")));
    if (call == "delete")
        return done(settings.DeleteValue(subKey, step.name));
    if (call == "plant-int")
        Plant(key, step.name, REG_DWORD, RawRegistry::Dword(static_cast<DWORD>(std::stoi(step.arg))));
    else
        Plant(key, step.name, REG_SZ, RawRegistry::Text(step.arg));
    return L"";
}

TEST_F(Cache, AnswersFromTheCacheUntilTheLibraryItselfChangesTheValue)
{
    const std::wstring tooLong(16384, L'n'); // a value name the registry refuses
    const Step steps[] = {
        // An entry hides later changes in the registry; a write replaces it.
        {"set-int", L"written", L"8", L"ok"}, {"plant-int", L"written", L"9", L""}, {"int", L"written", L"0", L"8"},
        {"set-int", L"written", L"10", L"ok"}, {"int", L"written", L"0", L"10"},
        {"set-int", L"minus", L"-1", L"ok"}, {"int", L"minus", L"0", L"-1"},
        {"plant-text", L"read", L"first", L""}, {"text", L"read", L"", L"first"},
        {"plant-text", L"read", L"second", L""}, {"text", L"read", L"", L"first"},
        // The first default is cached for later calls.
        {"int", L"i", L"5", L"5"}, {"text", L"s", L"five", L"five"}, {"bool", L"b", L"true", L"true"},
        {"plant-int", L"i", L"6", L""}, {"int", L"i", L"7", L"5"}, {"text", L"s", L"seven", L"five"},
        {"bool", L"b", L"false", L"true"},
        // A read that throws caches nothing; a failed write replaces nothing.
        {"plant-text", L"typed", L"12", L""}, {"int", L"typed", L"0", L"throws"}, {"int", L"typed", L"0", L"throws"},
        {"plant-int", L"typed", L"3", L""}, {"int", L"typed", L"0", L"3"},
        {"int", tooLong.c_str(), L"1", L"1"}, {"set-int", tooLong.c_str(), L"2", L"failed"},
        {"int", tooLong.c_str(), L"0", L"1"},
        // A write replaces only its own kind's entry, and the cached text
        // hides a change of the stored type.
        {"plant-text", L"flag", L"False", L""}, {"text", L"flag", L"", L"False"}, {"set-bool", L"flag", L"true", L"ok"},
        {"bool", L"flag", L"false", L"true"}, {"text", L"flag", L"", L"False"}, {"set-int", L"flag", L"4", L"ok"},
        {"text", L"flag", L"", L"False"},
        // Value names are compared with case: another spelling is another entry.
        {"plant-int", L"Port", L"1", L""}, {"int", L"Port", L"0", L"1"}, {"plant-int", L"Port", L"2", L""},
        {"int", L"PORT", L"0", L"2"}, {"set-int", L"port", L"3", L"ok"}, {"int", L"Port", L"0", L"1"},
        {"int", L"PORT", L"0", L"2"},
        // A deletion drops every kind's entry, even when the registry had
        // nothing to delete.
        {"int", L"v", L"5", L"5"}, {"text", L"v", L"s", L"s"}, {"delete", L"v", L"", L"failed"},
        {"plant-int", L"v", L"9", L""}, {"int", L"v", L"0", L"9"}, {"text", L"v", L"", L"throws"},
        {"set-text", L"w", L"five", L"ok"}, {"delete", L"w", L"", L"ok"}, {"text", L"w", L"seven", L"seven"},
    };
    const std::wstring key = SubKey(L"Steps");
    for (const Step& step : steps)
        EXPECT_EQ(Run(key, step), step.answer) << "step " << (&step - steps) << ": " << step.call;

    WString copy = settings.GetStringValue(key.c_str(), L"read", L"");
    copy = L"changed by the caller";
    EXPECT_STREQ(settings.GetStringValue(key.c_str(), L"read", L"").c_str(), L"first") << "answers are copies";
    settings.SetInstanceName(RawRegistry::UniqueName(L"other").c_str());
    EXPECT_EQ(settings.GetIntValue(key.c_str(), L"written", 0), 10) << "changing the instance keeps the cache";
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

// The table of a fresh process, filled, and both sides of its edge.
TEST_F(Cache, TwentyFiveSubKeysAreCachedAndATwentySixthIsNot)
{
    InAFreshProcess([&] {
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
    });
}

} // namespace
