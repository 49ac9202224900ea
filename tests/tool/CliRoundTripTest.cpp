// An export is a byte-exact backup: every registry type planted below the
// tool, exported, the instance deleted, the file imported, and every value
// back with its type and bytes, on whichever registry the build runs on.
#include "RegFileSummary.h"
#include "VeskTool.h"

using namespace vesk_tool_test;
using regfile_test::hexOf;

namespace {

// Keys of an instance that hold values: its own, and keys whose names need
// care in a file.
const std::wstring ValueKeys[] = {L"", L"Sub \u00e9\U0001F600", L"Sub \u00e9\U0001F600\\q \"x\" ;#[=]@"};

} // namespace

TEST_F(VeskTool, ExportThenImportGivesBackEveryTypeByteForByte)
{
    const auto a = instance();
    // The settings cannot make an empty key; an import can.
    expectOk(vesk(a, {L"import", write("empty.reg", "REGEDIT4\n[" + root(a) + "\\Empty]\n").wstring()}));
    const auto values = regfile_test::everyTypeValues();
    for (const std::wstring& key : ValueKeys)
        for (const auto& value : values)
            ASSERT_TRUE(RawRegistry::Set(keyOf(a, key), value.name.c_str(), value.type, value.data)) << toUtf8(value.name);
    const std::string original = snapshot(a);

    for (const std::wstring encoding : {L"", L"utf8"}) {
        SCOPED_TRACE(encoding.empty() ? "default encoding" : "UTF-8");
        const fs::path file = dir / "backup.reg";
        std::vector<std::wstring> args = {L"export", L"--output", file.wstring()};
        if (!encoding.empty())
            args.insert(args.end(), {L"--encoding", encoding});
        expectOk(vesk(a, args));
        // What the registry editor writes, on both builds.
        EXPECT_EQ(readBytes(file).substr(0, 2), encoding.empty() ? "\xFF\xFE" : "Wi");

        ASSERT_TRUE(RawRegistry::DeleteTree(keyOf(a)));
        expectOk(vesk(a, {L"import", file.wstring()}));
        for (const std::wstring& key : ValueKeys)
            for (const auto& value : values) {
                Kestlib500::RawValue stored;
                ASSERT_TRUE(RawRegistry::Get(keyOf(a, key), value.name.c_str(), stored)) << toUtf8(key + L": " + value.name);
                EXPECT_EQ(stored.type, value.type) << toUtf8(key + L": " + value.name);
                EXPECT_EQ(hexOf(stored.data), hexOf(value.data)) << toUtf8(key + L": " + value.name);
            }
        EXPECT_TRUE(RawRegistry::KeyExists(keyOf(a, L"Empty")));
        // Nothing more either.
        EXPECT_EQ(snapshot(a), original);

        // The same file copies the instance to another.
        const auto b = instance();
        expectOk(vesk(b, {L"import", file.wstring(), L"--from-instance", a}));
        EXPECT_EQ(snapshot(b), replaceAll(original, root(a), root(b)));
    }
}
