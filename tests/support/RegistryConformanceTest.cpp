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

// A key object on an instance, with an optional sub-key. A null instance
// name is what a failed copy leaves.
class ScratchKey : public ServerRegistry {
public:
    ScratchKey(const std::wstring& instance, const wchar_t* subKey = nullptr)
        : ScratchKey(SWCharString(instance.c_str()), subKey) {}
    ScratchKey(const SWCharString& instance, const wchar_t* subKey) : ServerRegistry(SWCharString(Server), instance)
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
    std::string Text(const SWCharString& text) const
    {
        const std::wstring wide = text.c_str() ? text.c_str() : L"(null)";
        return std::string(wide.begin(), wide.end());
    }

    const std::wstring instance = RawRegistry::UniqueName(L"conformance");
    const std::wstring root = std::wstring(L"Software\\Halvorn\\Tessaly\\") + Server + L"\\" + instance;
};

TEST_F(RegistryConformance, WritesStoreTheLayoutAndReadsGiveTextOrTheDefault)
{
    ScratchKey key(instance, L"Net\\Deep");
    ASSERT_TRUE(key.WriteValue(SWCharString(L"port"), DWORD(0xFFFFFFFF)));
    ASSERT_TRUE(key.WriteValue(SWCharString(L"host"), SWCharString(L"h\x00f6st")));
    EXPECT_EQ(key.GetPath(), root + L"\\Net\\Deep");

    RawValue port, host;
    ASSERT_TRUE(RawRegistry::Get(Path(L"Net\\Deep"), L"port", port));
    EXPECT_EQ(port.type, DWORD(REG_DWORD));
    EXPECT_EQ(port.data, RawRegistry::Dword(0xFFFFFFFF));
    ASSERT_TRUE(RawRegistry::Get(Path(L"Net\\Deep"), L"host", host));
    EXPECT_EQ(host.type, DWORD(REG_SZ));
    EXPECT_EQ(host.data, RawRegistry::Text(L"h\x00f6st")) << "four UTF-16 units and the NUL";

    EXPECT_STREQ(key.ReadValue(SWCharString(L"PORT"), DWORD(0)).c_str(), L"-1") << "signed, names ignore case";
    EXPECT_STREQ(key.ReadValue(SWCharString(L"host"), SWCharString(L"default")).c_str(), L"h\x00f6st");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing"), DWORD(0x80000000)).c_str(), L"-2147483648");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing"), SWCharString(L"fallback")).c_str(), L"fallback");
    EXPECT_STREQ(key.ReadValue(SWCharString(L"missing")).c_str(), L"");

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
    const Row rows[] = {
        {L"sz", REG_SZ, RawRegistry::Text(L"plain"), L"plain"},
        {L"expand", REG_EXPAND_SZ, RawRegistry::Text(L"%TEMP%\\x"), L"%TEMP%\\x"},
        {L"dword", REG_DWORD, RawRegistry::Dword(0xFFFFFFFE), L"-2"},
        {L"qword", REG_QWORD, {0, 0, 0, 0, 1, 0, 0, 0}, L"4294967296"},
        {L"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}, L"a\nbc"},
        {L"binary", REG_BINARY, {0x00, 0xAB, 0x7f}, L"00ab7f"},
        {L"", REG_SZ, RawRegistry::Text(L"the default value"), L"the default value"},
    };
    for (const Row& row : rows)
        ASSERT_TRUE(RawRegistry::Set(Path(), row.name, row.type, row.data));

    ScratchKey key(instance);
    for (const Row& row : rows) {
        EXPECT_STREQ(key.ReadValue(SWCharString(row.name)).c_str(), row.text) << "value " << Text(row.name);
        DWORD type = 0;
        EXPECT_TRUE(key.GetType(SWCharString(row.name), type));
        EXPECT_EQ(type, row.type) << "value " << Text(row.name);
    }
    DWORD untouched = 0xdeadbeef;
    EXPECT_FALSE(key.GetType(SWCharString(L"missing"), untouched));
    EXPECT_EQ(untouched, 0xdeadbeefu);
}

