// One suite for the registry layer, run on both back ends: natively against
// the SQLite store, under Wine against Wine's own registry. Where the two
// could differ, the test says which behaviour it pins and why.
#include "common/RawRegistry.h"

#include "support/registry/ServerRegistry.h"
#include "support/text/Unicode.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Kestlib500;

namespace {

const wchar_t* const Server = L"VeskTests";

// A key object on an instance, with an optional sub-key.
class ScratchKey : public ServerRegistry {
public:
    ScratchKey(const std::wstring& instance, const wchar_t* subKey = nullptr)
        : ServerRegistry(SWCharString(Server), SWCharString(instance.c_str()))
    {
        if (subKey)
            appendKey(SWCharString(subKey));
    }
};

// What the iterators walk, in their order: sub-key names, or "name=text".
std::vector<std::wstring> SubKeysOf(ServerRegistry&& key)
{
    Registry::KeyIterator keys = key.EnumSubKeys();
    std::vector<std::wstring> seen = {keys.GetKey().c_str()};
    while (keys.NextKey())
        seen.push_back(keys.GetKey().c_str());
    return seen;
}

std::vector<std::wstring> ValuesOf(ServerRegistry&& key)
{
    Registry::ValueIterator values = key.EnumValues();
    std::vector<std::wstring> seen;
    do
        seen.push_back(std::wstring(values.GetName().c_str()) + L"=" + values.GetValue().c_str());
    while (values.NextValue());
    return seen;
}

// Each test gets its own instance key, deleted afterwards.
class RegistryConformance : public testing::Test {
protected:
    void TearDown() override { RawRegistry::DeleteTree(root); }

    std::wstring Path(const wchar_t* below = nullptr) const
    {
        return below ? root + L"\\" + below : root;
    }

    const std::wstring instance = RawRegistry::UniqueName(L"conformance");
    const std::wstring root = std::wstring(L"Software\\Halvorn\\Tessaly\\") + Server + L"\\" + instance;
};

TEST_F(RegistryConformance, WritesReadBackAsTextAndMissingValuesGiveTheDefault)
{
    ScratchKey key(instance, L"Net\\Deep");
    ASSERT_TRUE(key.WriteValue(SWCharString(L"port"), DWORD(0xFFFFFFFF)));
    ASSERT_TRUE(key.WriteValue(SWCharString(L"host"), SWCharString(L"h\x00f6st")));
    EXPECT_EQ(key.GetPath(), root + L"\\Net\\Deep");

    EXPECT_STREQ(key.ReadValue(SWCharString(L"PORT"), DWORD(0)).c_str(), L"-1") << "signed, names ignore case";
    ASSERT_TRUE(key.WriteValue(SWCharString(L"port"), DWORD(2)));
    EXPECT_STREQ(key.ReadValue(SWCharString(L"PORT"), DWORD(0)).c_str(), L"2") << "a write ends what the key had read";
    EXPECT_STREQ(key.ReadValue(SWCharString(L"host"), SWCharString(L"default")).c_str(), L"h\x00f6st");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing"), DWORD(0x80000000)).c_str(), L"-2147483648");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing"), SWCharString(L"fallback")).c_str(), L"fallback");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing")).c_str(), L"");

    EXPECT_STREQ(ScratchKey(instance, L"Net").ReadValue(SWCharString(L"port"), DWORD(7)).c_str(), L"7")
        << "a value of another key is not this key's";
    ScratchKey absent(instance, L"no\\such\\key");
    EXPECT_STREQ(absent.ReadValue(SWCharString(L"port"), DWORD(7)).c_str(), L"7");
    EXPECT_FALSE(absent.KeyExists());
    EXPECT_FALSE(RawRegistry::KeyExists(Path(L"no"))) << "reads create no key";
}

