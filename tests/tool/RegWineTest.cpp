// The registry's own reg tool against the .reg writer and reader: a file
// written here and imported by reg holds every value byte for byte, and
// reg's export of that key reads back to the same values. Runs under Wine,
// where reg.exe is in the prefix's system32.
#include "common/RawRegistry.h"
#include "RegFile.h"
#include "RegFileSummary.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <iterator>

using namespace vesk_tool;

namespace {

std::vector<unsigned char> counting(std::size_t count)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 1; i <= count; ++i)
        out.push_back(static_cast<unsigned char>(i));
    return out;
}

std::vector<unsigned char> text(const wchar_t* t) { return Kestlib500::TextBytes(t); }

// One value, with what Wine's reg is known to do differently from Windows.
struct Row {
    const wchar_t* name;
    DWORD type;
    std::vector<unsigned char> data;
    bool exportedFaithfully = true; // reg export writes a form that reads back the same
    bool exportedAsWritten = true;  // ... and the same form the writer chose
};

// Wine's reg import appends a NUL to string-typed hex data that lacks one
// (and fails on a single byte), so unterminated strings stay out of this
// comparison; the writer's own round trip covers them. Rows sorted as the
// registry enumerates them.
std::vector<Row> rows()
{
    return {
        {L"", REG_SZ, text(L"default")},
        {L"big endian", 5, counting(4)},
        {L"binary", REG_BINARY, counting(64)},
        {L"binary empty", REG_BINARY, {}},
        {L"dword", REG_DWORD, {0x2a, 0, 0, 0xff}},
        {L"dword long", REG_DWORD, counting(5), false, false},  // reg export writes dword:04030201
        {L"dword short", REG_DWORD, counting(3), false, false}, // ... and dword:00030201
        {L"expand", REG_EXPAND_SZ, text(L"%TEMP%\\x")},
        {L"high type", 0x12345, counting(3)},
        {L"link", 6, text(L"\\Registry\\Machine")},
        {L"multi", REG_MULTI_SZ, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}},
        {L"name \"quoted\" \\ back\\slash with a long hex value", REG_BINARY, counting(40)},
        {L"none", 0, {}},
        {L"none bytes", 0, {1, 2}},
        {L"qword", REG_QWORD, counting(8)},
        {L"qword odd", REG_QWORD, counting(7)},
        {L"sz", REG_SZ, text(L"C:\\dir \"q\" \u20ac\U0001F600;#[]")},
        {L"sz CR", REG_SZ, text(L"a\rb"), true, false}, // reg export writes "a\rb"
        {L"sz empty", REG_SZ, text(L"")},
        {L"sz LF", REG_SZ, text(L"a\nb"), true, false},
        {L"sz NUL inside", REG_SZ, {0x41, 0, 0, 0, 0x42, 0, 0, 0}, false, false}, // reg export writes "A"
        {L"sz two NULs", REG_SZ, {0x41, 0, 0, 0, 0, 0}, false, false},
    };
}

RegDocument document(const std::wstring& path, const std::vector<Row>& values, bool (*keep)(const Row&))
{
    RegKey key;
    key.path = path;
    for (const Row& row : values)
        if (keep(row))
            key.values.push_back(RegValue{0, row.name, false, {row.type, row.data}});
    RegKey empty;
    empty.path = path + L"\\Empty";
    return RegDocument{{key, empty}};
}

// reg.exe from the system directory, waited for; its exit status, or -1
// when it could not be started.
int runReg(std::initializer_list<std::wstring> arguments)
{
    std::wstring command = L"reg.exe";
    for (const std::wstring& argument : arguments)
        command += L" \"" + argument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

std::wstring tempFile(const std::wstring& name)
{
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    return std::wstring(directory, length) + name;
}

std::string readBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RegTool : public testing::Test {
protected:
    void SetUp() override
    {
        scratch = L"Software\\" + RawRegistry::UniqueName(L"vesk-reg-test");
        path = L"HKEY_LOCAL_MACHINE\\" + scratch;
        file = tempFile(RawRegistry::UniqueName(L"vesk-reg") + L".reg");
    }

    void TearDown() override
    {
        RawRegistry::DeleteTree(scratch);
        DeleteFileW(file.c_str());
    }

    std::wstring scratch;
    std::wstring path;
    std::wstring file;
};

} // namespace

TEST_F(RegTool, ImportsEveryTypeAsWrittenAndExportsItReadably)
{
    const std::vector<Row> all = rows();
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << writeRegFile(document(path, all, [](const Row&) { return true; }), RegEncoding::Utf16);
    }
    ASSERT_EQ(runReg({L"import", file}), 0);
    for (const Row& row : all) {
        SCOPED_TRACE(toUtf8(row.name));
        Kestlib500::RawValue stored;
        ASSERT_TRUE(RawRegistry::Get(scratch, row.name, stored));
        EXPECT_EQ(stored.type, row.type);
        EXPECT_EQ(regfile_test::hexOf(stored.data), regfile_test::hexOf(row.data));
    }
    EXPECT_TRUE(RawRegistry::KeyExists(scratch + L"\\Empty"));

    ASSERT_EQ(runReg({L"export", L"HKLM\\" + scratch, file, L"/y"}), 0);
    // Values reg exports lossily are left out on both sides.
    RegDocument exported = readRegFile(readBytes(file));
    std::vector<RegValue>& values = exported.keys.at(0).values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [&](const RegValue& value) {
                                    return std::any_of(all.begin(), all.end(), [&](const Row& row) {
                                        return row.name == value.name && !row.exportedFaithfully;
                                    });
                                }),
                 values.end());
    EXPECT_EQ(regfile_test::summary(exported),
              regfile_test::summary(document(path, all, [](const Row& row) { return row.exportedFaithfully; })));
}

// Where reg writes the same form as the writer, its export is the writer's
// output byte for byte: layout, escapes, hex wrapping, key order.
TEST_F(RegTool, ExportIsByteForByteWhatTheWriterWrites)
{
    const RegDocument same = document(path, rows(), [](const Row& row) { return row.exportedAsWritten; });
    const std::string written = writeRegFile(same, RegEncoding::Utf16);
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << written;
    }
    ASSERT_EQ(runReg({L"import", file}), 0);
    ASSERT_EQ(runReg({L"export", L"HKLM\\" + scratch, file, L"/y"}), 0);
    EXPECT_EQ(readBytes(file), written);
}

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

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
        {"CR line ends", replaced(header + "[{K}]\r\n\"a\"=\"1\"\r\n\"b\"=hex:01,\\\r\n  02\r\n", "\r\n", "\r"), false},
        {"Windows-1252", header + "[{K}]\r\n\"\x80\"=\"\xE9\"\r\n", true},
        {"REGEDIT4", "REGEDIT4\r\n\r\n[{K}]\r\n\"x\"=hex(2):41,e9,00\r\n\"m\"=hex(7):41,00,00\r\n\"b\"=hex:e9\r\n", true},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        const std::wstring key = scratch + L"\\" + std::to_wstring(++index);
        const std::string text = replaced(row.text, "{K}", toUtf8(L"HKEY_LOCAL_MACHINE\\" + key));
        const std::string bytes = row.eightBit ? text : "\xFF\xFE" + toUtf16le(fromUtf8(text));
        const RegDocument document = readRegFile(bytes);
        {
            std::ofstream out(file.c_str(), std::ios::binary);
            out << bytes;
        }
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
