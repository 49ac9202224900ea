// What the tool finds is what the registry finds: paths it refuses, names it
// matches, listings equal to a host's enumerations.
#include "VeskTool.h"
#include "common/HostLibrary.h"

using namespace vesk_tool;
using namespace vesk_tool_test;

namespace {

bool hasValue(const std::wstring& path, const std::wstring& name)
{
    Kestlib500::RawValue value;
    return RawRegistry::Get(path, name.c_str(), value);
}

} // namespace

// Each row would, unguarded, reach past the instance or break a registry
// limit; none may touch the store, and every instance must survive it. Every
// command's operands pass one check; the rule's cases are the registry
// layer's (RegistryConformanceTest).
TEST_F(VeskTool, RefusesPathsThatReachPastTheInstanceOrBreakALimit)
{
    const auto a = instance();
    const auto sibling = instance();
    expectOk(vesk(sibling, {L"set", L"Keep", L"v", L"1", L"--type", L"int"}));
    const std::wstring at255(255, L'k'), at256(256, L'm');
    const std::wstring name16383(16383, L'n');
    std::wstring astral16384; // 8,192 characters beyond the Basic Multilingual Plane, two units each
    for (int i = 0; i < 8192; ++i)
        astral16384 += L"\U0001F600";
    const struct {
        std::vector<std::wstring> args;
        int status;
        const char* says; // in the message when refused
    } rows[] = {
        {{L"delete", L"\\"}, 2, "empty name"},
        {{L"--instance", L"\\", L"delete", L""}, 2, "without backslashes"},
        {{L"--instance", L"", L"delete", L""}, 2, "needs a name"},
        {{L"--instance", a + L"\\..", L"list"}, 2, "without backslashes"},
        {{L"delete", L""}, 2, "every instance"},
        {{L"--instance", a, L"list", L"A\\"}, 2, "empty name"},
        {{L"--instance", a, L"set", L"A\\\\B", L"n", L"1", L"--type", L"int"}, 2, "empty name"},
        {{L"--instance", a, L"export", L"\\"}, 2, "empty name"},
        {{L"--instance", a, L"set", L"A\\" + at255, L"n", L"1", L"--type", L"int"}, 0, ""},
        {{L"--instance", a, L"set", L"A\\" + at256, L"n", L"1", L"--type", L"int"}, 2, "255 UTF-16 units"},
        {{L"--instance", at256, L"list"}, 2, "255 UTF-16 units"},
        {{L"--instance", at255, L"list"}, 1, ""},
        {{L"--instance", a, L"set", L"A", name16383, L"1", L"--type", L"int"}, 0, ""},
        {{L"--instance", a, L"delete", L"A", astral16384}, 2, "this one has 16384"},
    };
    for (const auto& row : rows) {
        const std::string what = toUtf8(row.args[0] + L" " + row.args[1]).substr(0, 60);
        const ToolRun result = run(row.args);
        EXPECT_EQ(result.status, row.status) << what << ": " << result.err;
        EXPECT_NE(result.err.find(row.says), npos) << what << ": " << result.err;
        EXPECT_TRUE(hasValue(keyOf(sibling, L"Keep"), L"v")) << what << " reached another instance";
    }
    EXPECT_TRUE(hasValue(keyOf(a, L"A\\" + at255), L"n"));
    EXPECT_TRUE(hasValue(keyOf(a, L"A"), name16383));
    EXPECT_FALSE(RawRegistry::KeyExists(keyOf(a, L"A\\" + at256.substr(0, 255))));
}

// A name given in one spelling and asked for in another: the tool finds it
// exactly when the registry does, for get, exists and delete alike.
TEST_F(VeskTool, FindsNamesExactlyWhereTheRegistryDoes)
{
    const struct {
        const wchar_t* stored;
        const wchar_t* asked;
    } rows[] = {
        {L"Ab", L"aB"},
        {L"\u00c9t\u00e9", L"\u00e9t\u00e9"},     // É / é
        {L"\u01c5", L"\u01c6"},                   // ǅ / ǆ
        {L"\u01c5", L"\u01c4"},                   // ǅ / Ǆ
        {L"\u03a3", L"\u03c3"},                   // Σ / σ
        {L"\u03c3", L"\u03c2"},                   // σ / ς
        {L"\u0130", L"i"},                        // İ / i
        {L"i", L"\u0131"},                        // i / ı
        {L"I", L"\u0131"},                        // I / ı
        {L"\U00010400", L"\U00010428"},           // 𐐀 / 𐐨
        {L"stra\u00dfe", L"STRASSE"},             // ß / SS
    };
    for (const auto& row : rows) {
        const std::string what = toUtf8(row.stored) + " / " + toUtf8(row.asked);
        const auto a = instance();
        expectOk(vesk(a, {L"set", L"K", row.stored, L"7", L"--type", L"int"}));
        expectOk(vesk(a, {L"set", std::wstring(L"K\\") + row.stored, L"x", L"1", L"--type", L"int"}));
        const bool valueFound = hasValue(keyOf(a, L"K"), row.asked);
        const bool keyFound = RawRegistry::KeyExists(keyOf(a, std::wstring(L"K\\") + row.asked));

        const ToolRun got = vesk(a, {L"get", L"K", row.asked, L"--type", L"int"});
        EXPECT_EQ(got.status, valueFound ? 0 : 1) << what << ": " << got.err;
        EXPECT_EQ(got.out, valueFound ? "7\n" : "") << what;
        EXPECT_EQ(vesk(a, {L"exists", std::wstring(L"K\\") + row.asked}).status, keyFound ? 0 : 1) << what;
        EXPECT_EQ(vesk(a, {L"delete", L"K", row.asked}).status, valueFound ? 0 : 1) << what;
        EXPECT_EQ(hasValue(keyOf(a, L"K"), row.stored), !valueFound) << what;
    }
}

