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
const std::wstring ValueKeys[] = {L"", L"Sub \u00e9\U0001F600", L"Sub \u00e9\U0001F600\\q \"x\" ;#[=]@", L"-dash"};

} // namespace

TEST_F(VeskTool, ExportThenImportGivesBackEveryTypeByteForByte)
{
    for (const std::wstring encoding : {L"utf16", L"utf8"}) {
        SCOPED_TRACE(toUtf8(encoding));
        const bool eightBit = encoding == L"utf8";
        const auto a = instance();
        // The settings cannot make an empty key; an import can.
        expectOk(vesk(a, {L"import", write("empty.reg", "REGEDIT4\n[" + root(a) + "\\Empty]\n").wstring()}));
        std::vector<regfile_test::TypedValue> values;
        for (const auto& value : regfile_test::everyTypeValues())
            if (eightBit ? value.carriedIn8Bit : value.carried)
                values.push_back(value);
        for (const std::wstring& key : ValueKeys)
            for (const auto& value : values)
                ASSERT_TRUE(RawRegistry::Set(keyOf(a, key), value.name.c_str(), value.type, value.data)) << toUtf8(value.name);

        const fs::path file = dir / "backup.reg";
        const std::vector<std::wstring> exportTo = {L"export", L"--output", file.wstring(), L"--encoding", encoding};
        expectOk(vesk(a, exportTo));
        const std::string original = readBytes(file);
        // What the registry editor writes, on both builds.
        EXPECT_EQ(original.substr(0, 2), eightBit ? "Wi" : "\xFF\xFE");

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
        expectOk(vesk(a, exportTo));
        EXPECT_EQ(readBytes(file), original);

        // The same file copies the instance to another.
        const auto b = instance();
        expectOk(vesk(b, {L"import", file.wstring(), L"--from-instance", a}));
        expectOk(vesk(b, exportTo));
        const auto inFile = [&](const std::string& text) { return eightBit ? text : toUtf16le(fromUtf8(text)); };
        EXPECT_EQ(readBytes(file), replaceAll(original, inFile(root(a)), inFile(root(b))));
    }
}