TEST_F(RegistryConformance, EveryTypeReadsAsTextAndReportsItsType)
{
    struct Row {
        const wchar_t* name;
        DWORD type;
        std::vector<unsigned char> data;
        const wchar_t* text;
    };
    const std::wstring longText(300, L'x'); // more than a first read takes
    const Row rows[] = {
        {L"sz", REG_SZ, RawRegistry::Text(L"plain"), L"plain"},
        {L"expand", REG_EXPAND_SZ, RawRegistry::Text(L"%TEMP%\\x"), L"%TEMP%\\x"},
        {L"dword", REG_DWORD, RawRegistry::Dword(0xFFFFFFFE), L"-2"},
        {L"qword", REG_QWORD, {0, 0, 0, 0, 1, 0, 0, 0}, L"4294967296"},
        {L"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}, L"a\nbc"},
        {L"binary", REG_BINARY, {0x00, 0xAB, 0x7f}, L"00ab7f"},
        {L"long", REG_SZ, RawRegistry::Text(longText.c_str()), longText.c_str()},
        {L"", REG_SZ, RawRegistry::Text(L"the default value"), L"the default value"},
    };
    for (const Row& row : rows)
        ASSERT_TRUE(RawRegistry::Set(Path(), row.name, row.type, row.data));

    ScratchKey key(instance);
    for (const Row& row : rows) {
        EXPECT_STREQ(key.ReadValue(SWCharString(row.name)).c_str(), row.text) << "value " << row.name;
        DWORD type = 0;
        EXPECT_TRUE(key.GetType(SWCharString(row.name), type));
        EXPECT_EQ(type, row.type) << "value " << row.name;
    }
    DWORD untouched = 0xdeadbeef;
    EXPECT_FALSE(key.GetType(SWCharString(L"missing"), untouched));
    EXPECT_EQ(untouched, 0xdeadbeefu);
}

// Data is kept byte for byte as written, whatever its type: no NUL is
// added to string data lacking one, and nothing around it is read.
TEST_F(RegistryConformance, DataIsKeptExactlyAsWritten)
{
    const std::pair<DWORD, std::vector<unsigned char>> rows[] = {
        {REG_SZ, {'A', 0}},         {REG_EXPAND_SZ, {'A', 0, 'B'}}, {REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0}},
        {REG_SZ, {'A'}},            {REG_SZ, {}},                   {REG_SZ, {'A', 0, 0, 0}},
        {REG_BINARY, {}},           {REG_DWORD, {1, 2, 3}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::wstring name = L"v" + std::to_wstring(i);
        ASSERT_TRUE(RawRegistry::Set(Path(), name.c_str(), rows[i].first, rows[i].second));
        Kestlib500::RawValue kept;
        ASSERT_TRUE(RawRegistry::Get(Path(), name.c_str(), kept));
        EXPECT_EQ(kept.type, rows[i].first) << "row " << i;
        EXPECT_EQ(kept.data, rows[i].second) << "row " << i;
    }
}

TEST_F(RegistryConformance, ValuesEnumerateEachOnceWithTheirText)
{
    ScratchKey key(instance);
    ASSERT_TRUE(key.WriteValue(SWCharString(L"zulu"), DWORD(26)));
    ASSERT_TRUE(key.WriteValue(SWCharString(L"alpha"), SWCharString(L"first")));
    ASSERT_TRUE(key.WriteValue(SWCharString(L"mike"), SWCharString(L"middle")));
    ASSERT_TRUE(key.WriteValue(SWCharString(L"zulu"), DWORD(27)));

    std::vector<std::wstring> seen = ValuesOf(ScratchKey(instance));

    // Windows gives creation order (an overwrite keeps its place) and the
    // native store does too; Wine sorts by name, so only the set is common.
#if defined(_WIN32)
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"alpha=first", L"mike=middle", L"zulu=27"}));
#else
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"zulu=27", L"alpha=first", L"mike=middle"}));
#endif
}

TEST_F(RegistryConformance, IteratorsOnNothingYieldEmptyTexts)
{
    ASSERT_TRUE(ScratchKey(instance, L"empty\\child").WriteValue(SWCharString(L"v"), DWORD(0)));
    for (const wchar_t* subKey : {L"empty", L"missing"}) {
        ScratchKey key(instance, subKey);
        Registry::ValueIterator values = key.EnumValues();
        EXPECT_STREQ(values.GetName().c_str(), L"") << subKey;
        EXPECT_STREQ(values.GetValue().c_str(), L"");
        EXPECT_FALSE(values.NextValue());
    }
    Registry::KeyIterator keys = ScratchKey(instance, L"missing").EnumSubKeys();
    EXPECT_STREQ(keys.GetKey().c_str(), L"");
    EXPECT_FALSE(keys.NextKey());
    Registry::KeyIterator past = ScratchKey(instance, L"empty").EnumSubKeys();
    EXPECT_STREQ(past.GetKey().c_str(), L"child");
    EXPECT_FALSE(past.NextKey());
    EXPECT_STREQ(past.GetKey().c_str(), L"") << "past the end it yields empty text";
}