TEST_F(RegistryConformance, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    ScratchKey key(instance, L"Mixed");
    const wchar_t* const pairs[][2] = {{L"Name", L"NAME"}, {L"\x00c9t\x00e9", L"\x00e9T\x00c9"}, {L"\x03a9\x0434", L"\x03c9\x0414"}};
    for (const auto& pair : pairs) {
        ASSERT_TRUE(key.WriteValue(SWCharString(pair[0]), DWORD(1)));
        ASSERT_TRUE(key.WriteValue(SWCharString(pair[1]), DWORD(2)));
        EXPECT_STREQ(key.ReadValue(SWCharString(pair[0]), DWORD(0)).c_str(), L"2") << Text(pair[0]);
    }
    std::vector<std::wstring> values = ValuesOf(ScratchKey(instance, L"Mixed"));
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::wstring>{L"Name=2", L"\x00c9t\x00e9=2", L"\x03a9\x0434=2"}));
    EXPECT_TRUE(ScratchKey(instance, L"MIXED").KeyExists());
    EXPECT_EQ(SubKeysOf(ScratchKey(instance)), std::vector<std::wstring>{L"Mixed"});
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
        EXPECT_STREQ(values.GetName().c_str(), L"") << Text(subKey);
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
    EXPECT_TRUE(keep.DeleteValue(SWCharString(L"K")));
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
    for (const Row& row : rows) {
        ScratchKey key(instance, row.subKey.c_str());
        EXPECT_EQ(key.WriteValue(SWCharString(L"v"), DWORD(1)), row.names) << row.what;
        EXPECT_EQ(key.KeyExists(), row.names) << row.what;
        EXPECT_STREQ(key.ReadValue(SWCharString(L"v"), DWORD(9)).c_str(), row.names ? L"1" : L"9") << row.what;
        EXPECT_EQ(key.DeleteKey(), row.names) << row.what;
    }
    EXPECT_EQ(SubKeysOf(ScratchKey(instance)), std::vector<std::wstring>{L"d"})
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

TEST_F(RegistryConformance, ANullInstanceNameAddressesNoKey)
{
    ASSERT_TRUE(ScratchKey(instance).WriteValue(SWCharString(L"v"), DWORD(1)));
    for (const wchar_t* subKey : {static_cast<const wchar_t*>(nullptr), instance.c_str()}) {
        const std::string what = subKey ? "with the instance as sub-key" : "alone";
        ScratchKey key(SWCharString(), subKey);
        EXPECT_FALSE(key.KeyExists()) << what;
        EXPECT_STREQ(key.ReadValue(SWCharString(L"v"), DWORD(7)).c_str(), L"7") << what;
        DWORD type = 0;
        EXPECT_FALSE(key.GetType(SWCharString(L"v"), type)) << what;
        EXPECT_FALSE(key.WriteValue(SWCharString(L"w"), DWORD(2))) << what;
        EXPECT_FALSE(key.DeleteValue(SWCharString(L"v"))) << what;
        EXPECT_EQ(SubKeysOf(ScratchKey(SWCharString(), subKey)), std::vector<std::wstring>{L""}) << what;
        EXPECT_FALSE(key.DeleteKey()) << what;
    }
    EXPECT_TRUE(RawRegistry::KeyExists(root)) << "the instance below the server key is untouched";
    EXPECT_STREQ(ScratchKey(instance).ReadValue(SWCharString(L"v"), DWORD(0)).c_str(), L"1");
}

// Names where a naive case fold goes wrong, written as UTF-16 units so that
// both widths of wchar_t see the same text. The registry lowers a unit only
// where upper-casing gives it back, and never touches surrogates.
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
        {"capital digraph and small", u"\u01C4", u"\u01C6", true},
        {"titlecase digraph and small", u"\u01C5", u"\u01C6", false},
        {"titlecase digraph and capital", u"\u01C5", u"\u01C4", false},
        {"sigma", u"\u03A3", u"\u03C3", true},
        {"final sigma and sigma", u"\u03C2", u"\u03C3", false},
        {"final sigma and capital", u"\u03C2", u"\u03A3", false},
        {"dotted capital I and i", u"\u0130", u"i", false},
        {"dotted capital I and I", u"\u0130", u"I", false},
        {"dotless i and I", u"\u0131", u"I", false},
        {"dotless i and i", u"\u0131", u"i", false},
        {"i and I", u"i", u"I", true},
        {"Kelvin sign and k", u"\u212A", u"k", false},
        {"capital sharp s and sharp s", u"\u1E9E", u"\u00DF", false},
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

        const std::wstring storedKey = rowKey + L"\\" + stored;
        const std::wstring lookedUpKey = rowKey + L"\\" + lookedUp;
        ASSERT_TRUE(ScratchKey(instance, storedKey.c_str()).WriteValue(SWCharString(L"v"), DWORD(1))) << row.what;
        EXPECT_EQ(ScratchKey(instance, lookedUpKey.c_str()).KeyExists(), row.matches) << row.what << ": key";
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
