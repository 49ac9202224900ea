// The registry's own reg tool against the .reg writer, reader and the tool:
// reg reads what they write as they do, and they read what reg writes. Runs
// under Wine, where reg.exe is in the prefix's system32. String data that
// lacks its final NUL gets one on import, from reg and the reader alike, so
// no file carries it: such values stay out of the round trips.
#include "tools/vesk/core/RegFile.h"
#include "RegFileSummary.h"
#include "VeskTool.h"

#include <windows.h>

using namespace vesk_tool;
using namespace vesk_tool_test;

namespace {

// Values Wine's reg export writes in another form than the writer: dwords
// of other lengths as dword:04030201 and dword:00030201, strings with a NUL
// inside cut there, line breaks as the \n and \r escapes, a lone surrogate
// quoted as it stands, string data of no bytes as "".
bool regExportsOtherwise(const std::wstring& name)
{
    for (const wchar_t* other :
         {L"dword long", L"dword short", L"sz CR", L"sz LF", L"sz lone surrogate", L"sz NUL inside", L"sz no bytes", L"sz two NULs"})
        if (name == other)
            return true;
    return false;
}

// Every type reg imports as written, and an empty key.
RegDocument document(const std::wstring& path)
{
    RegKey key;
    key.path = path;
    for (const regfile_test::TypedValue& value : regfile_test::everyTypeValues())
        if (value.carried && !regExportsOtherwise(value.name))
            key.values.push_back(RegValue{0, value.name, false, {value.type, value.data}});
    RegKey empty;
    empty.path = path + L"\\Empty";
    return RegDocument{{key, empty}};
}

class RegTool : public VeskTool {
protected:
    void TearDown() override
    {
        RawRegistry::DeleteTree(scratch);
        VeskTool::TearDown();
    }

    // reg.exe from the system directory, waited for: its exit status.
    int runReg(const std::vector<std::wstring>& arguments)
    {
        return tool_test::ToolChild(L"reg.exe", arguments, dir / "reg.out", dir / "reg.err").wait();
    }

    const std::wstring scratch = L"Software\\" + RawRegistry::UniqueName(L"vesk-reg-test");
    const std::wstring path = L"HKEY_LOCAL_MACHINE\\" + scratch;
    const std::wstring file = (dir / "test.reg").wstring();
};

} // namespace

// Where reg writes the same form as the writer, its export is the writer's
// output byte for byte: layout, escapes, hex wrapping, key order.
TEST_F(RegTool, ExportIsByteForByteWhatTheWriterWrites)
{
    const std::string written = writeRegFile(document(path), RegEncoding::Utf16);
    write("test.reg", written);
    ASSERT_EQ(runReg({L"import", file}), 0);
    ASSERT_EQ(runReg({L"export", L"HKLM\\" + scratch, file, L"/y"}), 0);
    EXPECT_EQ(readBytes(file), written);
}

// The forms the reader accepts, each imported by reg too: the values reg
// stores are the values the reader read, type and bytes. {K} stands for the
// row's scratch key.
TEST_F(RegTool, ReadsEachFormAsRegImportsIt)
{
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const struct {
        const char* form;
        std::string text; // UTF-8, CRLF; written as UTF-16LE unless 8-bit
        bool eightBit;
    } rows[] = {
        {"comments", header + "[{K}]\r\n#c\r\n  #\"x\"=\"y\"\r\n\"a\"=\"Value 2\";comment\r\n\"b\"=dword:02040608 ;comment\r\n", false},
        {"blanks", header + "[{K}]\r\n\"a\"=dword:  00000008\r\n\"b\"\t=\tdword:9\r\n\"c\" = \"s\" \r\n", false},
        {"escapes", header + "[{K}]\r\n\"lf\"=\"a\\nb\"\r\n\"cr\"=\"a\\rb\"\r\n\"q\\\"\\\\\"=\"\\\\\\\"\"\r\n\"\"=\"default\"\r\n", false},
        {"hex", header + "[{K}]\r\n\"b\"=hex: 1,\t0a, FF \r\n\"t\"=hex:01,\r\n\"x\"=hex(2):25,00,00,00\r\n\"Q\"=hex(B):01\r\n"
                         "\"big\"=hex(12345):01\r\n\"s\"=hex(1):41,00,42,00,00,00\r\n\"d\"=hex(4):01\r\n", false},
        {"continuations", header + "[{K}]\r\n\"a\"=hex:01,\\\r\n   02, \\ ;c\r\n\r\n;c\r\n\t03\r\n\"b\"=\"next\"\r\n", false},
        {"keys", header + "[{K}\\A\\]\r\n\"a\"=\"1\"\r\n  [{K}\\B\\\\] ;c\r\n\"b\"=\"2\"\r\n[{K}\\C]]\r\n", false},
        {"CR line ends", replaceAll(header + "[{K}]\r\n\"a\"=\"1\"\r\n\"b\"=hex:01,\\\r\n  02\r\n", "\r\n", "\r"), false},
        {"Windows-1252", header + "[{K}]\r\n\"\x80\"=\"\xE9\"\r\n", true},
        {"REGEDIT4", "REGEDIT4\r\n\r\n[{K}]\r\n\"x\"=hex(2):41,e9,00\r\n\"m\"=hex(7):41,00,00\r\n\"b\"=hex:e9\r\n", true},
        {"string data ended with a NUL", header + "[{K}]\r\n\"a\"=hex(1):41,00\r\n\"b\"=hex(1):41,00,42\r\n\"c\"=hex(2):41,00,42,00,00\r\n"
                                         "\"d\"=hex(7):61,00,00,00,62,00\r\n\"e\"=hex(7):00,00\r\n\"f\"=hex(1):\r\n\"g\"=hex(1):41,00,00,00,42\r\n", false},
        {"8-bit string data", header + "[{K}]\r\n\"a\"=hex(1):41,42\r\n\"b\"=hex(2):41,00,42,00,00\r\n\"c\"=hex(7):61,00,62,00,00\r\n"
                              "\"d\"=hex(1):\r\n\"e\"=hex(1):00\r\n\"lf\"=hex(1):61,0a,62,0d,00\r\n\"esc\"=\"a\\nb\\rc\"\r\n", true},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        const std::wstring key = scratch + L"\\" + std::to_wstring(++index);
        const std::string text = replaceAll(row.text, "{K}", toUtf8(L"HKEY_LOCAL_MACHINE\\" + key));
        const std::string bytes = row.eightBit ? text : "\xFF\xFE" + toUtf16le(fromUtf8(text));
        const RegDocument document = readRegFile(bytes);
        write("test.reg", bytes);
        ASSERT_EQ(runReg({L"import", file}), 0);
        for (const RegKey& read : document.keys) {
            const std::wstring below = read.path.substr(std::wstring(L"HKEY_LOCAL_MACHINE\\").size());
            EXPECT_TRUE(RawRegistry::KeyExists(below)) << toUtf8(below);
            for (const RegValue& value : read.values) {
                SCOPED_TRACE(toUtf8(value.name));
                Kestlib500::RawValue stored;
                ASSERT_TRUE(RawRegistry::Get(below, value.name.c_str(), stored));
                EXPECT_EQ(stored.type, value.value.type);
                EXPECT_EQ(regfile_test::hexOf(stored.data), regfile_test::hexOf(value.value.data));
            }
        }
    }
}