#if defined(_WIN32)
// A Windows argument may hold a lone surrogate, which has no UTF-8 form for
// the command line's parser: refused, rather than stored as something else.
TEST_F(VeskTool, RefusesAnArgumentWithALoneSurrogate)
{
    const auto a = instance();
    const ToolRun result = vesk(a, {L"set", L"K", std::wstring(L"n\xD800"), L"1", L"--type", L"int"});
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("surrogate"), npos) << result.err;
    EXPECT_FALSE(RawRegistry::KeyExists(keyOf(a, L"K")));
}
#endif

namespace {

// What a host's positional enumerations give for a key, in the tool's
// listing form. An empty key reports one nameless, empty value, which only
// the registry can tell from a real default value holding "".
std::string hostListing(const std::wstring& instance, const std::wstring& subKey, bool recursive)
{
    VeskSettings& settings = HostLibrary::Settings();
    settings.SetInstanceName(WString(instance.c_str()));
    const std::string path = root(instance) + (subKey.empty() ? "" : "\\" + toUtf8(subKey));
    std::string text = path + "\n";
    std::vector<std::pair<std::wstring, std::wstring>> values;
    WString name, data;
    for (int index = 0; settings.EnumerateValues(WString(subKey.c_str()), index, name, data); ++index)
        values.emplace_back(name.c_str(), data.c_str());
    if (values.size() == 1 && values[0].first.empty() && !hasValue(keyOf(instance, subKey), L""))
        values.clear();
    for (const auto& value : values)
        text += "    " + (value.first.empty() ? std::string("@") : toUtf8(value.first)) + "    " +
                replaceAll(toUtf8(value.second), "\n", "\\0") + "\n";
    std::vector<std::wstring> children;
    for (int index = 0; settings.EnumerateSubKeys(WString(subKey.c_str()), index, name) && *name.c_str(); ++index)
        children.emplace_back(name.c_str());
    if (recursive || !children.empty())
        text += "\n";
    for (const std::wstring& child : children) {
        const std::wstring childKey = subKey.empty() ? child : subKey + L"\\" + child;
        text += recursive ? hostListing(instance, childKey, true) : path + "\\" + toUtf8(child) + "\n";
    }
    return text;
}

} // namespace

TEST_F(VeskTool, ListsWhatAHostEnumerates)
{
    const auto a = instance();
    const std::wstring mixed = keyOf(a, L"Mixed");
    expectOk(vesk(a, {L"set", L"", L"", L"", L"--type", L"string"})); // a real default value holding ""
    expectOk(vesk(a, {L"set", L"Mixed", L"zeta", L"-5", L"--type", L"int"}));
    expectOk(vesk(a, {L"set", L"Mixed", L"Alpha", L"t\u00e9xt", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"Mixed", L"", L"dflt", L"--type", L"string"}));
    std::vector<unsigned char> multi = RawRegistry::Text(L"a");
    for (const wchar_t* more : {L"b", L""})
        for (unsigned char byte : RawRegistry::Text(more))
            multi.push_back(byte);
    ASSERT_TRUE(RawRegistry::Set(mixed, L"multi", REG_MULTI_SZ, multi));
    ASSERT_TRUE(RawRegistry::Set(mixed, L"bytes", REG_BINARY, {0xAB, 0x01}));
    for (const wchar_t* child : {L"b", L"A", L"\u00c9", L"c\\Deep"})
        expectOk(vesk(a, {L"set", std::wstring(L"Mixed\\") + child, L"n", L"1", L"--type", L"int"}));
    expectOk(vesk(a, {L"set", L"Empty", L"gone", L"1", L"--type", L"int"}));
    expectOk(vesk(a, {L"delete", L"Empty", L"gone"}));

    EXPECT_NE(vesk(a, {L"list"}).out.find("\n    @    \n"), npos) << "the default value holding \"\"";
    for (const std::wstring subKey : {L"", L"Mixed", L"Empty", L"Mixed\\c"})
        for (const bool recursive : {false, true}) {
            std::vector<std::wstring> args{L"list", subKey};
            if (recursive)
                args.push_back(L"--recursive");
            const ToolRun listed = vesk(a, args);
            EXPECT_EQ(listed.status, 0) << listed.err;
            EXPECT_EQ(listed.out, hostListing(a, subKey, recursive)) << toUtf8(subKey) << (recursive ? " recursive" : "");
        }
}

#if !defined(_WIN32)
// A store the tool cannot use is an environment problem: the message names
// it and what to do, never a fault to report.
TEST_F(VeskTool, SaysWhyTheStoreCannotBeUsed)
{
    const fs::path garbage = write("garbage.db", std::string(4096, 'x'));
    for (const fs::path& store : {dir, garbage}) {
        const std::string previous = std::getenv("KESTLIB_REGISTRY");
        setenv("KESTLIB_REGISTRY", store.c_str(), 1);
        const ToolRun result = run({L"--instance", L"x", L"get", L"K", L"n"});
        setenv("KESTLIB_REGISTRY", previous.c_str(), 1);
        EXPECT_EQ(result.status, 4) << store;
        EXPECT_NE(result.err.find(store.string()), npos) << result.err;
        EXPECT_EQ(result.err.find("report"), npos) << result.err;
    }
}
#endif