TEST_F(RegistryConformance, DeletionsTakeWholeSubtreesAndReportMissingOnes)
{
    ASSERT_TRUE(ScratchKey(instance, L"A\\B\\C").WriteValue(SWCharString(L"v"), DWORD(1)));
    ASSERT_TRUE(ScratchKey(instance, L"A").WriteValue(SWCharString(L"w"), DWORD(2)));
    ASSERT_TRUE(ScratchKey(instance, L"Keep").WriteValue(SWCharString(L"k"), DWORD(3)));

    ScratchKey a(instance, L"a");
    EXPECT_TRUE(a.KeyExists());
    EXPECT_TRUE(a.DeleteKey());
    EXPECT_FALSE(a.KeyExists());
    EXPECT_FALSE(RawRegistry::KeyExists(Path(L"A\\B\\C")));
    EXPECT_FALSE(a.DeleteKey()) << "a missing key";
    EXPECT_TRUE(ScratchKey(instance, L"Keep").KeyExists());

    ScratchKey keep(instance, L"Keep");
    EXPECT_FALSE(keep.DeleteValue(SWCharString(L"missing")));
    EXPECT_STREQ(keep.ReadValue(SWCharString(L"k"), DWORD(0)).c_str(), L"3");
    EXPECT_TRUE(keep.DeleteValue(SWCharString(L"K")));
    EXPECT_STREQ(keep.ReadValue(SWCharString(L"k"), DWORD(0)).c_str(), L"0") << "a deletion ends what the key had read";
    EXPECT_FALSE(keep.DeleteValue(SWCharString(L"k")));
    EXPECT_TRUE(keep.KeyExists()) << "deleting the last value keeps the key";
    EXPECT_FALSE(ScratchKey(instance, L"nothing").DeleteValue(SWCharString(L"k")));
}

// `count` elements named `element`, joined by backslashes.
std::wstring Levels(std::size_t count, const std::wstring& element)
{
    std::wstring path = element;
    for (std::size_t i = 1; i < count; ++i)
        path += L"\\" + element;
    return path;
}

TEST_F(RegistryConformance, KeyPathsFollowTheRegistryLimitsAndNeedEveryElement)
{
    // The scratch instance's key lies five levels below the hive.
    const std::size_t below = 5;
    const std::wstring supplementary = vesk_text::fromUtf16(u"\U00010400");
    std::wstring pairs;
    for (int i = 0; i < 128; ++i)
        pairs += supplementary;
    struct Row {
        const char* what;
        std::wstring subKey;
        bool names;
    };
    const Row rows[] = {
        {"255-unit element", std::wstring(255, L'k'), true},
        {"256-unit element", std::wstring(256, L'k'), false},
        {"128 surrogate pairs, 256 units", pairs, false},
        {"512 levels", Levels(512 - below, L"d"), true},
        {"513 levels", Levels(513 - below, L"e"), false},
        {"leading backslash", L"\\lead", false},
        {"doubled backslash", L"one\\\\two", false},
        {"trailing backslash", L"trail\\", false},
    };
    // Keys the refused paths would name if empty elements were skipped.
    for (const wchar_t* existing : {L"lead", L"one\\two", L"trail"})
        ASSERT_TRUE(ScratchKey(instance, existing).WriteValue(SWCharString(L"v"), DWORD(1)));
    for (const Row& row : rows) {
        ScratchKey key(instance, row.subKey.c_str());
        EXPECT_EQ(key.WriteValue(SWCharString(L"v"), DWORD(1)), row.names) << row.what;
        EXPECT_EQ(key.KeyExists(), row.names) << row.what;
        EXPECT_STREQ(key.ReadValue(SWCharString(L"v"), DWORD(9)).c_str(), row.names ? L"1" : L"9") << row.what;
        EXPECT_EQ(key.DeleteKey(), row.names) << row.what;
    }
    EXPECT_EQ(SubKeysOf(ScratchKey(instance)), (std::vector<std::wstring>{L"d", L"lead", L"one", L"trail"}))
        << "refused paths create nothing; deleting the deepest key leaves the levels above";

    const std::wstring longestValue(16383, L'v');
    const std::wstring tooLongValue(16384, L'v');
    const std::wstring tooLongInUnits = std::wstring(16382, L'v') + supplementary;
    ScratchKey key(instance);
    EXPECT_TRUE(key.WriteValue(SWCharString(longestValue.c_str()), DWORD(1)));
    EXPECT_STREQ(key.ReadValue(SWCharString(longestValue.c_str()), DWORD(0)).c_str(), L"1");
    for (const std::wstring& name : {tooLongValue, tooLongInUnits}) {
        EXPECT_FALSE(key.WriteValue(SWCharString(name.c_str()), DWORD(1))) << name.size() << " characters";
        EXPECT_STREQ(key.ReadValue(SWCharString(name.c_str()), DWORD(9)).c_str(), L"9");
    }
}