// Data continued onto a line starting with # or \\: reg drops the value
// and reads on, the reader refuses the file there.
TEST_F(RegTool, DropsAValueWhoseDataRunsIntoAHashOrBackslashLine)
{
    for (const char* line : {"#c", "  #\"y\"=\"z\"", "\\", "  \\ ;c"}) {
        SCOPED_TRACE(line);
        const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + toUtf8(path) + "]\r\n\"x\"=hex:01,\\\r\n" +
                                 line + "\r\n  02\r\n\"y\"=\"ok\"\r\n";
        EXPECT_THROW(readRegFile(text), RegFileError);
        write("test.reg", text);
        ASSERT_EQ(runReg({L"import", file}), 0);
        Kestlib500::RawValue stored;
        EXPECT_FALSE(RawRegistry::Get(scratch, L"x", stored));
        EXPECT_TRUE(RawRegistry::Get(scratch, L"y", stored));
        RawRegistry::DeleteTree(scratch);
    }
}

namespace {

// Every key and value below `path` (below HKEY_LOCAL_MACHINE), one line
// each, values with their type and bytes, keys relative to `path`.
std::string tree(const std::wstring& path, const std::wstring& relative = L"")
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (path + relative).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "no key " + toUtf8(path + relative) + "\n";
    std::string out = "[" + toUtf8(relative) + "]\n";
    std::wstring name(16384, L'\0');
    std::vector<unsigned char> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, &name[0], &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        out += toUtf8(name.substr(0, nameLength)) + "=" + std::to_string(type) + ":" +
               regfile_test::hexOf({data.begin(), data.begin() + size}) + "\n";
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, &name[0], &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name.substr(0, nameLength));
    }
    RegCloseKey(key);
    for (const std::wstring& child : children)
        out += tree(path, relative + L"\\" + child);
    return out;
}

} // namespace

// The tool's export of an instance holding every type, imported by reg into
// one instance and by the tool into another: the two trees are the same,
// value by value, and the same as the one exported.
TEST_F(RegTool, ImportsTheToolsExportAsTheToolDoes)
{
    const std::wstring from = instance(), byReg = instance(), byTool = instance();
    for (const std::wstring sub : {L"", L"\\Sub \u00e9 \"q\" ;#[=]@", L"\\-dash"}) {
        for (const regfile_test::TypedValue& value : regfile_test::everyTypeValues()) {
            if (!value.carried)
                continue;
            ASSERT_TRUE(RawRegistry::Set(keyOf(from) + sub, value.name.c_str(), value.type, value.data));
        }
    }
    HKEY empty = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyOf(from, L"Empty").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &empty, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(empty);

    const int exported = vesk(from, {L"export", L"--output", file}).status;
    const int imported = vesk(byTool, {L"import", file, L"--from-instance", from}).status;
    // reg imports into the keys the file names: those of the instance byReg.
    const std::string bytes = replaceAll(readBytes(file), toUtf16le(L"\\" + from + L"]"), toUtf16le(L"\\" + byReg + L"]"));
    write("test.reg", replaceAll(bytes, toUtf16le(L"\\" + from + L"\\"), toUtf16le(L"\\" + byReg + L"\\")));
    const int regImported = runReg({L"import", file});
    ASSERT_EQ(exported, 0);
    ASSERT_EQ(imported, 0);
    ASSERT_EQ(regImported, 0);
    const std::string original = tree(keyOf(from));
    EXPECT_NE(original.find("[\\Empty]\n"), npos);
    EXPECT_EQ(tree(keyOf(byReg)), original);
    EXPECT_EQ(tree(keyOf(byTool)), original);
}