// Names where a naive case fold goes wrong, written as UTF-16 units so that
// both widths of wchar_t see the same text. The registry lowers a unit only
// where upper-casing gives it back, and never touches surrogates. NameFold's
// test holds every single unit of the Basic Multilingual Plane against Wine;
// these take names through the back ends, surrogates above all.
std::wstring Name(std::u16string_view units) { return vesk_text::fromUtf16(units); }

TEST_F(RegistryConformance, NamesMatchExactlyAsTheRegistryMatchesThem)
{
    struct Row {
        const char* what;
        std::u16string stored;
        std::u16string lookedUp;
        bool matches;
    };
    const Row rows[] = {
        {"accented capital", u"\u00C9t\u00E9", u"\u00E9T\u00C9", true},
        {"Kelvin sign and k", u"\u212A", u"k", false},
        {"Deseret capital and small", u"\U00010400", u"\U00010428", false},
        {"Deseret capital", u"\U00010400", u"\U00010400", true},
        {"unpaired high surrogate", u"x\xD801", u"X\xD801", true},
        {"unpaired low and high", u"\xDC00", u"\xD800", false},
        {"unpaired low after a letter", u"a\xDC28", u"A\xDC28", true},
    };
    int index = 0;
    for (const Row& row : rows) {
        const std::wstring stored = Name(row.stored);
        const std::wstring lookedUp = Name(row.lookedUp);
        const std::wstring rowKey = L"row" + std::to_wstring(index++);
        EXPECT_EQ(CompareNoCase(stored.c_str(), lookedUp.c_str()) == 0, row.matches) << row.what;

        ScratchKey values(instance, rowKey.c_str());
        ASSERT_TRUE(values.WriteValue(SWCharString(stored.c_str()), DWORD(1))) << row.what;
        DWORD type = 0;
        EXPECT_EQ(values.GetType(SWCharString(lookedUp.c_str()), type), row.matches) << row.what << ": value";
        // A write under the other spelling replaces the value and keeps its name, or adds a second one.
        ASSERT_TRUE(values.WriteValue(SWCharString(lookedUp.c_str()), DWORD(2))) << row.what;
        std::vector<std::wstring> written = ValuesOf(ScratchKey(instance, rowKey.c_str()));
        std::vector<std::wstring> expected = {row.matches ? stored + L"=2" : stored + L"=1"};
        if (!row.matches)
            expected.push_back(lookedUp + L"=2");
        std::sort(written.begin(), written.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(written, expected) << row.what << ": values";

        const std::wstring storedKey = rowKey + L"\\" + stored;
        const std::wstring lookedUpKey = rowKey + L"\\" + lookedUp;
        ASSERT_TRUE(ScratchKey(instance, storedKey.c_str()).WriteValue(SWCharString(L"v"), DWORD(1))) << row.what;
        EXPECT_EQ(ScratchKey(instance, lookedUpKey.c_str()).KeyExists(), row.matches) << row.what << ": key";
        EXPECT_STREQ(ScratchKey(instance, lookedUpKey.c_str()).ReadValue(SWCharString(L"v"), DWORD(0)).c_str(),
            row.matches ? L"1" : L"0") << row.what << ": a value by its key's path";
        EXPECT_EQ(SubKeysOf(ScratchKey(instance, rowKey.c_str())), std::vector<std::wstring>{stored})
            << row.what << ": the name keeps its spelling";
    }
}

TEST_F(RegistryConformance, SubKeysEnumerateSortedByFoldedUtf16Units)
{
    // Names fold as Wine folds them, lower case: '_' (0x5F) sorts before the
    // letters, a prefix before what extends it, and a supplementary character
    // (a surrogate pair) before U+E000: UTF-16 order, not code point order.
    const std::u16string expected[] = {u"_", u"a", u"A_B", u"AB", u"ab1", u"b", u"Z", u"Zeta", u"\u00C9", u"\u0130",
        u"\u0131", u"\u01C5", u"\u01C6", u"\u03C2", u"\u03A3", u"\U00010400", u"\U00010428", u"\xDC00", u"\uE000"};
    std::vector<std::wstring> names;
    for (const std::u16string& units : expected)
        names.push_back(Name(units));
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        ASSERT_TRUE(ScratchKey(instance, name->c_str()).WriteValue(SWCharString(L"v"), DWORD(0)));

    EXPECT_EQ(SubKeysOf(ScratchKey(instance)), names);
    for (std::size_t i = 1; i < names.size(); ++i)
        EXPECT_LT(CompareNoCase(names[i - 1].c_str(), names[i].c_str()), 0) << "CompareNoCase orders row " << i;
}

} // namespace
